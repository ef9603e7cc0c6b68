#include "Data.h"
#include "DataSaver.h"
#include "SavedStore.h"
#include "Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/resource.h>

namespace {
// Appends what it is told to a log shared by several handlers, so the
// order across handlers can be checked.
class LoadWatcher : public DataLoadedEventHandler
{
public:
    LoadWatcher(const QString& name, QStringList* log) : m_name(name), m_log(log) {}
    void DataLoaded() override { m_log->append(m_name + ":loaded nick=" + GetSetting("nick")); }
    void NoData() override { m_log->append(m_name + ":nodata"); }

private:
    QString m_name;
    QStringList* m_log;
};

QString Describe(ItemPtr item)
{
    if (!item)
        return "-";
    return QString::fromStdString(item.GetType()->GetName()) + "=" + item.AsString();
}

class EventRecorder
{
public:
    void Added(ItemPtr item) { added << Describe(item); }
    void Connected(ConnectionInfo& c)
    {
        // The item's value must already be there when the connection is told.
        connected << Describe(c.item1) + " " + Describe(c.item2);
    }
    QStringList added;
    QStringList connected;
};

// Every item with its links, by sequence number: equal dumps mean an
// unchanged store.
QStringList Dump()
{
    QStringList out;
    for (Type* type : d.GetTypes()) {
        for (const ItemPtr& item : type->GetItems()) {
            QStringList links;
            for (const ConnectionGroup& group : item.GetItemPointer()->m_groups)
                group.ForEach([&](Item* other) { links << QString::number(other->m_sequence); });
            out << QString("%1 #%2 [%3] -> %4")
                       .arg(QString::fromStdString(type->GetName()))
                       .arg(item.Sequence())
                       .arg(item.AsString(), links.join(','));
        }
    }
    return out;
}

QStringList Values(const ItemSet& items)
{
    QStringList out;
    for (const ItemPtr& item : items)
        out << item.AsString();
    return out;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

QStringList Stamps(const QString& prefix)
{
    QStringList out;
    for (const auto& file : DataSaver::DataFiles(prefix))
        out << QString::number(file.first);
    return out;
}

// Lowers the largest file this process may write, so a save fails half
// way like on a full disk (root ignores permissions, not this limit).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool Ok() const { return m_ok; }

private:
    rlimit m_old;
    void (*m_oldHandler)(int);
    bool m_ok = false;
};
} // namespace

class TestDataSaver : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void roundTripKeepsEveryItemShape();
    void storeOrderSurvivesSaveAndLoad();
    void itemsFarApartInTheStore();
    void storedValuesReplaceDefaultsAtOneEnds();
    void loadRaisesStoreEvents();
    void loadWithoutObserversBuildsTheSameStore();
    void handlerJoiningMidLoadHearsWhatFollows();
    void undeclaredTypesInFileAreSkipped();
    void notificationsAfterLoad();
    void loadTakesNewestReadableFile();
    void damagedNewestFileIsSetAside_data();
    void damagedNewestFileIsSetAside();
    void everyFileFailingLeavesStoreAlone();
    void saveKeepsTwoOlderFilesAndDropsFutureOnes();
    void repeatedSavesKeepAtMostThreeFiles();
    void saveFailsWhenFolderCannotBeMade_data();
    void saveFailsWhenFolderCannotBeMade();
    void failedWriteLeavesNoDataFile();
    void clockSetBackThenSaveInterruptedBeforeCommitLosesNothing();
    void fileThatCannotBeOpenedIsLeftAsItIs();
    void changesWrittenOffTheLoopAreTriedAgainAfterAFailure();

private:
    // A clean store with the test's types; registrations stay with m_saver.
    void Fresh();
    QString Prefix() const { return m_dir->path() + "/.Quorvane"; }
    QString StampedPath(qint64 stamp) const { return Prefix() + "." + QString::number(stamp); }
    QByteArray BytesWithNick(const QString& nick, const char* onlyHere);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataSaver> m_saver;
};

void TestDataSaver::Fresh()
{
    d.Reset();
    DeclareSettingTypes();
    Type* contact = d.NewType("contact", 0, false, true);
    Type* note = d.NewType("contact_note", 2, false, true);
    contact->RelateToType(note, many, one, false);
    Type* entry = d.NewType("download_entry", 0, true, false);
    Type* name = d.NewType("file_name", 2, false, true);
    entry->RelateToType(name, many, one, false);
    // A marker: an entry holds at most one, every entry shares the one item.
    Type* paused = d.NewType("paused", 2, true, false);
    entry->RelateToType(paused, many, one, false);
    Type* source = d.NewType("download_source", 1, true, false);
    entry->RelateToType(source, one, many, true);
    Type* address = d.NewType("source_address", 2, false, true);
    source->RelateToType(address, many, one, false);
    Type* tag = d.NewType("tag", 2, false, true);
    contact->RelateToType(tag, many, many, false);
    entry->RelateToType(tag, many, many, false);
    Type* search = d.NewType("search", 0, false, true);
    search->RelateToType(tag, many, many, false);
}

