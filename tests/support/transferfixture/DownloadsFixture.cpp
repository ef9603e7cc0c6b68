#include "DownloadsFixture.h"

#include <QTest>

#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "TransferQueueManager.h"

DownloadsFixture::DownloadsFixture()
{
    // In the order the main window makes them.
    shares = new SharedFoldersManager;
    engine = new TransferQueueManager;
}

DownloadsFixture::~DownloadsFixture()
{
    // Running downloads end as the user's removal ends them, which frees
    // their threads, files and sockets; then removing the items frees the
    // remaining values while the engine is there.
    // A test may have ended the engine itself, as quitting does.
    if (engine)
        for (const ItemPtr& entry : d.GetType("download_entry")->GetItems())
            engine->RemoveDownload(entry);
    d.RemoveAllItems();
    delete engine;
    delete shares;
}

bool DownloadsFixture::Start()
{
    if (!PeerEngineFixture::Start())
        return false;
    SetSetting("download_folder", DownloadFolder());
    return true;
}

void DownloadsFixture::Offer(FakePeerLink* link, quint32 token, const QString& path, qint64 size, quint32 direction)
{
    link->SendMessage(40, FakeWire().U32(direction).U32(token).Str(path).U64(quint64(size)).Bytes());
}

FakePeerLink* DownloadsFixture::OpenFileLink(PeerEngineFixture& fixture, const QString& name, quint32 token)
{
    FakePeer* fake = fixture.Peer(name);
    static quint32 connectionToken = 100;
    FakePeerLink* link = fake ? fake->Greet(fixture.net.peer->ListeningPort(), false, "F", ++connectionToken) : nullptr;
    if (link)
        link->SendRaw(FakeWire().U32(token).Bytes());
    return link;
}

qint64 DownloadsFixture::ReadOffset(FakePeerLink* link)
{
    if (!link->WaitForRaw(8))
        return -1;
    FakeWire in(link->raw.left(8));
    quint64 offset = 0;
    return in.ReadU64(offset) ? qint64(offset) : -1;
}

bool DownloadsFixture::LastResponse(FakePeerLink* link, quint32& token, bool& allowed, QString& reason)
{
    const QList<QByteArray> responses = Received(link, 41);
    if (responses.isEmpty())
        return false;
    FakeWire in(responses.last());
    quint8 flag = 0;
    if (!in.ReadU32(token) || !in.ReadU8(flag))
        return false;
    allowed = flag == 1;
    reason.clear();
    return allowed ? in.AtEnd() : in.ReadStr(reason) && in.AtEnd();
}

ItemPtr DownloadsFixture::Entry(const QString& user, const QString& folder, const QString& name) const
{
    return engine->GetDownloadEntry(user, name.toStdString(), folder.toStdString());
}

QString DownloadsFixture::Status(ItemPtr entry)
{
    return entry["download_entry_status"].AsString();
}
