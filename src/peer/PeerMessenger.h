#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "FileInfo.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "MemStream.h"
#include "PeerConnection.h"
#include "PeerConnectionPolicy.h"
#include "SharedAllowance.h"

class QTcpServer;
class QTcpSocket;
class SearchResultIntake;

// Peer messaging: listens for other clients on a plain and an obfuscated
// port, forms connections to them (directly and through the server's relay
// at once, the first to succeed wins), carries the framed messages of
// message ("P") connections and hands file ("F") and distributed-network
// ("D") connections to their owners. The wire format and the rules for
// what a peer may claim are in docs/protocol.md.
class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultListeningPort = 2235;
    // Times in milliseconds, checked at the half-minute tick.
    static constexpr qint64 UnsentMessageLifetime = 300000;
    static constexpr qint64 AttemptTimeout = 30000;
    static constexpr qint64 HandshakeTimeout = 30000;
    // No whole message either way for this long closes a message connection.
    static constexpr qint64 IdleTimeout = PeerConnectionPolicy::IdleTime;
    // Message connections kept per user; opening another closes the oldest.
    static constexpr int MaxMessageConnectionsPerUser = 8;
    // What all peers together may make us hold, beyond what each connection
    // may: the part of messages larger than a connection's read backlog
    // read beyond it (room for several of the largest share lists at
    // once), and our answers waiting to be written or for a connection
    // (room for a dozen pictures at once).
    static constexpr qint64 LargeMessageAllowance = 64 * 1024 * 1024;
    static constexpr qint64 AnswerAllowance = 64 * 1024 * 1024;

    typedef std::function<qint64()> Clock;
    // Answers a user's share-list request through SendMessage, at once or
    // later: a large list is not built in one go on the event loop.
    typedef std::function<void(QString user)> ShareListProvider;

    // Needs the server connection's item types (Server::CreateData) and the
    // setting types declared before.
    explicit PeerMessenger(QObject* parent = nullptr);
    ~PeerMessenger() override;

    // Settles the listening ports and starts listening.
    void DataLoaded() override;

    // A prepared message (code first) over the user's most recently opened
    // message connection; without one it waits while a connection forms
    // and is dropped after UnsentMessageLifetime.
    void SendMessage(QString user, MemStream& message);
    void SendMessageToUser(QString user, MemStream& message);

    void GetUserSharedFiles(QString user);
    void GetUserInfo(QString user);
    void QueueDownload(QString user, std::string path);
    void QueueUpload(QString user, QString file, qint64 size);
    // Returns the token taken from "transfer_req_counter".
    uint RequestUpload(QString user, QString file, qint64 size);
    void AcceptTransferRequest(QString user, uint token, bool withSize, qint64 size);
    void DenyTransferRequest(QString user, uint token, QString reason);
    void SendUploadPlaceInLine(QString user, QString file, int place);
    void DenyUpload(QString user, QString file, QString reason);
    // Forms a new connection of that type; it is handed over by
    // FileConnectionAccepted or DNetConnectionAccepted.
    void RequestFileConnectionToUser(QString user);
    void RequestDNetConnectionToUser(QString user);

    // How many results one search keeps (a wish-list search's tickets
    // together); what arrives past it is counted, not stored.
    void SetSearchResultLimit(int results);
    int SearchResultLimit() const;
    // The request's results left out for that bound so far.
    qint64 LeftOutSearchResults(ItemPtr request) const;
    // The answer to a share-list request; until the shared folders provide
    // one, the answer is an empty share list.
    void SetShareListProvider(ShareListProvider provider);
    // Where the time for every expiry comes from (milliseconds).
    void SetClock(Clock clock);
    // The address listened on (any address unless set before DataLoaded).
    void SetListenAddress(const QHostAddress& address) { m_listenAddress = address; }
    void SetInflateLimit(int bytes) { m_inflateLimit = bytes; }
    // How many connections it holds (by default from the open-files limit
    // at construction).
    void SetConnectionLimits(const PeerConnectionPolicy::Limits& limits) { m_connectionPolicy.SetLimits(limits); }
    const PeerConnectionPolicy::Limits& ConnectionLimits() const { return m_connectionPolicy.GetLimits(); }

    // 0 when not listening.
    quint16 ListeningPort() const;
    quint16 ObfuscatedListeningPort() const;
    int MessageConnectionCount(const QString& user) const;
    int UnsentMessageCount(const QString& user) const;
    // What waits to be written to the user: in its message connections and
    // for one.
    qint64 UnwrittenBytes(const QString& user) const;
    const SharedAllowance& LargeMessages() const { return *m_largeMessages; }
    const SharedAllowance& Answers() const { return *m_answers; }
    int AttemptCount() const { return int(m_attempts.size()); }

signals:
    void FileTransferRequested(QString user, int direction, uint token, std::string path, qint64 size);
    void FileTransferResponse(QString user, uint token, bool allowed, bool sizePresent, qint64 size, QString reason);
    void QueueUploadRequested(QString user, QString file);
    void DownloadPlaceInLine(QString user, std::string path, int place);
    void UploadFailed(QString user, std::string path);
    void UploadDenied(QString user, std::string path, QString reason);
    void UploadPlaceInLineRequested(QString user, QString file);
    void QueueDownloadRequested(QString user, std::string path, qint64 size);
    void UserShare(QString user, FileInfoMap& share, AttributeTranslationTable& attributes);
    void SharedFilesInFolderRequested(QString user, quint32 token, QString folder);
    void SharedFilesInFolder(QString user, quint32 token, QString folder, FileInfoMap& folders);
    void UserInfoRequested(QString user);
    // The picture bytes are valid only during the emission.
    void UserInfoReceived(QString user, QString description, bool hasPicture, char* picture, int pictureLength,
                          int uploadSlots, int queuedUploads, bool freeSlot);
    void SearchResults(ItemPtr searchResults);
    // A large reply is stored a part a turn: SearchResults comes with the
    // first part, this with each later one, under the same item.
    void MoreSearchResults(ItemPtr searchResults, const ItemList& part);
    // More of the request's results were left out for the bound.
    void SearchResultsLeftOut(ItemPtr request);
    void ConnectionToUserFailed(QString user, QString type);
    // From these on the receiver owns the socket. Bytes that followed the
    // opening may already wait in it: check bytesAvailable() at once.
    void FileConnectionRequested(QString user, QTcpSocket* socket, uint token);
    void FileConnectionAccepted(QString user, QTcpSocket* socket);
    void DNetConnectionRequested(QString user, QTcpSocket* socket);
    void DNetConnectionAccepted(QString user, QTcpSocket* socket);