void TestDataSaver::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_saver.reset(new DataSaver);
    QCOMPARE(dataSaver, m_saver.get());
    m_saver->AddSavedType("global");
    m_saver->AddSavedByConnectionType("global_value", "global");
    m_saver->AddSavedType("contact");
    m_saver->AddSavedByConnectionType("contact_note", "contact");
    m_saver->AddSavedType("download_entry");
    m_saver->AddSavedByConnectionType("file_name", "download_entry");
    m_saver->AddSavedByConnectionType("paused", "download_entry");
    m_saver->AddSavedByConnectionType("download_source", "download_entry");
    m_saver->AddSavedByConnectionType("source_address", "download_source");
    m_saver->AddSavedByConnectionType("tag", "contact");
    m_saver->AddSavedByConnectionType("tag", "download_entry");
    Fresh();
}

void TestDataSaver::cleanup()
{
    m_saver.reset();
    QVERIFY(!dataSaver);
    d.Reset();
    m_dir.reset();
}

QByteArray TestDataSaver::BytesWithNick(const QString& nick, const char* onlyHere)
{
    Fresh();
    SetSetting("nick", nick);
    d.GetType("contact")->NewItem(onlyHere);
    const QByteArray bytes = m_saver->Serialize();
    Fresh();
    return bytes;
}

void TestDataSaver::roundTripKeepsEveryItemShape()
{
    SetSetting("nick", "alice");
    SetRuntimeSetting("session", "not saved");
    Type* tag = d.GetType("tag");
    ItemPtr bob = d.GetType("contact")->NewItem("bob");
    bob += d.GetType("contact_note")->NewItem("met at work");
    bob += tag->NewItem("music");
    d.GetType("contact")->NewItem("carol");

    Type* entries = d.GetType("download_entry");
    ItemPtr first = entries->NewItem();
    first += d.GetType("file_name")->NewItem("a.mp3");
    QVERIFY(d.GetType("paused")->IsGlobalNullItem(first.NewItem("paused").GetItemPointer()));
    ItemPtr sourceA = first.NewItem("download_source");
    sourceA += d.GetType("source_address")->NewItem("peer-a");
    ItemPtr sourceB = first.NewItem("download_source");
    sourceB += d.GetType("source_address")->NewItem("peer-b");
    ItemPtr second = entries->NewItem();
    second += d.GetType("file_name")->NewItem("b.mp3");
    second += tag->NewItem("music");
    second += tag->NewItem("video");
    ItemPtr third = entries->NewItem();
    third.NewItem("paused");

    // Items no saved item holds, and items of unsaved types.
    d.GetType("file_name")->NewItem("stray.mp3");
    d.GetType("global_value")->NewItem("unused");
    ItemPtr search = d.GetType("search")->NewItem("query");
    search += tag->NewItem("orphan");
    search += tag->GetItem("music");

    m_saver->Save(Prefix());
    QCOMPARE(Stamps(Prefix()).size(), 1);

    Fresh();
    // A shared item that exists before the load is the one markers join.
    ItemPtr pausedBefore = d.GetType("paused")->GetGlobalNullItem();
    m_saver->Load(Prefix());

    QCOMPARE(GetSetting("nick"), QString("alice"));
    QCOMPARE(GetRuntimeSetting("session"), QString());
    QCOMPARE(Values(g("contact")), QStringList({"bob", "carol"}));
    bob = d.GetType("contact")->HasItem("bob");
    QCOMPARE(bob["contact_note"].AsString(), QString("met at work"));
    QCOMPARE(Values(bob.GetItems("tag")), QStringList({"music"}));
    QVERIFY(!d.GetType("contact")->HasItem("carol")["contact_note"]);

    const ItemList loaded = g("download_entry").List();
    QCOMPARE(int(loaded.size()), 3);
    first = loaded[0];
    second = loaded[1];
    third = loaded[2];
    QCOMPARE(first["file_name"].AsString(), QString("a.mp3"));
    QCOMPARE(second["file_name"].AsString(), QString("b.mp3"));
    QVERIFY(!third["file_name"]);

    Type* paused = d.GetType("paused");
    QCOMPARE(paused->Count(), size_t(1));
    QCOMPARE(first["paused"], pausedBefore);
    QCOMPARE(third["paused"], pausedBefore);
    QVERIFY(paused->IsGlobalNullItem(pausedBefore.GetItemPointer()));
    QVERIFY(!second["paused"]);

    const ItemSet sources = first.GetItems("download_source");
    QCOMPARE(int(sources.size()), 2);
    QCOMPARE(sources.List()[0]["source_address"].AsString(), QString("peer-a"));
    QCOMPARE(sources.List()[1]["source_address"].AsString(), QString("peer-b"));
    QCOMPARE(sources.List()[0]["download_entry"], first);
    QVERIFY(!second.IsConnected("download_source"));
    // Still owned: a sweep keeps them, as it keeps every entry.
    d.RemoveDisconnectedItems();
    QCOMPARE(int(first.GetItems("download_source").size()), 2);

    tag = d.GetType("tag");
    QCOMPARE(Values(second.GetItems("tag")), QStringList({"music", "video"}));
    QCOMPARE(Values(tag->GetItems()), QStringList({"music", "video"}));
    ItemPtr music = tag->HasItem("music");
    QCOMPARE(int(music.GetItems("contact").size()), 1);
    QCOMPARE(int(music.GetItems("download_entry").size()), 1);

    QCOMPARE(d.GetType("search")->Count(), size_t(0));
    QVERIFY(!d.GetType("file_name")->HasItem("stray.mp3"));
    QVERIFY(!d.GetType("global_value")->HasItem("unused"));
    QVERIFY(!d.GetType("global_value")->HasItem("not saved"));
    QCOMPARE(d.GetType("vglobal")->Count(), size_t(0));
}

