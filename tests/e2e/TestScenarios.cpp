// The whole program as its users meet it: two and three real clients against
// the standalone test server, each worked only through its window. A scenario
// whose pages are not built yet is skipped, saying which it waits for.
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <csignal>

#include "ClientHome.h"
#include "DataSaver.h"
#include "E2eTestCase.h"
#include "RateTrace.h"

// Drop a scenario's line once the pages it names are in the program.
#define NEEDS(pages) QSKIP("needs " pages)

namespace {

// From an action to a transfer's end on loopback, queue and connections
// included.
const int kTransferMs = 60000;

// A transfer's progress is looked at this often; a pause of the count this
// long is a stand-still, far beyond the tenth of a second in which a
// limited transfer moves a chunk.
const int kLookMs = 20;
const qint64 kStillMs = 500;

// The folder as a client's share list names it.
QString RemoteFolder(const QString& localFolder)
{
    return QString(localFolder).replace('/', '\\');
}

qint64 SizeOf(const QString& path)
{
    return path.isEmpty() ? -1 : QFileInfo(path).size();
}

// A download or upload row: file name and status, as the transfers page
// shows them (the status in lower case, a refusal as its reason).
QString StatusOf(const DrivenClient::Row& row, const QString& file)
{
    const int at = row.cells.indexOf(file);
    return at >= 0 && at + 1 < row.cells.size() ? row.cells[at + 1] : QString();
}

} // namespace

class TestScenarios : public E2eTestCase
{
    Q_OBJECT

private:
    // A user at the Users page adds another user through "Add User".
    static bool AddToUserList(DrivenClient& client, const QString& user)
    {
        return client.Tab("tabControl", "Users") && client.Tab("userListForm/tabWidget", "User List") &&
               client.Click("userList") && client.Action("Add User") && client.WaitWindow("Add User") &&
               client.Type("AddUserDialog/userNameEdit", user) && client.Click("AddUserDialog/addFriendButton") &&
               client.WaitText("AddUserDialog/statusEdit", "User added to list.") &&
               client.Key("AddUserDialog", "Escape") && client.WaitRow("userList", {user});
    }

    // The status the transfers tree shows now for the file; empty when none.
    static QString StatusNow(DrivenClient& client, const QString& tree, const QString& file)
    {
        QList<DrivenClient::Row> rows;
        if (client.Rows(tree, &rows))
            for (const DrivenClient::Row& row : rows)
                if (row.cells.contains(file))
                    return StatusOf(row, file);
        return QString();
    }

    // Waits until the transfers tree shows the file with one of the statuses.
    static bool WaitStatus(DrivenClient& client, const QString& tree, const QString& file, const QStringList& statuses,
                           QString* status = nullptr)
    {
        QString seen;
        const QString what = QString("%1's %2 to show %3 as %4").arg(client.User(), tree, file, statuses.join(" or "));
        const auto shown = [&] { return statuses.contains(seen = StatusNow(client, tree, file)); };
        if (E2eRun::WaitUntil(what, kTransferMs, shown)) {
            if (status)
                *status = seen;
            return true;
        }
        return E2eRun::Fail(E2eRun::Failure() + QString(" (it shows \"%1\")").arg(seen));
    }

    static bool IsChecked(DrivenClient& client, const QString& list, const QString& entry)
    {
        QList<DrivenClient::Row> rows;
        if (client.Rows(list, &rows))
            for (const DrivenClient::Row& row : rows)
                if (row.cells.contains(entry))
                    return row.checked;
        return false;
    }

    // Starts the clients in this order, then waits until each has logged in.
    bool StartAndLogIn(std::initializer_list<DrivenClient*> clients)
    {
        for (DrivenClient* client : clients)
            if (!client->Start())
                return false;
        for (DrivenClient* client : clients)
            if (!Run().WaitForLogin(client->User()))
                return false;
        return true;
    }

    static bool ShowTransfers(DrivenClient& client, const QString& tab)
    {
        return client.Tab("tabControl", "Transfers") && client.Tab("transfersTabControl", tab);
    }

    // bob shares the file in his folder "Jazz", and alice has it queued for
    // her first start.
    static bool ShareAndQueue(DrivenClient& bob, DrivenClient& alice, const QString& name, const QByteArray& bytes)
    {
        const QString folder = bob.Home() + "/Jazz";
        if (!ClientHome::WriteFile(folder + "/" + name, bytes))
            return false;
        bob.Data().ShareFolder(folder);
        alice.Data().AddDownload("bob", RemoteFolder(folder), name, bytes.size());
        return true;
    }

