#include <QtTest>

#include "DownloadPaths.h"
#include "PeriodicDuties.h"

// Local places of downloads, the neutralising of peer-chosen names, and
// the time rules of the half-minute duties.
class TestDownloadPaths : public QObject
{
    Q_OBJECT

private slots:
    void keptSubfoldersAreTheLastLevels_data();
    void keptSubfoldersAreTheLastLevels();
    void targetFoldersFollowTheSettings();
    void peerNamesStayInsideTheDownloadFolder_data();
    void peerNamesStayInsideTheDownloadFolder();
    void insideMeansBelowTheFolder();
    void negotiationAndRequestTimes();
    void finishUploadsAndQuitDecision();
};

void TestDownloadPaths::keptSubfoldersAreTheLastLevels_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("relative");

    QTest::newRow("own folder") << "music\\albums\\x" << 0 << "\\x"
                                << "x";
    QTest::newRow("one parent") << "music\\albums\\x" << 1 << "\\albums\\x"
                                << "albums\\x";
    QTest::newRow("all") << "music\\albums\\x" << 2 << "\\music\\albums\\x"
                         << "music\\albums\\x";
    // Asking for more levels than there are repeats the first one.
    QTest::newRow("repeats") << "x" << 1 << "\\x\\x"
                             << "x\\x";
    QTest::newRow("forward slashes") << "a/b" << 0 << "\\b"
                                     << "b";
}

void TestDownloadPaths::keptSubfoldersAreTheLastLevels()
{
    QFETCH(QString, remote);
    QFETCH(int, level);
    QFETCH(QString, kept);
    QFETCH(QString, relative);
    QCOMPARE(QString::fromStdString(DownloadPaths::KeptSubfolders(remote.toStdString(), level)), kept);
    QCOMPARE(DownloadPaths::SafeSubfolders(remote.toStdString(), level), kept);
    QCOMPARE(DownloadPaths::RelativeFolder(true, remote.toStdString(), level), relative);
}

void TestDownloadPaths::targetFoldersFollowTheSettings()
{
    DownloadPaths::Options options;
    options.downloadFolder = "/home/user/Quorvane Downloads";
    const std::string remote = "music\\albums\\x";

    QCOMPARE(DownloadPaths::TargetFolder(options, true, remote, 1, false, false),
             QString("\\home\\user\\Quorvane Downloads\\downloading\\albums\\x"));
    QCOMPARE(DownloadPaths::TargetFolder(options, true, remote, 1, false, true),
             QString("\\home\\user\\Quorvane Downloads\\complete\\albums\\x"));
    QCOMPARE(DownloadPaths::TargetPath(options, true, remote, 1, false, "a.mp3", true),
             QString("\\home\\user\\Quorvane Downloads\\complete\\albums\\x\\a.mp3"));

    // No remote folder, or an empty one: straight into the split folder.
    QCOMPARE(DownloadPaths::TargetFolder(options, false, "", 3, false, false),
             QString("\\home\\user\\Quorvane Downloads\\downloading"));
    QCOMPARE(DownloadPaths::TargetFolder(options, true, "", 3, false, true),
             QString("\\home\\user\\Quorvane Downloads\\complete"));

    // Single downloads lose their subfolders only when asked; the relative
    // folder of the completion record keeps them.
    options.flattenSingle = true;
    QCOMPARE(DownloadPaths::TargetFolder(options, true, remote, 0, true, false),
             QString("\\home\\user\\Quorvane Downloads\\downloading"));
    QCOMPARE(DownloadPaths::TargetFolder(options, true, remote, 0, false, false),
             QString("\\home\\user\\Quorvane Downloads\\downloading\\x"));
    QCOMPARE(DownloadPaths::RelativeFolder(true, remote, 0), QString("x"));

    options.dontSplit = true;
    options.flattenSingle = false;
    QCOMPARE(DownloadPaths::TargetFolder(options, true, remote, 0, false, false),
             DownloadPaths::TargetFolder(options, true, remote, 0, false, true));
    QCOMPARE(DownloadPaths::TargetFolder(options, true, remote, 0, false, true),
             QString("\\home\\user\\Quorvane Downloads\\x"));

    options = DownloadPaths::Options();
    options.downloadFolder = "/data/dl";
    const QString folder = DownloadPaths::TargetFolder(options, true, "a\\b", 0, false, false);
    QCOMPARE(folder, QString("\\data\\dl\\downloading\\b"));
    QCOMPARE(DownloadPaths::Local(folder), QString("/data/dl/downloading/b"));
}

void TestDownloadPaths::peerNamesStayInsideTheDownloadFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("level");
    // Relative to the partial-file folder; empty when refused.
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "a\\b"
                           << "f.txt" << 0 << "b/f.txt";
    QTest::newRow("dot-dot name") << "a"
                                  << ".." << 0 << "";
    QTest::newRow("dot name") << "a"
                              << "." << 0 << "";
    QTest::newRow("empty name") << "a"
                                << "" << 0 << "";
    QTest::newRow("control name") << "a"
                                  << "\x01" << 0 << "a/_";
    QTest::newRow("dot-dot folders") << "..\\.."
                                     << "f" << 1 << "f";
    QTest::newRow("climbing folder") << "x\\..\\..\\..\\etc"
                                     << "passwd" << 4 << "x/etc/passwd";
    QTest::newRow("absolute unix") << "/etc"
                                   << "passwd" << 1 << "etc/passwd";
    QTest::newRow("absolute drive") << "C:\\Windows"
                                    << "win.ini" << 1 << "C:/Windows/win.ini";
    QTest::newRow("slashes in folder") << "a/../../b"
                                       << "f" << 2 << "b/f";
    QTest::newRow("separator in name") << "a"
                                       << "../../f" << 0 << "a/.._.._f";
    QTest::newRow("backslash in name") << "a"
                                       << "..\\f" << 0 << "a/.._f";
    QTest::newRow("empty components") << "a\\\\\\b"
                                      << "f" << 2 << "a/b/f";
    QTest::newRow("control in folder") << "a\\\x1b[0m"
                                       << "f" << 0 << "_[0m/f";
}

