#include "ServerFixture.h"

#include <QSignalSpy>
#include <QTest>

#include "Data.h"
#include "DataSaver.h"
#include "DiagnosticsForm.h"
#include "Server.h"
#include "Settings.h"
#include "TestServer.h"
#include "TimerManager.h"

ServerFixture::ServerFixture(PortForwarderWorker* upnpWorker)
{
    d.Reset();
    timers = new TimerManager;
    saver = new DataSaver;
    diagnostics = new DiagnosticsForm;
    client = new Server(upnpWorker);
    DeclareSettingTypes();
    client->CreateData();
    diagnostics->Init();
    SetSetting("show_diagnostics", "yes");

    server = new TestServer;
    if (server->Listen())
        qputenv("QUORVANE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(server->Port()));
}

ServerFixture::~ServerFixture()
{
    delete client;
    delete server;
    delete diagnostics;
    delete saver;
    delete timers;
    d.Reset();
}

bool ServerFixture::Login(const QString& user, const QString& password)
{
    SetSetting("username", user);
    SetSetting("password", password);
    QSignalSpy connected(client, &Server::Connected);
    client->Connect();
    return connected.wait(30000);
}

bool ServerFixture::WaitForCount(quint32 code, int n)
{
    return QTest::qWaitFor([&] { return server->Count(code) >= n; }, 30000);
}

QByteArray ServerFixture::LastBody(quint32 code) const
{
    const auto messages = server->ReceivedMessages(code);
    return messages.isEmpty() ? QByteArray() : messages.last().body;
}

void ServerFixture::HalfMinuteTick()
{
    QMetaObject::invokeMethod(timers, "timeout");
}

void ServerFixture::FiveMinuteTick()
{
    QMetaObject::invokeMethod(timers->FiveMinuteTimer(), "timeout");
}
