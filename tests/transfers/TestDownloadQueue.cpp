#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "Data.h"
#include "DownloadsFixture.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeriodicDuties.h"
#include "Settings.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TransferQueueManager.h"

namespace {
QString Ago(int seconds)
{
    return PeriodicDuties::Format(QDateTime::currentDateTime().addSecs(-seconds));
}

QDateTime UserTime(const QString& user, const char* type)
{
    return PeriodicDuties::Parse(d.GetType("user")->HasItem(Value(user))[type].AsString());
}

void SetUserTime(const QString& user, const char* type, const QString& text)
{
    d.GetType("user")->GetItem(Value(user)).Connect(d.GetType(type)->NewItem(Value(text)));
}

// The remote paths of the place-in-line requests (51) a link received.
QStringList PlaceRequests(FakePeerLink* link)
{
    QStringList paths;
    for (const QByteArray& body : DownloadsFixture::Received(link, 51)) {
        FakeWire in(body);
        QString path;
        if (in.ReadStr(path) && in.AtEnd())
            paths << path;
    }
    return paths;
}

QByteArray Path(const QString& path)
{
    return FakeWire().Str(path).Bytes();
}
} // namespace

// The download queue and its negotiation seen from the uploader's side,
// and the half-minute duties driven by the shared tick.
class TestDownloadQueue : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DownloadsFixture> f;

    // Offers a path and returns the answer's reason ("" when accepted, "?"
    // when no answer came).
    QString Answer(FakePeerLink* link, quint32 token, const QString& path, qint64 size, quint32 direction = 1)
    {
        const int before = DownloadsFixture::Received(link, 41).size();
        DownloadsFixture::Offer(link, token, path, size, direction);
        quint32 answered = 0;
        bool allowed = false;
        QString reason;
        if (!DownloadsFixture::WaitFor(link, 41, before + 1) ||
            !DownloadsFixture::LastResponse(link, answered, allowed, reason) || answered != token)
            return "?";
        return allowed ? QString() : reason;
    }
    QString Log() const { return f->net.LogText("Transfer Queue"); }

