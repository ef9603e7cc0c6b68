#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>
#include <cmath>
#include <type_traits>

#include "Data.h"
#include "FileScanner.h"
#include "Mp3Analyzer.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "SharesFixture.h"

Q_DECLARE_METATYPE(Mp3Analyzer::Result)

// The counters are the whole state of an analysis: nothing in it can grow
// with the input.
static_assert(std::is_trivially_copyable<Mp3Analyzer>::value, "an analyser must hold no growing container");
static_assert(sizeof(Mp3Analyzer) < 32 * 1024, "an analyser is a fixed table of counters");

namespace {
// 16-bit PCM: a tone per channel under noise that is loud for half a second,
// then almost silent, so a variable-rate encoder has to change its rate.
QByteArray Wav(int rate, int channels, int seconds)
{
    const int frames = rate * seconds;
    QByteArray pcm;
    QDataStream samples(&pcm, QIODevice::WriteOnly);
    samples.setByteOrder(QDataStream::LittleEndian);
    quint32 noise = 12345;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double loudness = (i / (rate / 2)) % 2 == 0 ? 0.4 : 0.01;
        for (int c = 0; c < channels; ++c) {
            noise = noise * 1664525u + 1013904223u;
            const double n = double(noise >> 16) / 32768.0 - 1.0;
            const double v = 0.3 * std::sin(2 * M_PI * (440 + 220 * c) * t) + loudness * n;
            samples << qint16(v * 32000);
        }
    }
    QByteArray wav;
    QDataStream out(&wav, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + pcm.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(channels) << quint32(rate) << quint32(rate * channels * 2)
        << quint16(channels * 2) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(pcm.size());
    return wav + pcm;
}

// One candidate header. version: the two header bits (3 MPEG-1, 2 MPEG-2,
// 0 MPEG-2.5); layer: 1 is Layer III.
struct Header
{
    int version = 3;
    int layer = 1;
    int protection = 1;
    int bitrateIndex = 9;
    int sampling = 0;
    int mode = 1;
};

QByteArray Bytes(const Header& h)
{
    QByteArray bytes(4, '\0');
    bytes[0] = char(0xFF);
    bytes[1] = char(0xE0 | h.version << 3 | h.layer << 1 | h.protection);
    bytes[2] = char(h.bitrateIndex << 4 | h.sampling << 2);
    bytes[3] = char(h.mode << 6);
    return bytes;
}

// count headers, each followed by four zero bytes so none overlaps another.
QByteArray Headers(int count, const Header& h = Header())
{
    return (Bytes(h) + QByteArray(4, '\0')).repeated(count);
}

Header With(int version, int layer, int protection, int bitrateIndex, int sampling, int mode)
{
    Header h;
    h.version = version;
    h.layer = layer;
    h.protection = protection;
    h.bitrateIndex = bitrateIndex;
    h.sampling = sampling;
    h.mode = mode;
    return h;
}

Header Rate(int bitrateIndex)
{
    Header h;
    h.bitrateIndex = bitrateIndex;
    return h;
}

Mp3Analyzer::Result Expect(int version, const char* mode, int frequency, bool vbr, int bitrate)
{
    Mp3Analyzer::Result r;
    r.mpegVersion = version;
    r.channelMode = mode;
    r.frequency = frequency;
    r.isVBR = vbr;
    r.bitrate = bitrate;
    return r;
}

bool Same(const Mp3Analyzer::Result& a, const Mp3Analyzer::Result& b)
{
    return a.mpegVersion == b.mpegVersion && a.channelMode == b.channelMode && a.frequency == b.frequency &&
           a.isVBR == b.isVBR && a.bitrate == b.bitrate;
}

QString Describe(const Mp3Analyzer::Result& r)
{
    return QString("MPEG-%1 %2 index %3 %4 %5")
        .arg(r.mpegVersion)
        .arg(r.channelMode)
        .arg(r.frequency)
        .arg(r.isVBR ? "vbr" : "cbr")
        .arg(r.bitrate);
}

// Asks the kernel to measure the peak resident size afresh from here; when
// it cannot, the peak so far only makes the check below looser.
void ResetPeak()
{
    QFile clear("/proc/self/clear_refs");
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The peak resident size of this process in KiB.
qint64 PeakKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

bool IsOpenHere(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    for (const QFileInfo& fd :
         QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == target)
            return true;
    return false;
}
} // namespace

// The analysis of MP3 files: real files from an encoder against the
// encoder's own settings, crafted byte patterns against each decision, its
// memory and its stop, and the results stored through a shared folder.
class TestMp3Analysis : public QObject
{
    Q_OBJECT

