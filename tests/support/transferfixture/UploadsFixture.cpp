#include "UploadsFixture.h"

#include <QTest>

#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "ShareScan.h"
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

ItemPtr UploadsFixture::Share(const QString& relative, bool isPublic)
{
    ItemPtr folder = ShareScanned(shares, MakeFolder(relative));
    if (isPublic)
        folder.NewItem("shared_public");
    return folder;
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
