#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include "ItemPtr.h"
#include "PeerFixture.h"

class FakePeer;
class FakePeerLink;
class SharedFoldersManager;
class TransferQueueManager;

// The download side among the real engines it talks through: the client's
// server connection logged in as "me" to the loopback test server, peer
// messaging on 127.0.0.1, the shared-folders manager and the transfer
// engine, with the download folder in a temporary folder and fake peers
// that upload to us.
class DownloadsFixture
{
public:
    DownloadsFixture();
    ~DownloadsFixture();
    DownloadsFixture(const DownloadsFixture&) = delete;
    DownloadsFixture& operator=(const DownloadsFixture&) = delete;

    // Logs in, listens and points "download_folder" below the temporary
    // folder; true once all of it is done.
    bool Start();

    // A fake peer, logged in and reported online to us, with a message
    // connection that it opened and that we have registered; null when any
    // of it fails.
    FakePeerLink* OnlinePeer(const QString& name);
    FakePeer* Peer(const QString& name) const;

    // The uploader's transfer request (40) for a remote path.
    static void Offer(FakePeerLink* link, quint32 token, const QString& path, qint64 size, quint32 direction = 1);
    // A file connection from the peer that opens with the transfer token;
    // null when it does not come up.
    FakePeerLink* OpenFileLink(const QString& name, quint32 token);
    // The 8-byte start offset we answer on a file link; -1 when none came.
    static qint64 ReadOffset(FakePeerLink* link);

    // The messages of one code that a link received, oldest first.
    static QList<QByteArray> Received(FakePeerLink* link, quint32 code);
    // Waits until the link has received count messages of the code.
    static bool WaitFor(FakePeerLink* link, quint32 code, int count, int timeout = 5000);
    // The last transfer response (41) received: allowed, and the reason
    // when refused; false when there is none or it does not parse.
    static bool LastResponse(FakePeerLink* link, quint32& token, bool& allowed, QString& reason);

    ItemPtr Entry(const QString& user, const QString& folder, const QString& name) const;
    static QString Status(ItemPtr entry);

    // The temporary folder and the download folder below it.
    QString Path(const QString& relative) const;
    QString DownloadFolder() const { return Path("dl"); }
    QString Downloading(const QString& relative) const { return DownloadFolder() + "/downloading/" + relative; }
    QString Complete(const QString& relative) const { return DownloadFolder() + "/complete/" + relative; }
    static QByteArray ReadAll(const QString& path);
    // Every file below the temporary folder, relative to it.
    QStringList FilesBelow() const;

    PeerFixture net;
    SharedFoldersManager* shares = nullptr;
    TransferQueueManager* engine = nullptr;

private:
    QTemporaryDir m_dir;
};