    QString lame;
    QTemporaryDir dir;

    // Encodes seconds of audio with the encoder's arguments; empty on
    // failure.
    QString Encode(const QString& name, int rate, int channels, int seconds, QStringList args,
                   const QString& folder = QString())
    {
        const QString wavPath = dir.filePath(name + ".wav");
        QFile wav(wavPath);
        if (!wav.open(QIODevice::WriteOnly) || wav.write(Wav(rate, channels, seconds)) < 0)
            return QString();
        wav.close();
        const QString mp3 = (folder.isEmpty() ? dir.path() : folder) + "/" + name;
        // The output rate is forced: left alone, the encoder picks a lower
        // one for low bit rates.
        args << "--quiet"
             << "--resample" << QString::number(rate / 1000.0) << wavPath << mp3;
        QProcess encoder;
        encoder.start(lame, args);
        if (!encoder.waitForFinished(60000) || encoder.exitStatus() != QProcess::NormalExit ||
            encoder.exitCode() != 0) {
            qWarning() << "encoder failed:" << args << encoder.readAllStandardError();
            return QString();
        }
        QFile::remove(wavPath);
        return mp3;
    }

    void NeedEncoder()
    {
        if (lame.isEmpty())
            QSKIP("No MP3 encoder: the lame program was not found on PATH (scripts/deps installs it)");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        lame = QStandardPaths::findExecutable("lame");
    }

    void encodedFiles_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("frequency");
        // 0 for a variable rate, which must lie between the version's
        // lowest and highest rate.
        QTest::addColumn<int>("cbr");

        const QStringList js = {"-m", "j"}, st = {"-m", "s"}, mo = {"-m", "m"}, du = {"-m", "d"};
        QTest::newRow("MPEG-1 44.1 kHz CBR 128 joint stereo")
            << 44100 << 2 << QStringList({"--cbr", "-b", "128"}) + js << 1 << "joint stereo" << 0 << 128;
        QTest::newRow("MPEG-1 44.1 kHz CBR 192 stereo")
            << 44100 << 2 << QStringList({"--cbr", "-b", "192"}) + st << 1 << "stereo" << 0 << 192;
        QTest::newRow("MPEG-1 44.1 kHz CBR 128 dual mono")
            << 44100 << 2 << QStringList({"--cbr", "-b", "128"}) + du << 1 << "dual mono" << 0 << 128;
        QTest::newRow("MPEG-1 44.1 kHz CBR 64 mono, tagged")
            << 44100 << 1 << QStringList({"--cbr", "-b", "64", "--add-id3v2", "--tt", "Title", "--ta", "Artist"}) + mo
            << 1 << "mono" << 0 << 64;
        QTest::newRow("MPEG-1 48 kHz CBR 320 stereo")
            << 48000 << 2 << QStringList({"--cbr", "-b", "320"}) + st << 1 << "stereo" << 1 << 320;
        QTest::newRow("MPEG-1 32 kHz CBR 96 mono")
            << 32000 << 1 << QStringList({"--cbr", "-b", "96"}) + mo << 1 << "mono" << 2 << 96;
        QTest::newRow("MPEG-2 22.05 kHz CBR 32 mono")
            << 22050 << 1 << QStringList({"--cbr", "-b", "32"}) + mo << 2 << "mono" << 0 << 32;
        QTest::newRow("MPEG-2 24 kHz CBR 96 stereo")
            << 24000 << 2 << QStringList({"--cbr", "-b", "96"}) + st << 2 << "stereo" << 1 << 96;
        QTest::newRow("MPEG-2 16 kHz CBR 24 joint stereo")
            << 16000 << 2 << QStringList({"--cbr", "-b", "24"}) + js << 2 << "joint stereo" << 2 << 24;
        QTest::newRow("MPEG-1 44.1 kHz VBR joint stereo")
            << 44100 << 2 << QStringList({"-V", "2"}) + js << 1 << "joint stereo" << 0 << 0;
        QTest::newRow("MPEG-1 44.1 kHz VBR mono")
            << 44100 << 1 << QStringList({"-V", "4"}) + mo << 1 << "mono" << 0 << 0;
        QTest::newRow("MPEG-2 22.05 kHz VBR mono")
            << 22050 << 1 << QStringList({"-V", "4"}) + mo << 2 << "mono" << 0 << 0;
        QTest::newRow("MPEG-2 24 kHz VBR stereo")
            << 24000 << 2 << QStringList({"-V", "3"}) + st << 2 << "stereo" << 1 << 0;
    }