private slots:
    void OnHalfMinuteTick();
    void OnPeerAddress(QString user, QString address, quint16 port, quint16 obfuscatedPort);
    void OnPeerConnectionRequested(QString user, QString type, QString address, quint16 port, quint16 obfuscatedPort,
                                   quint32 token);
    void OnCantConnectToPeer(quint32 token, QString user);

private:
    // One way of forming a connection of a type to a user, under one token:
    // a direct connection and the server's relay, tried together.
    struct Attempt
    {
        quint32 token = 0;
        QString user;
        QString type;
        qint64 started = 0;
        PeerConnection* direct = nullptr;
        bool awaitingAddress = true;
        bool directFailed = false;
        bool relayFailed = false;
    };
    struct Unsent
    {
        QByteArray message;
        qint64 queued;
        // An answer's part of the total of answers.
        SharedAllowance::Share answer;
    };

    void DeclareTypes();
    void Listen(QTcpServer* listener, quint16 port, const char* what);
    void OnNewConnection(QTcpServer* listener, bool obfuscated);
    // Closes what the connection policy names so that one more connection
    // (one being opened, when opening) fits; false when nothing can go.
    bool MakeRoom(bool opening);
    void Watch(PeerConnection* connection);

    quint32 NewToken() const;
    void StartAttempt(const QString& user, const QString& type);
    void CheckFailed(quint32 token);
    void Fail(quint32 token, const QString& why);
    void Win(quint32 token, PeerConnection* connection);

    void OnOpening(PeerConnection* connection, quint8 kind, const QString& name, const QString& type, quint32 token);
    void OnFileToken(PeerConnection* connection, quint32 fileToken);
    void OnDirectConnected(PeerConnection* connection);
    void OnRelayAnswerConnected(PeerConnection* connection);
    void OnConnectionEnded(PeerConnection* connection, const QString& reason);
    void AddMessageConnection(PeerConnection* connection);
    void HandOver(PeerConnection* connection, bool asked, quint32 fileToken = 0);
    // Forgets the connection everywhere and closes it.
    void Discard(PeerConnection* connection);
    // Discards a connection that did not open; an answer to a relayed
    // request tells the server it could not connect.
    void GiveUpOpening(PeerConnection* connection);
    PeerConnection* LatestMessageConnection(const QString& user) const;
    PeerConnection::Clock ConnectionClock();

    void OnMessage(PeerConnection* connection, quint32 code, const QByteArray& body);
    // Inflates a compressed message of that code within its own limit.
    bool Inflated(PeerConnection* connection, quint32 code, const QByteArray& body, QByteArray& plain);
    bool HandleSearchReply(PeerConnection* connection, const QByteArray& plain);
    void SendToUser(const QString& user, const MemStream& message);
    // Whether an answer of size bytes to the user keeps what waits for it,
    // on the connection (null: none yet) or for one, within the write
    // backlog bound (WriteBacklog); each stretch of drops is logged once.
    bool UserHasRoomFor(PeerConnection* connection, const QString& user, qint64 size);
    // The same, and within what all answers together may hold: the rule
    // every answer of a code passes.
    bool AnswerFits(PeerConnection* connection, const QString& user, quint32 code, qint64 size);
    // Whether a peer's question is handled: not while our answer to the
    // same question still waits for it, nor while its answers fill the
    // bound, nor while all answers together could not take the last answer
    // of its kind they refused.
    bool WillAnswer(const QString& user, quint32 code);
    qint64 UnsentBytes(const QString& user) const;
    void SetUserAddress(const QString& user, const QString& address);
    QString OwnName() const;

    QTcpServer* m_listener;
    QTcpServer* m_obfuscatedListener;
    QHostAddress m_listenAddress = QHostAddress::Any;
    Clock m_clock;
    ShareListProvider m_shareListProvider;
    int m_inflateLimit;
    SearchResultIntake* m_searchResults;
    std::map<quint32, Attempt> m_attempts;
    std::map<QString, std::deque<Unsent>> m_unsent;
    QHash<QString, QList<PeerConnection*>> m_messageConnections;
    // Accepted connections before their opening, and our answers to relayed
    // requests before they are settled.
    QList<PeerConnection*> m_pending;
    // Direct greetings received, by user and token, so a relayed request for
    // a connection that already arrived directly is not answered as well.
    QHash<QString, QHash<quint32, qint64>> m_greetings;
    PeerConnectionPolicy m_connectionPolicy;
    std::shared_ptr<SharedAllowance> m_largeMessages;
    std::shared_ptr<SharedAllowance> m_answers;
    // By answer code, the size of the last answer the total refused; none
    // of that kind is built again until that much fits.
    QHash<quint32, qint64> m_refusedAnswers;
    // Answers dropped since the total last had room.
    int m_droppedAnswers = 0;
};

extern PeerMessenger* peerMessenger;
