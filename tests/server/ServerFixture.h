#pragma once

#include <QByteArray>
#include <QString>

class DataSaver;
class DiagnosticsForm;
class PortForwarderWorker;
class Server;
class TestServer;
class TimerManager;

// A fresh store, the shared timers, a data saver and the client's server
// connection pointed at a loopback test server.
class ServerFixture
{
public:
    explicit ServerFixture(PortForwarderWorker* upnpWorker = nullptr);
    ~ServerFixture();
    ServerFixture(const ServerFixture&) = delete;
    ServerFixture& operator=(const ServerFixture&) = delete;

    // Stores the login and connects; true once Connected() was emitted.
    bool Login(const QString& user = "alice", const QString& password = "secret");
    // True once the test server has received n messages with the code.
    bool WaitForCount(quint32 code, int n);
    // The body of the last message with the code that the client sent.
    QByteArray LastBody(quint32 code) const;

    // Drives the shared ticks without waiting for them.
    void HalfMinuteTick();
    void FiveMinuteTick();

    TimerManager* timers;
    DataSaver* saver;
    DiagnosticsForm* diagnostics;
    Server* client;
    TestServer* server;
};
