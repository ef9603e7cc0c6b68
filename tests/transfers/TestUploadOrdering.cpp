#include <QRandomGenerator>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "Data.h"
#include "Settings.h"
#include "TransferQueueManager.h"
#include "UploadOrdering.h"
#include "UploadQueuePolicy.h"
#include "UploadsFixture.h"

namespace {
// The places as they were when every pass wrote the number of every queued
// entry of an online user, and every new entry's place was worked out from
// those numbers.
struct WrittenPlaces
{
    QHash<Item*, qint64> place;
    ItemPtr last;

    ItemList Ordered() const
    {
        ItemList list;
        for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
            if (place.contains(entry.GetItemPointer()))
                list.push_back(entry);
        std::stable_sort(list.begin(), list.end(), [this](const ItemPtr& a, const ItemPtr& b) {
            return place[a.GetItemPointer()] < place[b.GetItemPointer()];
        });
        return list;
    }
    void Place(ItemPtr entry)
    {
        ItemList list = Ordered();
        if (!last) {
            if (list.empty()) {
                place[entry.GetItemPointer()] = 1;
                last = entry;
                return;
            }
            last = list.back();
        }
        if (UploadOrdering::Precedes(last, entry)) {
            place[entry.GetItemPointer()] = place[last.GetItemPointer()] + 1;
            last = entry;
            return;
        }
        last = list.back();
        list.insert(std::find_if(list.begin(), list.end(),
                                 [&](const ItemPtr& x) { return UploadOrdering::Precedes(entry, x); }),
                    entry);
        for (int i = 0; i < int(list.size()); ++i)
            place[list[i].GetItemPointer()] = i + 1;
    }
    void Forget(ItemPtr entry)
    {
        place.remove(entry.GetItemPointer());
        if (last == entry)
            last = ItemPtr();
    }
    // A pass with free slots: the entries that were queued for online users
    // when it began, the ones it started among them.
    void Pass(int free, const QHash<Item*, QString>& before)
    {
        if (free <= 0)
            return;
        ItemList line;
        for (const ItemPtr& entry : Ordered()) {
            const QString status = entry["upload_entry_status"].AsString();
            const bool started = status == "requesting" && before.value(entry.GetItemPointer()) != status;
            if (started || (status == "queued" && entry["user"].IsConnected("is_online")))
                line.push_back(entry);
        }
        for (int i = 0; i < int(line.size()); ++i)
            place[line[i].GetItemPointer()] = i;
    }
};

QHash<Item*, QString> Statuses()
{
    QHash<Item*, QString> statuses;
    for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
        statuses.insert(entry.GetItemPointer(), entry["upload_entry_status"].AsString());
    return statuses;
}
} // namespace

// The order of the upload queue and the slots, on the store: users are put
// online by hand, so nothing here waits for the network.
class TestUploadOrdering : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<UploadsFixture> f;

    ItemPtr User(const char* name) { return d.GetType("user")->GetItem(name); }
    ItemPtr Group(const char* name, int priority)
    {
        ItemPtr group = d.GetType("user_list_group")->GetItem(name);
        group.Connect(d.GetType("group_download_priority")->GetItem(Value(priority)));
        return group;
    }
    void List(ItemPtr user, std::initializer_list<ItemPtr> groups)
    {
        ItemPtr listed = user.NewItem("in_user_list");
        for (const ItemPtr& group : groups)
            listed.Connect(group);
    }
    QString Name(const QString& file) const { return f->Remote("pub/" + file); }
    ItemPtr Queue(const char* user, const QString& file)
    {
        f->engine->OnQueueUploadRequested(user, Name(file));
        return UploadsFixture::Entry(user, Name(file));
    }
    // The entries in the order of their places, as user/file.
    QStringList Order()
    {
        QStringList order;
        for (const ItemPtr& entry : f->engine->UploadOrder().Ordered())
            order << entry["user"].AsString() + "/" + entry["shared_file"]["shared_file_name"].AsString();
        return order;
    }

