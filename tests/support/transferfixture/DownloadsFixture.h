#pragma once

#include <QByteArray>
#include <QString>

#include "ItemPtr.h"
#include "PeerEngineFixture.h"

class FakePeer;
class FakePeerLink;
class SharedFoldersManager;
class TransferQueueManager;

// The download side among the real engines it talks through: the client's
// server connection logged in as "me" to the loopback test server, peer
// messaging on 127.0.0.1, the shared-folders manager and the transfer
// engine, with the download folder in a temporary folder and fake peers
// that upload to us.
class DownloadsFixture : public PeerEngineFixture
{
public:
    DownloadsFixture();
    ~DownloadsFixture();
    DownloadsFixture(const DownloadsFixture&) = delete;
    DownloadsFixture& operator=(const DownloadsFixture&) = delete;

    // Logs in, listens and points "download_folder" below the temporary
    // folder; true once all of it is done.
    bool Start();

    // The uploader's transfer request (40) for a remote path.
    static void Offer(FakePeerLink* link, quint32 token, const QString& path, qint64 size, quint32 direction = 1);
    // A file connection from the peer that opens with the transfer token;
    // null when it does not come up. The static form serves any fixture
    // whose peer messaging downloads (the views' as well).
    FakePeerLink* OpenFileLink(const QString& name, quint32 token) { return OpenFileLink(*this, name, token); }
    static FakePeerLink* OpenFileLink(PeerEngineFixture& fixture, const QString& name, quint32 token);
    // The 8-byte start offset we answer on a file link; -1 when none came.
    static qint64 ReadOffset(FakePeerLink* link);

    // The last transfer response (41) received: allowed, and the reason
    // when refused; false when there is none or it does not parse.
    static bool LastResponse(FakePeerLink* link, quint32& token, bool& allowed, QString& reason);

    ItemPtr Entry(const QString& user, const QString& folder, const QString& name) const;
    static QString Status(ItemPtr entry);

    // The download folder below the temporary folder.
    QString DownloadFolder() const { return Path("dl"); }
    QString Downloading(const QString& relative) const { return DownloadFolder() + "/downloading/" + relative; }
    QString Complete(const QString& relative) const { return DownloadFolder() + "/complete/" + relative; }

    SharedFoldersManager* shares = nullptr;
    TransferQueueManager* engine = nullptr;
};
