#include "Data.h"
#include "DiagnosticsForm.h"
#include "Log.h"
#include "PathNode.h"
#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {
// What a path handler saw of each new log record at the moment it fired.
class RecordWatcher
{
public:
    void OnRecord(ItemPtr record)
    {
        QStringList seen;
        for (const char* attribute : {"log_time", "log_area", "log_level", "log_text", "log_order"})
            seen << (record[attribute] ? record[attribute].AsString() : QString("<missing>"));
        seen << record["user"].AsString();
        records << seen;
        threads << QThread::currentThread();
    }
    QList<QStringList> records;
    QList<QThread*> threads;
};

QStringList Lines(const QString& text)
{
    return text.split('\n', Qt::SkipEmptyParts);
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}
} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void nothingUnlessShownAndFormExists();
    void linesArePrefixedAndIndented();
    void onePagePerArea();
    void userLevelLoggingRecordsCompleteRecords();
    void userLevelLoggingOnlyForRegisteredTypes();
    void areaFileAppendsInsideLogFolder();
    void areaFileNamesStayInsideFolder_data();
    void areaFileNamesStayInsideFolder();
    void logFromAnotherThreadArrivesOnMainThread();

private:
    ItemPtr NewUser(const char* name) { return d.GetType("user")->NewItem(name); }

    std::unique_ptr<DiagnosticsForm> m_form;
    QTemporaryDir m_home;
};

void TestLog::initTestCase()
{
    // The log folder lives in the home folder and is wiped between tests:
    // never let that be a real one, however the test is started.
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toLocal8Bit());
    QCOMPARE(QDir::homePath(), m_home.path());
}

void TestLog::init()
{
    d.Reset();
    DeclareSettingTypes();
    d.NewType("user", 0, false, true);
    d.NewType("room", 0, false, true);
    m_form.reset(new DiagnosticsForm);
    QCOMPARE(diagnosticsForm, m_form.get());
    m_form->Init();
    m_form->RegisterLoggableItemType("user");
    QDir(DiagnosticsForm::LogFolder()).removeRecursively();
}

void TestLog::cleanup()
{
    m_form.reset();
    QVERIFY(!diagnosticsForm);
    d.Reset();
    QDir(DiagnosticsForm::LogFolder()).removeRecursively();
}

void TestLog::nothingUnlessShownAndFormExists()
{
    SetSetting("user_level_logging", "yes");
    ItemPtr alice = NewUser("alice");
    Log("Server", 1, "unset", alice);
    QVERIFY(!IsLogging());
    for (const char* value : {"no", "Yes", "yes "}) {
        SetSetting("show_diagnostics", value);
        QVERIFY(!IsLogging());
        Log("Server", 1, QString("switch is '%1'").arg(value), alice);
    }
    QCOMPARE(m_form->AreaText("Server"), QString());
    QCOMPARE(m_form->findChild<QTabWidget*>()->count(), 0);
    QCOMPARE(d.GetType("item_log")->Count(), size_t(0));
    QVERIFY(!QDir(DiagnosticsForm::LogFolder()).exists());

    // Without the window the call returns quietly, whatever the setting.
    SetSetting("show_diagnostics", "yes");
    diagnosticsForm = nullptr;
    QVERIFY(!IsLogging());
    Log("Server", 1, "no window", alice);
    diagnosticsForm = m_form.get();
    QVERIFY(IsLogging());
    QCOMPARE(m_form->AreaText("Server"), QString());
    QCOMPARE(d.GetType("item_log")->Count(), size_t(0));

    Log("Server", 1, "shown", alice);
    QVERIFY(m_form->AreaText("Server").endsWith("] shown"));
    QCOMPARE(d.GetType("item_log")->Count(), size_t(1));
}

void TestLog::linesArePrefixedAndIndented()
{
    SetSetting("show_diagnostics", "yes");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    Log("Server", 1, "main event");
    Log("Server", 2, "detail");
    Log("Server", 3, "fine detail");
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    const QStringList lines = Lines(m_form->AreaText("Server"));
    QCOMPARE(lines.size(), 3);
    const QRegularExpression shape(R"(^\[(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})\] (.*)$)");
    const QStringList texts = {"main event", "   detail", "      fine detail"};
    for (int i = 0; i < 3; ++i) {
        const auto match = shape.match(lines[i]);
        QVERIFY2(match.hasMatch(), qPrintable(lines[i]));
        const QDateTime stamp = QDateTime::fromString(match.captured(1), "yyyy-MM-dd hh:mm:ss");
        QVERIFY(stamp.isValid());
        QVERIFY(stamp >= before && stamp <= after);
        QCOMPARE(match.captured(2), texts[i]);
    }
}

