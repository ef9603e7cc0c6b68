// The uploads tree and its clearing: rows for the requests of fake peers,
// their status and online state, the Delete key, the context menu, the
// "Clear Complete and Aborted" action and the half-minute pruning with
// backdated times.
#include <QCheckBox>
#include <QDateTime>

#include "FakePeerLink.h"
#include "FakeWire.h"
#include "GeneralFunctions.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "TestServer.h"
#include "TransfersPageHarness.h"
#include "UploadsFixture.h"

class TestUploadRows : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

    std::unique_ptr<H> h;
    FakePeerLink* alice = nullptr;
    FakePeerLink* bob = nullptr;

    QString Remote(const QString& name) const { return h->f->Remote("share/" + name); }
    ItemPtr Entry(const QString& user, const QString& name) const { return UploadsFixture::Entry(user, Remote(name)); }
    void Ask(FakePeerLink* link, const QString& name) { link->SendMessage(43, FakeWire().Str(Remote(name)).Bytes()); }
    void Set(const QString& user, const QString& name, const QString& status)
    {
        h->f->transfers->SetUploadEntryStatus(Entry(user, name), status);
    }
    static QString Ago(int seconds) { return QDateTime::currentDateTime().addSecs(-seconds).toString(Qt::TextDate); }
    void StatusChangedAgo(const QString& user, const QString& name, int seconds)
    {
        Entry(user, name).Connect(d.GetType("last_status_change_time")->GetItem(Value(Ago(seconds))));
    }
    // Bob leaves the server, and did so long ago.
    void BobGone(int secondsAgo)
    {
        QVERIFY(h->f->net.server->Cut("bob"));
        ItemPtr user = d.GetType("user")->HasItem("bob");
        QTRY_VERIFY(!user.IsConnected("is_online"));
        user.Connect(d.GetType("last_online_status_change")->GetItem(Value(Ago(secondsAgo))));
    }