    void encodedFiles()
    {
        NeedEncoder();
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(QStringList, args);
        QFETCH(int, version);
        QFETCH(QString, mode);
        QFETCH(int, frequency);
        QFETCH(int, cbr);
        // Long enough that a few stray header patterns in the audio data
        // cannot take a constant rate below 99 % of the headers.
        const int seconds = 10;
        const QString mp3 =
            Encode(QString(QTest::currentDataTag()).replace(' ', '_') + ".mp3", rate, channels, seconds, args);
        QVERIFY(!mp3.isEmpty());

        Mp3Analyzer::Result r;
        QVERIFY(Mp3Analyzer::AnalyzeFile(mp3, r));
        QCOMPARE(r.mpegVersion, version);
        QCOMPARE(r.channelMode, mode);
        QCOMPARE(r.frequency, frequency);
        QCOMPARE(r.isVBR, cbr == 0);
        if (cbr)
            QCOMPARE(r.bitrate, cbr);
        else {
            QVERIFY2(r.bitrate > Mp3Analyzer::BitrateOf(version, 1), qPrintable(Describe(r)));
            QVERIFY2(r.bitrate < Mp3Analyzer::BitrateOf(version, 14), qPrintable(Describe(r)));
        }

        // The rate is the mean over frames of equal duration, so the size at
        // that rate gives the length back: off by at most the truncation of
        // the mean (1 kbit/s) and a few frames the encoder adds (its tag
        // frame, delay and padding) or tags it writes.
        const qint64 size = QFileInfo(mp3).size();
        const double estimate = size * 8.0 / (r.bitrate * 1000.0);
        const double frame = (version == 1 ? 1152.0 : 576.0) / rate;
        const double tolerance = estimate / r.bitrate + 4 * frame;
        QVERIFY2(
            std::abs(estimate - seconds) <= tolerance,
            qPrintable(QString("%1 s from the rate, %2 s encoded, %3").arg(estimate).arg(seconds).arg(Describe(r))));

        // Read the same in memory, the file gives the same answer.
        QFile file(mp3);
        QVERIFY(file.open(QIODevice::ReadOnly));
        Mp3Analyzer::Result inMemory;
        QVERIFY(Mp3Analyzer::AnalyzeBytes(file.readAll(), inMemory));
        QVERIFY(Same(inMemory, r));
    }

    void craftedDecisions_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<Mp3Analyzer::Result>("expected");
        const Mp3Analyzer::Result none;
        const QByteArray chunk(Mp3Analyzer::ChunkSize, '\0');