void TestDataSaver::storeOrderSurvivesSaveAndLoad()
{
    // Creation order that neither sorting nor hashing would give back.
    QStringList expected;
    Type* contact = d.GetType("contact");
    Type* entries = d.GetType("download_entry");
    for (int i = 0; i < 60; ++i) {
        const QString name = QString("c%1").arg((i * 37) % 61);
        contact->NewItem(name);
        expected << "contact=" + name;
        if (i % 7 == 0) {
            const QString file = QString("f%1").arg(100 - i);
            ItemPtr entry = entries->NewItem();
            entry += d.GetType("file_name")->NewItem(file);
            expected << "download_entry="
                     << "file_name=" + file;
        }
    }
    m_saver->Save(Prefix());
    Fresh();
    m_saver->Load(Prefix());

    ItemList all;
    for (const char* type : {"contact", "download_entry", "file_name"})
        for (const ItemPtr& item : g(type))
            all.push_back(item);
    std::sort(all.begin(), all.end());
    QStringList got;
    for (const ItemPtr& item : all)
        got << Describe(item);
    QCOMPARE(got, expected);
}

void TestDataSaver::itemsFarApartInTheStore()
{
    // Saved items separated by many unsaved ones, as in a store that has
    // lived long: the file must still number and connect them right.
    Type* contact = d.GetType("contact");
    Type* search = d.GetType("search");
    ItemPtr first = contact->NewItem("first");
    first += d.GetType("tag")->NewItem("t1");
    for (int i = 0; i < 9000; ++i)
        search->NewItem(QString::number(i));
    ItemPtr last = contact->NewItem("last");
    last += d.GetType("tag")->GetItem("t1");
    last += d.GetType("contact_note")->NewItem("n");
    m_saver->Save(Prefix());
    Fresh();
    m_saver->Load(Prefix());

    QCOMPARE(Values(g("contact")), QStringList({"first", "last"}));
    QCOMPARE(Values(g("tag")), QStringList({"t1"}));
    QCOMPARE(Values(d.GetType("tag")->First().GetItems("contact")), QStringList({"first", "last"}));
    QCOMPARE(d.GetType("contact")->HasItem("last")["contact_note"].AsString(), QString("n"));
    QCOMPARE(d.GetType("search")->Count(), size_t(0));
}