void TestLog::onePagePerArea()
{
    SetSetting("show_diagnostics", "yes");
    Log("Server", 1, "one");
    Log("Search", 1, "two");
    Log("Server", 2, "three");

    auto* tabs = m_form->findChild<QTabWidget*>();
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QString("Server"));
    QCOMPARE(tabs->tabText(1), QString("Search"));
    const QStringList server = Lines(m_form->AreaText("Server"));
    QCOMPARE(server.size(), 2);
    QVERIFY(server[0].endsWith("] one"));
    QVERIFY(server[1].endsWith("]    three"));
    const QStringList search = Lines(m_form->AreaText("Search"));
    QCOMPARE(search.size(), 1);
    QVERIFY(search[0].endsWith("] two"));
    QCOMPARE(m_form->AreaText("Shared"), QString());
}

void TestLog::userLevelLoggingRecordsCompleteRecords()
{
    SetSetting("show_diagnostics", "yes");
    SetSetting("user_level_logging", "yes");
    RecordWatcher watcher;
    auto* root = new PathNode(&d, "item_log");
    new PathNode(root, "user", 2);
    d.AddPathEventHandler(root, new EventHandler<RecordWatcher, ItemPtr>(&watcher, &RecordWatcher::OnRecord));

    ItemPtr alice = NewUser("alice");
    ItemPtr bob = NewUser("bob");
    Log("Server", 2, "hello", alice);
    Log("Peer Messenger", 1, "hello", bob);
    Log("Server", 1, "again", alice);

    QCOMPARE(watcher.records.size(), 3);
    const QStringList expected[] = {{"Server", "2", "hello", "1", "alice"},
                                    {"Peer Messenger", "1", "hello", "2", "bob"},
                                    {"Server", "1", "again", "3", "alice"}};
    for (int i = 0; i < 3; ++i) {
        const QStringList& seen = watcher.records[i];
        QVERIFY2(QDateTime::fromString(seen[0], Qt::TextDate).isValid(), qPrintable(seen[0]));
        QCOMPARE(seen.mid(1), expected[i]);
    }
    QCOMPARE(alice.CountItems("item_log"), 2);
    QCOMPARE(bob.CountItems("item_log"), 1);
    // The record holds the text as given, not the indented page line.
    QCOMPARE(alice.GetItems("item_log").First()["log_text"].AsString(), QString("hello"));
}

void TestLog::userLevelLoggingOnlyForRegisteredTypes()
{
    SetSetting("show_diagnostics", "yes");
    ItemPtr alice = NewUser("alice");
    ItemPtr room = d.GetType("room")->NewItem("lobby");

    Log("Server", 1, "switch off", alice);
    SetSetting("user_level_logging", "no");
    Log("Server", 1, "switch no", alice);
    SetSetting("user_level_logging", "yes");
    Log("Server", 1, "not loggable", room);
    Log("Server", 1, "no item");
    QCOMPARE(d.GetType("item_log")->Count(), size_t(0));
    QVERIFY(!QDir(DiagnosticsForm::LogFolder()).exists());
    QCOMPARE(Lines(m_form->AreaText("Server")).size(), 4);

    // Registering twice or a type that is not declared changes nothing.
    m_form->RegisterLoggableItemType("user");
    m_form->RegisterLoggableItemType("no_such_type");
    QVERIFY(!d.HasType("no_such_type"));
    Log("Server", 1, "loggable", alice);
    QCOMPARE(alice.CountItems("item_log"), 1);
}

