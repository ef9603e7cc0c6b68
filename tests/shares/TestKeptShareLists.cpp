// A share list built once serves everyone who may see the same folders
// until the shares change. Each asker is a peer at an address of its own,
// asking through real peer messaging.
#include <QtTest>

#include "Data.h"
#include "FakePeerLink.h"
#include "PeerMessages.h"
#include "SharedFoldersManager.h"
#include "SharesPeerFixture.h"

class TestKeptShareLists : public QObject
{
    Q_OBJECT

    // An asker from 127.0.0.host; null when it could not connect.
    static FakePeerLink* Asker(SharesPeerFixture& f, const QString& name, int host)
    {
        return f.LinkedPeer(name, QHostAddress(QString("127.0.0.%1").arg(host)));
    }

    // The body of the next share list the asker is sent when it asks;
    // empty when none came.
    static QByteArray AskAgain(FakePeerLink* asker)
    {
        if (!asker)
            return {};
        const int before = SharesPeerFixture::Received(asker, PeerMessages::SharedFileList).size();
        asker->SendMessage(PeerMessages::SharedFileListRequest, {});
        if (!SharesPeerFixture::WaitFor(asker, PeerMessages::SharedFileList, before + 1))
            return {};
        return SharesPeerFixture::Received(asker, PeerMessages::SharedFileList).at(before);
    }

    static QByteArray Ask(SharesPeerFixture& f, const QString& name, int host)
    {
        return AskAgain(Asker(f, name, host));
    }

    // The list as built at once for the user, as it stands now.
    static QByteArray Now(SharesPeerFixture& f, const QString& user)
    {
        return f.manager->GetSharedFilesMessage(user).GetBytes().mid(4);
    }

private slots:
    // Many askers at once, each from its own address: every one gets the
    // same bytes, and they cost one build.
    void askersOfTheSameFoldersShareOneBuild()
    {
        SharesPeerFixture f;
        QVERIFY(f.Start());
        f.ShareMany(f.Path("Many"), 20, 500);
        const QByteArray whole = Now(f, "anyone");
        QList<FakePeerLink*> askers;
        for (int i = 0; i < 6; ++i) {
            askers << f.LinkedPeer(QString("asker%1").arg(i), QHostAddress(QString("127.0.0.%1").arg(20 + i)));
            QVERIFY(askers.last());
        }
        for (FakePeerLink* asker : askers)
            asker->SendMessage(PeerMessages::SharedFileListRequest, {});
        for (FakePeerLink* asker : askers) {
            QVERIFY(SharesPeerFixture::WaitFor(asker, PeerMessages::SharedFileList, 1));
            QCOMPARE(SharesPeerFixture::Received(asker, PeerMessages::SharedFileList).at(0), whole);
        }
        QCOMPARE(f.manager->ShareListsBuilt(), 1);
        // A latecomer, and one asking again, are sent the kept list.
        QCOMPARE(Ask(f, "late", 40), whole);
        askers[0]->SendMessage(PeerMessages::SharedFileListRequest, {});
        QVERIFY(SharesPeerFixture::WaitFor(askers[0], PeerMessages::SharedFileList, 2));
        QCOMPARE(SharesPeerFixture::Received(askers[0], PeerMessages::SharedFileList).at(1), whole);
        QCOMPARE(f.manager->ShareListsBuilt(), 1);
    }

