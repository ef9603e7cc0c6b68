#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>
#include <atomic>
#include <cstdlib>
#include <new>

#include "AtomicDateTime.h"
#include "Data.h"
#include "DataSaver.h"
#include "DownloadThread.h"
#include "LoopbackTransfer.h"
#include "Settings.h"
#include "TransferQueueManager.h"
#include "TransfersFixture.h"
#include "UploadThread.h"

// ThreadSanitizer's runtime defines the global allocation functions itself,
// so they cannot be replaced there; the case that needs them is skipped.
#if defined(__SANITIZE_THREAD__)
#define QV_REPLACES_NEW 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QV_REPLACES_NEW 0
#endif
#endif
#ifndef QV_REPLACES_NEW
#define QV_REPLACES_NEW 1
#endif

// Frees of watched addresses are counted and the memory is kept back, so
// that the address cannot be handed out again and a second free of it shows
// as a second count.
namespace {
const int WatchSlots = 8;
std::atomic<void*> g_watched[WatchSlots];
std::atomic<int> g_frees[WatchSlots];

int Watch(void* p)
{
    for (int i = 0; i < WatchSlots; ++i) {
        void* expected = nullptr;
        if (g_watched[i].compare_exchange_strong(expected, p)) {
            g_frees[i] = 0;
            return i;
        }
    }
    return -1;
}

// Stops watching and releases what was kept back.
void ClearWatches()
{
    for (int i = 0; i < WatchSlots; ++i) {
        void* p = g_watched[i].exchange(nullptr);
        if (p && g_frees[i] > 0)
            std::free(p);
    }
}
} // namespace

#if QV_REPLACES_NEW
void* operator new(std::size_t size)
{
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    if (!p)
        return;
    for (int i = 0; i < WatchSlots; ++i) {
        if (g_watched[i].load() == p) {
            ++g_frees[i];
            return;
        }
    }
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}
#endif

namespace {
ItemPtr NewEntry(const char* user, const char* folder, const char* name, const char* status)
{
    ItemPtr entry = d.GetType("download_entry")->NewItem();
    entry += d.GetType("user")->GetItem(user);
    entry += d.GetType("remote_folder")->GetItem(folder);
    entry += d.GetType("file_name")->GetItem(name);
    if (status)
        entry += d.GetType("download_entry_status")->GetItem(status);
    return entry;
}

struct Recorder : DataHandler
{
    std::function<void(ItemPtr)> added;
    void Added(ItemPtr item) { added(item); }
};

QString Status(ItemPtr entry)
{
    return entry["download_entry_status"].AsString();
}
} // namespace

class TestTransferQueueManager : public QObject
{
    Q_OBJECT

    TransfersFixture f;

    // Data files outlive the fixture's restarts; each test has its own.
    QTemporaryDir m_data;
    QString Prefix() const { return m_data.filePath(QString(QTest::currentTestFunction()) + "/.Quorvane"); }

private slots:
    void init() { f.Start(); }
    void cleanup()
    {
        f.Stop();
        ClearWatches();
    }

    void statusesAndRunningCounts()
    {
        QCOMPARE(transferQueueManager, f.engine);
        ItemPtr a = NewEntry("ann", "music", "a.mp3", "queued");
        ItemPtr b = NewEntry("ann", "music", "b.mp3", "downloading");
        NewEntry("bob", "", "c", "complete");
        QCOMPARE(f.engine->ActiveDownloadCount(), 1);
        // A new status replaces the old one; both entries share the user.
        a += d.GetType("download_entry_status")->GetItem("downloading");
        QCOMPARE(a.GetItems("download_entry_status").size(), size_t(1));
        QCOMPARE(f.engine->ActiveDownloadCount(), 2);
        QCOMPARE(a["user"], b["user"]);

        const QStringList running = {"requesting", "connecting", "waiting for offset", "uploading"};
        const QStringList stopped = {"queued", "complete", "aborted", "denied", "local error"};
        for (const QString& status : running + stopped) {
            ItemPtr upload = d.GetType("upload_entry")->NewItem();
            upload += d.GetType("upload_entry_status")->GetItem(status);
            QCOMPARE(upload["upload_entry_status"].IsConnected("is_active"), running.contains(status));
        }
        QCOMPARE(f.engine->ActiveUploadCount(), running.size());
        for (const char* status : {"queued", "complete", "aborted", "denied", "local error"})
            QVERIFY(!d.GetType("download_entry_status")->GetItem(status).IsConnected("is_active"));

        // A token belongs to one transfer at a time.
        ItemPtr token = d.GetType("transfer_req")->GetItem("17");
        a += token;
        b += token;
        QVERIFY(!a["transfer_req"]);
        QCOMPARE(b["transfer_req"], token);
    }

