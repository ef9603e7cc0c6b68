#include "SharesFixture.h"

#include <QSignalSpy>
#include <QtTest>

#include "DNetManager.h"
#include "Data.h"
#include "DataSaver.h"
#include "PeerMessenger.h"
#include "Settings.h"
#include "SharedFoldersManager.h"

SharesFixture::SharesFixture()
{
    QVERIFY(IsValid());
}

SharesFixture::~SharesFixture()
{
    Stop();
}

void SharesFixture::Start()
{
    Stop();
    m_store.Start();
    SetSetting("username", "me");
    m_peer = new PeerMessenger;
    // Shares need no listening: kept from the data-loaded step, and on
    // loopback should anything ask it to listen.
    m_peer->SetListenAddress(QHostAddress::LocalHost);
    m_store.saver->RemoveDataLoadedEventHandler(m_peer);
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
    m_store.Stop();
    d.Reset();
}

bool SharesFixture::Rescan() const
{
    QSignalSpy rescanned(manager, &SharedFoldersManager::SharedFilesRescanned);
    manager->RescanShares();
    return rescanned.wait(30000);
}

QString SharesFixture::WriteFile(const QString& relative, int size) const
{
    return TempTree::WriteFile(relative, QByteArray(size, 'x'));
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
