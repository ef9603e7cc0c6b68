#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>

// Measures an MPEG audio Layer III file by voting: every byte position is
// tested as a frame header, each header field is decided by the most
// candidates, and the bit rate comes from the headers that agree with every
// decided field. No frame is parsed and no tag is read, so damaged files and
// files with junk in front still give an answer.
//
// The result depends only on how many candidates carried each combination
// of fields, so the state is a fixed table of counters whatever the size of
// the input: an analyser holds no container that grows.
class Mp3Analyzer
{
public:
    // Headers are looked for within chunks of this size only; one that
    // straddles two chunks is not seen.
    static constexpr int ChunkSize = 65536;

    struct Result
    {
        int mpegVersion = 0; // 1 or 2
        QString channelMode; // "stereo", "joint stereo", "dual mono" or "mono"
        int frequency = 0;   // the header's sampling-rate index 0 to 2, not Hz
        bool isVBR = false;
        int bitrate = -1; // kbit/s
    };

    Mp3Analyzer();

    // Forgets everything counted so far.
    void Reset();
    // Counts the candidates of one chunk, at most ChunkSize bytes. Only a
    // position with at least five bytes of the chunk from it is tested.
    void AddChunk(const char* data, int size);
    // Decides from what was counted; false when no version can be decided
    // or no header agrees with the decided fields.
    bool Decide(Result& result) const;

    // A whole file, read from the start in chunks. stop is asked before
    // every chunk; when it answers true the analysis ends with false.
    // Fails too on an empty or unreadable file.
    static bool AnalyzeFile(const QString& path, Result& result, const std::function<bool()>& stop = {});
    // The same for bytes in memory, cut into chunks as a file would be.
    static bool AnalyzeBytes(const QByteArray& bytes, Result& result);

    // kbit/s of a bit-rate index for a decided version; 0 for 0 and 15.
    static int BitrateOf(int mpegVersion, int bitrateIndex);
    static QString ChannelModeText(int mode);

private:
    enum
    {
        Versions = 3,    // MPEG-1, MPEG-2, MPEG-2.5
        Protections = 2, // bit clear, bit set
        Samplings = 3,   // index 0 to 2
        Modes = 4,
        BitrateIndexes = 16
    };

    // Votes of every candidate that got as far as the field. 64-bit so that
    // no file is large enough to wrap a counter.
    qint64 versionVotes[Versions];
    qint64 protectionVotes[Protections];
    qint64 samplingVotes[Samplings];
    qint64 modeVotes[Modes];
    // Candidates with a usable bit-rate index, by all of their fields; this
    // stands for the list of headers found, which the decision needs only
    // as counts.
    qint64 headers[Versions][Protections][Samplings][Modes][BitrateIndexes];
    qint64 headerCount;
};
