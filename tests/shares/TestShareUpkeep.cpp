// The manager's upkeep over turns of the event loop, each on the one slice
// runner: browsed shares let go a few files a turn, however they change
// meanwhile; narrowed visibility told once a turn after the change; the
// counts the server shows sent once for a burst of files.
#include <QSignalSpy>
#include <QtTest>
#include <utility>

#include "Data.h"
#include "FakeWire.h"
#include "SharedFoldersManager.h"
#include "SharesPeerFixture.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TestServer.h"

namespace {
ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

// A browsed share of folders under one another, each holding files: what
// the share browser makes of a received list. The name of the first file
// of each folder is shared with whoever uses the same names.
ItemPtr MakeShare(const QString& user, int folders, int files)
{
    ItemPtr share = d.GetType("user_share")->NewItem();
    share += User(user);
    ItemPtr parent;
    for (int a = 0; a < folders; ++a) {
        ItemPtr folder = share.NewItem("user_share_folder");
        folder += d.GetType("user_share_folder_name")->GetItem(Value(QString("%1 folder %2").arg(user).arg(a)));
        if (parent)
            folder.NewItem("user_share_folder_parent") += parent.NewItem("user_share_folder_child");
        parent = folder;
        for (int b = 0; b < files; ++b) {
            ItemPtr file = folder.NewItem("user_share_file");
            const QString name =
                b == 0 ? QString("common %1").arg(a) : QString("%1 file %2 %3").arg(user).arg(a).arg(b);
            file += d.GetType("user_share_file_name")->GetItem(Value(name));
            file += d.GetType("file_size")->GetItem(Value(1000 + b));
        }
    }
    return share;
}

QStringList Values(const char* type)
{
    QStringList values;
    for (const ItemPtr& item : d.GetType(type)->GetItems())
        values << item.AsString();
    values.sort();
    return values;
}

int FilesOf(ItemPtr share)
{
    int files = 0;
    for (const ItemPtr& folder : share.GetItems("user_share_folder"))
        files += folder.CountItems("user_share_file");
    return files;
}

} // namespace

class TestShareUpkeep : public QObject
{
    Q_OBJECT

    SharesPeerFixture* f = nullptr;

private slots:
    void init()
    {
        f = new SharesPeerFixture;
        QVERIFY(f->Start());
    }

    void cleanup()
    {
        delete f;
        f = nullptr;
    }

    void sharesLetGoGoAFewFilesATurnWhateverGoesMeanwhile()
    {
        ItemPtr alice = MakeShare("alice", 6, 40);
        ItemPtr bob = MakeShare("bob", 3, 10);
        ItemPtr carol = MakeShare("carol", 2, 5);
        ItemPtr dave = MakeShare("dave", 2, 5);
        SlicedJob& pass = f->manager->ReleasePass();
        pass.SetMostSteps(30);

        f->manager->ReleaseShare(alice);
        f->manager->ReleaseShare(bob);
        f->manager->ReleaseShare(dave);
        // Nobody's from the call on, but nothing goes in the caller's turn.
        QVERIFY(!User("alice")["user_share"]);
        QCOMPARE(FilesOf(alice), 240);
        QVERIFY(f->manager->IsReleasingShares());

        // Two turns in, dave's share goes some other way, and so does
        // alice's, half let go: the pass goes on with bob's and leaves
        // alice's rest to the clean-up.
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(SliceTrace::NextTurn());
        QCOMPARE(pass.LastSliceSteps(), 30);
        // The first folder's own step among them.
        QCOMPARE(FilesOf(alice), 240 - 59);
        dave.Remove();
        alice.Remove();
        const QList<int> steps = SliceTrace::StepsUntilDone(pass);
        QVERIFY(!f->manager->IsReleasingShares());
        // Each turn one slice of no more than its steps: the one seen, then
        // bob's 30 files and 3 folders.
        QCOMPARE(steps, (QList<int>{30, 30, 3}));

        d.RemoveDisconnectedItems();
        QCOMPARE(int(d.GetType("user_share_file")->Count()), 10);
        QCOMPARE(int(d.GetType("user_share_folder")->Count()), 2);
        QCOMPARE(FilesOf(carol), 10);
        QVERIFY(User("carol")["user_share"] == carol);
        // Carol's names stay, whoever else held them; the links of her
        // folders too, and only hers.
        QCOMPARE(Values("user_share_folder_name"), (QStringList{"carol folder 0", "carol folder 1"}));
        QCOMPARE(d.GetType("user_share_file_name")->Count(), size_t(10));
        QVERIFY(d.GetType("user_share_file_name")->HasItem(Value("common 0")));
        QCOMPARE(d.GetType("user_share_folder_parent")->Count(), size_t(1));
        QCOMPARE(d.GetType("user_share_folder_child")->Count(), size_t(1));
    }

    void narrowedVisibilityIsToldOnceATurnLater()
    {
        ItemPtr first = f->ShareMany(f->Path("First"), 2, 3);
        ItemPtr second = f->ShareMany(f->Path("Second"), 2, 3);
        // The counts the shares changed are sent on the next turn.
        QVERIFY(SliceTrace::NextTurn());
        QSignalSpy narrowed(f->manager, &SharedFoldersManager::VisibilityNarrowed);
        // A listener that narrows again while it is told is told once more.
        bool again = true;
        connect(f->manager, &SharedFoldersManager::VisibilityNarrowed, this, [&] {
            if (std::exchange(again, false))
                second.Disconnect("shared_public");
        });
        first.Disconnect("shared_public");
        first.GetItems("shared_file_folder").First().GetItems("shared_file").Remove();
        QCOMPARE(narrowed.size(), 0);
        QVERIFY(SliceTrace::NextTurn());
        QCOMPARE(narrowed.size(), 1);
        QVERIFY(SliceTrace::NextTurn());
        QCOMPARE(narrowed.size(), 2);
        SliceTrace::NextTurn();
        QCOMPARE(narrowed.size(), 2);
    }

    void theServerHearsTheCountsOnceForABurstOfFiles()
    {
        QVERIFY(f->ServerCaughtUp());
        f->net.server->ClearReceived();
        f->ShareMany(f->Path("Many"), 4, 50);
        // Sent on the runner's next turn, once for all 200 files.
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(f->ServerCaughtUp());
        QCOMPARE(f->net.server->ReceivedMessages(35).size(), 1);
        QCOMPARE(f->net.server->ReceivedMessages(35).last().body, FakeWire().U32(4).U32(200).Bytes());

        // Nothing changed by the end of a burst: nothing sent.
        ItemPtr file = d.GetType("shared_file")->GetItems().First();
        ItemPtr folder = file["shared_file_folder"];
        file.Remove();
        d.GetType("shared_file")->NewItem() += folder;
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(f->ServerCaughtUp());
        QCOMPARE(f->net.server->ReceivedMessages(35).size(), 1);
        // A file fewer is told.
        d.GetType("shared_file")->GetItems().First().Remove();
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(f->ServerCaughtUp());
        QCOMPARE(f->net.server->ReceivedMessages(35).size(), 2);
        QCOMPARE(f->net.server->ReceivedMessages(35).last().body, FakeWire().U32(4).U32(199).Bytes());
    }
};

QTEST_MAIN(TestShareUpkeep)
#include "TestShareUpkeep.moc"
