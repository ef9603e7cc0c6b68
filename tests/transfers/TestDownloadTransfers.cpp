#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

#include "Data.h"
#include "DownloadPaths.h"
#include "DownloadThread.h"
#include "DownloadsFixture.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "GeneralFunctions.h"
#include "Settings.h"
#include "TransferQueueManager.h"

namespace {
QByteArray Pattern(int size, quint32 seed = 11)
{
    return TempTree::Pattern(size, seed);
}

const int Chunk = 8192;
} // namespace

// Downloads from a fake uploader through the real peer messaging and file
// connections: the whole exchange, resumption, a second connection for a
// running download, a finished file that cannot be moved, and names chosen
// to escape the download folder.
class TestDownloadTransfers : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DownloadsFixture> f;
    QList<ItemPtr> completed;

    // Queue request, offer and acceptance for an entry just added.
    bool Negotiate(FakePeerLink* link, const QString& path, qint64 size, quint32 token, int requests = 1)
    {
        if (!DownloadsFixture::WaitFor(link, 43, requests))
            return false;
        const int responses = DownloadsFixture::Received(link, 41).size();
        DownloadsFixture::Offer(link, token, path, size);
        quint32 answered = 0;
        bool allowed = false;
        QString reason;
        return DownloadsFixture::WaitFor(link, 41, responses + 1) &&
               DownloadsFixture::LastResponse(link, answered, allowed, reason) && answered == token && allowed;
    }
    QString Log() const { return f->net.LogText("Transfer Queue"); }