    void settingDefaults()
    {
        QCOMPARE(GetSetting("download_folder"), QDir::homePath() + "/Quorvane Downloads");
        QCOMPARE(GetSetting("upload_speed_limit_enabled"), QString("no"));
        QCOMPARE(GetSetting("max_queued_uploads_per_user"), QString("200"));

        // Values present before the engine: some are kept, some always
        // overwritten.
        f.Start([] {
            SetSetting("download_folder", "/elsewhere");
            SetSetting("transfer_order_counter", "42");
            SetSetting("transfer_req_counter", "9");
            SetSetting("upload_speed_limit", "7");
            SetSetting("upload_speed_limit_enabled", "yes");
            SetSetting("download_speed_limit", "");
            SetSetting("upload_slots", "3");
        });
        QCOMPARE(GetSetting("download_folder"), QString("/elsewhere"));
        QCOMPARE(GetSetting("transfer_order_counter"), QString("42"));
        QCOMPARE(GetSetting("transfer_req_counter"), QString("1"));
        QCOMPARE(GetSetting("upload_speed_limit"), QString("7"));
        QCOMPARE(GetSetting("upload_speed_limit_enabled"), QString("yes"));
        // An empty text is a value too.
        QCOMPARE(GetSetting("download_speed_limit"), QString(""));
        QCOMPARE(GetSetting("download_speed_limit_enabled"), QString(""));
        QCOMPARE(GetSetting("upload_slots"), QString("1"));
    }