private slots:
    void init()
    {
        h.reset(new H);
        QVERIFY(h->f->Start());
        for (const char* name : {"run.bin", "a.bin", "b.bin", "c.bin", "d.bin"})
            h->f->WriteFile(QString("share/") + name, QByteArray(1000, 'x'));
        ShareScanned(h->f->shares, h->f->MakeFolder("share")).NewItem("shared_public");
        alice = h->f->OnlinePeer("alice");
        bob = h->f->OnlinePeer("bob");
        QVERIFY(alice && bob);
        // The one slot goes to the first request, which alice leaves
        // unanswered: the others stay queued whatever is removed.
        Ask(alice, "run.bin");
        QTRY_COMPARE(UploadsFixture::Status(Entry("alice", "run.bin")), QString("requesting"));
        Ask(alice, "a.bin");
        Ask(alice, "b.bin");
        Ask(bob, "c.bin");
        Ask(bob, "d.bin");
        // Alice and bob ask over connections of their own: one's last
        // request says nothing about when the other's have been read.
        const auto queued = [&] {
            for (const auto& ask : {std::make_pair("alice", "a.bin"), std::make_pair("alice", "b.bin"),
                                    std::make_pair("bob", "c.bin"), std::make_pair("bob", "d.bin")}) {
                if (!Entry(ask.first, ask.second)["shared_file"])
                    return false;
            }
            return true;
        };
        QTRY_VERIFY(queued());
    }
    void cleanup() { h.reset(); }

    void rowsFollowTheRequestsAndTheirUsers()
    {
        QTreeWidget* tree = h->Uploads();
        QCOMPARE(H::TopTexts(tree), QStringList({"alice", "bob"}));
        const QString folder = ReversePathname(Entry("alice", "a.bin")["shared_file"]["shared_file_folder"].AsString());
        QVERIFY(folder.startsWith("share/"));
        QTreeWidgetItem* aRow = H::FileRow(tree, "alice", folder, "a.bin");
        QVERIFY(aRow);
        QCOMPARE(aRow->text(7), QString("1,000"));
        QCOMPARE(aRow->text(3), QString("queued"));
        QCOMPARE(H::FileRow(tree, "alice", folder, "run.bin")->text(3), QString("requesting"));
        QTRY_COMPARE(h->TabTitle(), QString("Transfers [0/1]"));

        Set("alice", "a.bin", "complete");
        QCOMPARE(aRow->text(3), QString("complete"));
        QCOMPARE(H::Colour(aRow), QColor(GetSetting("color_transfer_complete")));
        Entry("alice", "b.bin").Connect(d.GetType("denial_reason")->GetItem("Banned"));
        Set("alice", "b.bin", "denied");
        QCOMPARE(H::FileRow(tree, "alice", folder, "b.bin")->text(3), QString("banned"));

        BobGone(0);
        QVERIFY(H::UserRow(tree, "bob")->icon(0).pixmap(16).toImage() ==
                QIcon(":/icons/offline_icon").pixmap(16).toImage());

        // Delete on a user row takes all of the user's uploads.
        H::UserRow(tree, "alice")->setSelected(true);
        H::FileRow(tree, "alice", folder, "a.bin")->setSelected(true);
        QTest::keyClick(tree, Qt::Key_Delete);
        QCOMPARE(H::TopTexts(tree), QStringList({"bob"}));
        QVERIFY(!Entry("alice", "run.bin") && !Entry("alice", "a.bin"));
        QVERIFY(Entry("bob", "c.bin"));
        QTRY_COMPARE(h->TabTitle(), QString("Transfers [0/0]"));
    }

    void theMenuOpensAndRemovesTheChosenUploads()
    {
        QTreeWidget* tree = h->Uploads();
        const QString local = Entry("alice", "a.bin")["shared_file"]["shared_file_folder"].AsString();
        const QString folder = ReversePathname(local);
        QTreeWidgetItem* a = H::FileRow(tree, "alice", folder, "a.bin");
        QTreeWidgetItem* b = H::FileRow(tree, "alice", folder, "b.bin");
        QCOMPARE(h->MenuTexts(tree, {a}), QStringList({"Open File", "Open Folder", "-", "Remove upload"}));
        QCOMPARE(h->MenuTexts(tree, {a, b}), QStringList({"Open Folder", "-", "Remove uploads"}));
        QCOMPARE(h->AllMenuTexts(tree, {a, b}).mid(3, 2), QStringList({"-", "Message user"}));
        QVERIFY(h->Choose(tree, {a}, "Open File"));
        QVERIFY(h->Choose(tree, {b, a}, "Open Folder"));
        QCOMPARE(h->f->OpenedUrls(), QList<QUrl>({QUrl::fromLocalFile(local + "/a.bin"), QUrl::fromLocalFile(local)}));

        // One of them is pruned while the menu stands open.
        QVERIFY(h->Menu(tree, {a, b}, [&](QMenu* menu) {
            h->f->transfers->RemoveUpload(Entry("alice", "a.bin"));
            QVERIFY(H::Trigger(menu, "Remove uploads"));
        }));
        QVERIFY(!Entry("alice", "b.bin"));
        QVERIFY(Entry("alice", "run.bin"));
        QVERIFY(h->Choose(tree, {H::UserRow(tree, "bob")}, "Remove uploads"));
        QCOMPARE(H::TopTexts(tree), QStringList({"alice"}));
    }

    void clearingTakesFinishedUploadsAndThoseOfLongGoneUsers()
    {
        Set("alice", "a.bin", "complete");
        Set("bob", "d.bin", "aborted");
        BobGone(600);
        // Recent entry times do not keep bob's queued upload from this.
        StatusChangedAgo("bob", "c.bin", 5);

        QAction* clear = h->Action(h->Uploads(), "Clear Complete and Aborted");
        QVERIFY(clear);
        clear->trigger();
        QVERIFY(!Entry("alice", "a.bin"));
        QVERIFY(!Entry("bob", "d.bin"));
        QVERIFY(!Entry("bob", "c.bin"));
        // Queued for a user who is here, and running: kept.
        QVERIFY(Entry("alice", "b.bin"));
        QVERIFY(Entry("alice", "run.bin"));
        QCOMPARE(H::TopTexts(h->Uploads()), QStringList({"alice"}));
    }

    void theHalfMinuteTickPrunesOnlyQuietUploads()
    {
        Set("alice", "a.bin", "complete");
        StatusChangedAgo("alice", "a.bin", 600);
        // Off: nothing goes, however old.
        h->f->Tick();
        QVERIFY(Entry("alice", "a.bin"));

        h->Control<QCheckBox>("clearUploadsCheckBox")->click();
        Set("alice", "b.bin", "complete");
        StatusChangedAgo("alice", "b.bin", 240);
        // Queued for an online user: kept however old.
        StatusChangedAgo("bob", "c.bin", 600);
        h->f->Tick();
        QVERIFY(!Entry("alice", "a.bin"));
        QVERIFY(Entry("alice", "b.bin"));
        QVERIFY(Entry("bob", "c.bin"));

        // Queued for a user long gone: only once the entry is quiet too.
        BobGone(600);
        StatusChangedAgo("bob", "c.bin", 10);
        StatusChangedAgo("bob", "d.bin", 300);
        h->f->Tick();
        QVERIFY(Entry("bob", "c.bin"));
        QVERIFY(!Entry("bob", "d.bin"));
        QVERIFY(Entry("alice", "run.bin"));
    }
};

QTEST_MAIN(TestUploadRows)
#include "TestUploadRows.moc"