void TestDownloadPaths::peerNamesStayInsideTheDownloadFolder()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(int, level);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    DownloadPaths::Options options;
    options.downloadFolder = dir.path() + "/dl";
    for (bool complete : {false, true}) {
        const QString path =
            DownloadPaths::TargetPath(options, true, folder.toStdString(), level, false, name.toStdString(), complete);
        if (expected.isEmpty()) {
            QVERIFY2(path.isEmpty(), qPrintable(path));
            continue;
        }
        const QString root = options.downloadFolder + (complete ? "/complete/" : "/downloading/");
        QCOMPARE(DownloadPaths::Local(path), root + expected);
        QVERIFY(DownloadPaths::IsInside(DownloadPaths::Local(path), options.downloadFolder));
    }
}

void TestDownloadPaths::insideMeansBelowTheFolder()
{
    QVERIFY(DownloadPaths::IsInside("/a/dl/x", "/a/dl"));
    QVERIFY(DownloadPaths::IsInside("/a/dl/x/../y", "/a/dl/"));
    QVERIFY(!DownloadPaths::IsInside("/a/dl", "/a/dl"));
    QVERIFY(!DownloadPaths::IsInside("/a/dl/", "/a/dl"));
    QVERIFY(!DownloadPaths::IsInside("/a/dl2/x", "/a/dl"));
    QVERIFY(!DownloadPaths::IsInside("/a/dl/../x", "/a/dl"));
    QVERIFY(!DownloadPaths::IsInside("/a/dl/x/../..", "/a/dl"));
    QVERIFY(!DownloadPaths::IsInside("/a/dl/x", ""));
}

void TestDownloadPaths::negotiationAndRequestTimes()
{
    const QDateTime now = QDateTime::fromString("Sat Dec 7 12:00:00 2024", Qt::TextDate);
    QVERIFY(now.isValid());
    const qint64 nowMs = now.toMSecsSinceEpoch();
    auto ago = [&](int seconds) { return PeriodicDuties::Format(now.addSecs(-seconds)); };

    QVERIFY(!PeriodicDuties::NegotiationTimedOut(ago(29), nowMs));
    QVERIFY(PeriodicDuties::NegotiationTimedOut(ago(30), nowMs));
    QVERIFY(!PeriodicDuties::NegotiationTimedOut("", nowMs));
    QVERIFY(!PeriodicDuties::NegotiationTimedOut(ago(-60), nowMs));
    QVERIFY(!PeriodicDuties::NegotiationTimedOut("not a time", nowMs));

    QVERIFY(PeriodicDuties::QueueRequestDue("", nowMs));
    QVERIFY(!PeriodicDuties::QueueRequestDue(ago(599), nowMs));
    QVERIFY(PeriodicDuties::QueueRequestDue(ago(600), nowMs));

    QVERIFY(PeriodicDuties::PlaceInLineRequestDue("", nowMs));
    QVERIFY(PeriodicDuties::PlaceInLineRequestDue(ago(0), nowMs));
    QVERIFY(!PeriodicDuties::PlaceInLineRequestDue(ago(-1), nowMs));

    // Stored times are local time texts of whole seconds.
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const qint64 ahead = PeriodicDuties::ParseMSecs(PeriodicDuties::NowText(600));
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QVERIFY2(ahead > before + 599000 && ahead <= after + 600000, qPrintable(QString::number(ahead - before)));
    QCOMPARE(PeriodicDuties::Parse(PeriodicDuties::NowText()).toString(Qt::TextDate), PeriodicDuties::NowText());
}

void TestDownloadPaths::finishUploadsAndQuitDecision()
{
    const QDateTime now = QDateTime::fromString("Sat Dec 7 12:00:00 2024", Qt::TextDate);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    auto ago = [&](int seconds) { return PeriodicDuties::Format(now.addSecs(-seconds)); };

    QVERIFY(PeriodicDuties::FinishUploadsAndQuitDue("yes", ago(301), nowMs, 0, 0));
    QVERIFY(!PeriodicDuties::FinishUploadsAndQuitDue("yes", ago(300), nowMs, 0, 0));
    QVERIFY(!PeriodicDuties::FinishUploadsAndQuitDue("no", ago(301), nowMs, 0, 0));
    QVERIFY(!PeriodicDuties::FinishUploadsAndQuitDue("", ago(301), nowMs, 0, 0));
    QVERIFY(!PeriodicDuties::FinishUploadsAndQuitDue("yes", ago(301), nowMs, 1, 0));
    QVERIFY(!PeriodicDuties::FinishUploadsAndQuitDue("yes", ago(301), nowMs, 0, 1));
    // No upload changed its status in this run: long enough ago.
    QVERIFY(PeriodicDuties::FinishUploadsAndQuitDue("yes", "", nowMs, 0, 0));
    QVERIFY(!PeriodicDuties::FinishUploadsAndQuitDue("yes", "", nowMs, 0, 2));
}

QTEST_GUILESS_MAIN(TestDownloadPaths)
#include "TestDownloadPaths.moc"