    // bob first, then alice, until her download of the file runs.
    bool StartDownloading(DrivenClient& alice, DrivenClient& bob, const QString& name)
    {
        return bob.Start() && Run().WaitForLogin("bob") && alice.Start() && ShowTransfers(alice, "Downloads") &&
               WaitStatus(alice, "downloadsList", name, {"downloading"});
    }

    // A change to saved data, typed on the Options page.
    static bool Describe(DrivenClient& client, const QString& text)
    {
        return client.Tab("tabControl", "Options") && client.Tab("optionsTabControl", "User Info") &&
               client.Key("userDescriptionEdit", "Ctrl+A") && client.Type("userDescriptionEdit", text) &&
               client.WaitText("userDescriptionEdit", text);
    }

    // The reasons of the failed saves the client wrote to its standard
    // error (its log here), oldest first.
    static QStringList SaveFailures(DrivenClient& client)
    {
        const QString line = "Failure to save configuration data to " + client.Home() + "/.Quorvane: ";
        QStringList reasons;
        for (const QString& logged : QString::fromUtf8(ClientHome::ReadFile(client.LogFile())).split('\n'))
            if (logged.startsWith(line) && logged.endsWith('.'))
                reasons << logged.mid(line.size()).chopped(1);
        return reasons;
    }

    static QStringList DataFiles(DrivenClient& client)
    {
        QStringList files;
        for (const auto& file : DataSaver::DataFiles(client.Home() + "/.Quorvane"))
            files << file.second;
        return files;
    }

private slots:
    // alice searches, finds bob's file, double-clicks it; it arrives whole,
    // complete in her downloads and finished in bob's uploads.
    void aSearchedFileIsDownloadedByDoubleClick()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        const QByteArray bytes = ClientHome::SampleBytes(900 * 1024 + 17);
        QVERIFY(ClientHome::WriteFile(bob.Home() + "/Jazz/take five.ogg", bytes));
        bob.Data().ShareFolder(bob.Home() + "/Jazz");
        STEP(bob.Start());
        STEP(alice.Start());
        STEP(Run().WaitForLogin("bob"));
        STEP(Run().WaitForLogin("alice"));

        STEP(alice.Tab("tabControl", "Search"));
        STEP(alice.Type("searchEdit", "take five"));
        STEP(alice.Key("searchEdit", "Return"));
        STEP(alice.WaitItem("searchTabControl", "take five"));
        STEP(alice.WaitRow("searchResultsTreeWidget", {"take five.ogg"}, 30000));
        STEP(alice.RowDoubleClick("searchResultsTreeWidget", {"take five.ogg"}));

