#include "UploadsFixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "SharedFoldersManager.h"
#include "TestServer.h"
#include "TransferQueueManager.h"

UploadsFixture::UploadsFixture()
{
    // In the order the main window makes them.
    shares = new SharedFoldersManager;
    engine = new TransferQueueManager;
}

UploadsFixture::~UploadsFixture()
{
    // Uploads first, so that no thread outlives its entry; then, while the
    // engine is there, removing the items frees their values.
    for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
        engine->RemoveUpload(entry);
    d.RemoveAllItems();
    delete engine;
    delete shares;
}

bool UploadsFixture::Start()
{
    return m_dir.isValid() && net.Start("me");
}

FakePeerLink* UploadsFixture::OnlinePeer(const QString& name)
{
    FakePeer* fake = net.AddPeer(name);
    if (!fake)
        return nullptr;
    fake->SetRelayPolicy(FakePeer::RelayPolicy::Ignore);
    FakePeerLink* link = fake->Greet(net.peer->ListeningPort(), false, "P", 1);
    if (!link)
        return nullptr;
    net.client->TrackUser(name);
    const ItemPtr user = d.GetType("user")->GetItem(Value(name));
    for (int i = 0; i < 500 && (net.peer->MessageConnectionCount(name) == 0 || !user.IsConnected("is_online")); ++i)
        QTest::qWait(10);
    return net.peer->MessageConnectionCount(name) > 0 && user.IsConnected("is_online") ? link : nullptr;
}

FakePeer* UploadsFixture::Peer(const QString& name) const
{
    for (FakePeer* fake : net.peers)
        if (fake->Name() == name)
            return fake;
    return nullptr;
}

QString UploadsFixture::Path(const QString& relative) const
{
    return m_dir.filePath(relative);
}

QString UploadsFixture::WriteFile(const QString& relative, const QByteArray& bytes) const
{
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qWarning("could not write %s", qPrintable(path));
    return path;
}

QString UploadsFixture::SparseFile(const QString& relative, qint64 size) const
{
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qWarning("could not make %s", qPrintable(path));
    return path;
}

ItemPtr UploadsFixture::Share(const QString& relative, bool isPublic)
{
    QDir().mkpath(Path(relative));
    ItemPtr folder = shares->AddSharedFolder(Path(relative));
    if (isPublic)
        folder.NewItem("shared_public");
    return folder;
}

QString UploadsFixture::Remote(const QString& relative) const
{
    return Path(relative).replace('/', '\\');
}

QList<QByteArray> UploadsFixture::Received(FakePeerLink* link, quint32 code)
{
    QList<QByteArray> bodies;
    for (const auto& message : link->messages)
        if (message.first == code)
            bodies.append(message.second);
    return bodies;
}

bool UploadsFixture::WaitFor(FakePeerLink* link, quint32 code, int count, int timeout)
{
    for (int waited = 0; Received(link, code).size() < count && waited < timeout; waited += 10)
        QTest::qWait(10);
    return Received(link, code).size() >= count;
}

bool UploadsFixture::WaitForRequest(FakePeerLink* link, const QString& name, TransferRequest& request, int timeout)
{
    for (int waited = 0;; waited += 10) {
        for (const QByteArray& body : Received(link, 40))
            if (request.Read(body) && request.name == name)
                return true;
        if (waited >= timeout)
            return false;
        QTest::qWait(10);
    }
}

bool UploadsFixture::ServerCaughtUp()
{
    const int before = net.server->Count(36);
    net.client->GetUserStats("me");
    for (int i = 0; i < 500 && net.server->Count(36) == before; ++i)
        QTest::qWait(10);
    return net.server->Count(36) > before;
}

FakePeerLink* UploadsFixture::WaitForFileLink(const QString& name, int timeout)
{
    FakePeer* fake = Peer(name);
    FakePeerLink* link = fake ? fake->WaitForLink(timeout) : nullptr;
    return link && link->opening.type == "F" ? link : nullptr;
}

ItemPtr UploadsFixture::Entry(const QString& user, const QString& requested)
{
    return d.GetItem(d.GetType("user")->HasItem(Value(user)),
                     d.GetType("filename_as_requested")->HasItem(Value(requested)), "upload_entry");
}

QString UploadsFixture::Status(ItemPtr entry)
{
    return entry["upload_entry_status"].AsString();
}

bool TransferRequest::Read(const QByteArray& body)
{
    FakeWire in(body);
    return in.ReadU32(direction) && in.ReadU32(token) && in.ReadStr(name) && in.ReadU64(size) && in.AtEnd();
}

bool Denial::Read(const QByteArray& body)
{
    FakeWire in(body);
    return in.ReadStr(name) && in.ReadStr(reason) && in.AtEnd();
}
