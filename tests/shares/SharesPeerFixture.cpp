#include "SharesPeerFixture.h"

#include <QSignalSpy>
#include <QTest>

#include "DNetManager.h"
#include "Data.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "TestServer.h"

SharesPeerFixture::SharesPeerFixture()
{
    // After peer messaging, in the order the main window makes them.
    dnet = new DNetManager;
    manager = new SharedFoldersManager;
}

SharesPeerFixture::~SharesPeerFixture()
{
    delete manager;
    delete dnet;
}

QString SharesPeerFixture::WriteFile(const QString& relative, int size) const
{
    return TempTree::WriteFile(relative, QByteArray(size, 'x'));
}

ItemPtr SharesPeerFixture::Share(const QString& relative)
{
    return ShareScanned(manager, MakeFolder(relative));
}

bool SharesPeerFixture::Rescan() const
{
    QSignalSpy rescanned(manager, &SharedFoldersManager::SharedFilesRescanned);
    manager->RescanShares();
    return rescanned.wait(30000);
}

ItemPtr SharesPeerFixture::ShareMany(const QString& root, int folders, int files)
{
    ItemPtr shared = d.GetType("shared_folder")->NewItem(Value(root));
    shared.NewItem("shared_public");
    for (int a = 0; a < folders; ++a) {
        ItemPtr folder = d.GetType("shared_file_folder")->GetItem(Value(QString("%1/Set %2").arg(root).arg(a)));
        shared += folder;
        for (int b = 0; b < files; ++b) {
            ItemPtr file = d.GetType("shared_file")->NewItem();
            file += folder;
            file += d.GetType("shared_file_name")
                        ->GetItem(Value(QString("many %1 %2.%3").arg(a).arg(b).arg(b % 2 ? "mp3" : "ogg")));
            file += d.GetType("shared_file_size")->GetItem(Value(1000 + b));
            if (b % 5 == 0)
                file += d.GetType("bitrate")->GetItem(Value(128 + b));
            manager->TokenizeSharedFile(file);
        }
    }
    return shared;
}

int SharesPeerFixture::Search(FakePeer* from, quint32 token, const QString& text)
{
    QSignalSpy processed(manager, &SharedFoldersManager::SearchProcessed);
    from->SendToServer(42, FakeWire().Str("me").U32(token).Str(text).Bytes());
    if (!processed.wait(30000) || processed.at(0).at(0).toString() != text)
        return -1;
    return processed.at(0).at(1).toBool() ? 1 : 0;
}

QString SharesPeerFixture::ReadRecord(FakeWire& in)
{
    quint8 marker = 0;
    QString name, extension;
    quint64 size = 0;
    quint32 count = 0;
    if (!in.ReadU8(marker) || marker != 1 || !in.ReadStr(name) || !in.ReadU64(size) || !in.ReadStr(extension) ||
        !in.ReadU32(count))
        return QString();
    QStringList pairs;
    for (quint32 i = 0; i < count; ++i) {
        quint32 code = 0, value = 0;
        if (!in.ReadU32(code) || !in.ReadU32(value))
            return QString();
        pairs << QString("%1=%2").arg(code).arg(value);
    }
    return QString("%1|%2|%3|%4").arg(name).arg(size).arg(extension, pairs.join(','));
}