    void dataFileRoundTrip()
    {
        ItemPtr downloading = NewEntry("ann", "music\\albums", "a.mp3", "downloading");
        downloading += d.GetType("file_size")->GetItem("123456789012");
        downloading += d.GetType("download_order")->GetItem("3");
        downloading += d.GetType("subfolder_save_level")->GetItem("1");
        downloading += d.GetType("download_folder")->GetItem("/somewhere");
        downloading.NewItem("single_download");
        downloading += d.GetType("write_position")->GetItem(Value(new TransferCounter64(5)));
        downloading += d.GetType("transfer_req")->GetItem("8");
        NewEntry("ann", "music", "b.mp3", "complete");
        NewEntry("bob", "", "c", nullptr);
        for (const char* status : {"denied", "local error", "aborted", "queued"})
            NewEntry("bob", "docs", status, status);
        d.GetType("upload_entry")->NewItem() += d.GetType("user")->GetItem("carl");
        d.GetType("excluded_download_extension")->GetItem(".exe");
        d.GetType("user")->GetItem("dora");
        SetSetting("download_folder", "/stored");
        SetSetting("transfer_req_counter", "55");
        SetSetting("download_speed_limit", "100");
        SetSetting("download_speed_limit_enabled", "yes");
        SetSetting("upload_slots", "0");
        f.store.saver->Save(Prefix());
        downloading["write_position"].Remove();

        f.Start();
        int entriesAdded = 0;
        Recorder recorder;
        recorder.added = [&](ItemPtr) { ++entriesAdded; };
        d.GetType("download_entry")
            ->AddItemAddedHandler(new EventHandler<Recorder, ItemPtr>(&recorder, &Recorder::Added));
        QStringList statusesWhenLoaded;
        bool trackedWhenLoaded = false;
        connect(f.engine, &TransferQueueManager::TransfersLoaded, this, [&] {
            for (const ItemPtr& entry : g("download_entry"))
                statusesWhenLoaded << Status(entry);
            trackedWhenLoaded = d.GetType("user")->GetItem("bob").IsConnected("is_tracked");
        });
        QSignalSpy loaded(f.engine, &TransferQueueManager::TransfersLoaded);
        f.store.saver->Load(Prefix());

        QCOMPARE(loaded.count(), 1);
        QCOMPARE(entriesAdded, 7);
        QCOMPARE(statusesWhenLoaded,
                 QStringList({"queued", "complete", "queued", "queued", "queued", "queued", "queued"}));
        QVERIFY(trackedWhenLoaded);
        QVERIFY(d.GetType("user")->GetItem("ann").IsConnected("is_tracked"));
        QVERIFY(!d.GetType("user")->GetItem("dora").IsConnected("is_tracked"));
        QVERIFY(!d.GetType("user")->GetItem("carl").IsConnected("is_tracked"));

        const ItemPtr first = g("download_entry").First();
        QCOMPARE(first["user"].AsString(), QString("ann"));
        QCOMPARE(first["remote_folder"].AsString(), QString("music\\albums"));
        QCOMPARE(first["file_name"].AsString(), QString("a.mp3"));
        QCOMPARE(first["file_size"].AsInt64(), qint64(123456789012));
        QCOMPARE(first["download_order"].AsString(), QString("3"));
        QCOMPARE(first["subfolder_save_level"].AsString(), QString("1"));
        QCOMPARE(first["download_folder"].AsString(), QString("/somewhere"));
        // Only the queue itself is kept; running values, tokens, markers
        // and uploads live for one run.
        QVERIFY(!first["write_position"]);
        QVERIFY(!first["transfer_req"]);
        QVERIFY(!first["single_download"]);
        QCOMPARE(d.GetType("upload_entry")->Count(), size_t(0));
        QCOMPARE(f.engine->ActiveDownloadCount(), 0);

        QVERIFY(d.GetType("excluded_download_extension")->HasItem(".exe"));
        QVERIFY(!d.GetType("excluded_download_extension")->HasItem(".ini"));
        QCOMPARE(GetSetting("download_folder"), QString("/stored"));
        QCOMPARE(GetSetting("transfer_req_counter"), QString("55"));
        QCOMPARE(GetSetting("upload_slots"), QString("1"));
        QCOMPARE(f.engine->GetDownloadSpeed(), 100);
    }

    void firstRunWithoutData()
    {
        QSignalSpy loaded(f.engine, &TransferQueueManager::TransfersLoaded);
        f.store.saver->Load(Prefix());
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(d.GetType("excluded_download_extension")->Count(), size_t(1));
        QVERIFY(d.GetType("excluded_download_extension")->HasItem(".ini"));
        QCOMPARE(GetSetting("transfer_req_counter"), QString("1"));
    }

    void settingsClampedAfterLoad_data()
    {
        QTest::addColumn<QString>("uploadSlots");
        QTest::addColumn<QString>("uploads");
        QTest::addColumn<QString>("mb");
        QTest::addColumn<QString>("slotsAfter");
        QTest::addColumn<QString>("uploadsAfter");
        QTest::addColumn<QString>("mbAfter");
        QTest::newRow("below") << "0"
                               << "9"
                               << "49"
                               << "1"
                               << "10"
                               << "50";
        QTest::newRow("at the bounds") << "1"
                                       << "10"
                                       << "50"
                                       << "1"
                                       << "10"
                                       << "50";
        QTest::newRow("above") << "4"
                               << "300"
                               << "51"
                               << "4"
                               << "300"
                               << "51";
        QTest::newRow("negative") << "-3"
                                  << "-1"
                                  << "-100"
                                  << "1"
                                  << "10"
                                  << "50";
        QTest::newRow("not numbers") << "many"
                                     << ""
                                     << "x"
                                     << "1"
                                     << "10"
                                     << "50";
    }