void TestDataSaver::storedValuesReplaceDefaultsAtOneEnds()
{
    SetSetting("nick", "stored");
    SetSetting("port", "2235");
    d.GetType("contact")->NewItem("bob") += d.GetType("contact_note")->NewItem("stored note");
    m_saver->Save(Prefix());

    Fresh();
    SetSetting("nick", "default");
    SetSetting("port", "2235");
    SetSetting("only_default", "kept");
    const ItemPtr nickKey = GetSettingItem("nick");
    ItemPtr bob = d.GetType("contact")->NewItem("bob");
    bob += d.GetType("contact_note")->NewItem("default note");
    m_saver->Load(Prefix());

    QCOMPARE(GetSetting("nick"), QString("stored"));
    QCOMPARE(GetSetting("port"), QString("2235"));
    QCOMPARE(GetSetting("only_default"), QString("kept"));
    // Items made before the load are reused, not doubled.
    QCOMPARE(GetSettingItem("nick"), nickKey);
    QCOMPARE(d.GetType("global")->Count(), size_t(3));
    QCOMPARE(nickKey.CountItems("global_value"), 1);
    QCOMPARE(d.GetType("contact")->Count(), size_t(1));
    QCOMPARE(bob.CountItems("contact_note"), 1);
    QCOMPARE(bob["contact_note"].AsString(), QString("stored note"));
}

void TestDataSaver::loadRaisesStoreEvents()
{
    d.GetType("contact")->NewItem("bob");
    d.GetType("contact")->NewItem("amy");
    ItemPtr entry = d.GetType("download_entry")->NewItem();
    entry += d.GetType("file_name")->NewItem("a.mp3");
    m_saver->Save(Prefix());
    Fresh();

    EventRecorder recorder;
    d.GetType("contact")->AddItemAddedHandler(
        new EventHandler<EventRecorder, ItemPtr>(&recorder, &EventRecorder::Added));
    d.GetType("download_entry")
        ->AddConnectedHandler(new EventHandler<EventRecorder, ConnectionInfo&>(&recorder, &EventRecorder::Connected));
    m_saver->Load(Prefix());

    QCOMPARE(recorder.added, QStringList({"contact=bob", "contact=amy"}));
    QCOMPARE(recorder.connected, QStringList({"download_entry= file_name=a.mp3"}));
}

void TestDataSaver::loadWithoutObserversBuildsTheSameStore()
{
    // What nobody observes is built without events; the store must be the
    // one a load with every type observed builds.
    for (int i = 0; i < 200; ++i) {
        ItemPtr contact = d.GetType("contact")->NewItem(Value("c" + std::to_string(i)));
        contact += d.GetType("contact_note")->GetItem(Value("note " + std::to_string(i % 7)));
        contact += d.GetType("tag")->GetItem(Value("t" + std::to_string(i % 90)));
        ItemPtr entry = d.GetType("download_entry")->NewItem();
        entry += d.GetType("file_name")->GetItem(Value("f" + std::to_string(i)));
        entry += d.GetType("tag")->GetItem(Value("t" + std::to_string(i % 3)));
        if (i % 4 == 0)
            entry.NewItem("paused");
        entry.NewItem("download_source") += d.GetType("source_address")->GetItem("1.2.3.4");
    }
    const QStringList saved = SavedStore::Dump();
    m_saver->Save(Prefix());

    Fresh();
    m_saver->Load(Prefix());
    const QStringList quiet = SavedStore::Dump();

    Fresh();
    EventRecorder recorder;
    for (Type* type : d.GetTypes()) {
        type->AddItemAddedHandler(new EventHandler<EventRecorder, ItemPtr>(&recorder, &EventRecorder::Added));
        type->AddConnectedHandler(
            new EventHandler<EventRecorder, ConnectionInfo&>(&recorder, &EventRecorder::Connected));
    }
    m_saver->Load(Prefix());
    QCOMPARE(SavedStore::Dump(), quiet);
    QCOMPARE(quiet, saved);
    QVERIFY(recorder.added.size() > 600);
}

void TestDataSaver::handlerJoiningMidLoadHearsWhatFollows()
{
    d.GetType("contact")->NewItem("amy");
    ItemPtr entry = d.GetType("download_entry")->NewItem();
    entry += d.GetType("file_name")->NewItem("a.mp3");
    m_saver->Save(Prefix());
    Fresh();

    // Told of the contact, which comes first in the file, it starts to
    // listen to the entries' connections, which come after.
    EventRecorder recorder;
    struct Joiner
    {
        EventRecorder* recorder;
        bool joined = false;
        void Added(ItemPtr)
        {
            if (joined)
                return;
            joined = true;
            d.GetType("download_entry")
                ->AddConnectedHandler(
                    new EventHandler<EventRecorder, ConnectionInfo&>(recorder, &EventRecorder::Connected));
        }
    } joiner{&recorder};
    d.GetType("contact")->AddItemAddedHandler(new EventHandler<Joiner, ItemPtr>(&joiner, &Joiner::Added));
    m_saver->Load(Prefix());
    QVERIFY(joiner.joined);
    QCOMPARE(recorder.connected, QStringList({"download_entry= file_name=a.mp3"}));
}