private slots:
    void init()
    {
        f.reset(new DownloadsFixture);
        QVERIFY(f->Start());
    }
    void cleanup() { f.reset(); }

    void addingFindsOrQueues()
    {
        // An offline user: queued, nothing sent, place-in-line requests
        // held back a little (ten seconds, stored in whole seconds).
        const QDateTime added = QDateTime::currentDateTime();
        ItemPtr first = f->engine->AddDownload("away", "a.txt", "docs", 10, true, 0);
        QVERIFY(first);
        QCOMPARE(DownloadsFixture::Status(first), QString("queued"));
        QCOMPARE(first["download_order"].AsInt64(), qint64(1));
        QVERIFY(first.IsConnected("single_download"));
        const QDateTime held = UserTime("away", "next_place_in_line_request_time");
        QVERIFY2(held > added.addSecs(9) && held <= QDateTime::currentDateTime().addSecs(10),
                 qPrintable(held.toString()));
        QVERIFY(d.GetType("user")->HasItem(Value("away")).IsConnected("is_tracked"));

        // The same user, folder and name give the same entry and use no
        // order number; another folder is another download.
        QCOMPARE(f->engine->AddDownload("away", "a.txt", "docs", 99, false, 3), first);
        QCOMPARE(first["file_size"].AsInt64(), qint64(10));
        QCOMPARE(GetSetting("transfer_order_counter"), QString("2"));
        ItemPtr second = f->engine->AddDownload("away", "a.txt", "docs\\old", 10, false, 0);
        QVERIFY(second && second != first);
        QCOMPARE(second["download_order"].AsInt64(), qint64(2));
        QCOMPARE(f->engine->GetDownloadEntry("other", "a.txt", "docs"), ItemPtr());

        // A finished file of at least the announced size is complete at
        // once; one byte short is not.
        QVERIFY(QDir().mkpath(f->Complete("music")));
        QFile done(f->Complete("music/b.mp3"));
        QVERIFY(done.open(QIODevice::WriteOnly) && done.write(QByteArray(100, 'b')) == 100);
        done.close();
        QCOMPARE(DownloadsFixture::Status(f->engine->AddDownload("away", "b.mp3", "music", 100, false, 0)),
                 QString("complete"));
        QCOMPARE(DownloadsFixture::Status(f->engine->AddDownload("away", "b.mp3", "x\\music", 101, false, 0)),
                 QString("queued"));

        d.GetType("excluded_download_extension")->GetItem(Value(".ini"));
        QVERIFY(f->engine->HasExcludedDownloadExtension("setup\\DESKTOP.INI"));
        QVERIFY(!f->engine->HasExcludedDownloadExtension("setup\\desktop.ini.txt"));
    }

    void theUploaderDeniesFailsAndIsRetried()
    {
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        ItemPtr entry = f->engine->AddDownload("uploader", "f.bin", "dir", 50, false, 0);
        QVERIFY(DownloadsFixture::WaitFor(link, 43, 1));

        // Place in line: the latest report stands; unknown files are
        // ignored.
        link->SendMessage(44, FakeWire().Str("dir\\f.bin").U32(5).Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(entry["place_in_line"].AsInt(), 5, 30000);
        link->SendMessage(44, FakeWire().Str("dir\\other.bin").U32(9).Bytes());
        link->SendMessage(44, FakeWire().Str("dir\\f.bin").U32(3).Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(entry["place_in_line"].AsInt(), 3, 30000);

        // A failed upload is asked for again while the user is online, and
        // the status stays.
        link->SendMessage(46, Path("dir\\f.bin"));
        QVERIFY(DownloadsFixture::WaitFor(link, 43, 2));
        QCOMPARE(DownloadsFixture::Status(entry), QString("queued"));
        QVERIFY(Log().contains("User uploader appears to still be online, re-queueing dir\\f.bin"));

        link->SendMessage(50, FakeWire().Str("dir\\f.bin").Str("Too many files").Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("denied"), 30000);
        QCOMPARE(entry["denial_reason"].AsString(), QString("Too many files"));

        // The user coming online again skips a denied download...
        f->engine->RequeueUserDownloads(d.GetType("user")->HasItem(Value("uploader")));
        QCOMPARE(DownloadsFixture::Status(entry), QString("denied"));
        // ...a retry does not.
        f->engine->RequeueDownload(entry);
        QCOMPARE(DownloadsFixture::Status(entry), QString("queued"));
        QVERIFY(DownloadsFixture::WaitFor(link, 43, 3));
        QCOMPARE(DownloadsFixture::Received(link, 43).last(), Path("dir\\f.bin"));

        // An offer overrides an earlier refusal and keeps the status until
        // the file connection comes.
        link->SendMessage(50, FakeWire().Str("dir\\f.bin").Str("Banned").Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("denied"), 30000);
        QCOMPARE(Answer(link, 501, "dir\\f.bin", 50), QString());
        QCOMPARE(DownloadsFixture::Status(entry), QString("denied"));
        QCOMPARE(entry["remote_transfer_req"].AsUInt(), 501u);

        // Removed: an offer for it is cancelled, and the partial file stays.
        QVERIFY(QDir().mkpath(f->Downloading("dir")));
        QFile partial(f->Downloading("dir/f.bin"));
        QVERIFY(partial.open(QIODevice::WriteOnly) && partial.write("abc", 3) == 3);
        partial.close();
        f->engine->RemoveDownload(entry);
        QVERIFY(!f->engine->GetDownloadEntry("uploader", "f.bin", "dir"));
        QCOMPARE(Answer(link, 502, "dir\\f.bin", 50), QString("Cancelled"));
        QCOMPARE(QFileInfo(f->Downloading("dir/f.bin")).size(), qint64(3));

        // Complete downloads are refused as such; the other direction is
        // handed to the upload queue.
        QVERIFY(QDir().mkpath(f->Complete("done")));
        QFile finished(f->Complete("done/g.bin"));
        QVERIFY(finished.open(QIODevice::WriteOnly) && finished.write("12345", 5) == 5);
        finished.close();
        ItemPtr complete = f->engine->AddDownload("uploader", "g.bin", "done", 5, false, 0);
        QCOMPARE(DownloadsFixture::Status(complete), QString("complete"));
        QCOMPARE(Answer(link, 503, "done\\g.bin", 5), QString("Complete"));
        QVERIFY(!complete["remote_transfer_req"]);
        QCOMPARE(Answer(link, 504, "done\\g.bin", 5, 0), QString("Queued"));

        // Notices about files we never queued change nothing.
        link->SendMessage(50, FakeWire().Str("nowhere\\x").Str("No").Bytes());
        link->SendMessage(46, Path("nowhere\\y"));
        QTRY_VERIFY_WITH_TIMEOUT(Log().count("Download not found.") == 2, 30000);
    }

    void aLargeQueueIsAskedForAgainInOrderOverSeveralTurns()
    {
        FakePeerLink* link = f->OnlinePeer("many");
        QVERIFY(link);
        QList<ItemPtr> entries;
        QList<QByteArray> paths;
        for (int i = 0; i < 700; ++i) {
            const QString name = QString("f%1.bin").arg(i, 3, 10, QChar('0'));
            entries << f->engine->AddDownload("many", name.toStdString(), "dir", 50, false, 0);
            paths << Path("dir\\" + name);
        }
        QVERIFY(DownloadsFixture::WaitFor(link, 43, 700));
        QCOMPARE(DownloadsFixture::Received(link, 43), paths);
        for (const ItemPtr& entry : entries)
            f->engine->SetDownloadEntryStatus(entry, "aborted");
        f->engine->SetDownloadEntryStatus(entries[10], "denied");

        auto queued = [&] {
            int count = 0;
            for (const ItemPtr& entry : entries)
                count += DownloadsFixture::Status(entry) == "queued";
            return count;
        };
        // A slice of at most 300 steps a turn: the downloads are put in
        // order in the first, asked for in the later ones.
        SlicedJob& requests = f->engine->DownloadRequestJob();
        requests.SetMostSteps(300);
        f->engine->RequeueUserDownloads(d.GetType("user")->HasItem(Value("many")));
        QCOMPARE(requests.Slices(), 1);
        QVERIFY(requests.IsRunning());
        QCOMPARE(queued(), 0);
        // One removed while it waits is never asked for.
        f->engine->RemoveDownload(entries[650]);
        entries.removeAt(650);
        const QList<int> steps = SliceTrace::StepsUntilDone(requests);
        QVERIFY2(steps.size() >= 5 && !steps.contains(-1), qPrintable(QString::number(steps.size())));
        QCOMPARE(queued(), 698);
        QCOMPARE(DownloadsFixture::Status(entries[10]), QString("denied"));
        QList<QByteArray> again = paths;
        again.removeAt(650);
        again.removeAt(10);
        QVERIFY(DownloadsFixture::WaitFor(link, 43, 700 + 698));
        QCOMPARE(DownloadsFixture::Received(link, 43).mid(700), again);
    }

    void theHalfMinuteRoundOverALargeQueueGoesASliceATurnEachRequestOnceInOrder()
    {
        FakePeerLink* link = f->OnlinePeer("sharer");
        QVERIFY(link);
        const int files = 2000;
        QList<QByteArray> paths;
        for (int i = 0; i < files; ++i) {
            const QString name = QString("f%1.bin").arg(i, 4, 10, QChar('0'));
            f->engine->AddDownload("sharer", name.toStdString(), "dir", 50, false, 0);
            paths << Path("dir\\" + name);
        }
        QVERIFY(DownloadsFixture::WaitFor(link, 43, files));
        SlicedJob& requests = f->engine->DownloadRequestJob();
        requests.SetMostSteps(100);
        // What the peer got after what it got before, once the engine has
        // nothing more to send: a last request of our own closes the list.
        ItemPtr last = f->Entry("sharer", "dir", "f0000.bin");
        const auto after = [&](quint32 code, int before, int count) {
            if (!QTest::qWaitFor([&] { return !requests.IsRunning(); }, 60000))
                return QList<QByteArray>({"still running"});
            if (code == 43)
                f->engine->QueueDownloadIfUserOnline(last);
            else
                f->engine->RequestDownloadPlaceInLine(last);
            if (!DownloadsFixture::WaitFor(link, code, before + count + 1, 60000))
                return QList<QByteArray>({"too few came"});
            const QList<QByteArray> received = DownloadsFixture::Received(link, code).mid(before);
            return received.last() == paths.first() ? received.mid(0, received.size() - 1)
                                                    : QList<QByteArray>({"more came"});
        };

        // The first tick renews every queue request. A tick meanwhile starts
        // no second round; a download removed meanwhile is never asked for.
        // The round's users, the user's downloads put in order (one step
        // more for each 64 sorted) and asked for: 6,000 steps, at most 100
        // a turn.
        const auto spread = [&](const QList<int>& steps) {
            return steps.size() >= 3 * files / 100 && !steps.contains(-1) &&
                   *std::max_element(steps.begin(), steps.end()) <= 100 + files / 64;
        };
        f->net.Tick();
        QCOMPARE(requests.Slices(), 1);
        QVERIFY(requests.IsRunning());
        f->net.Tick();
        f->engine->RemoveDownload(f->Entry("sharer", "dir", "f1500.bin"));
        QVERIFY(spread(SliceTrace::StepsUntilDone(requests)));
        QList<QByteArray> expected = paths;
        expected.removeAt(1500);
        QCOMPARE(after(43, files, expected.size()), expected);

        // Half a minute on, their places in line.
        SetUserTime("sharer", "next_place_in_line_request_time", Ago(1));
        f->net.Tick();
        QVERIFY(requests.IsRunning());
        f->net.Tick();
        QVERIFY(spread(SliceTrace::StepsUntilDone(requests)));
        QCOMPARE(after(51, 0, expected.size()), expected);
    }

    void usersMayStartUploadsOnlyWhenAllowed()
    {
        FakePeerLink* stranger = f->OnlinePeer("stranger");
        FakePeerLink* listed = f->OnlinePeer("listed");
        FakePeerLink* grouped = f->OnlinePeer("grouped");
        QVERIFY(stranger && listed && grouped);
        ItemPtr listedUser = d.GetType("user")->GetItem(Value("listed"));
        listedUser.NewItem("in_user_list");
        ItemPtr groupedUser = d.GetType("user")->GetItem(Value("grouped"));
        ItemPtr group = d.GetType("user_list_group")->GetItem(Value("friends"));
        groupedUser.NewItem("in_user_list").Connect(group);

        QCOMPARE(Answer(stranger, 1, "a\\x.bin", 10), QString("Cancelled"));
        QCOMPARE(Answer(listed, 1, "a\\x.bin", 10), QString("Cancelled"));
        QCOMPARE(Answer(grouped, 1, "a\\x.bin", 10), QString("Cancelled"));
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(0));

        // Everyone on the user list.
        SetSetting("accept_userlist_uploads", "yes");
        QCOMPARE(Answer(listed, 2, "a\\x.bin", 10), QString());
        ItemPtr entry = f->engine->GetDownloadEntry("listed", "x.bin", "a");
        QVERIFY(entry);
        QCOMPARE(DownloadsFixture::Status(entry), QString("queued"));
        QCOMPARE(entry["subfolder_save_level"].AsInt(), 0);
        QCOMPARE(entry["file_size"].AsInt64(), qint64(10));
        QVERIFY(!entry.IsConnected("single_download"));
        QCOMPARE(Answer(stranger, 2, "a\\x.bin", 10), QString("Cancelled"));

        // Only members of a group that accepts uploads.
        SetSetting("accept_userlist_uploads", "no");
        QCOMPARE(Answer(listed, 3, "a\\z.bin", 10), QString("Cancelled"));
        QCOMPARE(Answer(grouped, 3, "a\\x.bin", 10), QString("Cancelled"));
        group.NewItem("accept_uploads");
        QCOMPARE(Answer(grouped, 4, "a\\x.bin", 10), QString());
        QCOMPARE(Answer(listed, 4, "a\\z.bin", 10), QString("Cancelled"));

        // Both uploaders use token 7: each file connection finds its own
        // user's entry.
        QCOMPARE(Answer(listed, 7, "a\\x.bin", 10), QString());
        QCOMPARE(Answer(grouped, 7, "a\\x.bin", 10), QString());
        FakePeerLink* fromListed = f->OpenFileLink("listed", 7);
        QVERIFY(fromListed);
        QCOMPARE(DownloadsFixture::ReadOffset(fromListed), qint64(0));
        QCOMPARE(DownloadsFixture::Status(entry), QString("downloading"));
        QCOMPARE(DownloadsFixture::Status(f->engine->GetDownloadEntry("grouped", "x.bin", "a")), QString("queued"));

        // Asked to download a peer's file (60): only allowed users are heard,
        // and the stranger gets no answer at all.
        stranger->SendMessage(60, FakeWire().Str("b\\y.bin").U64(20).Bytes());
        // Answered only after the request before it on the same link.
        QCOMPARE(Answer(stranger, 5, "c\\w.bin", 10), QString("Cancelled"));
        grouped->SendMessage(60, FakeWire().Str("b\\y.bin").U64(20).Bytes());
        QVERIFY(DownloadsFixture::WaitFor(grouped, 43, 1));
        QCOMPARE(DownloadsFixture::Received(grouped, 43).last(), Path("b\\y.bin"));
        QVERIFY(f->engine->GetDownloadEntry("grouped", "y.bin", "b"));
        QVERIFY(!f->engine->GetDownloadEntry("stranger", "y.bin", "b"));
        QVERIFY(DownloadsFixture::Received(stranger, 43).isEmpty());
    }

    void theHalfMinuteRenewsRequests()
    {
        FakePeerLink* busy = f->OnlinePeer("busy");
        FakePeerLink* waiting = f->OnlinePeer("waiting");
        QVERIFY(busy && waiting);
        // Queued downloads, added out of name order; one complete, one denied.
        ItemPtr third = f->engine->AddDownload("waiting", "3.bin", "q", 10, false, 0);
        ItemPtr first = f->engine->AddDownload("waiting", "1.bin", "q", 10, false, 0);
        ItemPtr denied = f->engine->AddDownload("waiting", "2.bin", "q", 10, false, 0);
        f->engine->SetDownloadEntryStatus(denied, "denied");
        QVERIFY(DownloadsFixture::WaitFor(waiting, 43, 3));
        ItemPtr running = f->engine->AddDownload("busy", "r.bin", "q", 10, false, 0);
        f->engine->AddDownload("busy", "s.bin", "q", 10, false, 0);
        f->engine->SetDownloadEntryStatus(running, "downloading");
        QVERIFY(DownloadsFixture::WaitFor(busy, 43, 2));
        f->engine->AddDownload("gone", "g.bin", "q", 10, false, 0);

        // Nothing is due yet: every user was asked just now or is held back.
        for (const char* user : {"busy", "waiting"}) {
            SetUserTime(user, "last_queue_request_time", Ago(0));
            SetUserTime(user, "next_place_in_line_request_time", Ago(-60));
        }
        f->net.Tick();
        f->net.Tick();
        QVERIFY(PlaceRequests(waiting).isEmpty());

        // Place-in-line requests for the queued downloads, in queue order,
        // then not again for ten minutes.
        const QString due = Ago(1);
        for (const char* user : {"busy", "waiting", "gone"})
            SetUserTime(user, "next_place_in_line_request_time", due);
        const QDateTime ticked = QDateTime::currentDateTime();
        f->net.Tick();
        const QDateTime afterTick = QDateTime::currentDateTime();
        QTRY_COMPARE_WITH_TIMEOUT(PlaceRequests(waiting), QStringList({"q\\3.bin", "q\\1.bin"}), 30000);
        const QDateTime next = UserTime("waiting", "next_place_in_line_request_time");
        const int interval = PeriodicDuties::PlaceInLineIntervalSeconds;
        QVERIFY2(next > ticked.addSecs(interval - 1) && next <= afterTick.addSecs(interval),
                 qPrintable(next.toString()));
        f->net.Tick();
        // Neither the user with a running download nor the offline one was
        // asked.
        auto text = [](const char* user, const char* type) {
            return d.GetType("user")->HasItem(Value(user))[type].AsString();
        };
        QCOMPARE(text("busy", "next_place_in_line_request_time"), due);
        QCOMPARE(text("gone", "next_place_in_line_request_time"), due);

        // Ten minutes after the last queue request the queued and denied-less
        // downloads are requested again, in queue order.
        const QString old = Ago(601);
        SetUserTime("waiting", "last_queue_request_time", old);
        SetUserTime("busy", "last_queue_request_time", old);
        SetUserTime("gone", "last_queue_request_time", old);
        const int before = DownloadsFixture::Received(waiting, 43).size();
        const QDateTime requested = QDateTime::currentDateTime();
        f->net.Tick();
        const QDateTime afterRequest = QDateTime::currentDateTime();
        QVERIFY(DownloadsFixture::WaitFor(waiting, 43, before + 2));
        const QList<QByteArray> requests = DownloadsFixture::Received(waiting, 43).mid(before);
        QCOMPARE(requests, QList<QByteArray>({Path("q\\3.bin"), Path("q\\1.bin")}));
        QCOMPARE(DownloadsFixture::Status(denied), QString("denied"));
        const QDateTime asked = UserTime("waiting", "last_queue_request_time");
        QVERIFY2(asked > requested.addSecs(-1) && asked <= afterRequest, qPrintable(asked.toString()));
        QCOMPARE(text("busy", "last_queue_request_time"), old);
        QCOMPARE(text("gone", "last_queue_request_time"), old);
        QCOMPARE(DownloadsFixture::Received(busy, 43).size(), 2);
        QVERIFY(DownloadsFixture::Received(busy, 51).isEmpty());
        // The tick after the place-in-line requests sent none again.
        QCOMPARE(PlaceRequests(waiting).size(), 2);
        Q_UNUSED(first);
        Q_UNUSED(third);
    }

    void theHalfMinuteEndsStalledUploadNegotiations()
    {
        QVERIFY(f->OnlinePeer("leech") && f->OnlinePeer("next"));
        // Files of a public share: an upload starts only while its file is shared.
        ItemPtr shared = d.GetType("shared_folder")->GetItem("/music");
        shared.NewItem("shared_public");
        ItemPtr folder = d.GetType("shared_file_folder")->GetItem("/music");
        folder.Connect(shared);
        auto upload = [folder](const QString& name, const QString& status, const QString& changed,
                               const QString& user = "leech") {
            ItemPtr file = d.GetType("shared_file")->NewItem();
            file.Connect(d.GetType("shared_file_name")->NewItem(Value(name)));
            file.Connect(folder);
            ItemPtr entry = d.GetType("upload_entry")->NewItem();
            entry.Connect(d.GetType("user")->GetItem(Value(user)));
            entry.Connect(file);
            entry.Connect(d.GetType("filename_as_requested")->NewItem(Value("music\\" + name)));
            entry.Connect(d.GetType("upload_entry_status")->NewItem(Value(status)));
            entry.Connect(d.GetType("last_status_change_time")->NewItem(Value(changed)));
            return entry;
        };
        ItemPtr fresh = upload("fresh.mp3", "connecting", Ago(20));
        ItemPtr stalled = upload("stalled.mp3", "connecting", Ago(31));
        ItemPtr asking = upload("asking.mp3", "requesting", Ago(45));
        ItemPtr offset = upload("offset.mp3", "waiting for offset", Ago(40));
        ItemPtr moving = upload("moving.mp3", "uploading", Ago(3600));
        ItemPtr queued = upload("queued.mp3", "queued", Ago(3600), "next");
        queued.Connect(d.GetType("effective_upload_order")->NewItem(Value(0)));
        // Two uploads keep running, so one slot is free only after a time-out.
        SetSetting("upload_slots", "3");

        f->net.Tick();
        QCOMPARE(fresh["upload_entry_status"].AsString(), QString("connecting"));
        QCOMPARE(stalled["upload_entry_status"].AsString(), QString("aborted"));
        QCOMPARE(asking["upload_entry_status"].AsString(), QString("aborted"));
        QCOMPARE(offset["upload_entry_status"].AsString(), QString("aborted"));
        QCOMPARE(moving["upload_entry_status"].AsString(), QString("uploading"));
        QVERIFY(Log().contains("Upload of stalled.mp3 to leech timed out in connecting phase, aborting"));
        QVERIFY(Log().contains("Upload of asking.mp3 to leech timed out in requesting phase, aborting"));
        QVERIFY(Log().contains("Upload of offset.mp3 to leech timed out in waiting for offset phase, aborting"));
        // The slot that freed up goes to the queued upload.
        QCOMPARE(queued["upload_entry_status"].AsString(), QString("requesting"));
    }

    void finishingUploadsEndsTheEventLoop()
    {
        // The program's own event loop, ended by the duty or, when the duty
        // leaves it running, with 7 by a call the turn after it.
        auto runTick = [this] {
            QTimer after;
            after.setSingleShot(true);
            connect(&after, &QTimer::timeout, [] { QCoreApplication::exit(7); });
            QTimer::singleShot(0, f->engine, [this, &after] {
                f->engine->EveryHalfMinute();
                after.start(0);
            });
            return QCoreApplication::exec();
        };
        QCOMPARE(runTick(), 7);

        // No upload changed its status in this run.
        SetRuntimeSetting("finish_uploads_and_quit", "yes");
        QCOMPARE(runTick(), 0);

        SetRuntimeSetting("last_upload_state_change", Ago(10));
        QCOMPARE(runTick(), 7);
        SetRuntimeSetting("last_upload_state_change", Ago(301));
        QCOMPARE(runTick(), 0);

        // A queued upload keeps the program running.
        ItemPtr entry = d.GetType("upload_entry")->NewItem();
        entry.Connect(d.GetType("user")->GetItem(Value("someone")));
        entry.Connect(d.GetType("upload_entry_status")->NewItem(Value("queued")));
        QCOMPARE(runTick(), 7);
    }

    void folderRemovalStaysInsideTheDownloadFolder()
    {
        // Nothing below the download folder but empty folders, and an empty
        // chain above it.
        const QString root = f->Path("outer/inner/dl");
        QVERIFY(QDir().mkpath(root + "/downloading/b"));
        SetSetting("download_folder", root);
        ItemPtr entry = d.GetType("download_entry")->NewItem();
        entry.Connect(d.GetType("user")->GetItem(Value("u")));
        entry.Connect(d.GetType("file_name")->NewItem(Value("f")));
        entry.Connect(d.GetType("remote_folder")->NewItem(Value("..\\..\\..\\b")));
        entry.Connect(d.GetType("subfolder_save_level")->NewItem(Value(6)));
        f->engine->SetDownloadEntryStatus(entry, "complete");
        // The climbing components are left out of the local folder.
        QCOMPARE(f->engine->GetDownloadTargetFolder(entry, false), QString(root + "/downloading/b").replace('/', '\\'));

        f->engine->RemoveDownloadDownloadingFolderIfAppropriate(entry);
        QVERIFY(!QFileInfo::exists(root + "/downloading"));
        QVERIFY(QFileInfo(root).isDir());
        QVERIFY(QFileInfo(f->Path("outer/inner")).isDir());

        // A download of the same remote folder that is not complete keeps
        // the folders.
        QVERIFY(QDir().mkpath(root + "/downloading/b"));
        ItemPtr other = f->engine->AddDownload("v", "g", "..\\..\\..\\b", 5, false, 6);
        QCOMPARE(DownloadsFixture::Status(other), QString("queued"));
        f->engine->RemoveDownloadDownloadingFolderIfAppropriate(entry);
        QVERIFY(QFileInfo(root + "/downloading/b").isDir());
    }

    void timerTestLogsTheDelay()
    {
        f->engine->StartTimerTest();
        QTRY_VERIFY_WITH_TIMEOUT(f->net.LogText("Timer Test").contains(" milliseconds behind schedule"), 30000);
        QVERIFY(f->net.LogText("Timer Test").contains(QRegularExpression("Timeout: -?\\d+ milliseconds")));
    }
};

QTEST_MAIN(TestDownloadQueue)
#include "TestDownloadQueue.moc"