private slots:
    void init()
    {
        f.reset(new UploadsFixture);
        for (const char* file : {"a", "b", "c", "d", "e"})
            f->WriteFile(QString("pub/") + file, "x");
        f->Share("pub");
    }
    void cleanup() { f.reset(); }

    void groupPriorityAndPrivilegesDecideBeforeArrival()
    {
        const ItemPtr plain = User("plain");
        const ItemPtr grouped = User("grouped");
        const ItemPtr negative = User("negative");
        const ItemPtr many = User("many");
        List(grouped, {Group("friends", 5)});
        List(negative, {Group("strangers", -3), Group("others", -1)});
        List(many, {Group("low", 2), Group("high", 7)});
        User("privileged").NewItem("is_privileged");
        QCOMPARE(f->engine->GetUserGroupDownloadPriority("plain"), 0);
        QCOMPARE(f->engine->GetUserGroupDownloadPriority("grouped"), 5);
        QCOMPARE(f->engine->GetUserGroupDownloadPriority("negative"), 0);
        QCOMPARE(f->engine->GetUserGroupDownloadPriority("many"), 7);
        QCOMPARE(f->engine->GetUserGroupDownloadPriority("nobody"), 0);
        QVERIFY(!d.GetType("user")->HasItem("nobody"));

        const ItemPtr first = Queue("plain", "a");
        const ItemPtr second = Queue("grouped", "a");
        const ItemPtr third = Queue("privileged", "a");
        const ItemPtr fourth = Queue("plain", "b");
        QVERIFY(f->engine->UploadEntrySortCompare(second, first));
        QVERIFY(!f->engine->UploadEntrySortCompare(first, second));
        QVERIFY(f->engine->UploadEntrySortCompare(third, first));
        QVERIFY(!f->engine->UploadEntrySortCompare(first, third));
        QVERIFY(f->engine->UploadEntrySortCompare(first, fourth));
        QVERIFY(!f->engine->UploadEntrySortCompare(fourth, first));
        // Between a user's own entries only arrival counts, groups or not.
        List(plain, {Group("vip", 9)});
        QVERIFY(f->engine->UploadEntrySortCompare(first, fourth));
        QVERIFY(f->engine->UploadEntrySortCompare(first, second));
    }

    void newEntriesTakeTheirPlaces()
    {
        List(User("friend"), {Group("friends", 5)});
        User("vip").NewItem("is_privileged");

        // The first entry of a run gets 1; later equals follow on.
        QCOMPARE(f->engine->UploadOrder().PlaceOf(Queue("alice", "a")), qint64(1));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(Queue("bob", "a")), qint64(2));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(Queue("alice", "b")), qint64(3));
        // A better-placed newcomer is inserted and everybody renumbered.
        Queue("vip", "a");
        QCOMPARE(Order(), QStringList({"vip/a", "alice/a", "bob/a", "alice/b"}));
        Queue("friend", "a");
        Queue("vip", "b");
        QCOMPARE(Order(), QStringList({"friend/a", "vip/a", "vip/b", "alice/a", "bob/a", "alice/b"}));
        QList<qint64> places;
        for (const ItemPtr& entry : f->engine->UploadOrder().Ordered())
            places << f->engine->UploadOrder().PlaceOf(entry);
        QCOMPARE(places, QList<qint64>({1, 2, 3, 4, 5, 6}));

        // Removing the last placed entry forgets it as the end of the line.
        f->engine->RemoveUpload(UploadsFixture::Entry("alice", Name("b")));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(Queue("bob", "b")), qint64(6));
        QCOMPARE(Order().last(), QString("bob/b"));

        f->engine->DetermineUploadsEffectiveOrder();
        QCOMPARE(f->engine->UploadOrder().PlaceOf(UploadsFixture::Entry("friend", Name("a"))), qint64(0));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(UploadsFixture::Entry("bob", Name("b"))), qint64(5));
    }

    void slotsStartOneUploadPerOnlineUser()
    {
        const ItemPtr alice1 = Queue("alice", "a");
        const ItemPtr alice2 = Queue("alice", "b");
        const ItemPtr carol = Queue("carol", "c");
        const ItemPtr bob = Queue("bob", "d");
        QCOMPARE(f->engine->QueuedUploadCount(), 4);
        QCOMPARE(f->engine->ActiveUploadCount(), 0);

        // Nobody online: nothing starts and no place changes.
        f->engine->StartNewUploads();
        QCOMPARE(f->engine->UploadOrder().PlaceOf(bob), qint64(4));

        User("alice").NewItem("is_online");
        User("bob").NewItem("is_online");
        f->engine->StartNewUploads();
        QCOMPARE(UploadsFixture::Status(alice1), QString("requesting"));
        QVERIFY(alice1["transfer_req"]);
        QCOMPARE(UploadsFixture::Status(bob), QString("queued"));
        // Queued entries of online users are numbered from 0, the started
        // one included, while a slot is free: alice came online first and
        // took it, so bob kept his place; carol is offline and keeps hers.
        QCOMPARE(f->engine->UploadOrder().PlaceOf(alice1), qint64(0));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(alice2), qint64(1));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(bob), qint64(4));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(carol), qint64(3));

        // Slots outside 1 to 99 are ignored; more slots start more users,
        // never a second upload of one user.
        f->engine->SetUploadSlots(0);
        f->engine->SetUploadSlots(100);
        QCOMPARE(GetSetting("upload_slots"), QString("1"));
        QVERIFY(!f->engine->IsFreeToUpload());
        f->engine->SetUploadSlots(3);
        QCOMPARE(UploadsFixture::Status(bob), QString("requesting"));
        QCOMPARE(UploadsFixture::Status(alice2), QString("queued"));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(alice2), qint64(0));
        QCOMPARE(f->engine->UploadOrder().PlaceOf(bob), qint64(1));
        QVERIFY(bob["transfer_req"].AsUInt() != alice1["transfer_req"].AsUInt());
        QCOMPARE(f->engine->ActiveUploadCount(), 2);
        QVERIFY(f->engine->IsFreeToUpload());

        // Fewer slots stop nothing that runs.
        f->engine->SetUploadSlots(1);
        QCOMPARE(f->engine->ActiveUploadCount(), 2);
        QVERIFY(!f->engine->IsFreeToUpload());

        // When alice's upload ends her next one starts, and carol's once she
        // comes online and a slot frees.
        f->engine->SetUploadSlots(2);
        f->engine->SetUploadEntryStatus(alice1, "complete");
        f->engine->StartNewUploads();
        QCOMPARE(UploadsFixture::Status(alice2), QString("requesting"));
        User("carol").NewItem("is_online");
        f->engine->SetUploadEntryStatus(bob, "aborted");
        f->engine->StartNewUploads();
        QCOMPARE(UploadsFixture::Status(carol), QString("requesting"));
        QCOMPARE(f->engine->QueuedUploadCount(), 0);
    }

    void passesKeepEveryPlaceAndWriteOnlyWhatMoved()
    {
        for (int i = 0; i < 300; ++i)
            f->WriteFile(QString("line/f%1").arg(i, 3, 10, QChar('0')), "x");
        f->Share("line");
        const auto name = [this](int i) { return f->Remote(QString("line/f%1").arg(i, 3, 10, QChar('0'))); };
        DataHandler watch;
        int writes = 0;
        d.AddConnectionEventHandler(d.GetType("upload_entry"), d.GetType("effective_upload_order"),
                                    new FunctionHandler<ConnectionInfo&>(&watch, [&](ConnectionInfo&) { ++writes; }));
        WrittenPlaces written;
        const auto places = [&](bool engine) {
            QStringList list;
            for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
                list << QString("%1 %2 %3")
                            .arg(entry["user"].AsString(), entry["filename_as_requested"].AsString().right(4))
                            .arg(engine ? f->engine->UploadOrder().PlaceOf(entry)
                                        : written.place.value(entry.GetItemPointer(), -1));
            return list;
        };

        // One user's long line, one slot: each finished upload starts the
        // next, and only the places of what started are written.
        User("alice").NewItem("is_online");
        for (int i = 0; i < 300; ++i) {
            f->engine->OnQueueUploadRequested("alice", name(i));
            written.Place(UploadsFixture::Entry("alice", name(i)));
            written.Pass(i == 0 ? 1 : 0, {});
        }
        writes = 0;
        for (int i = 0; i < 100; ++i) {
            const ItemPtr running = UploadsFixture::Entry("alice", name(i));
            QCOMPARE(UploadsFixture::Status(running), QString("requesting"));
            const QHash<Item*, QString> before = Statuses();
            f->engine->SetUploadEntryStatus(running, "complete");
            f->engine->StartNewUploads();
            written.Pass(1, before);
        }
        QVERIFY2(writes <= 2 * 100, qPrintable(QString("%1 places written for 100 starts").arg(writes)));
        QCOMPARE(places(true), places(false));

        // Users coming and going, uploads ending and removed, more slots
        // and fewer, privileged and grouped users placed ahead: every place
        // is the one the writing passes gave.
        const auto remove = [&](ItemPtr entry) {
            const int free = GetSetting("upload_slots").toInt() - f->engine->ActiveUploadCount() +
                             (entry["upload_entry_status"].IsConnected("is_active") ? 1 : 0);
            const QHash<Item*, QString> before = Statuses();
            f->engine->RemoveUpload(entry);
            written.Forget(entry);
            written.Pass(free, before);
        };
        while (d.GetType("upload_entry")->Count() > 0)
            remove(d.GetType("upload_entry")->First());
        User("vip").NewItem("is_privileged");
        List(User("friend"), {Group("friends", 3)});
        const QStringList users = {"alice", "bob", "carol", "alice", "bob", "carol", "vip", "friend"};
        QRandomGenerator random(45);
        for (int step = 0; step < 1500; ++step) {
            const QHash<Item*, QString> before = Statuses();
            const int free = GetSetting("upload_slots").toInt() - f->engine->ActiveUploadCount();
            const ItemList entries = d.GetType("upload_entry")->GetItems().List();
            ItemList running;
            for (const ItemPtr& entry : entries)
                if (entry["upload_entry_status"].IsConnected("is_active"))
                    running.push_back(entry);
            ItemPtr user = User(qPrintable(users[random.bounded(users.size())]));
            const int op = random.bounded(16);
            if (op < 7) {
                const QString requested = name(100 + random.bounded(60));
                const ItemPtr old = UploadsFixture::Entry(user.AsString(), requested);
                if (old &&
                    (UploadsFixture::Status(old) == "queued" || old["upload_entry_status"].IsConnected("is_active")))
                    continue;
                f->engine->OnQueueUploadRequested(user.AsString(), requested);
                if (!old)
                    written.Place(UploadsFixture::Entry(user.AsString(), requested));
                written.Pass(free, before);
            } else if (op < 11 && !running.empty()) {
                ItemPtr ended = running[random.bounded(int(running.size()))];
                f->engine->SetUploadEntryStatus(ended, random.bounded(2) ? "complete" : "aborted");
                f->engine->StartNewUploads();
                written.Pass(free + 1, before);
            } else if (op < 13) {
                if (user.IsConnected("is_online")) {
                    user.Disconnect("is_online");
                } else {
                    user.NewItem("is_online");
                    written.Pass(free, before);
                }
            } else if (op < 15 && !entries.empty()) {
                remove(entries[random.bounded(int(entries.size()))]);
            } else if (op == 15) {
                const int wanted = 1 + random.bounded(3);
                const int had = GetSetting("upload_slots").toInt();
                f->engine->SetUploadSlots(wanted);
                if (wanted > had)
                    written.Pass(free + wanted - had, before);
            }
            QCOMPARE(places(true), places(false));
        }
    }

    void theOpenedFileIsTheStoresOwn()
    {
        // A local name holding a backslash stays one name in the path.
        ItemPtr file = d.GetType("shared_file")->NewItem();
        file.Connect(d.GetType("shared_file_folder")->GetItem("/srv/share"));
        file.Connect(d.GetType("shared_file_name")->GetItem("..\\..\\etc\\passwd"));
        QCOMPARE(UploadQueuePolicy::SharedFilePath(file), QString("/srv/share/..\\..\\etc\\passwd"));
        file.Disconnect("shared_file_folder");
        QVERIFY(UploadQueuePolicy::SharedFilePath(file).isEmpty());
    }
};

QTEST_MAIN(TestUploadOrdering)
#include "TestUploadOrdering.moc"
