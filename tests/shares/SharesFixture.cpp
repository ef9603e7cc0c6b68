#include "SharesFixture.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include "DNetManager.h"
#include "Data.h"
#include "DataSaver.h"
#include "PeerMessenger.h"
#include "PortForwarderWorker.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"

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
} // namespace

SharesFixture::SharesFixture()
{
    QVERIFY(m_dir.isValid());
}

SharesFixture::~SharesFixture()
{
    Stop();
}

void SharesFixture::Start()
{
    Stop();
    m_saver = new DataSaver;
    DeclareSettingTypes();
    // The main window saves the settings; here the fixture stands in.
    m_saver->AddSavedType("global");
    m_saver->AddSavedByConnectionType("global_value", "global");
    SetSetting("username", "me");
    m_server = new Server(new NoGateway);
    m_server->CreateData();
    m_peer = new PeerMessenger;
    // Shares need no listening: kept from the data-loaded step, and on
    // loopback should anything ask it to listen.
    m_peer->SetListenAddress(QHostAddress::LocalHost);
    m_saver->RemoveDataLoadedEventHandler(m_peer);
    m_dnet = new DNetManager;
    manager = new SharedFoldersManager;
}

void SharesFixture::Stop()
{
    delete manager;
    manager = nullptr;
    delete m_dnet;
    m_dnet = nullptr;
    delete m_peer;
    m_peer = nullptr;
    delete m_server;
    m_server = nullptr;
    delete m_saver;
    m_saver = nullptr;
    d.Reset();
}

QString SharesFixture::Path(const QString& relative) const
{
    return m_dir.filePath(relative);
}

QString SharesFixture::WriteFile(const QString& relative, int size) const
{
    const QString path = Path(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(QByteArray(size, 'x'));
    return path;
}

QString SharesFixture::MakeFolder(const QString& relative) const
{
    const QString path = Path(relative);
    QDir().mkpath(path);
    return path;
}

QStringList SharesFixture::SharedPaths()
{
    QStringList paths;
    for (const ItemPtr& file : d.GetType("shared_file")->GetItems())
        paths << file["shared_file_folder"].AsString() + "/" + file["shared_file_name"].AsString();
    paths.sort();
    return paths;
}

QStringList SharesFixture::Values(const char* type)
{
    QStringList values;
    for (const ItemPtr& item : d.GetType(type)->GetItems())
        values << item.AsString();
    values.sort();
    return values;
}

QStringList SharesFixture::Tokens(ItemPtr file)
{
    QStringList tokens;
    for (const ItemPtr& token : file.GetItems("search_token"))
        tokens << token.AsString();
    tokens.sort();
    return tokens;
}
