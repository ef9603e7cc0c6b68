#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include "FakePeerLink.h"

class QTcpServer;
class QTcpSocket;

// Another client as far as the peer protocol goes, on 127.0.0.1: it logs in
// to the loopback test server with raw frames, announces its ports,
// accepts plain and obfuscated connections, answers (or refuses, or
// ignores) connection requests that the server relays to it, and opens
// connections of its own. Every connection is a FakePeerLink that records
// what arrives. Reusable by the tests of every engine that talks to peers.
class FakePeer : public QObject
{
    Q_OBJECT

public:
    enum class RelayPolicy
    {
        Answer, // connect back and open with the relayed token
        Refuse, // tell the server it cannot connect
        Ignore  // do nothing, as a client behind a firewall might
    };
    struct RelayRequest
    {
        QString user;
        QString type;
        QString address;
        quint32 port = 0;
        quint32 obfuscatedPort = 0;
        quint32 token = 0;
    };
    // A search the server passed on to us (server message 26).
    struct SearchRequest
    {
        QString user;
        quint32 ticket = 0;
        QString text;
    };

    explicit FakePeer(const QString& name, QObject* parent = nullptr);
    ~FakePeer() override;

    QString Name() const { return m_name; }

    // Listens on 127.0.0.1 (any free port); the obfuscated listener only
    // when asked.
    bool Listen(bool obfuscated);
    quint16 Port() const;
    quint16 ObfuscatedPort() const;
    // Stops accepting connections; the announced ports stay as they were.
    void StopListening();

    // The ports sent to the server at login; by default the listening ones.
    void SetAnnouncedPorts(quint16 port, quint16 obfuscatedPort);
    // Logs in (any password) and announces the ports; true once accepted.
    bool LogIn(quint16 serverPort, int timeout = FakePeerLink::DefaultWaitMs);
    // Asks the server to have user connect to us (server message 18).
    void RequestRelay(const QString& user, quint32 token, const QString& type);
    // Sends any server frame.
    void SendToServer(quint32 code, const QByteArray& body);

    void SetRelayPolicy(RelayPolicy policy) { m_relayPolicy = policy; }
    // Whether a relayed message connection goes to the requester's
    // obfuscated port when it has one (as a client does; the default).
    void SetAnswerObfuscated(bool obfuscated) { m_answerObfuscated = obfuscated; }
    QList<RelayRequest> relayRequests;
    bool WaitForRelayRequests(int count, int timeout = FakePeerLink::DefaultWaitMs);

    // Asks the server where a user listens (server message 3); the answer,
    // when the user is online, lands in listeningPorts.
    void AskAddress(const QString& user);
    bool WaitForAddress(const QString& user, int timeout = FakePeerLink::DefaultWaitMs);
    QHash<QString, quint16> listeningPorts;

    // Searches of others that reached us, oldest first; answering them is
    // the test's (see SearchReply.h).
    QList<SearchRequest> searchRequests;
    bool WaitForSearchRequests(int count, int timeout = FakePeerLink::DefaultWaitMs);

    // Where the connections it opens come from (by default 127.0.0.1); any
    // other 127.x.y.z address is a peer at another address.
    void SetSourceAddress(const QHostAddress& address) { m_sourceAddress = address; }
    // The system's receive buffer of the connections it opens, settled
    // before connecting so that the window stays that small (0: the
    // system's default): with it, a link that stops reading takes in
    // almost nothing more.
    void SetReceiveBuffer(int bytes) { m_receiveBuffer = bytes; }
    // Starts a connection to the client's port without waiting for it; null
    // when the source address cannot be used.
    FakePeerLink* StartConnecting(quint16 port, bool obfuscated);
    // Opens a connection to the client's port; null when it does not come
    // up in time.
    FakePeerLink* Connect(quint16 port, bool obfuscated, int timeout = FakePeerLink::DefaultWaitMs);
    // Connect, then the direct greeting with our name; the link then reads
    // what the type says follows.
    FakePeerLink* Greet(quint16 port, bool obfuscated, const QString& type, quint32 token,
                        int timeout = FakePeerLink::DefaultWaitMs);

    // Every link, in the order it appeared: accepted, answering a relayed
    // request, or opened by Connect.
    QList<FakePeerLink*> links;
    QList<FakePeerLink*> AcceptedLinks() const;
    // The first accepted or answering link whose opening (for accepted ones)
    // has arrived and that is not in seen; null after the timeout.
    FakePeerLink* WaitForLink(int timeout = FakePeerLink::DefaultWaitMs, const QList<FakePeerLink*>& seen = {});
    // Accepted links, counted when their opening arrived.
    int OpenedCount() const;

signals:
    void LinkAdded(FakePeerLink* link);

private slots:
    void OnServerReadyRead();

private:
    void Accept(QTcpServer* listener, bool obfuscated);
    void OnServerFrame(quint32 code, const QByteArray& body);
    void AnswerRelay(const RelayRequest& request);

    QString m_name;
    QTcpServer* m_listener;
    QTcpServer* m_obfuscatedListener;
    QTcpSocket* m_server;
    QByteArray m_serverBuffer;
    bool m_loggedIn = false;
    bool m_portsSet = false;
    quint16 m_announcedPort = 0;
    quint16 m_announcedObfuscatedPort = 0;
    RelayPolicy m_relayPolicy = RelayPolicy::Answer;
    bool m_answerObfuscated = true;
    QHostAddress m_sourceAddress;
    int m_receiveBuffer = 0;
    // The types of the connections we asked the server to relay, by token.
    QHash<quint32, QString> m_requestedTypes;
    // Links that answer a relayed request, by the type requested.
    QList<QPair<FakePeerLink*, QString>> m_answers;
};
