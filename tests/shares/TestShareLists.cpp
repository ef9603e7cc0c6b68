#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "Data.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesPeerFixture.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TestServer.h"

namespace {
// A share list body as "folder: record; record" lines; "<bad>" when it
// does not read to its end.
QStringList ReadShareList(const QByteArray& compressed)
{
    FakeWire in(FakeWire::Inflate(compressed));
    QStringList folders;
    quint32 count = 0, names = 1;
    if (!in.ReadU32(count))
        return {"<bad>"};
    for (quint32 i = 0; i < count; ++i) {
        QString folder;
        quint32 files = 0;
        if (!in.ReadStr(folder) || !in.ReadU32(files))
            return {"<bad>"};
        QStringList records;
        for (quint32 j = 0; j < files; ++j)
            records << SharesPeerFixture::ReadRecord(in);
        folders << folder + ": " + records.join("; ");
    }
    if (!in.ReadU32(names) || names != 0 || !in.AtEnd())
        return {"<bad>"};
    return folders;
}

// A folder-contents body as "token folder: record; record"; "<bad>" when
// it does not read to its end.
QString ReadFolderContents(const QByteArray& compressed)
{
    FakeWire in(FakeWire::Inflate(compressed));
    quint32 token = 0, entries = 0, files = 0, end = 1;
    QString folder, again;
    if (!in.ReadU32(token) || !in.ReadStr(folder) || !in.ReadU32(entries) || entries != 1 || !in.ReadStr(again) ||
        again != folder || !in.ReadU32(files))
        return "<bad>";
    QStringList records;
    for (quint32 j = 0; j < files; ++j)
        records << SharesPeerFixture::ReadRecord(in);
    if (!in.ReadU32(end) || end != 0 || !in.AtEnd())
        return "<bad>";
    return QString("%1 %2: %3").arg(token).arg(folder, records.join("; "));
}
} // namespace

// Share lists (4 to 5), folder contents (36 to 37) and the counts the
// server hears at each login, through real peer messaging and a real
// server connection.
class TestShareLists : public QObject
{
    Q_OBJECT

    SharesPeerFixture* f = nullptr;
    FakePeerLink* link = nullptr;

    QString Rec(const QString& name, int size, const QString& extension = "", const QString& attributes = "")
    {
        return QString("%1|%2|%3|%4").arg(name).arg(size).arg(extension, attributes);
    }

private slots:
    void init()
    {
        f = new SharesPeerFixture;
        f->net.server->SetUserStats("me", 777, 0, 0, 0);
        QVERIFY(f->Start());
        link = f->LinkedPeer("peer");
        QVERIFY(link);

        f->WriteFile("Public/Band A/Help.mp3", 1000);
        f->WriteFile("Public/Band A/b.txt", 2);
        QDir().mkpath(f->Path("Public/Empty"));
        f->WriteFile("Hidden/x.txt", 3);
        f->Share("Public").NewItem("shared_public");
        f->Share("Hidden");
        ItemPtr help = f->manager->GetSharedFileItem(f->Path("Public/Band A/Help.mp3"));
        QVERIFY(help);
        help += d.GetType("bitrate")->GetItem("192");
        help += d.GetType("bitrate_mode")->GetItem("vbr");
    }

    void cleanup()
    {
        delete f;
        f = nullptr;
    }

