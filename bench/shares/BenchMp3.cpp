// MP3 analysis throughput against cat reading the same files, measured in
// the same run from the page cache: real files from the lame encoder (CBR,
// VBR, MPEG-2 mono, each repeated to tens of MiB) and a crafted worst case
// with a header every third byte. Best of several rounds each.
#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>

#include "BenchSupport.h"
#include "FileScanner.h"

namespace {
const int Seconds = 60;
const qint64 TargetBytes = 64LL << 20;
const int Rounds = 3;

// 16-bit PCM: a tone per channel under noise that switches between loud
// and quiet every half second.
QByteArray Wav(int rate, int channels)
{
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 bytes = quint32(rate) * Seconds * channels * 2;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + bytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(channels) << quint32(rate) << quint32(rate * channels * 2)
        << quint16(channels * 2) << quint16(16);
    out.writeRawData("data", 4);
    out << bytes;
    quint32 noise = 12345;
    for (int i = 0; i < rate * Seconds; ++i) {
        const double t = double(i) / rate;
        const double loudness = (i / (rate / 2)) % 2 == 0 ? 0.4 : 0.01;
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double n = double(noise >> 16) / 32768.0 - 1.0;
            out << qint16((0.3 * std::sin(2 * M_PI * (440 + 220 * c) * t) + loudness * n) * 32000);
        }
    }
    return wav;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The encoded stream repeated until the file holds TargetBytes; a stream
// of whole frames stays a valid stream when repeated.
bool Grow(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray once = file.readAll();
    if (once.isEmpty())
        return false;
    const QByteArray block = once.repeated(int(qMax<qint64>(1, (4 << 20) / once.size())));
    while (file.size() < TargetBytes)
        if (file.write(block) != block.size())
            return false;
    return true;
}

QString Encode(const QString& lame, const QString& dir, const QString& name, int rate, int channels,
               const QStringList& args)
{
    const QString wav = dir + "/" + name + ".wav";
    const QString mp3 = dir + "/" + name + ".mp3";
    if (!WriteFile(wav, Wav(rate, channels)))
        return QString();
    QProcess encoder;
    encoder.start(lame, QStringList(args) << "--quiet"
                                          << "--resample" << QString::number(rate / 1000.0) << wav << mp3);
    if (!encoder.waitForFinished(300000) || encoder.exitCode() != 0)
        return QString();
    QFile::remove(wav);
    return Grow(mp3) ? mp3 : QString();
}

qint64 TotalBytes(const QStringList& files)
{
    qint64 total = 0;
    for (const QString& file : files)
        total += QFileInfo(file).size();
    return total;
}

double CatSeconds(const QStringList& files)
{
    double best = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        QProcess cat;
        cat.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        cat.start("cat", files);
        if (!cat.waitForFinished(600000) || cat.exitCode() != 0)
            return -1;
        best = qMin(best, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

// The analysis as the scanner thread runs it, file after file.
double AnalysisSeconds(const QStringList& files, int& succeeded)
{
    FileScanner scanner;
    double best = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        succeeded = 0;
        QElapsedTimer timer;
        timer.start();
        for (const QString& file : files) {
            int version, frequency, bitrate;
            QString mode;
            bool vbr;
            if (scanner.ScanMP3(file, version, mode, frequency, vbr, bitrate))
                ++succeeded;
        }
        best = qMin(best, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

// aim: the analysis's speed as a fraction of cat's.
void Report(const char* label, const QStringList& files, double aim = 0.5)
{
    const double mib = double(TotalBytes(files)) / (1 << 20);
    CatSeconds(files); // into the page cache
    const double cat = CatSeconds(files);
    int succeeded = 0;
    const double analysis = AnalysisSeconds(files, succeeded);
    Figure(label, cat / analysis, "x", ">=", aim,
           Detail("%.1f MiB: analysis %.1f MiB/s, cat %.1f MiB/s, %d of %d analysed", mib, mib / analysis, mib / cat,
                  succeeded, int(files.size())));
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString lame = QStandardPaths::findExecutable("lame");
    if (lame.isEmpty()) {
        std::printf("mp3: skipped, the lame encoder is not installed (scripts/deps installs it)\n");
        return 0;
    }
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    QStringList real;
    struct Kind
    {
        const char* name;
        int rate;
        int channels;
        QStringList args;
    };
    const Kind kinds[] = {{"cbr128", 44100, 2, {"--cbr", "-b", "128", "-m", "j"}},
                          {"cbr320", 44100, 2, {"--cbr", "-b", "320", "-m", "s"}},
                          {"vbr", 44100, 2, {"-V", "2"}},
                          {"mpeg2mono", 22050, 1, {"--cbr", "-b", "32", "-m", "m"}}};
    for (const Kind& kind : kinds) {
        const QString file = Encode(lame, dir.path(), kind.name, kind.rate, kind.channels, kind.args);
        if (file.isEmpty()) {
            std::printf("mp3: encoding %s failed\n", kind.name);
            return 1;
        }
        real << file;
    }

    // FF FB 90 repeated: MPEG-1 Layer III at 128 kbit/s, mono, from every
    // third byte on: the most work per byte the analysis can be given.
    const QString dense = dir.filePath("dense.mp3");
    if (!WriteFile(dense, QByteArray("\xFF\xFB\x90", 3).repeated(int(TargetBytes / 3))))
        return 1;

    std::printf("MP3 analysis (one thread, as on the scanner thread) against cat of the same files\n");
    // Real files: at half the speed of cat the analysis keeps pace with the
    // disk the scanner thread reads from. A hostile file may cost more, but
    // never more than twenty reads of it.
    Report("encoded files (4 kinds)", real);
    for (int i = 0; i < real.size(); ++i)
        Report(qPrintable("  " + QFileInfo(real[i]).baseName()), {real[i]});
    Report("crafted: a header every 3rd byte", {dense}, 0.05);
    return Summary("mp3");
}
