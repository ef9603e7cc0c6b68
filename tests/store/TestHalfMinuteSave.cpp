// The half-minute save of a large store: it takes the store a slice per
// turn of the event loop, what changes meanwhile with it, and writes a file
// that loads back as the store stood when its last slice ended, also when
// the program is killed once the save said it was done. A save that must
// be whole at once (the exit's) or that must not write (while the user is
// asked at quit) takes over from one under way.
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <memory>

#include "Data.h"
#include "DataSaver.h"
#include "SavedStore.h"
#include "Settings.h"
#include "SliceRunner.h"
#include "SliceTrace.h"
#include "SlicedJob.h"

namespace {
const int Entries = 3000;
const int StepsPerSlice = 50;
const char* const ChildFolder = "QV_HALF_MINUTE_SAVE_CHILD";

void Fill(const QString& marker)
{
    for (int i = 0; i < Entries; ++i)
        SavedStore::Entry(QString("%1 %2").arg(marker).arg(i));
    SetSetting("marker", marker);
}

// The child: a whole save of the first store, then the second taken a slice
// a turn; it says "saved" and the slices once that save is done, or
// "taking" while it is held half way, and waits to be killed.
int RunChild(const QString& folder, const QString& mode)
{
    const QString prefix = folder + "/.Quorvane";
    DataSaver saver;
    SavedStore::Register(saver);
    SavedStore::Declare();
    saver.Load(prefix);
    Fill("first");
    saver.Save(prefix);
    Fill("second");
    saver.TakingJob().SetMostSteps(StepsPerSlice);
    if (!saver.SaveChanges(prefix))
        return 2;
    if (mode == "taking") {
        saver.TakingJob().SetMostSteps(0);
        printf("taking\n");
    } else {
        QElapsedTimer clock;
        clock.start();
        while (saver.IsWriting() && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (saver.IsWriting())
            return 3;
        printf("saved %d\n", saver.TakingJob().Slices());
    }
    fflush(stdout);
    // Killed long before this.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return 4;
}
} // namespace

class TestHalfMinuteSave : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataSaver> m_saver;
    QString Prefix() const { return m_dir->path() + "/.Quorvane"; }

    QByteArray Newest() const
    {
        QFile file(DataSaver::DataFiles(Prefix()).front().second);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The child killed once it said line; what the files then load.
    QString KilledChild(const QString& mode, QByteArray& line)
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(ChildFolder, m_dir->path() + "|" + mode);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        if (!QTest::qWaitFor([&] { return (line += child.readAll()).contains('\n'); }, 120000))
            return "no line";
        child.kill();
        child.waitForFinished(30000);
        SavedStore::Declare();
        m_saver->Load(Prefix());
        return GetSetting("marker");
    }

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_saver.reset(new DataSaver);
        SavedStore::Register(*m_saver);
        SavedStore::Declare();
        m_saver->Load(Prefix());
    }
    void cleanup()
    {
        m_saver.reset();
        d.Reset();
    }

    void aSaveSpansTurnsAndWritesTheStoreAsItsLastSliceLeftIt()
    {
        Fill("first");
        SlicedJob& taking = m_saver->TakingJob();
        taking.SetMostSteps(StepsPerSlice);
        QVERIFY(m_saver->SaveChanges(Prefix()));
        QCOMPARE(taking.Slices(), 1);
        QVERIFY(m_saver->IsWriting());
        QVERIFY(DataSaver::DataFiles(Prefix()).empty());
        // Changes between the slices, and the tick after them, go into this
        // save; the store is taken a slice a turn.
        int turns = 0, late = 0;
        QByteArray expected;
        while (taking.IsRunning()) {
            QVERIFY(SliceTrace::NextTurn());
            ++turns;
            if (taking.IsRunning()) {
                QVERIFY(taking.LastSliceSteps() >= StepsPerSlice && taking.LastSliceSteps() < 2 * StepsPerSlice);
                SavedStore::Entry(QString("late %1").arg(late++));
                d.GetType("download_entry")->First().Remove();
                QVERIFY(m_saver->SaveChanges(Prefix()));
            } else {
                expected = m_saver->Serialize();
            }
        }
        QCOMPARE(turns, taking.Slices() - 1);
        QVERIFY2(taking.Slices() > Entries / StepsPerSlice, qPrintable(QString::number(taking.Slices())));
        QTRY_VERIFY(!m_saver->IsWriting());
        QVERIFY(!m_saver->SaveChanges(Prefix()));
        const QStringList loaded = SavedStore::Loaded(Newest());
        QCOMPARE(loaded, SavedStore::Loaded(expected));
        QCOMPARE(loaded.filter("download_entry").size(), Entries);
        QVERIFY(loaded.join('\n').contains(QString("[late %1]").arg(late - 1)));
    }

    void aWholeSaveOrAHeldOneTakesOverFromOneUnderWay()
    {
        Fill("first");
        SlicedJob& taking = m_saver->TakingJob();
        taking.SetMostSteps(StepsPerSlice);
        QVERIFY(m_saver->SaveChanges(Prefix()));
        QVERIFY(SliceTrace::NextTurn());
        SetSetting("marker", "at exit");
        // The exit's save writes the whole store at once, and nothing else
        // is written after it.
        m_saver->Save(Prefix());
        QVERIFY(!taking.IsRunning() && !m_saver->IsWriting());
        QCOMPARE(DataSaver::DataFiles(Prefix()).size(), size_t(1));
        QVERIFY(Newest().contains("at exit"));

        // While the user is asked at quit, a save under way writes nothing
        // and its changes stay unsaved.
        SetSetting("marker", "asked");
        QVERIFY(m_saver->SaveChanges(Prefix()));
        m_saver->HoldChanges(true);
        QVERIFY(!m_saver->IsWriting());
        QVERIFY(!m_saver->SaveChanges(Prefix()));
        QCOMPARE(SliceRunner::Get().RunningJobs(), 0);
        m_saver->HoldChanges(false);
        QCOMPARE(DataSaver::DataFiles(Prefix()).size(), size_t(1));
        QVERIFY(m_saver->HasUnsavedChanges());
        // Waiting for a save takes the rest of the store at once.
        QVERIFY(m_saver->SaveChanges(Prefix()));
        m_saver->WaitForSave();
        QVERIFY(Newest().contains("asked"));
    }

    void aSaveSaidDoneSurvivesTheProgramBeingKilled()
    {
        QByteArray line;
        QCOMPARE(KilledChild("saved", line), QString("second"));
        QVERIFY(line.startsWith("saved "));
        QVERIFY2(line.mid(6).trimmed().toInt() > Entries / StepsPerSlice, line.constData());
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(2 * Entries));

        // Killed half way, the save before it is whole.
        for (const auto& file : DataSaver::DataFiles(Prefix()))
            QVERIFY(QFile::remove(file.second));
        line.clear();
        QCOMPARE(KilledChild("taking", line), QString("first"));
        QCOMPARE(line, QByteArray("taking\n"));
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(Entries));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList child = qEnvironmentVariable(ChildFolder).split('|');
    if (child.size() == 2)
        return RunChild(child[0], child[1]);
    TestHalfMinuteSave test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestHalfMinuteSave.moc"