        QTest::newRow("empty") << QByteArray() << false << none;
        QByteArray noSync(10000, '\0');
        for (int i = 0; i < noSync.size(); ++i)
            noSync[i] = char(i % 255);
        QTest::newRow("no frame sync") << noSync << false << none;
        QTest::newRow("mostly MPEG-2.5") << Headers(6, With(0, 1, 1, 9, 0, 1)) + Headers(5, With(2, 1, 1, 9, 0, 1))
                                         << false << none;
        QTest::newRow("as much MPEG-2.5 as MPEG-1") << Headers(5) + Headers(5, With(0, 1, 1, 9, 0, 1)) << false << none;
        QTest::newRow("MPEG-1 and MPEG-2 tie: version 2")
            << Headers(5) + Headers(5, With(2, 1, 1, 9, 0, 1)) << true << Expect(2, "joint stereo", 0, false, 80);
        QTest::newRow("99 % at 128 is CBR 128")
            << Headers(99, Rate(9)) + Headers(1, Rate(11)) << true << Expect(1, "joint stereo", 0, false, 128);
        QTest::newRow("98 % at 128 is VBR with the truncated mean")
            << Headers(98, Rate(9)) + Headers(2, Rate(11)) << true << Expect(1, "joint stereo", 0, true, 129);
        QTest::newRow("headers without a usable rate still vote")
            << Headers(10, With(3, 1, 1, 0, 0, 3)) + Headers(10, With(3, 1, 1, 15, 0, 3)) +
                   Headers(15, With(3, 1, 1, 9, 0, 0)) + Headers(3, With(3, 1, 1, 5, 0, 3))
            << true << Expect(1, "mono", 0, false, 64);
        QTest::newRow("Layer I headers vote for the version only")
            << Headers(6, With(3, 3, 1, 9, 0, 1)) + Headers(5, With(2, 1, 1, 9, 0, 1)) << false << none;
        QTest::newRow("Layer II headers do not vote for the mode")
            << Headers(8, With(2, 2, 1, 9, 0, 3)) + Headers(6, With(3, 1, 1, 9, 0, 0)) +
                   Headers(6, With(2, 1, 1, 9, 0, 1))
            << true << Expect(2, "joint stereo", 0, false, 80);
        QTest::newRow("ties prefer the higher index and mode")
            << Headers(5, With(3, 1, 1, 9, 0, 0)) + Headers(5, With(3, 1, 1, 10, 1, 3)) << true
            << Expect(1, "mono", 1, false, 160);
        QTest::newRow("protection by majority")
            << Headers(3, With(3, 1, 0, 9, 0, 1)) + Headers(4, With(3, 1, 1, 13, 0, 1)) << true
            << Expect(1, "joint stereo", 0, false, 256);
        QTest::newRow("protection tie: clear")
            << Headers(4, With(3, 1, 0, 9, 0, 1)) + Headers(4, With(3, 1, 1, 13, 0, 1)) << true
            << Expect(1, "joint stereo", 0, false, 128);
        QTest::newRow("MPEG-2 rates") << Headers(1, With(2, 1, 1, 1, 0, 2)) + Headers(1, With(2, 1, 1, 14, 0, 2))
                                      << true << Expect(2, "dual mono", 0, true, 84);

