#include "SharesPeerFixture.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "DNetManager.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
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

bool SharesPeerFixture::Start()
{
    return m_dir.isValid() && net.Start("me");
}

FakePeerLink* SharesPeerFixture::LinkedPeer(const QString& name)
{
    FakePeer* fake = net.AddPeer(name);
    if (!fake)
        return nullptr;
    FakePeerLink* link = fake->Greet(net.peer->ListeningPort(), false, "P", 1);
    if (!link)
        return nullptr;
    for (int i = 0; i < 500 && net.peer->MessageConnectionCount(name) == 0; ++i)
        QTest::qWait(10);
    return net.peer->MessageConnectionCount(name) > 0 ? link : nullptr;
}

QString SharesPeerFixture::Path(const QString& relative) const
{
    return m_dir.filePath(relative);
}

QString SharesPeerFixture::WriteFile(const QString& relative, int size) const
{
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(QByteArray(size, 'x'));
    return path;
}

ItemPtr SharesPeerFixture::Share(const QString& relative)
{
    QDir().mkpath(Path(relative));
    return manager->AddSharedFolder(Path(relative));
}

QString SharesPeerFixture::Remote(const QString& relative) const
{
    return Path(relative).replace('/', '\\');
}

int SharesPeerFixture::Search(FakePeer* from, quint32 token, const QString& text)
{
    QSignalSpy processed(manager, &SharedFoldersManager::SearchProcessed);
    from->SendToServer(42, FakeWire().Str("me").U32(token).Str(text).Bytes());
    if (!processed.wait(5000) || processed.at(0).at(0).toString() != text)
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
    for (quint32 i = 0; i < count; ++i)
    {
        quint32 code = 0, value = 0;
        if (!in.ReadU32(code) || !in.ReadU32(value))
            return QString();
        pairs << QString("%1=%2").arg(code).arg(value);
    }
    return QString("%1|%2|%3|%4").arg(name).arg(size).arg(extension, pairs.join(','));
}