void TestLog::areaFileAppendsInsideLogFolder()
{
    SetSetting("show_diagnostics", "yes");
    SetSetting("user_level_logging", "yes");
    const QString folder = DiagnosticsForm::LogFolder();
    QVERIFY(folder.startsWith(QDir::homePath()));
    QVERIFY(QDir().mkpath(folder));
    {
        QFile earlier(folder + "/Server.log");
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier line\n");
    }
    ItemPtr alice = NewUser("alice");
    Log("Server", 1, "first", alice);
    Log("Server", 3, "second", alice);

    const QStringList lines = QString::fromUtf8(ReadFile(folder + "/Server.log")).split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QString("earlier line"));
    QVERIFY2(QRegularExpression(R"(^\[[0-9: -]{19}\] first \(alice\)$)").match(lines[1]).hasMatch(),
             qPrintable(lines[1]));
    QVERIFY2(QRegularExpression(R"(^\[[0-9: -]{19}\]       second \(alice\)$)").match(lines[2]).hasMatch(),
             qPrintable(lines[2]));
    QCOMPARE(lines[3], QString());

    // An area that names a path still writes one file in the folder.
    Log("../../etc/x", 1, "escape", alice);
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files.size(), 2);
    const QString other = files[0] == "Server.log" ? files[1] : files[0];
    QVERIFY(ReadFile(folder + "/" + other).contains("escape (alice)"));
    QVERIFY(!QFile::exists(folder + "/../../etc/x.log"));
    QVERIFY(!QFile::exists(QDir::homePath() + "/etc/x.log"));
}

void TestLog::areaFileNamesStayInsideFolder_data()
{
    QTest::addColumn<QString>("area");
    QTest::newRow("parent path") << "../../etc/x";
    QTest::newRow("dots") << "..";
    QTest::newRow("absolute") << "/etc/passwd";
    QTest::newRow("backslashes") << "..\\..\\x";
    QTest::newRow("empty") << "";
    QTest::newRow("blank") << "   ";
    QTest::newRow("non-ascii") << QString::fromUtf8("Caf\xc3\xa9/\xe2\x80\xa8");
    QTest::newRow("plain") << "Transfer Queue";
}

void TestLog::areaFileNamesStayInsideFolder()
{
    QFETCH(QString, area);
    const QString name = DiagnosticsForm::AreaFileName(area);
    QVERIFY(name.endsWith(".log"));
    QVERIFY(name.size() > 4);
    QVERIFY(!name.contains('/'));
    QVERIFY(!name.contains('\\'));
    QVERIFY(!name.startsWith('.'));
    for (QChar c : name)
        QVERIFY(c.unicode() >= 32 && c.unicode() < 127);
    const QString folder = QDir::cleanPath(DiagnosticsForm::LogFolder());
    QCOMPARE(QFileInfo(QDir::cleanPath(folder + "/" + name)).absolutePath(), folder);
    if (area == "Transfer Queue")
        QCOMPARE(name, QString("Transfer Queue.log"));
}

void TestLog::logFromAnotherThreadArrivesOnMainThread()
{
    SetSetting("show_diagnostics", "yes");
    SetSetting("user_level_logging", "yes");
    RecordWatcher watcher;
    auto* root = new PathNode(&d, "item_log");
    new PathNode(root, "user", 2);
    d.AddPathEventHandler(root, new EventHandler<RecordWatcher, ItemPtr>(&watcher, &RecordWatcher::OnRecord));
    ItemPtr alice = NewUser("alice");

    std::unique_ptr<QThread> worker(QThread::create([alice]() {
        Log("Worker", 1, "from a thread", alice);
        Log("Worker", 2, "and again", alice);
    }));
    worker->start();
    QVERIFY(worker->wait(30000));
    // Queued for the window's thread: nothing has happened yet.
    QCOMPARE(m_form->AreaText("Worker"), QString());
    QCOMPARE(d.GetType("item_log")->Count(), size_t(0));

    QTRY_COMPARE_WITH_TIMEOUT(Lines(m_form->AreaText("Worker")).size(), 2, 30000);
    QVERIFY(m_form->AreaText("Worker").contains("] from a thread"));
    QVERIFY(m_form->AreaText("Worker").contains("]    and again"));
    QCOMPARE(watcher.records.size(), 2);
    for (QThread* t : watcher.threads)
        QCOMPARE(t, QThread::currentThread());

    // A window gone before the call arrives is simply not reached.
    std::unique_ptr<QThread> late(QThread::create([alice]() { Log("Worker", 1, "too late", alice); }));
    late->start();
    QVERIFY(late->wait(30000));
    m_form.reset();
    // The thread has ended, so its call is among the events handled here.
    QCoreApplication::processEvents();
    QCOMPARE(watcher.records.size(), 2);
}

QTEST_MAIN(TestLog)
#include "TestLog.moc"
