#pragma once

#include <QList>
#include <QString>
#include <functional>

class DataSaver;
class DiagnosticsForm;
class FakePeer;
class FakePeerLink;
class PeerMessenger;
class QObject;
class Server;
class TestServer;
class TimerManager;

// A fresh store with the shared timers, a data saver, the diagnostics log,
// the client's server connection pointed at a loopback test server, and
// peer messaging listening on 127.0.0.1 with a clock the test moves.
class PeerFixture
{
public:
    // makeServer builds the client's server connection (a plain Server when
    // empty).
    explicit PeerFixture(std::function<Server*()> makeServer = {});
    ~PeerFixture();
    PeerFixture(const PeerFixture&) = delete;
    PeerFixture& operator=(const PeerFixture&) = delete;

    // Listening ports from a free pair, DataLoaded, then the login; true once
    // logged in and listening on both ports.
    bool Start(const QString& user = "me");
    // Peer messaging's DataLoaded on a free pair of ports, tried again on
    // another pair while one is lost to another process; true once it
    // listens on both.
    bool ListenOnFreePair();
    // A fake peer that listens (plainly, and obfuscated when asked) and
    // logs in; null when any of it fails. An unreachable one announces a
    // port where nothing listens, so only the relay can reach it.
    FakePeer* AddPeer(const QString& name, bool obfuscated = false, bool reachable = true);
    // How a message connection a test opens takes in what we send it.
    enum class Reading
    {
        All,    // everything, into its messages
        Paced,  // what the test reads of its socket, which holds at most
                // 64 KiB of what the system gave it
        Nothing // a window of 4 KiB, and nobody reads
    };
    // A message connection that name opened to us from 127.0.0.host,
    // registered, owned by owner; null when any of it fails.
    FakePeerLink* Link(QObject* owner, const QString& name, Reading reading, int host = 1);

    void Advance(qint64 milliseconds) { now += milliseconds; }
    // The half-minute tick, without waiting for it.
    void Tick();
    // The log text of an area.
    QString LogText(const QString& area) const;
    // A server round trip: true once the server has read everything the
    // client sent before, so what did not arrive by then was never sent.
    bool ServerCaughtUp(int timeout = 30000);

    // Two free consecutive ports on 127.0.0.1; 0 when none was found.
    static quint16 FreePortPair();
    // A port on 127.0.0.1 that refuses connections.
    static quint16 DeadPort();

    qint64 now;
    TimerManager* timers;
    DataSaver* saver;
    DiagnosticsForm* diagnostics;
    Server* client;
    TestServer* server;
    PeerMessenger* peer;
    QList<FakePeer*> peers;
};