    void shareListsHoldWhatTheAskerMaySee()
    {
        link->SendMessage(4, {});
        QVERIFY(link->WaitForMessages(1));
        QCOMPARE(link->messages[0].first, 5u);
        // Folders and names in byte order, "\" between components, an empty
        // folder with no files, audio attributes on MP3 files.
        QCOMPARE(ReadShareList(link->messages[0].second),
                 (QStringList{f->Remote("Public") + ": ",
                              f->Remote("Public/Band A") + ": " + Rec("Help.mp3", 1000, "mp3", "0=192,2=1") + "; " +
                                  Rec("b.txt", 2),
                              f->Remote("Public/Empty") + ": "}));
        QVERIFY(f->net.LogText("Shared").contains("Shared file list requested by user peer"));
        const QByteArray stream = link->messages[0].second;
        QCOMPARE(stream, FakeWire::Compress(FakeWire::Inflate(stream)));

        // The same as a structure, as the upload browser takes it.
        FileInfoMap shares;
        AttributeTranslationTable attributes{{1, "kept"}};
        f->manager->GetSharedFilesAsUserShare("peer", shares, attributes);
        QCOMPARE(int(shares.size()), 3);
        QCOMPARE(int(shares.at(f->Remote("Public/Band A").toStdString()).size()), 2);
        QCOMPARE(attributes.size(), size_t(1));

        // A listed friend sees no more: the hidden share admits nobody.
        d.GetType("user")->GetItem("peer").NewItem("in_user_list");
        link->SendMessage(4, {});
        QVERIFY(link->WaitForMessages(2));
        QCOMPARE(ReadShareList(link->messages[1].second).size(), 3);

        // Withdrawn: still an answer, with no folders.
        d.GetType("user")->GetItem("peer").NewItem("unshared");
        link->SendMessage(4, {});
        QVERIFY(link->WaitForMessages(3));
        QCOMPARE(ReadShareList(link->messages[2].second), QStringList());

        // Once the manager is gone, peer messaging answers on its own.
        delete f->manager;
        f->manager = nullptr;
        link->SendMessage(4, {});
        QVERIFY(link->WaitForMessages(4));
        QCOMPARE(ReadShareList(link->messages[3].second), QStringList());
    }

