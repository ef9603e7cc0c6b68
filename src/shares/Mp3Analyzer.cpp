#include "Mp3Analyzer.h"

#include <QFile>
#include <cstring>
#include <vector>

namespace {
// The header's two version bits to a row of the counters: 11 MPEG-1,
// 10 MPEG-2, 00 MPEG-2.5; 01 is reserved and means no header.
const int VersionRow[4] = {2, -1, 1, 0};

// Layer III bit rates in kbit/s by bit-rate index: MPEG-1, then the lower
// sampling frequencies of MPEG-2 (and 2.5).
const int Mpeg1Rates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
const int Mpeg2Rates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};

// The value with the most votes; on equal votes the higher value.
template <size_t N>
int Winner(const qint64 (&votes)[N])
{
    int best = 0;
    for (int i = 1; i < int(N); ++i)
        if (votes[i] >= votes[best])
            best = i;
    return best;
}
} // namespace

Mp3Analyzer::Mp3Analyzer()
{
    Reset();
}

void Mp3Analyzer::Reset()
{
    std::memset(versionVotes, 0, sizeof versionVotes);
    std::memset(protectionVotes, 0, sizeof protectionVotes);
    std::memset(samplingVotes, 0, sizeof samplingVotes);
    std::memset(modeVotes, 0, sizeof modeVotes);
    std::memset(headers, 0, sizeof headers);
    headerCount = 0;
}

void Mp3Analyzer::AddChunk(const char* data, int size)
{
    const uchar* bytes = reinterpret_cast<const uchar*>(data);
    // A candidate needs its four header bytes and one more inside the chunk.
    const int end = size - 4;
    int i = 0;
    while (i < end) {
        // Sync bytes are rare in audio data; most of a chunk is skipped here.
        const void* found = std::memchr(bytes + i, 0xFF, size_t(end - i));
        if (!found)
            break;
        i = int(static_cast<const uchar*>(found) - bytes);
        const uchar b1 = bytes[i + 1];
        const uchar b2 = bytes[i + 2];
        const uchar b3 = bytes[i + 3];
        ++i;
        if ((b1 & 0xE0) != 0xE0)
            continue;
        const int version = VersionRow[(b1 >> 3) & 3];
        if (version < 0)
            continue;
        ++versionVotes[version];
        if (((b1 >> 1) & 3) != 1)
            continue;
        const int protection = b1 & 1;
        ++protectionVotes[protection];
        const int sampling = (b2 >> 2) & 3;
        if (sampling == 3)
            continue;
        ++samplingVotes[sampling];
        const int mode = b3 >> 6;
        ++modeVotes[mode];
        const int bitrateIndex = b2 >> 4;
        if (bitrateIndex == 0 || bitrateIndex == 15)
            continue;
        ++headers[version][protection][sampling][mode][bitrateIndex];
        ++headerCount;
    }
}

bool Mp3Analyzer::Decide(Result& result) const
{
    const qint64 mpeg1 = versionVotes[0], mpeg2 = versionVotes[1], mpeg25 = versionVotes[2];
    int version;
    if (mpeg1 > mpeg2) {
        if (mpeg25 >= mpeg1)
            return false;
        version = 1;
    } else {
        if (mpeg25 >= mpeg2)
            return false;
        version = 2;
    }
    const int protection = protectionVotes[1] > protectionVotes[0] ? 1 : 0;
    const int sampling = Winner(samplingVotes);
    const int mode = Winner(modeVotes);
    if (headerCount == 0)
        return false;

    const qint64* byIndex = headers[version - 1][protection][sampling][mode];
    qint64 sum = 0, count = 0;
    for (int index = 1; index < 15; ++index) {
        sum += byIndex[index] * BitrateOf(version, index);
        count += byIndex[index];
    }
    if (count == 0)
        return false;

    result.mpegVersion = version;
    result.channelMode = ChannelModeText(mode);
    result.frequency = sampling;
    result.bitrate = int(sum / count);
    result.isVBR = true;
    // Rates grow with the index, so this walks them in increasing order;
    // a file is constant-rate when one rate holds 99 % (truncated) of them.
    for (int index = 1; index < 15; ++index)
        if (byIndex[index] * 100 / count > 98) {
            result.isVBR = false;
            result.bitrate = BitrateOf(version, index);
        }
    return true;
}

bool Mp3Analyzer::AnalyzeFile(const QString& path, Result& result, const std::function<bool()>& stop)
{
    result.bitrate = -1;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size < 1)
        return false;

    Mp3Analyzer analyzer;
    std::vector<char> buffer(ChunkSize);
    for (qint64 offset = 0; offset < size;) {
        if (stop && stop())
            return false;
        const qint64 wanted = qMin<qint64>(ChunkSize, size - offset);
        const qint64 got = file.read(buffer.data(), wanted);
        if (got < 0)
            return false;
        // A file cut short while it is read ends the data; only bytes
        // actually read are tested.
        if (got == 0)
            break;
        analyzer.AddChunk(buffer.data(), int(got));
        offset += got;
    }
    return analyzer.Decide(result);
}

bool Mp3Analyzer::AnalyzeBytes(const QByteArray& bytes, Result& result)
{
    result.bitrate = -1;
    if (bytes.isEmpty())
        return false;
    Mp3Analyzer analyzer;
    for (int offset = 0; offset < bytes.size(); offset += ChunkSize)
        analyzer.AddChunk(bytes.constData() + offset, qMin(ChunkSize, bytes.size() - offset));
    return analyzer.Decide(result);
}

int Mp3Analyzer::BitrateOf(int mpegVersion, int bitrateIndex)
{
    if (bitrateIndex < 0 || bitrateIndex > 15)
        return 0;
    return mpegVersion == 1 ? Mpeg1Rates[bitrateIndex] : Mpeg2Rates[bitrateIndex];
}

QString Mp3Analyzer::ChannelModeText(int mode)
{
    switch (mode) {
    case 0:
        return QStringLiteral("stereo");
    case 1:
        return QStringLiteral("joint stereo");
    case 2:
        return QStringLiteral("dual mono");
    default:
        return QStringLiteral("mono");
    }
}