        // Only a candidate with four more bytes of its chunk after it counts.
        QTest::newRow("header in the last four bytes of a chunk")
            << chunk.left(Mp3Analyzer::ChunkSize - 4) + Bytes(Header()) + chunk << false << none;
        QTest::newRow("header five bytes before a chunk's end")
            << chunk.left(Mp3Analyzer::ChunkSize - 5) + Bytes(Header()) + chunk << true
            << Expect(1, "joint stereo", 0, false, 128);
        QTest::newRow("header at the start of the next chunk")
            << chunk + Bytes(Header()) + QByteArray(1, '\0') << true << Expect(1, "joint stereo", 0, false, 128);
        QTest::newRow("header at the end of the file") << QByteArray(100, '\0') + Bytes(Header()) << false << none;
        QTest::newRow("header one byte before the end") << QByteArray(100, '\0') + Bytes(Header()) + QByteArray(1, '\0')
                                                        << true << Expect(1, "joint stereo", 0, false, 128);
    }

    void craftedDecisions()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QFETCH(Mp3Analyzer::Result, expected);

        Mp3Analyzer::Result r;
        QCOMPARE(Mp3Analyzer::AnalyzeBytes(bytes, r), ok);
        if (ok)
            QVERIFY2(Same(r, expected), qPrintable(Describe(r) + " instead of " + Describe(expected)));
        else
            QCOMPARE(r.bitrate, -1);

        // A file is cut into the same chunks as bytes in memory, and
        // failures leave the file to be tried again.
        const QString path = dir.filePath("crafted.mp3");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
        file.close();
        FileScanner scanner;
        int version = 0, frequency = 0, bitrate = 0;
        QString mode;
        bool vbr = false;
        QCOMPARE(scanner.ScanMP3(path, version, mode, frequency, vbr, bitrate), ok);
        if (ok)
            QVERIFY(Same(Expect(version, qPrintable(mode), frequency, vbr, bitrate), expected));
        else
            QCOMPARE(bitrate, -1);
    }

    void missingFileFails()
    {
        FileScanner scanner;
        QSignalSpy scanned(&scanner, &FileScanner::MP3Scanned);
        scanner.OnMP3ScanRequired(dir.filePath("nothing here.mp3"));
        QCOMPARE(scanned.size(), 0);
    }

    // Three bytes per header, far more headers than a 32-bit percentage of
    // one rate can take: a list of headers would cost hundreds of MiB.
    void denseHeadersStayInFixedMemory()
    {
        const QString path = dir.filePath("dense.mp3");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // FF FB 90 FF: MPEG-1 Layer III, no CRC, 128 kbit/s, index 0, mono.
        const QByteArray block = QByteArray("\xFF\xFB\x90", 3).repeated(1 << 20);
        for (int i = 0; i < 24; ++i)
            QCOMPARE(file.write(block), qint64(block.size()));
        file.close();

        ResetPeak();
        const qint64 before = PeakKiB();
        Mp3Analyzer::Result r;
        QVERIFY(Mp3Analyzer::AnalyzeFile(path, r));
        const qint64 after = PeakKiB();
        QVERIFY2(Same(r, Expect(1, "mono", 0, false, 128)), qPrintable(Describe(r)));
        QVERIFY(before > 0);
        QVERIFY2(after - before < 8 * 1024, qPrintable(QString("peak grew by %1 KiB").arg(after - before)));
        QFile::remove(path);
    }

    void stopEndsAnAnalysisAtTheNextChunk()
    {
        const QString path = dir.filePath("long.mp3");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(Headers(Mp3Analyzer::ChunkSize)) > 0);
        file.close();

        int asked = 0;
        Mp3Analyzer::Result r;
        QVERIFY(!Mp3Analyzer::AnalyzeFile(path, r, [&asked] { return ++asked == 3; }));
        QCOMPARE(asked, 3);
        QCOMPARE(r.bitrate, -1);
        QVERIFY(Mp3Analyzer::AnalyzeFile(path, r, [] { return false; }));

        // Asked to quit before it starts, the scanner does not analyse.
        FileScanner scanner;
        scanner.Quit();
        QSignalSpy scanned(&scanner, &FileScanner::MP3Scanned);
        scanner.OnMP3ScanRequired(path);
        QCOMPARE(scanned.size(), 0);
    }

    // A file of a terabyte, all but its first frames a hole, would keep the
    // scanner thread reading for the better part of an hour.
    void quitStopsAnAnalysisUnderWay()
    {
        NeedEncoder();
        const QString path = Encode("huge.mp3", 44100, 2, 2, {"--cbr", "-b", "128"});
        QVERIFY(!path.isEmpty());
        QFile file(path);
        QVERIFY(file.resize(qint64(1) << 40));

        QThread thread;
        FileScanner scanner;
        scanner.moveToThread(&thread);
        thread.start();
        QSignalSpy scanned(&scanner, &FileScanner::MP3Scanned);
        QMetaObject::invokeMethod(&scanner, "OnMP3ScanRequired", Qt::QueuedConnection, Q_ARG(QString, path));
        QTRY_VERIFY_WITH_TIMEOUT(IsOpenHere(path), 20000);

        scanner.Quit();
        thread.quit();
        const bool finished = thread.wait(60000);
        if (!finished) {
            thread.terminate();
            thread.wait();
        }
        QVERIFY(finished);
        QCOMPARE(scanned.size(), 0);
        QFile::remove(path);
    }

    void walksGoAheadOfWaitingAnalyses()
    {
        NeedEncoder();
        const QString path = Encode("wait.mp3", 44100, 2, 2, {"--cbr", "-b", "128"});
        QVERIFY(!path.isEmpty());
        // On this thread, so that the order of what waits in its queue shows.
        FileScanner scanner;
        QStringList order;
        connect(&scanner, &FileScanner::MP3Scanned, this, [&] { order << "analysis"; });
        connect(&scanner, &FileScanner::SharesWalked, this, [&](FileScanner::WalkResult) { order << "walk"; });
        for (int i = 0; i < 3; ++i)
            QMetaObject::invokeMethod(&scanner, "OnMP3ScanRequired", Qt::QueuedConnection, Q_ARG(QString, path));
        scanner.RequestWalk({dir.path()});
        QTRY_COMPARE(order.size(), 4);
        QCOMPARE(order, QStringList({"walk", "analysis", "analysis", "analysis"}));
        QFile::remove(path);
    }

    void sharedFolderGetsTheAnalysis()
    {
        NeedEncoder();
        SharesFixture f;
        f.Start();
        const QString root = f.MakeFolder("music");
        // Listed, and so analysed, before the real files.
        f.WriteFile("music/a broken.mp3", 5000);
        QVERIFY(!Encode("joint.mp3", 44100, 2, 10, {"--cbr", "-b", "128", "-m", "j"}, root).isEmpty());
        QVERIFY(!Encode("VOICE.MP3", 22050, 1, 10, {"-V", "5", "-m", "m"}, root).isEmpty());

        QVERIFY(ShareScanned(f.manager, root));
        ItemPtr joint = f.manager->GetSharedFileItem(root + "/joint.mp3");
        ItemPtr voice = f.manager->GetSharedFileItem(root + "/VOICE.MP3");
        ItemPtr broken = f.manager->GetSharedFileItem(root + "/a broken.mp3");
        QVERIFY(joint && voice && broken);
        QTRY_VERIFY_WITH_TIMEOUT(joint.IsConnected("is_scanned") && voice.IsConnected("is_scanned"), 30000);

        QCOMPARE(joint["mpeg_version"].AsString(), QString("1"));
        QCOMPARE(joint["channel_mode"].AsString(), QString("joint stereo"));
        QCOMPARE(joint["audio_frequency"].AsString(), QString("0"));
        QCOMPARE(joint["bitrate_mode"].AsString(), QString("cbr"));
        QCOMPARE(joint["bitrate"].AsString(), QString("128"));
        QCOMPARE(voice["mpeg_version"].AsString(), QString("2"));
        QCOMPARE(voice["channel_mode"].AsString(), QString("mono"));
        QCOMPARE(voice["audio_frequency"].AsString(), QString("0"));
        QCOMPARE(voice["bitrate_mode"].AsString(), QString("vbr"));
        QVERIFY(voice["bitrate"].AsInt() > 8 && voice["bitrate"].AsInt() < 160);
        // Its analysis failed: no mark, no attributes, so it is sent again.
        QVERIFY(!broken.IsConnected("is_scanned"));
        QVERIFY(!broken["bitrate"]);

        QSignalSpy requested(f.manager, &SharedFoldersManager::MP3ScanRequired);
        QVERIFY(f.Rescan());
        QCOMPARE(requested.size(), 1);
        QCOMPARE(requested.at(0).at(0).toString(), root + "/a broken.mp3");

        // A later result replaces the earlier; one for a file no longer
        // shared is dropped.
        f.manager->OnMP3Scanned(root + "/joint.mp3", 2, "stereo", 1, true, 97);
        QCOMPARE(joint.GetItems("bitrate").size(), size_t(1));
        QCOMPARE(joint["bitrate"].AsString(), QString("97"));
        QCOMPARE(joint["bitrate_mode"].AsString(), QString("vbr"));
        QCOMPARE(joint["channel_mode"].AsString(), QString("stereo"));
        f.manager->OnMP3Scanned(root + "/gone.mp3", 1, "mono", 0, false, 311);
        QVERIFY(!d.GetType("bitrate")->HasItem(Value(311)));
    }
};

QTEST_MAIN(TestMp3Analysis)
#include "TestMp3Analysis.moc"