void TestDataSaver::undeclaredTypesInFileAreSkipped()
{
    SetSetting("nick", "alice");
    ItemPtr bob = d.GetType("contact")->NewItem("bob");
    bob += d.GetType("tag")->NewItem("music");
    ItemPtr entry = d.GetType("download_entry")->NewItem();
    entry += d.GetType("tag")->GetItem("music");
    entry += d.GetType("file_name")->NewItem("a.mp3");
    m_saver->Save(Prefix());

    // No "contact" at all, and "file_name" declared valueless this time.
    d.Reset();
    DeclareSettingTypes();
    Type* entries = d.NewType("download_entry", 0, true, false);
    Type* tag = d.NewType("tag", 2, false, true);
    entries->RelateToType(tag, many, many, false);
    entries->RelateToType(d.NewType("file_name", 2, true, false), many, one, false);
    m_saver->Load(Prefix());

    QVERIFY(!d.HasType("contact"));
    QCOMPARE(GetSetting("nick"), QString("alice"));
    QCOMPARE(entries->Count(), size_t(1));
    QCOMPARE(Values(entries->First().GetItems("tag")), QStringList({"music"}));
    QCOMPARE(d.GetType("file_name")->Count(), size_t(0));
    QVERIFY(!entries->First().IsConnected("file_name"));
}

void TestDataSaver::notificationsAfterLoad()
{
    QStringList log;
    LoadWatcher first("A", &log);
    LoadWatcher second("B", &log);
    LoadWatcher gone("C", &log);
    m_saver->AddDataLoadedEventHandler(&first);
    m_saver->AddDataLoadedEventHandler(&second);
    m_saver->AddDataLoadedEventHandler(&first); // entering twice is once
    m_saver->AddDataLoadedEventHandler(&gone);
    m_saver->RemoveDataLoadedEventHandler(&gone);
    {
        LoadWatcher destroyed("D", &log);
        m_saver->AddDataLoadedEventHandler(&destroyed);
    }

    // No file yet: a first run.
    SetSetting("nick", "default");
    m_saver->Load(Prefix());
    QCOMPARE(log, QStringList({"A:loaded nick=default", "B:loaded nick=default", "A:nodata", "B:nodata"}));

    log.clear();
    SetSetting("nick", "stored");
    m_saver->Save(Prefix());
    Fresh();
    SetSetting("nick", "default");
    m_saver->Load(Prefix());
    // Handlers see the stored data, and no NoData follows a real load.
    QCOMPARE(log, QStringList({"A:loaded nick=stored", "B:loaded nick=stored"}));

    log.clear();
    m_saver->NotifyNoData();
    QCOMPARE(log, QStringList({"A:loaded nick=stored", "B:loaded nick=stored", "A:nodata", "B:nodata"}));
}

void TestDataSaver::loadTakesNewestReadableFile()
{
    // 1000 is newer than 999 although it sorts first as text.
    WriteFile(StampedPath(999), BytesWithNick("lexically last", "x999"));
    WriteFile(StampedPath(1000), BytesWithNick("newest", "x1000"));
    WriteFile(StampedPath(20), BytesWithNick("oldest", "x20"));
    // Near misses of the name shape are no data files.
    WriteFile(Prefix() + ".5000.tmp", BytesWithNick("tmp", "tmp"));
    WriteFile(Prefix() + "x.5000", BytesWithNick("other prefix", "other"));
    WriteFile(StampedPath(6000) + ".unreadable", BytesWithNick("set aside", "aside"));
    QCOMPARE(Stamps(Prefix()), QStringList({"1000", "999", "20"}));

    m_saver->Load(Prefix());
    QCOMPARE(GetSetting("nick"), QString("newest"));
    QCOMPARE(Values(g("contact")), QStringList({"x1000"}));
    QCOMPARE(Stamps(Prefix()), QStringList({"1000", "999", "20"}));
}

void TestDataSaver::damagedNewestFileIsSetAside_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("cut in half") << "half";
    QTest::newRow("last byte missing") << "last";
    QTest::newRow("bit flipped in an item") << "flip";
    QTest::newRow("bit flipped in the checksum") << "crc";
    QTest::newRow("empty") << "empty";
    QTest::newRow("one extra byte") << "extra";
}

