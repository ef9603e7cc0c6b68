#include "TransfersFixture.h"

#include <QFile>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "PortForwarderWorker.h"
#include "Server.h"
#include "Settings.h"
#include "TransferQueueManager.h"

namespace
{
// Keeps the port forwarder away from any real gateway.
class NoGateway : public PortForwarderWorker
{
protected:
    bool DiscoverGateway(QString&, QString& error) override
    {
        error = "no gateway in tests";
        return false;
    }
    int AddPortMapping(quint16) override { return -1; }
    int DeletePortMapping(quint16) override { return -1; }
    void ReleaseGateway() override {}
};

// The types that peer messaging and the shared-folders manager declare
// before the engine exists; only their names matter to the engine.
void DeclareNeighbourTypes()
{
    for (const char* type : {"file_size", "search_request_text"})
        if (!d.HasType(type))
            d.NewType(type, 2, false, true);
    if (!d.HasType("shared_file"))
        d.NewType("shared_file", 0, false, true);
}
} // namespace

TransfersFixture::TransfersFixture() : m_dir(new QTemporaryDir)
{
}

TransfersFixture::~TransfersFixture()
{
    Stop();
}

void TransfersFixture::Start(const std::function<void()>& beforeEngine)
{
    Stop();
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    saver = new DataSaver;
    DeclareSettingTypes();
    // Saved by the shell in the program.
    saver->AddSavedType("global");
    saver->AddSavedByConnectionType("global_value", "global");
    server = new Server(new NoGateway);
    server->CreateData();
    DeclareNeighbourTypes();
    if (beforeEngine)
        beforeEngine();
    engine = new TransferQueueManager;
}

void TransfersFixture::Stop()
{
    // While the engine is there, removing the items frees their heap values.
    if (engine)
        d.RemoveAllItems();
    delete engine;
    engine = nullptr;
    delete server;
    server = nullptr;
    delete saver;
    saver = nullptr;
    d.Reset();
}

QString TransfersFixture::Path(const QString& name) const
{
    return m_dir->filePath(name);
}

QString TransfersFixture::WriteFile(const QString& name, const QByteArray& bytes) const
{
    const QString path = Path(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qWarning("could not write %s", qPrintable(path));
    return path;
}

QString TransfersFixture::SparseFile(const QString& name, qint64 size) const
{
    const QString path = Path(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
        qWarning("could not make %s", qPrintable(path));
    return path;
}

QByteArray TransfersFixture::Pattern(qint64 size, quint32 seed)
{
    QByteArray bytes(int(size), Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (int i = 0; i < bytes.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = char(x >> 24);
    }
    return bytes;
}