        STEP(ShowTransfers(alice, "Downloads"));
        STEP(WaitStatus(alice, "downloadsList", "take five.ogg", {"complete"}));
        const QString arrived = ClientHome::FindFile(alice.DownloadFolder() + "/complete", "take five.ogg");
        QVERIFY2(ClientHome::ReadFile(arrived) == bytes, qPrintable("not the shared bytes: " + arrived));
        STEP(ShowTransfers(bob, "Uploads"));
        STEP(WaitStatus(bob, "uploadsList", "take five.ogg", {"complete"}));
    }

    // alice browses bob's share and downloads a whole folder; every file
    // keeps its whole path below the folder, however deep, and what bob's
    // queue limit refuses shows bob's reason.
    void aBrowsedFolderIsDownloadedWithItsSubfolders()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        // Thirteen files in three levels, against a queue limit of ten. The
        // folders are queued parents first, so the limit falls on the
        // deepest folder's last files, and never on all six of them.
        const QString album = bob.Home() + "/Albums/Blue Train";
        QStringList files;
        for (int i = 1; i <= 13; ++i) {
            const QString folder = i <= 5 ? "" : i <= 7 ? "Bonus/" : "Bonus/Extra/";
            files << folder + QString("%1 take.ogg").arg(i, 2, 10, QChar('0'));
        }
        QList<QByteArray> contents;
        for (int i = 0; i < files.size(); ++i) {
            contents << ClientHome::SampleBytes(20 * 1024 + i, quint32(i + 1));
            QVERIFY(ClientHome::WriteFile(album + "/" + files[i], contents.last()));
        }
        bob.Data().ShareFolder(bob.Home() + "/Albums");
        // bob's uploads crawl at 1 KiB/s until the refusals show, so that
        // his queue holds every request alice makes however slowly her
        // client comes to make them: a file is seconds on its way.
        bob.Data().SetSetting("upload_speed_limit", "1");
        bob.Data().SetSetting("upload_speed_limit_enabled", "yes");
        STEP(bob.Start());
        STEP(alice.Start());
        STEP(Run().WaitForLogin("bob"));
        STEP(Run().WaitForLogin("alice"));

        // bob lets nobody queue more than ten files at a time.
        STEP(bob.Tab("tabControl", "Options"));
        STEP(bob.Tab("optionsTabControl", "File Sharing"));
        STEP(bob.Click("maxUploadsPerUserCheckBox"));
        STEP(bob.WaitChecked("maxUploadsPerUserCheckBox", true));
        STEP(bob.Key("maxUploadsPerUserSpinBox", "Ctrl+A"));
        STEP(bob.Type("maxUploadsPerUserSpinBox", "10"));
        STEP(bob.Key("maxUploadsPerUserSpinBox", "Return"));
        STEP(bob.WaitText("maxUploadsPerUserSpinBox", "10"));

        STEP(AddToUserList(alice, "bob"));
        STEP(alice.Menu("userList", {"bob"}));
        STEP(alice.Pick("Browse user's files"));
        STEP(alice.WaitText("tabControl", "Browse"));
        STEP(alice.WaitRow("SharesForm/folderTree", {"Blue Train"}));
        STEP(alice.Menu("SharesForm/folderTree", {"Blue Train"}));
        STEP(alice.Pick("Download Folder"));

        // One upload starts, ten wait in bob's queue, the rest are refused
        // with bob's reason; a refused download may be asked for again
        // later, so the refusals are counted as they show.
        STEP(ShowTransfers(alice, "Downloads"));
        QStringList refused;
        const auto countRefused = [&] {
            QList<DrivenClient::Row> rows;
            if (alice.Rows("downloadsList", &rows))
                for (const DrivenClient::Row& row : rows)
                    for (const QString& file : files)
                        if (StatusOf(row, QFileInfo(file).fileName()) == "too many files" && !refused.contains(file))
                            refused << file;
            return !refused.isEmpty();
        };
        STEP(E2eRun::WaitUntil("a download refused with bob's reason", DrivenClient::kShowMs, countRefused));
        STEP(ShowTransfers(bob, "Uploads"));
        STEP(bob.Click("uploadLimitCheckBox"));
        STEP(bob.WaitChecked("uploadLimitCheckBox", false));
        int deepest = 0;
        for (int i = 0; i < files.size(); ++i) {
            if (refused.contains(files[i]))
                continue;
            const QString name = QFileInfo(files[i]).fileName();
            QString status;
            STEP(WaitStatus(alice, "downloadsList", name, {"complete", "too many files"}, &status));
            countRefused();
            if (status != "complete")
                continue;
            const QString arrived = ClientHome::FindFile(alice.DownloadFolder() + "/complete", name);
            QVERIFY2(arrived.endsWith("Blue Train/" + files[i]), qPrintable(arrived));
            QVERIFY2(ClientHome::ReadFile(arrived) == contents[i], qPrintable("not the shared bytes: " + arrived));
            deepest += files[i].startsWith("Bonus/Extra/");
        }
        QVERIFY2(refused.size() <= 3, qPrintable(refused.join(", ")));
        QVERIFY(deepest >= 3);
    }

    // alice and bob chat in a room and privately; the logs hold the lines;
    // carol joins the room and sees both in its user list.
    void roomAndPrivateChatReachTheOthersAndTheLogs()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        DrivenClient& carol = Run().AddClient("carol");
        for (DrivenClient* client : {&alice, &bob})
            client->Data().SetSetting("log_private_chat", "yes");
        STEP(alice.Start());
        STEP(bob.Start());
        STEP(Run().WaitForLogin("alice"));
        STEP(Run().WaitForLogin("bob"));

        const QString room = "roomsTabControl/tab=late night jazz/";
        STEP(alice.Tab("tabControl", "Rooms"));
        STEP(alice.Click("roomList"));
        STEP(alice.Action("Create Room"));
        STEP(alice.WaitWindow("Create Room"));
        STEP(alice.Type("CreateRoomDialog/roomNameEdit", "late night jazz"));
        STEP(alice.Click("CreateRoomDialog/createRoomButton"));
        STEP(alice.WaitItem("roomsTabControl", "late night jazz"));

        STEP(bob.Tab("tabControl", "Rooms"));
        STEP(bob.Click("roomList"));
        STEP(bob.Action("Refresh Room List"));
        STEP(bob.WaitRow("roomList", {"late night jazz"}));
        STEP(bob.RowDoubleClick("roomList", {"late night jazz"}));
        STEP(bob.WaitItem("roomsTabControl", "late night jazz"));

        STEP(alice.Type(room + "chatEdit", "anyone for Coltrane?"));
        STEP(alice.Key(room + "chatEdit", "Return"));
        STEP(bob.WaitTextContaining(room + "chatView", "anyone for Coltrane?"));
        STEP(bob.Type(room + "chatEdit", "always"));
        STEP(bob.Key(room + "chatEdit", "Return"));
        STEP(alice.WaitTextContaining(room + "chatView", "always"));
        STEP(E2eRun::WaitUntil("alice's room log to hold both lines", DrivenClient::kShowMs, [&] {
            const QByteArray log = ClientHome::ReadFile(alice.Home() + "/Quorvane Chat Logs/Rooms/late night jazz.log");
            return log.contains("anyone for Coltrane?") && log.contains("always");
        }));

        STEP(carol.Start());
        STEP(Run().WaitForLogin("carol"));
        STEP(carol.Tab("tabControl", "Rooms"));
        STEP(carol.Click("roomList"));
        STEP(carol.Action("Refresh Room List"));
        STEP(carol.WaitRow("roomList", {"late night jazz"}));
        STEP(carol.RowDoubleClick("roomList", {"late night jazz"}));
        STEP(carol.WaitItem("roomsTabControl", "late night jazz"));
        STEP(carol.WaitRow(room + "userList", {"alice"}));
        STEP(carol.WaitRow(room + "userList", {"bob"}));
        STEP(alice.WaitRow(room + "userList", {"carol"}));

        // A private word: alice double-clicks bob in the room's user list.
        STEP(alice.RowDoubleClick(room + "userList", {"bob"}));
        STEP(alice.WaitText("tabControl", "Chat"));
        STEP(alice.Type("chatTabControl/tab=bob/chatEdit", "your copy of Blue Train?"));
        STEP(alice.Key("chatTabControl/tab=bob/chatEdit", "Return"));
        STEP(bob.Tab("tabControl", "Chat"));
        STEP(bob.WaitItem("chatTabControl", "alice"));
        STEP(bob.WaitTextContaining("chatTabControl/tab=alice/chatView", "your copy of Blue Train?"));
        STEP(E2eRun::WaitUntil("alice's private log with bob to hold her line", DrivenClient::kShowMs, [&] {
            return ClientHome::ReadFile(alice.Home() + "/Quorvane Chat Logs/Users/bob.log")
                .contains("your copy of Blue Train?");
        }));
        STEP(E2eRun::WaitUntil("bob's private log with alice to hold her line", DrivenClient::kShowMs, [&] {
            return ClientHome::ReadFile(bob.Home() + "/Quorvane Chat Logs/Users/alice.log")
                .contains("your copy of Blue Train?");
        }));
    }

    // bob's client dies mid-transfer; alice's entry shows the failure and,
    // once bob is back, resumes from the partial file to the whole file.
    void aTransferCutByAKilledUploaderResumesFromThePartialFile()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        const QString name = "a love supreme.ogg";
        const QByteArray bytes = ClientHome::SampleBytes(3 * 1024 * 1024 + 5, 7u);
        QVERIFY(ShareAndQueue(bob, alice, name, bytes));
        // Slow enough to be caught half way.
        bob.Data().SetSetting("upload_speed_limit", "400");
        bob.Data().SetSetting("upload_speed_limit_enabled", "yes");
        STEP(StartDownloading(alice, bob, name));
        const QString partial = alice.DownloadFolder() + "/downloading";
        qint64 cut = 0;
        STEP(E2eRun::WaitUntil("a third of the file to arrive", kTransferMs, [&] {
            cut = SizeOf(ClientHome::FindFile(partial, name));
            return cut >= bytes.size() / 3;
        }));
        STEP(bob.Kill());
        STEP(WaitStatus(alice, "downloadsList", name, {"aborted", "queued"}));
        cut = SizeOf(ClientHome::FindFile(partial, name));
        QVERIFY(cut < bytes.size());

        // bob is back: the download goes on from where it stood.
        STEP(bob.Start());
        STEP(Run().WaitForLogin("bob", 2));
        qint64 smallest = cut;
        STEP(E2eRun::WaitUntil("the download to finish", kTransferMs, [&] {
            const qint64 size = SizeOf(ClientHome::FindFile(partial, name));
            if (size >= 0)
                smallest = qMin(smallest, size);
            return StatusNow(alice, "downloadsList", name) == "complete";
        }));
        QVERIFY2(smallest >= cut, qPrintable(QString("the partial file shrank from %1 to %2").arg(cut).arg(smallest)));
        const QString arrived = ClientHome::FindFile(alice.DownloadFolder() + "/complete", name);
        QVERIFY2(ClientHome::ReadFile(arrived) == bytes, qPrintable("not the shared bytes: " + arrived));
    }

    // bob lists alice; the next half-minute tick saves it, so a crash just
    // after loses nothing: his next start shows her on his list.
    void aUserListedBeforeAKillIsListedAfterTheRestart()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        STEP(alice.Start());
        STEP(bob.Start());
        STEP(Run().WaitForLogin("alice"));
        STEP(Run().WaitForLogin("bob"));
        STEP(AddToUserList(bob, "alice"));
        STEP(bob.Request({"tick"}));
        STEP(E2eRun::WaitUntil("bob's data file to hold alice", DrivenClient::kShowMs, [&] {
            const auto files = DataSaver::DataFiles(bob.Home() + "/.Quorvane");
            return !files.empty() && ClientHome::ReadFile(files.front().second).contains("alice");
        }));
        STEP(bob.Kill());

        STEP(bob.Start());
        STEP(Run().WaitForLogin("bob", 2));
        STEP(bob.Tab("tabControl", "Users"));
        STEP(bob.Tab("userListForm/tabWidget", "User List"));
        STEP(bob.WaitRow("userList", {"alice"}));
    }

    // bob quits while his home cannot be written: a dialog says why and
    // offers to try again or to quit without saving. Tried again once the
    // folder can be written, the run's change is saved; given up, the run
    // ends with a failing status; ended by a signal, with no one to ask, it
    // says why in its log and asks nothing.
    void aSaveThatFailsAtQuitIsToldAndTheUserChooses()
    {
        DrivenClient& bob = Run().AddClient("bob");
        // His home is a link, so that it can name a folder not even root
        // may write to.
        const QString home = bob.Home();
        QVERIFY(QDir().rename(home, home + "-real") && QFile::link(home + "-real", home));
        const auto homeIn = [&](const QString& folder) { return QFile::remove(home) && QFile::link(folder, home); };
        const QString box = "@modal/qt_msgbox_label";
        int status = -1;

        STEP(bob.Start());
        STEP(Describe(bob, "kept by the second try"));
        QVERIFY(homeIn("/proc"));
        STEP(bob.Request({"quit"}));
        STEP(bob.WaitTextContaining(box, "could not be saved to " + home + "/.Quorvane: "));
        const QStringList reasons = SaveFailures(bob);
        QCOMPARE(reasons.size(), 1);
        QVERIFY(!reasons[0].isEmpty());
        STEP(bob.WaitTextContaining(box, reasons[0]));
        // Still unwritable: asked again.
        STEP(bob.Click("@modal/text=Try Again"));
        STEP(E2eRun::WaitUntil("a second failure in bob's log", DrivenClient::kShowMs,
                               [&] { return SaveFailures(bob).size() == 2; }));
        STEP(bob.WaitTextContaining(box, "could not be saved"));
        const QStringList before = DataFiles(bob);
        QVERIFY(homeIn(home + "-real"));
        STEP(bob.Click("@modal/text=Try Again"));
        STEP(bob.WaitForExit(&status));
        QCOMPARE(status, 0);
        const QStringList after = DataFiles(bob);
        QVERIFY(!after.isEmpty() && !before.contains(after.front()));
        QVERIFY(ClientHome::ReadFile(after.front()).contains("kept by the second try"));

        // Given up: nothing is written, and the status says the run ended
        // unsaved.
        STEP(bob.Start());
        STEP(Describe(bob, "lost with the run"));
        QVERIFY(homeIn("/proc"));
        STEP(bob.Request({"quit"}));
        STEP(bob.WaitTextContaining(box, "could not be saved"));
        STEP(bob.Click("@modal/text=Quit Without Saving"));
        STEP(bob.WaitForExit(&status));
        QCOMPARE(status, 1);
        QVERIFY(homeIn(home + "-real"));
        QCOMPARE(DataFiles(bob), after);

        // A quit by signal: no one to ask, so the reason goes to the log.
        STEP(bob.Start());
        QVERIFY(homeIn("/proc"));
        STEP(bob.Signal(SIGTERM));
        STEP(bob.WaitForExit(&status));
        QCOMPARE(status, 1);
        QVERIFY(homeIn(home + "-real"));
        QCOMPARE(SaveFailures(bob).size(), 4);
    }

    // bob's newest data file is damaged: his client starts from the one
    // before and tells him, without waiting for him, which file it set
    // aside and when the one it started from was saved.
    void aDamagedNewestDataFileIsSetAsideAndTold()
    {
        DrivenClient& bob = Run().AddClient("bob");
        STEP(bob.Start());
        STEP(Run().WaitForLogin("bob"));
        STEP(bob.Quit());
        const auto files = DataSaver::DataFiles(bob.Home() + "/.Quorvane");
        QVERIFY(!files.empty());
        const QString damaged = bob.Home() + "/.Quorvane." + QString::number(files.front().first + 1000);
        QVERIFY(ClientHome::WriteFile(damaged, "QVDF cut short by a crash"));

        STEP(bob.Start());
        const QString notice = "@window=Damaged configuration data/qt_msgbox_label";
        STEP(bob.WaitTextContaining(notice, damaged + ".unreadable"));
        STEP(bob.WaitTextContaining(
            notice, QDateTime::fromMSecsSinceEpoch(files.front().first).toString("yyyy-MM-dd hh:mm:ss")));
        QVERIFY(QFile::exists(damaged + ".unreadable"));
        // The window goes on working beside it.
        STEP(Run().WaitForLogin("bob", 2));
        STEP(bob.Tab("tabControl", "Options"));
    }

    // bob limits his uploads to 200 KiB/s on the transfers page. alice's
    // download never runs ahead of that limit, and keeps to it while it
    // moves, though alice's client and then bob's stop for a while, as on a
    // machine busy with other work.
    void anUploadSpeedLimitHoldsForTheDownloader()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        const QString name = "giant steps.ogg";
        const QByteArray bytes = ClientHome::SampleBytes(5 * 1024 * 1024, 11u);
        QVERIFY(ShareAndQueue(bob, alice, name, bytes));
        STEP(bob.Start());
        STEP(Run().WaitForLogin("bob"));

        STEP(ShowTransfers(bob, "Uploads"));
        STEP(bob.Key("uploadLimitSpinBox", "Ctrl+A"));
        STEP(bob.Type("uploadLimitSpinBox", "200"));
        STEP(bob.Key("uploadLimitSpinBox", "Return"));
        // Choosing a speed switches the limit on.
        STEP(bob.WaitChecked("uploadLimitCheckBox", true));

        // What alice has of the file, looked at all the time from here on:
        // nothing has moved yet, and the limit is in force.
        const qint64 limit = 200 * 1024;
        QElapsedTimer clock;
        clock.start();
        RateTrace trace(clock.elapsed(), 0);
        const auto arrived = [&] {
            for (const QString folder : {"/downloading", "/complete"}) {
                const QString file = ClientHome::FindFile(alice.DownloadFolder() + folder, name);
                if (!file.isEmpty())
                    return SizeOf(file);
            }
            return qint64(-1);
        };
        const auto look = [&] {
            const qint64 from = clock.elapsed();
            // Looked for twice, as a file whole at last may move on between
            // the folders' looks.
            qint64 size = arrived();
            if (size < 0)
                size = arrived();
            trace.Add(from, qMax<qint64>(0, size), clock.elapsed());
        };
        // Until the download has moved a further so many seconds of the
        // limit, ending on a look that saw it move; a whole file ends it too.
        const auto moving = [&](const QString& what, int seconds) {
            const qint64 until = trace.Moved() + seconds * limit;
            return E2eRun::WaitUntil(
                what, kTransferMs,
                [&] {
                    look();
                    return trace.Moved() >= bytes.size() || (trace.Moved() >= until && trace.JustMoved());
                },
                kLookMs);
        };
        STEP(alice.Start());
        STEP(moving("three seconds of the download", 3));
        const qint64 stillAtFirst = trace.StillMs(kStillMs);
        STEP(alice.StopFor(2500, look));
        STEP(moving("three more seconds after alice went on", 3));
        const qint64 stillAfterAlice = trace.StillMs(kStillMs);
        STEP(bob.StopFor(2500, look));
        STEP(moving("three more seconds after bob went on", 3));
        const qint64 still = trace.StillMs(kStillMs);

        // A ceiling from the moment the limit was set, over every time from
        // then: whoever stopped, bob's client has not sent more than the
        // limit allows since, and alice's cannot have more than he sent.
        // Bytes that paced steps let go before their time is slept off are
        // a chunk at most, a tenth of a second of the limit: a quarter of a
        // second leaves room. A stretch that begins later is no measure of
        // the limit: it may hold what waited in the buffers between them
        // while alice's client stood, and the spare allowance of up to a
        // second that bob's may keep for what it could not send while it
        // stood.
        const RateTrace::Excess most = trace.MostAbove(limit);
        QVERIFY2(most.bytes <= limit / 4,
                 qPrintable(QString("%1 KiB had arrived %2 s after the limit was set, %3 KiB more than 200 KiB/s "
                                    "allows")
                                .arg(most.at.bytes / 1024)
                                .arg(most.at.toMs / 1000.0, 0, 'f', 1)
                                .arg(most.bytes / 1024)));
        // Each stop stood the download still: alice's client read nothing,
        // then bob's sent nothing once what was on its way had arrived.
        QVERIFY2(stillAfterAlice - stillAtFirst >= 2000,
                 qPrintable(QString("alice's stop stood it still %1 ms").arg(stillAfterAlice - stillAtFirst)));
        QVERIFY2(still - stillAfterAlice >= 1000,
                 qPrintable(QString("bob's stop stood it still %1 ms").arg(still - stillAfterAlice)));
        // A floor while it moved: the time it stood still is left out, and
        // with it what came at once when it moved again.
        const double kibPerSecond = trace.SteadyBytesPerSecond(kStillMs) / 1024;
        QVERIFY2(kibPerSecond >= 190,
                 qPrintable(QString("%1 KiB/s while it moved steadily, against a limit of 200; it stood still %2 s "
                                    "of %3 s")
                                .arg(kibPerSecond, 0, 'f', 1)
                                .arg(still / 1000.0, 0, 'f', 1)
                                .arg(trace.ElapsedMs() / 1000.0, 0, 'f', 1)));
    }

    // alice types a download limit of 1000 over 2000 a key at a time, so
    // that her download runs a while at 1 KiB/s, then switches the limit
    // off: the rest of the file comes at full speed, not at what the
    // passing low limit left of her connection.
    void aDownloadLimitTypedThroughOneAndThenSwitchedOffLeavesFullSpeed()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        const QString name = "blue in green.ogg";
        // At what a crippled connection moves over loopback, below 100 KiB/s,
        // this takes minutes; at full speed, moments.
        const QByteArray bytes = ClientHome::SampleBytes(24 * 1024 * 1024, 13u);
        QVERIFY(ShareAndQueue(bob, alice, name, bytes));
        alice.Data().SetSetting("download_speed_limit", "2000");
        alice.Data().SetSetting("download_speed_limit_enabled", "yes");
        STEP(StartDownloading(alice, bob, name));

        const QString partial = alice.DownloadFolder() + "/downloading";
        STEP(alice.Key("downloadLimitSpinBox", "Ctrl+A"));
        STEP(alice.Type("downloadLimitSpinBox", "1"));
        // At 1 KiB/s the partial file stands still for seconds at a time.
        qint64 seen = -1;
        QElapsedTimer still;
        STEP(E2eRun::WaitUntil("the download to slow to 1 KiB/s", kTransferMs, [&] {
            const qint64 size = SizeOf(ClientHome::FindFile(partial, name));
            if (size != seen) {
                seen = size;
                still.start();
            }
            return still.elapsed() >= 2000;
        }));
        QVERIFY2(seen < bytes.size(), "the file was whole before the limit took effect");
        STEP(alice.Type("downloadLimitSpinBox", "000"));
        STEP(alice.Key("downloadLimitSpinBox", "Tab"));
        STEP(alice.WaitText("downloadLimitSpinBox", "1000"));
        STEP(alice.Click("downloadLimitCheckBox"));
        STEP(alice.WaitChecked("downloadLimitCheckBox", false));

        STEP(WaitStatus(alice, "downloadsList", name, {"complete"}));
        const QString arrived = ClientHome::FindFile(alice.DownloadFolder() + "/complete", name);
        QVERIFY2(ClientHome::ReadFile(arrived) == bytes, qPrintable("not the shared bytes: " + arrived));
    }

    // alice accepts uploads from a group she puts bob in; bob pushes a folder
    // to her from his upload browser.
    void anUploadPushedFromTheUploadBrowserIsAccepted()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        const QString gifts = bob.Home() + "/Gifts";
        const QStringList files = {"mixtape side A.ogg", "mixtape side B.ogg"};
        QList<QByteArray> contents;
        for (int i = 0; i < files.size(); ++i) {
            contents << ClientHome::SampleBytes(300 * 1024 + i, quint32(20 + i));
            QVERIFY(ClientHome::WriteFile(gifts + "/" + files[i], contents.last()));
        }
        bob.Data().ShareFolder(gifts);
        STEP(StartAndLogIn({&alice, &bob}));

        // alice: bob into a new group "friends" that accepts uploads.
        STEP(AddToUserList(alice, "bob"));
        STEP(alice.Menu("userList", {"bob"}));
        STEP(alice.Pick("Set user's groups"));
        STEP(alice.WaitWindow("User Groups for [bob]"));
        STEP(alice.Type("UserGroupsDialog/newGroupEdit", "friends"));
        STEP(alice.Click("UserGroupsDialog/newGroupButton"));
        STEP(alice.WaitRow("UserGroupsDialog/groupListWidget", {"friends"}));
        if (!IsChecked(alice, "UserGroupsDialog/groupListWidget", "friends")) {
            STEP(alice.RowClick("UserGroupsDialog/groupListWidget", {"friends"}));
            STEP(alice.Key("UserGroupsDialog/groupListWidget", "Space"));
        }
        STEP(E2eRun::WaitUntil("bob to be in the group \"friends\"", DrivenClient::kShowMs,
                               [&] { return IsChecked(alice, "UserGroupsDialog/groupListWidget", "friends"); }));
        STEP(alice.Key("UserGroupsDialog", "Escape"));
        STEP(alice.WaitRow("userList", {"bob", "friends"}));
        STEP(alice.Click("userList"));
        STEP(alice.Action("Configure User Groups"));
        STEP(alice.WaitWindow("Configure User Groups"));
        STEP(alice.RowClick("UserGroupConfigDialog/groupList", {"friends"}));
        STEP(alice.Click("UserGroupConfigDialog/acceptUploadsCheckBox"));
        STEP(alice.WaitChecked("UserGroupConfigDialog/acceptUploadsCheckBox", true));
        STEP(alice.Key("UserGroupConfigDialog", "Escape"));

        // bob: the folder, from the upload browser of alice.
        STEP(AddToUserList(bob, "alice"));
        STEP(bob.Menu("userList", {"alice"}));
        STEP(bob.Pick("Upload to user"));
        STEP(bob.WaitText("tabControl", "Browse"));
        STEP(bob.WaitItem("SharesForm/tabControl", "Upload to alice"));
        STEP(bob.RowDoubleClick("UploadForm/folderTree", {"Gifts"}));

        STEP(ShowTransfers(bob, "Uploads"));
        STEP(ShowTransfers(alice, "Downloads"));
        for (int i = 0; i < files.size(); ++i) {
            STEP(WaitStatus(alice, "downloadsList", files[i], {"complete"}));
            STEP(WaitStatus(bob, "uploadsList", files[i], {"complete"}));
            const QString arrived = ClientHome::FindFile(alice.DownloadFolder() + "/complete", files[i]);
            QVERIFY2(ClientHome::ReadFile(arrived) == contents[i], qPrintable("not the pushed bytes: " + arrived));
        }
    }

    // bob's picture is a one-pixel GIF on a screen of 10,000 x 4,000 pixels,
    // which would be decoded whole: alice sees his description and, in place
    // of the picture, why it is left out.
    void anOversizedPictureOfAnotherUserIsLeftOutWithANotice()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        const QString picture = bob.Home() + "/me.gif";
        QVERIFY(ClientHome::WriteFile(
            picture, QByteArray::fromHex("4749463839611027a00f800000000000ffffff2c00000000010001000002024401003b")));
        bob.Data().SetSetting("user_picture_file", picture);
        bob.Data().SetSetting("user_description", "Hello from bob");
        STEP(StartAndLogIn({&alice, &bob}));

        STEP(AddToUserList(alice, "bob"));
        STEP(alice.Menu("userList", {"bob"}));
        STEP(alice.Pick("Get User Info"));
        STEP(alice.WaitTextContaining("userInfoText", "Hello from bob"));
        STEP(alice.WaitTextContaining("userInfoText", "The picture is left out"));
    }
};

QTEST_GUILESS_MAIN(TestScenarios)

#include "TestScenarios.moc"