void TestDataSaver::damagedNewestFileIsSetAside()
{
    QFETCH(QString, damage);
    const QByteArray good = BytesWithNick("older", "in older");
    QByteArray bad = BytesWithNick("newer", "only in newer");
    const int at = bad.indexOf("only in newer");
    QVERIFY(at > 0);
    if (damage == "half")
        bad.truncate(bad.size() / 2);
    else if (damage == "last")
        bad.chop(1);
    else if (damage == "flip")
        bad[at + 3] = char(bad[at + 3] ^ 0x04);
    else if (damage == "crc")
        bad[bad.size() - 2] = char(bad[bad.size() - 2] ^ 0x80);
    else if (damage == "empty")
        bad.clear();
    else
        bad.append('\0');
    WriteFile(StampedPath(100), good);
    WriteFile(StampedPath(200), bad);

    QStringList log;
    LoadWatcher watcher("A", &log);
    m_saver->AddDataLoadedEventHandler(&watcher);
    SetSetting("nick", "default");
    m_saver->Load(Prefix());

    QCOMPARE(GetSetting("nick"), QString("older"));
    QCOMPARE(Values(g("contact")), QStringList({"in older"}));
    QCOMPARE(log, QStringList({"A:loaded nick=older"}));
    QVERIFY(!QFile::exists(StampedPath(200)));
    QCOMPARE(ReadFile(StampedPath(200) + ".unreadable"), bad);
    QCOMPARE(Stamps(Prefix()), QStringList({"100"}));
    // What the user is told: the file set aside, and when the one loaded
    // was saved.
    const std::vector<std::pair<QString, QString>> setAside = {{StampedPath(200), StampedPath(200) + ".unreadable"}};
    QCOMPARE(m_saver->SetAsideFiles(), setAside);
    QCOMPARE(m_saver->LoadedSaveTime(), qint64(100));

    // Set aside for good: the next load does not try it again.
    Fresh();
    m_saver->Load(Prefix());
    QCOMPARE(GetSetting("nick"), QString("older"));
    QVERIFY(m_saver->SetAsideFiles().empty());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestDataSaver::everyFileFailingLeavesStoreAlone()
{
    QByteArray first = BytesWithNick("first", "from first");
    QByteArray second = BytesWithNick("second", "from second");
    first.chop(3);
    second[second.size() / 2] = char(second[second.size() / 2] ^ 0x01);
    WriteFile(StampedPath(100), first);
    WriteFile(StampedPath(200), second);
    // Someone else's file of the same name, set aside before.
    WriteFile(StampedPath(200) + ".unreadable", "earlier");

    QStringList log;
    LoadWatcher watcher("A", &log);
    m_saver->AddDataLoadedEventHandler(&watcher);
    SetSetting("nick", "default");
    d.GetType("contact")->NewItem("made before") += d.GetType("contact_note")->NewItem("note");
    const QStringList before = Dump();

    QVERIFY_EXCEPTION_THROWN(m_saver->Load(Prefix()), DataLoadFailure);
    QCOMPARE(Dump(), before);
    QCOMPARE(GetSetting("nick"), QString("default"));
    QVERIFY(log.isEmpty());
    QVERIFY(Stamps(Prefix()).isEmpty());
    QCOMPARE(ReadFile(StampedPath(100) + ".unreadable"), first);
    QCOMPARE(ReadFile(StampedPath(200) + ".unreadable"), QByteArray("earlier"));
    const QStringList aside = QDir(m_dir->path()).entryList({".Quorvane.200.unreadable*"}, QDir::Files | QDir::Hidden);
    QCOMPARE(aside.size(), 2);
    QVERIFY(aside.contains(".Quorvane.200.unreadable.2"));
    QCOMPARE(ReadFile(m_dir->path() + "/.Quorvane.200.unreadable.2"), second);
    QCOMPARE(int(m_saver->SetAsideFiles().size()), 2);
    QCOMPARE(m_saver->LoadedSaveTime(), qint64(0));

    m_saver->NotifyNoData();
    QCOMPARE(log, QStringList({"A:loaded nick=default", "A:nodata"}));
}

void TestDataSaver::saveKeepsTwoOlderFilesAndDropsFutureOnes()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (qint64 age : {4000, 3000, 2000, 1000})
        WriteFile(StampedPath(now - age), "old " + QByteArray::number(age));
    WriteFile(StampedPath(now + 24 * 3600 * 1000), "from the future");
    const QStringList untouched = {StampedPath(now - 500) + ".unreadable", Prefix() + ".bak",
                                   StampedPath(now - 100) + ".tmp", Prefix() + "x." + QString::number(now - 100),
                                   m_dir->path() + "/other." + QString::number(now - 100)};
    for (const QString& path : untouched)
        WriteFile(path, path.toUtf8());

    SetSetting("nick", "saved");
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    m_saver->Save(Prefix());

    const auto files = DataSaver::DataFiles(Prefix());
    QCOMPARE(int(files.size()), 3);
    QVERIFY(files[0].first >= before);
    QVERIFY(files[0].first < now + 24 * 3600 * 1000);
    QCOMPARE(files[1].first, now - 1000);
    QCOMPARE(files[2].first, now - 2000);
    QCOMPARE(ReadFile(files[1].second), QByteArray("old 1000"));
    QCOMPARE(ReadFile(files[2].second), QByteArray("old 2000"));
    // The new file is whole: exactly the bytes of the store.
    QCOMPARE(ReadFile(files[0].second), m_saver->Serialize());
    for (const QString& path : untouched)
        QCOMPARE(ReadFile(path), path.toUtf8());
    // Nothing else was left behind (no temporary file).
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 3 + untouched.size());
}