    // Each kind of change to the shares between two askers: the later one
    // gets the list as the shares now stand.
    void aChangeToTheSharesBetweenAskersGivesTheLaterTheNewList()
    {
        SharesPeerFixture f;
        QVERIFY(f.Start());
        f.ShareMany(f.Path("Many"), 4, 50);
        QByteArray before = Ask(f, "first", 20);
        QCOMPARE(before, Now(f, "anyone"));
        int host = 21;
        const QList<QPair<QString, std::function<void()>>> changes = {
            {"a file gone",
             [&] {
                 d.GetType("shared_file_folder")
                     ->HasItem(Value(f.Path("Many/Set 2")))
                     .GetItems("shared_file")
                     .First()
                     .Remove();
             }},
            {"a file's bitrate found",
             [&] {
                 // An MP3 file with none yet: only those carry it.
                 for (const ItemPtr& file :
                      d.GetType("shared_file_folder")->HasItem(Value(f.Path("Many/Set 1"))).GetItems("shared_file"))
                     if (file["shared_file_name"].AsString().endsWith(".mp3") && !file["bitrate"]) {
                         ItemPtr(file) += d.GetType("bitrate")->GetItem("320");
                         return;
                     }
             }},
            {"a folder shared",
             [&] {
                 f.WriteFile("More/m.txt", 7);
                 f.Share("More").NewItem("shared_public");
             }},
            {"a folder's audience cut",
             [&] { d.GetType("shared_folder")->HasItem(Value(f.Path("More"))).Disconnect("shared_public"); }},
        };
        for (const auto& change : changes) {
            change.second();
            const QByteArray after = Ask(f, QString("asker%1").arg(host), host);
            ++host;
            QVERIFY2(after != before, qPrintable(change.first));
            QVERIFY2(after == Now(f, "anyone"), qPrintable(change.first));
            before = after;
        }
        QCOMPARE(f.manager->ShareListsBuilt(), 1 + changes.size());
    }

    // A listed friend sees a folder that strangers do not: each is sent its
    // own list, and each list serves the next asker like it.
    void anAskerWhoMaySeeFewerFoldersNeverGetsTheFullerList()
    {
        SharesPeerFixture f;
        QVERIFY(f.Start());
        f.ShareMany(f.Path("Public"), 3, 20);
        f.WriteFile("Friends/secret.txt", 5);
        f.Share("Friends").NewItem("shared_userlist");
        for (const QString& name : {"friend1", "friend2"})
            d.GetType("user")->GetItem(Value(name)).NewItem("in_user_list");
        const QByteArray fuller = Ask(f, "friend1", 20);
        QCOMPARE(fuller, Now(f, "friend1"));
        const QByteArray stranger = Ask(f, "stranger1", 21);
        QCOMPARE(stranger, Now(f, "stranger1"));
        QVERIFY(stranger != fuller);
        QCOMPARE(Ask(f, "stranger2", 22), stranger);
        FakePeerLink* friend2 = Asker(f, "friend2", 23);
        QCOMPARE(AskAgain(friend2), fuller);
        QCOMPARE(f.manager->ShareListsBuilt(), 2);
        // Taken off the list, a friend is a stranger.
        d.GetType("user")->HasItem(Value(QString("friend2"))).GetItems("in_user_list").Remove();
        QCOMPARE(AskAgain(friend2), stranger);
        QCOMPARE(f.manager->ShareListsBuilt(), 2);
    }

    // The list is gathered over turns, a slice of no more than the most
    // steps each, whether it is kept afterwards or not.
    void theListIsGatheredASliceATurn()
    {
        SharesPeerFixture f;
        QVERIFY(f.Start());
        f.ShareMany(f.Path("Many"), 5, 100);
        SlicedJob& pass = f.manager->ShareListPass();
        pass.SetMostSteps(50);
        int slices = 0;
        int largest = 0;
        QTimer watch;
        watch.setInterval(0);
        connect(&watch, &QTimer::timeout, [&] {
            slices = std::max(slices, pass.Slices());
            largest = std::max(largest, pass.LastSliceSteps());
        });
        watch.start();
        QCOMPARE(Ask(f, "asker", 20), Now(f, "anyone"));
        watch.stop();
        // 500 files and 5 folders by 50 at most.
        QVERIFY2(slices >= 10, qPrintable(QString("%1 slices").arg(slices)));
        QVERIFY2(largest <= 50, qPrintable(QString("%1 steps").arg(largest)));
    }
};

QTEST_MAIN(TestKeptShareLists)
#include "TestKeptShareLists.moc"