    void settingsClampedAfterLoad()
    {
        QFETCH(QString, uploadSlots);
        QFETCH(QString, uploads);
        QFETCH(QString, mb);
        SetSetting("upload_slots", uploadSlots);
        SetSetting("max_queued_uploads_per_user", uploads);
        SetSetting("max_queued_mb_per_user", mb);
        f.engine->DataLoaded();
        QTEST(GetSetting("upload_slots"), "slotsAfter");
        QTEST(GetSetting("max_queued_uploads_per_user"), "uploadsAfter");
        QTEST(GetSetting("max_queued_mb_per_user"), "mbAfter");
    }

    void heapValuesAreFreedOnceByRemovingTheirItems()
    {
        if (!QV_REPLACES_NEW)
            QSKIP("frees are counted by a replaced operator delete, which this build cannot have");
        struct Case
        {
            const char* type;
            void* object;
        };
        const Case cases[] = {
            {"write_position", new TransferCounter64(1)},
            {"read_position", new TransferCounter64(2)},
            {"bytes_since_last_receipt", new TransferCounter64(3)},
            {"bytes_uploaded", new TransferCounter64(4)},
            {"bytes_per_second", new TransferCounter32(5)},
            {"last_receipt_time", new AtomicDateTime(QDateTime::currentDateTime())},
            {"last_speed_measurement_time", new AtomicDateTime},
        };
        ItemPtr upload = d.GetType("upload_entry")->NewItem();
        int watches[7];
        for (int i = 0; i < 7; ++i) {
            watches[i] = Watch(cases[i].object);
            QVERIFY(watches[i] >= 0);
            ItemPtr item = d.GetType(cases[i].type)->GetItem(Value(cases[i].object));
            if (upload.GetType()->IsRelatedTo(item.GetType()))
                upload += item;
        }
        // Losing the entry does not free anything: the items still own them.
        upload.Remove();
        for (int slot : watches)
            QCOMPARE(g_frees[slot].load(), 0);

        // Removing an item frees its object, once, whichever way it goes.
        d.GetType("read_position")->HasItem(Value(cases[1].object)).Remove();
        QCOMPARE(g_frees[watches[1]].load(), 1);
        d.RemoveDisconnectedItems();
        for (int slot : watches)
            QCOMPARE(g_frees[slot].load(), 1);
        d.RemoveAllItems();
        for (int slot : watches)
            QCOMPARE(g_frees[slot].load(), 1);

        // Items holding no address free nothing and do not fail.
        for (const char* type : {"write_position", "bytes_per_second", "last_receipt_time"})
            d.GetType(type)->GetItem("0").Remove();
    }

    void destructorStopsEveryThread()
    {
        // A download waiting for data and an upload waiting for its offset:
        // both would wait for half a minute on their own.
        QFile target(f.Path("target"));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        QFile source(f.WriteFile("source", TransfersFixture::Pattern(1000)));
        QVERIFY(source.open(QIODevice::ReadOnly));
        LoopbackTransfer down, up;
        QVERIFY(down.Connect());
        QVERIFY(up.Connect());
        down.StartDownload(&target, 1000, 0);
        up.StartUpload(&source, 4);
        ItemPtr download = NewEntry("ann", "", "x", "downloading");
        download += d.GetType("download_thread")->GetItem(Value(down.download));
        ItemPtr upload = d.GetType("upload_entry")->NewItem();
        upload += d.GetType("upload_thread")->GetItem(Value(up.upload));
        QTest::qWait(200);
        QVERIFY(down.download->isRunning());
        QVERIFY(up.upload->isRunning());

        // Stopped, then freed with the items that held them (the engine
        // owns the threads it records); the entries stay as saved.
        QPointer<DownloadThread> downThread(down.download);
        QPointer<UploadThread> upThread(up.upload);
        delete f.engine;
        f.engine = nullptr;
        down.download = nullptr;
        up.upload = nullptr;
        QVERIFY(!transferQueueManager);
        QVERIFY(downThread.isNull());
        QVERIFY(upThread.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(down.downloadError, QString("Exit requested."), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(up.uploadError, QString("Exit requested."), 30000);
        QVERIFY(!download["download_thread"] && !upload["upload_thread"]);
        QVERIFY(!download.IsRemoved() && !upload.IsRemoved());
    }
};

QTEST_GUILESS_MAIN(TestTransferQueueManager)
#include "TestTransferQueueManager.moc"