void TestDataSaver::repeatedSavesKeepAtMostThreeFiles()
{
    for (int i = 1; i <= 6; ++i) {
        SetSetting("nick", QString::number(i));
        m_saver->Save(Prefix());
        const auto files = DataSaver::DataFiles(Prefix());
        QVERIFY(!files.empty());
        QVERIFY(files.size() <= 3);
        QCOMPARE(ReadFile(files[0].second), m_saver->Serialize());
    }
    Fresh();
    m_saver->Load(Prefix());
    QCOMPARE(GetSetting("nick"), QString("6"));
}

void TestDataSaver::saveFailsWhenFolderCannotBeMade_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("folder is a file") << "blocker/.Quorvane";
    QTest::newRow("file on the way") << "blocker/sub/.Quorvane";
}

void TestDataSaver::saveFailsWhenFolderCannotBeMade()
{
    QFETCH(QString, relative);
    WriteFile(m_dir->path() + "/blocker", "a plain file");
    SetSetting("nick", "unsaved");
    d.GetType("contact")->NewItem("bob");
    const QStringList before = Dump();
    const QString prefix = m_dir->path() + "/" + relative;

    try {
        m_saver->Save(prefix);
        QFAIL("the save did not fail");
    } catch (const DataSaveFailure& failure) {
        QVERIFY2(failure.reason.contains(m_dir->path() + "/blocker"), qPrintable(failure.reason));
    }
    QCOMPARE(Dump(), before);
    QCOMPARE(ReadFile(m_dir->path() + "/blocker"), QByteArray("a plain file"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({"blocker"}));
}

void TestDataSaver::failedWriteLeavesNoDataFile()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (qint64 age : {3000, 2000, 1000})
        WriteFile(StampedPath(now - age), "old " + QByteArray::number(age));
    Type* contact = d.GetType("contact");
    for (int i = 0; i < 3000; ++i)
        contact->NewItem(QString("contact %1 ").arg(i) + QString(100, 'x'));
    const QByteArray bytes = m_saver->Serialize();
    QVERIFY(bytes.size() > 256 * 1024);
    const QStringList before = Dump();

    QString reason;
    {
        FileSizeLimit limit(64 * 1024);
        QVERIFY(limit.Ok());
        try {
            m_saver->Save(Prefix());
        } catch (const DataSaveFailure& failure) {
            reason = failure.reason;
        }
    }
    // The system's own words, for the user to act on.
    QCOMPARE(reason, QString::fromLocal8Bit(strerror(EFBIG)));
    QCOMPARE(Dump(), before);
    // The old files are all still there, and nothing else is.
    QCOMPARE(Stamps(Prefix()),
             QStringList({QString::number(now - 1000), QString::number(now - 2000), QString::number(now - 3000)}));
    QCOMPARE(ReadFile(StampedPath(now - 1000)), QByteArray("old 1000"));
    QCOMPARE(
        QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(), 3);

    // Without the limit the same store saves.
    m_saver->Save(Prefix());
    QCOMPARE(ReadFile(DataSaver::DataFiles(Prefix())[0].second), bytes);
}

