#include <QtTest>
#include <memory>

#include "Data.h"
#include "Settings.h"
#include "TransferQueueManager.h"
#include "UploadOrdering.h"
#include "UploadQueuePolicy.h"
#include "UploadsFixture.h"

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
        for (const ItemPtr& entry : UploadOrdering::Ordered())
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
        QCOMPARE(UploadOrdering::PlaceOf(Queue("alice", "a")), qint64(1));
        QCOMPARE(UploadOrdering::PlaceOf(Queue("bob", "a")), qint64(2));
        QCOMPARE(UploadOrdering::PlaceOf(Queue("alice", "b")), qint64(3));
        // A better-placed newcomer is inserted and everybody renumbered.
        Queue("vip", "a");
        QCOMPARE(Order(), QStringList({"vip/a", "alice/a", "bob/a", "alice/b"}));
        Queue("friend", "a");
        Queue("vip", "b");
        QCOMPARE(Order(), QStringList({"friend/a", "vip/a", "vip/b", "alice/a", "bob/a", "alice/b"}));
        QList<qint64> places;
        for (const ItemPtr& entry : UploadOrdering::Ordered())
            places << UploadOrdering::PlaceOf(entry);
        QCOMPARE(places, QList<qint64>({1, 2, 3, 4, 5, 6}));

        // Removing the last placed entry forgets it as the end of the line.
        f->engine->RemoveUpload(UploadsFixture::Entry("alice", Name("b")));
        QCOMPARE(UploadOrdering::PlaceOf(Queue("bob", "b")), qint64(6));
        QCOMPARE(Order().last(), QString("bob/b"));

        f->engine->DetermineUploadsEffectiveOrder();
        QCOMPARE(UploadOrdering::PlaceOf(UploadsFixture::Entry("friend", Name("a"))), qint64(0));
        QCOMPARE(UploadOrdering::PlaceOf(UploadsFixture::Entry("bob", Name("b"))), qint64(5));
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
        QCOMPARE(UploadOrdering::PlaceOf(bob), qint64(4));

        User("alice").NewItem("is_online");
        User("bob").NewItem("is_online");
        f->engine->StartNewUploads();
        QCOMPARE(UploadsFixture::Status(alice1), QString("requesting"));
        QVERIFY(alice1["transfer_req"]);
        QCOMPARE(UploadsFixture::Status(bob), QString("queued"));
        // Queued entries of online users are numbered from 0, the started
        // one included, while a slot is free: alice came online first and
        // took it, so bob kept his place; carol is offline and keeps hers.
        QCOMPARE(UploadOrdering::PlaceOf(alice1), qint64(0));
        QCOMPARE(UploadOrdering::PlaceOf(alice2), qint64(1));
        QCOMPARE(UploadOrdering::PlaceOf(bob), qint64(4));
        QCOMPARE(UploadOrdering::PlaceOf(carol), qint64(3));

        // Slots outside 1 to 99 are ignored; more slots start more users,
        // never a second upload of one user.
        f->engine->SetUploadSlots(0);
        f->engine->SetUploadSlots(100);
        QCOMPARE(GetSetting("upload_slots"), QString("1"));
        QVERIFY(!f->engine->IsFreeToUpload());
        f->engine->SetUploadSlots(3);
        QCOMPARE(UploadsFixture::Status(bob), QString("requesting"));
        QCOMPARE(UploadsFixture::Status(alice2), QString("queued"));
        QCOMPARE(UploadOrdering::PlaceOf(alice2), qint64(0));
        QCOMPARE(UploadOrdering::PlaceOf(bob), qint64(1));
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
