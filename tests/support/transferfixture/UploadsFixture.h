#pragma once

#include <QByteArray>
#include <QString>

#include "ItemPtr.h"
#include "PeerEngineFixture.h"

class FakePeer;
class FakePeerLink;
class SharedFoldersManager;
class TransferQueueManager;
struct TransferRequest;

// The upload side among the real engines it talks through: the client's
// server connection logged in as "me" to the loopback test server, peer
// messaging on 127.0.0.1, the shared-folders manager and the transfer
// engine, with a temporary folder to share and fake peers that ask for
// files.
class UploadsFixture : public PeerEngineFixture
{
public:
    UploadsFixture();
    ~UploadsFixture();
    UploadsFixture(const UploadsFixture&) = delete;
    UploadsFixture& operator=(const UploadsFixture&) = delete;

    // Shares a folder below the temporary folder (made when missing) and
    // scans it; public unless asked otherwise.
    ItemPtr Share(const QString& relative, bool isPublic = true);

    // Waits for a transfer request for the name and reads it.
    static bool WaitForRequest(FakePeerLink* link, const QString& name, TransferRequest& request,
                               int timeout = FakePeerLink::DefaultWaitMs);
    // Waits for the file connection we open to the peer; null on time-out.
    FakePeerLink* WaitForFileLink(const QString& name, int timeout = FakePeerLink::DefaultWaitMs);

    // The user's entry for the requested name, or null.
    static ItemPtr Entry(const QString& user, const QString& requested);
    static QString Status(ItemPtr entry);

    SharedFoldersManager* shares = nullptr;
    TransferQueueManager* engine = nullptr;
};

// Bodies of the messages that a downloader receives from us.
struct TransferRequest
{
    quint32 direction = 0;
    quint32 token = 0;
    QString name;
    quint64 size = 0;
    bool Read(const QByteArray& body);
};

struct Denial
{
    QString name;
    QString reason;
    bool Read(const QByteArray& body);
};