void TestDataSaver::clockSetBackThenSaveInterruptedBeforeCommitLosesNothing()
{
    // The clock is a day behind the files: every file is dated in the future.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 ahead = now + 24 * 3600 * 1000;
    const QByteArray newest = BytesWithNick("newest", "from the future");
    WriteFile(StampedPath(ahead), newest);
    WriteFile(StampedPath(ahead - 1000), BytesWithNick("older", "older"));
    m_saver->Load(Prefix());
    QCOMPARE(GetSetting("nick"), QString("newest"));
    SetSetting("nick", "changed");
    const QStringList stamps = Stamps(Prefix());

    // A crash between the write and the commit: whatever lies on disk at
    // that moment is all the next start has.
    QStringList atCommit;
    m_saver->SetBeforeCommitHook([&] {
        atCommit = Stamps(Prefix());
        throw DataSaveFailure();
    });
    QVERIFY_EXCEPTION_THROWN(m_saver->Save(Prefix()), DataSaveFailure);
    QCOMPARE(atCommit, stamps);
    QCOMPARE(Stamps(Prefix()), stamps);
    QCOMPARE(ReadFile(StampedPath(ahead)), newest);
    // The interrupted file never took a data-file name and is gone.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);

    // The next save completes; only then are the files dated after it
    // removed, so the next load takes the new one.
    m_saver->SetBeforeCommitHook([&] { atCommit = Stamps(Prefix()); });
    m_saver->Save(Prefix());
    QCOMPARE(atCommit, stamps);
    const auto files = DataSaver::DataFiles(Prefix());
    QCOMPARE(int(files.size()), 1);
    QVERIFY(files[0].first >= now && files[0].first < ahead - 1000);
    Fresh();
    m_saver->Load(Prefix());
    QCOMPARE(GetSetting("nick"), QString("changed"));
}

void TestDataSaver::fileThatCannotBeOpenedIsLeftAsItIs()
{
    // A link to a disk that is not mounted: the file is there but cannot be
    // opened (root ignores permissions, so a mode would not do).
    const QString away = m_dir->path() + "/unmounted/.Quorvane.300";
    const QString unopened = StampedPath(300);
    QVERIFY(QFile::link(away, unopened));
    WriteFile(StampedPath(200), BytesWithNick("older", "older"));
    WriteFile(StampedPath(100), BytesWithNick("oldest", "oldest"));

    m_saver->Load(Prefix());
    QCOMPARE(GetSetting("nick"), QString("older"));
    QCOMPARE(m_saver->UnopenedFiles(), QStringList({unopened}));
    QCOMPARE(QFileInfo(unopened).symLinkTarget(), away);
    QVERIFY(!QFile::exists(unopened + ".unreadable"));

    // However often the run saves, the file stays; another that cannot be
    // opened by the time of a save is not removed either.
    QVERIFY(QFile::link(m_dir->path() + "/unmounted/.Quorvane.50", StampedPath(50)));
    for (int i = 0; i < 4; ++i)
        m_saver->Save(Prefix());
    QCOMPARE(QFileInfo(unopened).symLinkTarget(), away);
    QVERIFY(QFileInfo(StampedPath(50)).isSymLink());
    const QStringList stamps = Stamps(Prefix());
    QCOMPARE(stamps.size(), 5);
    QVERIFY(!stamps.contains("100") && !stamps.contains("200"));

    // When nothing can be opened the load fails, naming every file, and
    // still sets none aside.
    for (const QString& stamp : stamps)
        if (stamp != "300" && stamp != "50")
            QVERIFY(QFile::remove(StampedPath(stamp.toLongLong())));
    QVERIFY_EXCEPTION_THROWN(m_saver->Load(Prefix()), DataLoadFailure);
    QCOMPARE(m_saver->UnopenedFiles(), QStringList({unopened, StampedPath(50)}));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);
}

void TestDataSaver::changesWrittenOffTheLoopAreTriedAgainAfterAFailure()
{
    m_saver->Load(Prefix());
    QVERIFY(!m_saver->SaveChanges(Prefix()));
    // A tag is saved only with what holds it; a search is not saved.
    d.GetType("search")->NewItem("old songs") += d.GetType("tag")->GetItem("old");
    QVERIFY(!m_saver->SaveChanges(Prefix()));

    // A folder that cannot be made: the write fails on the worker.
    WriteFile(m_dir->path() + "/blocker", "a plain file");
    int failures = 0;
    m_saver->SetSaveFailedHandler([&] { ++failures; });
    d.GetType("download_entry")->NewItem() += d.GetType("tag")->GetItem("old");
    QVERIFY(m_saver->SaveChanges(m_dir->path() + "/blocker/.Quorvane"));
    QTRY_VERIFY(!m_saver->IsWriting());
    QCOMPARE(failures, 1);
    QVERIFY(m_saver->HasUnsavedChanges());

    // The next tick writes what the failed one held.
    QVERIFY(m_saver->SaveChanges(Prefix()));
    m_saver->WaitForSave();
    QCOMPARE(failures, 1);
    QVERIFY(!m_saver->SaveChanges(Prefix()));
    Fresh();
    m_saver->Load(Prefix());
    QCOMPARE(Values(d.GetType("download_entry")->First().GetItems("tag")), QStringList({"old"}));
    QCOMPARE(d.GetType("search")->Count(), size_t(0));
}

QTEST_GUILESS_MAIN(TestDataSaver)
#include "TestDataSaver.moc"