    void aLargeShareListIsAnsweredInSlicesAsAtOnce()
    {
        f->ShareMany(f->Path("Many"), 20, 1000);
        // The same folder under a second share goes once.
        d.GetType("shared_folder")->NewItem(Value(f->Path("Also"))) +=
            d.GetType("shared_file_folder")->HasItem(Value(f->Path("Many/Set 3")));
        const QByteArray atOnce = f->manager->GetSharedFilesMessage("peer").GetBytes().mid(4);

        // The loop turns while the list is gathered (here a thousand files a
        // turn, as on the slowest machine); the turns while it is compressed
        // on the reply thread and sent do not count.
        SlicedJob& pass = f->manager->ShareListPass();
        pass.SetMostSteps(1000);
        int turnsGathering = 0;
        QTimer counter;
        counter.setInterval(0);
        connect(&counter, &QTimer::timeout, [&] { turnsGathering += pass.IsRunning(); });
        counter.start();
        // Asked three times before the answer is out: one answer.
        link->SendMessage(4, {});
        link->SendMessage(4, {});
        link->SendMessage(4, {});
        QVERIFY(link->WaitForMessages(1, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(f->manager->ShareListsWaiting(), 0, 30000);
        counter.stop();
        QVERIFY2(turnsGathering > 1, qPrintable(QString("%1 turns").arg(turnsGathering)));
        QCOMPARE(link->messages.size(), 1);
        QCOMPARE(link->messages[0].first, 5u);
        QCOMPARE(link->messages[0].second, atOnce);
        const QStringList folders = ReadShareList(atOnce);
        QCOMPARE(folders.size(), 3 + 20);
        QCOMPARE(folders.filter(f->Remote("Many/Set 3") + ": ").size(), 1);
        const QString set7 = folders.filter(f->Remote("Many/Set 7") + ": ").value(0);
        QVERIFY2(set7.startsWith(f->Remote("Many/Set 7") + ": " + Rec("many 7 0.ogg", 1000) + "; " +
                                 Rec("many 7 1.mp3", 1001, "mp3") + "; " + Rec("many 7 10.ogg", 1010) + "; "),
                 qPrintable(set7.left(300)));
        QVERIFY(set7.contains("; " + Rec("many 7 5.mp3", 1005, "mp3", "0=133") + "; "));
        QCOMPARE(set7.count("; ") + 1, 1000);

        // Asked again once answered: answered again.
        link->SendMessage(4, {});
        QVERIFY(link->WaitForMessages(2, 30000));
        QCOMPARE(link->messages[1].second, atOnce);
    }

    void manyAskersAreBoundedAndChangesOrTeardownMidAnswerAreSafe()
    {
        // Users beyond the waiting line go unanswered; those in it, in turn.
        for (int i = 0; i < 40; ++i)
            f->manager->AnswerShareList(QString("asker%1").arg(i % 36));
        QCOMPARE(f->manager->ShareListsWaiting(), int(SharedFoldersManager::MaxWaitingShareLists));
        QTRY_COMPARE_WITH_TIMEOUT(f->manager->ShareListsWaiting(), 0, 30000);

        // Taken as the share stood when asked: a file and a share gone, the
        // asker withdrawn meanwhile, after the first slice of the gathering
        // (a hundred steps, as on the slowest machine) and before it reached
        // them; the answer still reads.
        f->ShareMany(f->Path("Many"), 20, 1000);
        f->ShareMany(f->Path("Gone"), 1, 10);
        SlicedJob& pass = f->manager->ShareListPass();
        pass.SetMostSteps(100);
        f->manager->AnswerShareList("peer");
        QVERIFY(pass.IsRunning());
        QCOMPARE(pass.Slices(), 1);
        d.GetType("shared_file_folder")->HasItem(Value(f->Path("Many/Set 7"))).GetItems("shared_file").First().Remove();
        d.GetType("shared_folder")->HasItem(Value(f->Path("Gone"))).Remove();
        d.GetType("user")->GetItem("peer").NewItem("unshared");
        QVERIFY(link->WaitForMessages(1, 30000));
        const QStringList folders = ReadShareList(link->messages[0].second);
        QCOMPARE(folders.size(), 3 + 20);
        QVERIFY(folders.filter("Gone").isEmpty());
        QCOMPARE(folders.filter(f->Remote("Many/Set 7") + ": ")[0].count("; ") + 1, 999);

        // Gone while a list is gathered: nothing calls back into it later,
        // and peer messaging answers on its own again.
        d.GetType("user")->GetItem("peer").GetItems("unshared").Remove();
        f->manager->AnswerShareList("peer");
        QCOMPARE(f->manager->ShareListsWaiting(), 1);
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(pass.IsRunning());
        QCOMPARE(pass.Slices(), 3);
        delete f->manager;
        f->manager = nullptr;
        link->SendMessage(4, {});
        QVERIFY(link->WaitForMessages(2, 30000));
        QCOMPARE(ReadShareList(link->messages[1].second), QStringList());
    }

    void folderContentsOnlyForVisibleFolders()
    {
        const size_t items = d.ItemCount();
        const size_t folders = d.GetType("shared_file_folder")->Count();
        const QString bandA = f->Remote("Public/Band A");
        const QList<QPair<quint32, QString>> requests = {
            {1, bandA},
            {2, bandA.toUpper()},
            {3, bandA + "\\"},
            {4, bandA + "\\..\\Band A"},
            {5, f->Remote("Hidden")},
            {6, "\\etc"},
            {7, "..\\..\\etc"},
            {8, ""},
            {9, f->Remote("Public/Empty")},
        };
        for (const auto& request : requests)
            link->SendMessage(36, FakeWire().U32(request.first).Str(request.second).Bytes());
        // Answers go out in the order of the requests: a last request that
        // is answered comes after anything the others brought.
        link->SendMessage(36, FakeWire().U32(10).Str(f->Remote("Public/Empty")).Bytes());
        QVERIFY(link->WaitForMessages(3));
        QCOMPARE(link->messages.size(), 3);
        QCOMPARE(ReadFolderContents(link->messages[2].second), QString("10 %1: ").arg(f->Remote("Public/Empty")));
        QCOMPARE(link->messages[0].first, 37u);
        // No audio attributes here, not even on MP3 files.
        QCOMPARE(ReadFolderContents(link->messages[0].second),
                 QString("1 %1: %2; %3").arg(bandA, Rec("Help.mp3", 1000), Rec("b.txt", 2)));
        QCOMPARE(ReadFolderContents(link->messages[1].second), QString("9 %1: ").arg(f->Remote("Public/Empty")));

        // The peer's texts made nothing in the store.
        QCOMPARE(d.GetType("shared_file_folder")->Count(), folders);
        QCOMPARE(d.ItemCount(), items);
    }

    void namesDifferingOnlyInCaseAreListedAsTwoFiles()
    {
        f->WriteFile("Public/Twins/A.mp3", 6264);
        f->WriteFile("Public/Twins/a.mp3", 3129);
        QVERIFY(f->Rescan());
        const QString twins = f->Remote("Public/Twins");
        const QString both = Rec("A.mp3", 6264, "mp3") + "; " + Rec("a.mp3", 3129, "mp3");
        link->SendMessage(4, {});
        link->SendMessage(36, FakeWire().U32(5).Str(twins).Bytes());
        QVERIFY(SharesPeerFixture::WaitFor(link, 5, 1) && SharesPeerFixture::WaitFor(link, 37, 1));
        const QStringList list = ReadShareList(SharesPeerFixture::Received(link, 5).at(0));
        QVERIFY2(list.contains(twins + ": " + both), qPrintable(list.join("\n")));
        // Folder contents carry no audio attributes.
        QCOMPARE(ReadFolderContents(SharesPeerFixture::Received(link, 37).at(0)),
                 QString("5 %1: %2; %3").arg(twins, Rec("A.mp3", 6264), Rec("a.mp3", 3129)));
        // A rescan keeps each with its own size.
        QVERIFY(f->Rescan());
        QCOMPARE(f->manager->GetSharedFileItem(f->Path("Public/Twins/a.mp3"))["shared_file_size"].AsInt64(),
                 qint64(3129));
    }

    void countsAreSentAgainWhenTheShareChanges()
    {
        // The login came before the shares: what they hold follows once,
        // not per file.
        auto counts = [this] { return f->net.server->ReceivedMessages(35); };
        QTRY_COMPARE_WITH_TIMEOUT(counts().last().body, FakeWire().U32(4).U32(3).Bytes(), 30000);
        int sent = counts().size();
        QVERIFY(sent <= 3);

        for (int i = 0; i < 300; ++i)
            f->WriteFile(QString("Public/Many/%1.txt").arg(i), 1);
        QVERIFY(f->Rescan());
        QTRY_COMPARE_WITH_TIMEOUT(counts().size(), sent + 1, 30000);
        QCOMPARE(counts().last().body, FakeWire().U32(5).U32(303).Bytes());
        // A rescan that finds nothing new says nothing.
        QVERIFY(f->Rescan());
        QVERIFY(f->ServerCaughtUp());
        QCOMPARE(counts().size(), sent + 1);

        f->WriteFile("Later/l.txt", 1);
        f->Share("Later");
        QTRY_COMPARE_WITH_TIMEOUT(counts().size(), sent + 2, 30000);
        QCOMPARE(counts().last().body, FakeWire().U32(6).U32(304).Bytes());

        // Unsharing, as the Options menu does it.
        d.GetType("shared_folder")->HasItem(Value(f->Path("Public"))).Remove();
        d.RemoveDisconnectedItems();
        QTRY_COMPARE_WITH_TIMEOUT(counts().size(), sent + 3, 30000);
        QCOMPARE(counts().last().body, FakeWire().U32(2).U32(2).Bytes());
        QVERIFY(f->ServerCaughtUp());
        QCOMPARE(counts().size(), sent + 3);
    }

    void countsAndStatisticsAtEachLogin()
    {
        // The login in init came before the shares; their counts followed.
        QCOMPARE(f->net.server->ReceivedMessages(35)[0].body, FakeWire().U32(0).U32(0).Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(f->net.server->ReceivedMessages(35).last().body, FakeWire().U32(4).U32(3).Bytes(),
                                  30000);
        const int sent = f->net.server->ReceivedMessages(35).size();
        QCOMPARE(f->net.server->ReceivedMessages(36).size(), 1);
        QCOMPARE(f->net.server->ReceivedMessages(36)[0].body, FakeWire().Str("me").Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(GetSetting("upload_speed"), QString("777"), 30000);

        f->net.server->SetUserStats("me", 888, 0, 0, 0);
        f->net.client->Disconnect();
        QSignalSpy connected(f->net.client, &Server::Connected);
        f->net.client->Connect();
        QVERIFY(connected.wait(30000));
        // Every folder and file, the hidden share's included.
        QTRY_COMPARE_WITH_TIMEOUT(f->net.server->ReceivedMessages(35).size(), sent + 1, 30000);
        QCOMPARE(f->net.server->ReceivedMessages(35).last().body, FakeWire().U32(4).U32(3).Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(GetSetting("upload_speed"), QString("888"), 30000);
        QCOMPARE(f->net.server->ReceivedMessages(36).size(), 2);
    }
};

QTEST_MAIN(TestShareLists)
#include "TestShareLists.moc"