private slots:
    void init()
    {
        f.reset(new DownloadsFixture);
        QVERIFY(f->Start());
        completed.clear();
        connect(f->engine, &TransferQueueManager::CompleteDownloadAdded, this,
                [this](ItemPtr record) { completed.append(record); });
    }
    void cleanup() { f.reset(); }

    void downloadsAnOfferedFile()
    {
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        const QByteArray content = Pattern(2 * Chunk + 1234);
        QList<qint64> positions;
        connect(f->engine, &TransferQueueManager::DownloadProgressed, this, [&](ItemPtr entry) {
            positions.append(entry["write_position"].AsObject<TransferCounter64>()->load());
        });

        ItemPtr entry = f->engine->AddDownload("uploader", "song.mp3", "music\\albums\\x", content.size(), false, 1);
        QVERIFY(entry);
        QCOMPARE(DownloadsFixture::Status(entry), QString("queued"));
        QVERIFY(DownloadsFixture::WaitFor(link, 43, 1));
        QCOMPARE(DownloadsFixture::Received(link, 43).first(), FakeWire().Str("music\\albums\\x\\song.mp3").Bytes());

        DownloadsFixture::Offer(link, 7001, "music\\albums\\x\\song.mp3", content.size());
        QVERIFY(DownloadsFixture::WaitFor(link, 41, 1));
        // Accepted, and the downloader sends no size.
        QCOMPARE(DownloadsFixture::Received(link, 41).first(), FakeWire().U32(7001).U8(1).Bytes());
        QCOMPARE(DownloadsFixture::Status(entry), QString("queued"));

        FakePeerLink* file = f->OpenFileLink("uploader", 7001);
        QVERIFY(file);
        QCOMPARE(DownloadsFixture::ReadOffset(file), qint64(0));
        file->SendRaw(content);
        QTRY_COMPARE_WITH_TIMEOUT(completed.size(), 1, 30000);
        QVERIFY(file->WaitForClosed());

        QCOMPARE(DownloadsFixture::Status(entry), QString("complete"));
        QCOMPARE(DownloadsFixture::ReadAll(f->Complete("albums/x/song.mp3")), content);
        QVERIFY(!positions.isEmpty());
        QCOMPARE(positions.last(), qint64(content.size()));
        QCOMPARE(f->engine->ActiveDownloadCount(), 0);
        QVERIFY(!entry["download_thread"] && !entry["download_socket"] && !entry["write_position"]);

        // The emptied partial-file folders of the finished folder go; the
        // "downloading" folder itself stays.
        QVERIFY(!QFileInfo::exists(f->Downloading("albums")));
        QVERIFY(QFileInfo(f->DownloadFolder() + "/downloading").isDir());

        const ItemPtr record = completed.first();
        QCOMPARE(record["user"].AsString(), QString("uploader"));
        QCOMPARE(record["complete_download_folder"].AsString(), QString(f->Complete("albums/x")).replace('/', '\\'));
        QCOMPARE(record["complete_download_relative_folder"].AsString(), QString("albums\\x"));
        QCOMPARE(record["complete_download_filename"].AsString(), QString("song.mp3"));
        QCOMPARE(record["complete_download_file_size"].AsInt64(), qint64(content.size()));
        QVERIFY(QDateTime::fromString(record["complete_download_completion_time"].AsString(), Qt::TextDate).isValid());

        // The same file finishing again makes no second record.
        f->engine->RemoveDownload(entry);
        QFile::remove(f->Complete("albums/x/song.mp3"));
        entry = f->engine->AddDownload("uploader", "song.mp3", "music\\albums\\x", content.size(), false, 1);
        QVERIFY(Negotiate(link, "music\\albums\\x\\song.mp3", content.size(), 7002, 2));
        file = f->OpenFileLink("uploader", 7002);
        QVERIFY(file);
        QCOMPARE(DownloadsFixture::ReadOffset(file), qint64(0));
        file->SendRaw(content);
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("complete"), 30000);
        QCOMPARE(completed.size(), 1);
        QCOMPARE(d.GetType("complete_download")->Count(), size_t(1));
    }

    void aNameWithASlashIsAskedForAsListedAndSavedAsOneFile()
    {
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        const QByteArray content = Pattern(Chunk + 5, 9);
        ItemPtr entry = f->engine->AddDownload("uploader", "AC/DC live.mp3", "music\\rock", content.size(), false, 0);
        QVERIFY(entry);
        QVERIFY(Negotiate(link, "music\\rock\\AC/DC live.mp3", content.size(), 7301));
        QCOMPARE(DownloadsFixture::Received(link, 43).first(), FakeWire().Str("music\\rock\\AC/DC live.mp3").Bytes());
        // The uploader's notices about the name find the same download.
        link->SendMessage(44, FakeWire().Str("music\\rock\\AC/DC live.mp3").U32(3).Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(entry["place_in_line"].AsString(), QString("3"), 30000);

        FakePeerLink* file = f->OpenFileLink("uploader", 7301);
        QVERIFY(file);
        QCOMPARE(DownloadsFixture::ReadOffset(file), qint64(0));
        file->SendRaw(content);
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("complete"), 30000);
        QCOMPARE(DownloadsFixture::ReadAll(f->Complete("rock/AC_DC live.mp3")), content);
        QCOMPARE(f->FilesBelow(), QStringList({"dl/complete/rock/AC_DC live.mp3"}));
    }

    void quittingMidDownloadFreesItsWorker()
    {
        // The program quits while a limited download runs: the engine's end
        // stops the thread and frees it with its file, socket and figures,
        // and the download stays as it was saved.
        f->engine->SetDownloadSpeedLimit(2);
        f->engine->EnableDownloadSpeedLimit(true);
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        const QByteArray content = Pattern(64 * Chunk, 4);
        ItemPtr entry = f->engine->AddDownload("uploader", "slow.bin", "x", content.size(), false, 0);
        QVERIFY(Negotiate(link, "x\\slow.bin", content.size(), 7501));
        FakePeerLink* file = f->OpenFileLink("uploader", 7501);
        QVERIFY(file);
        QCOMPARE(DownloadsFixture::ReadOffset(file), qint64(0));
        file->SendRaw(content);
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("downloading"), 30000);
        QPointer<DownloadThread> thread(entry["download_thread"].AsObject<DownloadThread>());
        QPointer<QFile> partial(entry["download_file"].AsObject<QFile>());
        QPointer<QTcpSocket> socket(entry["download_socket"].AsObject<QTcpSocket>());
        QVERIFY(thread && partial && socket && entry["write_position"]);

        delete f->engine;
        f->engine = nullptr;
        QVERIFY(thread.isNull());
        QVERIFY(partial.isNull());
        QVERIFY(socket.isNull());
        QVERIFY(!entry["write_position"] && !entry["bytes_per_second"] && !entry["last_receipt_time"]);
        QCOMPARE(DownloadsFixture::Status(entry), QString("downloading"));
        QVERIFY(file->WaitForClosed());
        QVERIFY(QFileInfo(f->Downloading("x/slow.bin")).size() < content.size());
    }

    void resumesAfterTheLinkIsCut()
    {
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        const QByteArray content = Pattern(12 * Chunk + 77, 3);
        ItemPtr entry = f->engine->AddDownload("uploader", "big.bin", "shared", content.size(), true, 0);
        QVERIFY(Negotiate(link, "shared\\big.bin", content.size(), 7101));

        FakePeerLink* first = f->OpenFileLink("uploader", 7101);
        QVERIFY(first);
        QCOMPARE(DownloadsFixture::ReadOffset(first), qint64(0));
        first->SendRaw(content.left(5 * Chunk));
        first->Close();
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("aborted"), 30000);
        QVERIFY(Log().contains("Error downloading big.bin from uploader. Waiting for data to read failed"));
        QCOMPARE(QFileInfo(f->Downloading("shared/big.bin")).size(), qint64(5 * Chunk));

        // A new offer moves the token: the old one finds nothing any more.
        DownloadsFixture::Offer(link, 7102, "shared\\big.bin", content.size());
        QVERIFY(DownloadsFixture::WaitFor(link, 41, 2));
        FakePeerLink* stale = f->OpenFileLink("uploader", 7101);
        QVERIFY(stale);
        QVERIFY(stale->WaitForClosed());
        QVERIFY(stale->raw.isEmpty());
        QVERIFY(Log().contains("Download not found, aborting"));

        FakePeerLink* second = f->OpenFileLink("uploader", 7102);
        QVERIFY(second);
        QCOMPARE(DownloadsFixture::ReadOffset(second), qint64(5 * Chunk));
        second->SendRaw(content.mid(5 * Chunk));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("complete"), 30000);
        QCOMPARE(DownloadsFixture::ReadAll(f->Complete("shared/big.bin")), content);
        QVERIFY(!QFileInfo::exists(f->Downloading("shared/big.bin")));
        // A single download leaves the folders alone.
        QVERIFY(QFileInfo(f->Downloading("shared")).isDir());
    }

    void aSecondFileConnectionStopsTheFirst()
    {
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        const QByteArray content = Pattern(10 * Chunk, 5);
        ItemPtr entry = f->engine->AddDownload("uploader", "twice.bin", "x", content.size(), false, 0);
        QVERIFY(Negotiate(link, "x\\twice.bin", content.size(), 7201));

        FakePeerLink* first = f->OpenFileLink("uploader", 7201);
        QVERIFY(first);
        QCOMPARE(DownloadsFixture::ReadOffset(first), qint64(0));
        // Part of the file, then the link stays open and silent.
        first->SendRaw(content.left(3 * Chunk));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("downloading"), 30000);

        // The same token again: the running thread is stopped and awaited
        // before the partial file is opened a second time.
        FakePeerLink* second = f->OpenFileLink("uploader", 7201);
        QVERIFY(second);
        const qint64 offset = DownloadsFixture::ReadOffset(second);
        QVERIFY(first->WaitForClosed());
        QVERIFY2(offset >= 0 && offset <= 3 * Chunk && offset % Chunk == 0, qPrintable(QString::number(offset)));
        QCOMPARE(QFileInfo(f->Downloading("x/twice.bin")).size(), offset);
        QVERIFY(Log().contains("Transfer is already downloading, cancelling..."));
        QCOMPARE(f->engine->ActiveDownloadCount(), 1);

        second->SendRaw(content.mid(int(offset)));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("complete"), 30000);
        QCOMPARE(DownloadsFixture::ReadAll(f->Complete("x/twice.bin")), content);
    }

    void aFinishedFileThatCannotBeMovedIsAnError()
    {
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        const QByteArray content = Pattern(Chunk + 5, 9);
        // A folder stands where the finished file should go.
        QVERIFY(QDir().mkpath(f->Complete("x/clash.bin")));
        ItemPtr entry = f->engine->AddDownload("uploader", "clash.bin", "x", content.size(), false, 0);
        QCOMPARE(DownloadsFixture::Status(entry), QString("queued"));
        QVERIFY(Negotiate(link, "x\\clash.bin", content.size(), 7301));

        FakePeerLink* file = f->OpenFileLink("uploader", 7301);
        QVERIFY(file);
        QCOMPARE(DownloadsFixture::ReadOffset(file), qint64(0));
        file->SendRaw(content);
        QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("local error"), 30000);

        QCOMPARE(DownloadsFixture::ReadAll(f->Downloading("x/clash.bin")), content);
        QVERIFY(QFileInfo(f->Complete("x/clash.bin")).isDir());
        QVERIFY(completed.isEmpty());
        QCOMPARE(d.GetType("complete_download")->Count(), size_t(0));
        QVERIFY(Log().contains("Could not move finished file"));
        QCOMPARE(f->engine->ActiveDownloadCount(), 0);
    }

    void peerNamesNeverLeaveTheDownloadFolder()
    {
        // The uploader may start uploads to us on its own.
        SetSetting("accept_userlist_uploads", "yes");
        d.GetType("user")->GetItem(Value("uploader")).NewItem("in_user_list");
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        const QString tag = QString::number(QDateTime::currentMSecsSinceEpoch()) + "-" +
                            QString::number(QCoreApplication::applicationPid());

        // Names that name no file are refused and leave no entry.
        quint32 token = 8000;
        int responses = 0;
        for (const QString& path : {QString(".."), QString("..\\.."), QString("a\\.."), QString("a\\.")}) {
            DownloadsFixture::Offer(link, ++token, path, 10);
            QVERIFY(DownloadsFixture::WaitFor(link, 41, ++responses));
            quint32 answered = 0;
            bool allowed = true;
            QString reason;
            QVERIFY(DownloadsFixture::LastResponse(link, answered, allowed, reason));
            QCOMPARE(answered, token);
            QVERIFY2(!allowed, qPrintable(path));
            QCOMPARE(reason, QString("Cancelled"));
        }
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(0));

        // Names that climb or start at the root are taken apart and land
        // inside; a "/" is part of a name and stays in one file name. The
        // entry keeps what the peer sent.
        const QList<QPair<QString, QString>> offers = {
            {"..\\..\\..\\escape-" + tag, "escape-" + tag},
            {"/tmp/abs-" + tag, "_tmp_abs-" + tag},
            {"sub/../../../up-" + tag, "sub_.._.._.._up-" + tag},
            {"C:\\..\\win-" + tag, "win-" + tag},
            {"x/..", "x_.."},
        };
        QStringList expected;
        for (const auto& offer : offers) {
            const QByteArray content = Pattern(100, token);
            DownloadsFixture::Offer(link, ++token, offer.first, content.size());
            QVERIFY(DownloadsFixture::WaitFor(link, 41, ++responses));
            quint32 answered = 0;
            bool allowed = false;
            QString reason;
            QVERIFY(DownloadsFixture::LastResponse(link, answered, allowed, reason));
            QVERIFY2(allowed, qPrintable(offer.first));
            const auto [folder, name] = DownloadPaths::SplitRemote(offer.first.toStdString());
            ItemPtr entry = f->engine->GetDownloadEntry("uploader", name, folder);
            QVERIFY(entry);
            QCOMPARE(entry["file_name"].AsStdString(), name);

            FakePeerLink* file = f->OpenFileLink("uploader", token);
            QVERIFY(file);
            QCOMPARE(DownloadsFixture::ReadOffset(file), qint64(0));
            file->SendRaw(content);
            QTRY_COMPARE_WITH_TIMEOUT(DownloadsFixture::Status(entry), QString("complete"), 30000);
            QCOMPARE(DownloadsFixture::ReadAll(f->Complete(offer.second)), content);
            expected << "dl/complete/" + offer.second;
        }
        expected.sort();
        QCOMPARE(f->FilesBelow(), expected);
        for (const QString name : {"escape-", "abs-", "up-", "win-"}) {
            QVERIFY(!QFileInfo::exists(QDir::cleanPath(f->Path("../" + name + tag))));
            QVERIFY(!QFileInfo::exists("/tmp/" + name + tag));
        }

        // A share list or search result with such a name queues nothing.
        QVERIFY(!f->engine->AddDownload("uploader", "..", "music", 5, true, 0));
        QVERIFY(!f->engine->AddDownload("uploader", "", "music", 5, false, 0));
        QVERIFY(!f->engine->AddDownload("uploader", ".", "", 5, false, 0));
        const int requests = DownloadsFixture::Received(link, 43).size();
        QVERIFY(f->engine->AddDownload("uploader", "fine.txt", "..\\music", 5, true, 0));
        QVERIFY(DownloadsFixture::WaitFor(link, 43, requests + 1));
        QCOMPARE(DownloadsFixture::Received(link, 43).last(), FakeWire().Str("..\\music\\fine.txt").Bytes());

        // An entry of such a name kept from an older run meets its file
        // connection with a local error, and nothing is written.
        ItemPtr stored = d.GetType("download_entry")->NewItem();
        stored.Connect(d.GetType("user")->GetItem(Value("uploader")));
        stored.Connect(d.GetType("file_name")->NewItem(Value("..")));
        stored.Connect(d.GetType("remote_folder")->NewItem(Value("x")));
        stored.Connect(d.GetType("file_size")->NewItem(Value(10)));
        stored.Connect(d.GetType("remote_transfer_req")->NewItem(Value(9999)));
        f->engine->SetDownloadEntryStatus(stored, "queued");
        FakePeerLink* file = f->OpenFileLink("uploader", 9999);
        QVERIFY(file);
        QVERIFY(file->WaitForClosed());
        QVERIFY(file->raw.isEmpty());
        QCOMPARE(DownloadsFixture::Status(stored), QString("local error"));
        QCOMPARE(f->FilesBelow(), expected);
    }

    void aPartialFileLongerThanTheFileIsNotResumed()
    {
        FakePeerLink* link = f->OnlinePeer("uploader");
        QVERIFY(link);
        QVERIFY(QDir().mkpath(f->Downloading("x")));
        QFile partial(f->Downloading("x/long.bin"));
        QVERIFY(partial.open(QIODevice::WriteOnly));
        partial.write(Pattern(300));
        partial.close();

        ItemPtr entry = f->engine->AddDownload("uploader", "long.bin", "x", 200, false, 0);
        QVERIFY(Negotiate(link, "x\\long.bin", 200, 7401));
        FakePeerLink* file = f->OpenFileLink("uploader", 7401);
        QVERIFY(file);
        QVERIFY(file->WaitForClosed());
        QVERIFY(file->raw.isEmpty());
        QCOMPARE(DownloadsFixture::Status(entry), QString("local error"));
        QCOMPARE(DownloadsFixture::ReadAll(f->Downloading("x/long.bin")), Pattern(300));
        QCOMPARE(f->engine->ActiveDownloadCount(), 0);
    }
};

QTEST_MAIN(TestDownloadTransfers)
#include "TestDownloadTransfers.moc"
