#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
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
#include "PeerMessages.h"
#include "ShareListReader.h"
#include "SharedAllowance.h"

class QTcpServer;
class QTcpSocket;
class QTimer;
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
    // Nothing passing either way for this long closes a message connection
    // (PeerConnectionPolicy says what counts), as does the peer taking
    // none of what waits for it for StallTimeout; a shorter pause costs
    // nobody anything unless others wait for the room it holds
    // (RoomStallTimeout).
    static constexpr qint64 IdleTimeout = PeerConnectionPolicy::IdleTime;
    static constexpr qint64 StallTimeout = PeerConnectionPolicy::StallTime;
    // A connection holding part of a shared room that moves nothing of it
    // for this long (taking none of our answers beyond the pause its pace
    // explains, or sending no more of its large message) gives it back,
    // closed, when others wait for the room.
    static constexpr qint64 RoomStallTimeout = 10000;
    // A share list handed to the provider that is neither sent nor refused
    // for this long gives its place in line to the next, so that a provider
    // that says nothing stops no other user's list.
    static constexpr qint64 HandedShareListTimeout = 120000;
    // Share lists are sent only while this part of our answers' room stays
    // free besides, so that a crowd of browsers served at once never keeps
    // a user's information or a folder's contents waiting for room.
    static constexpr int ShareListHeadroomDivisor = 4;
    // A question at most this long (a path, a folder name) is answered with
    // as little; longer ones claim room for their answer like large ones.
    // One longer than MaxQuestion names no path any system has, and is not
    // handled.
    static constexpr qint64 SmallQuestion = 4096;
    static constexpr qint64 MaxQuestion = 128 * 1024;
    // Message connections kept per user; opening another closes the oldest.
    static constexpr int MaxMessageConnectionsPerUser = 8;
    // What all peers together may make us hold, beyond what each connection
    // may: the part of messages larger than a connection's read backlog
    // read beyond it (room for several of the largest share lists at
    // once), and our answers waiting to be written or for a connection
    // (room for a dozen pictures at once). Both are shared by name and
    // address (SharedAllowance).
    static constexpr qint64 LargeMessageAllowance = 64 * 1024 * 1024;
    static constexpr qint64 AnswerAllowance = 64 * 1024 * 1024;
    // An answer to a connection of at most this goes ahead of those waiting
    // for room when it fits: a search reply or a user's information is not
    // held behind share lists.
    static constexpr qint64 SmallAnswer = 1024 * 1024;

    // Why a share list was not taken.
    enum class ShareListRefusal
    {
        // Its message is longer than the frame bound.
        TooLong,
        // It would inflate past the bound of compressed messages.
        InflatesTooFar,
        // It holds more entries (folders, files, attribute names) than a
        // list within the frame bound honestly can.
        HoldsTooMany,
        // It is cut short, malformed or not a whole zlib stream.
        Unreadable
    };

    typedef std::function<qint64()> Clock;
    // Answers a user's share-list request through SendMessage, at once or
    // later: a large list is not built in one go on the event loop. It is
    // handed one request at a time; one it says nothing about gives way to
    // the next after HandedShareListTimeout, and what it sends later still
    // goes, as any answer.
    typedef std::function<void(QString user)> ShareListProvider;

    // Needs the server connection's item types (Server::CreateData) and the
    // setting types declared before.
    explicit PeerMessenger(QObject* parent = nullptr);
    ~PeerMessenger() override;

    // Settles the listening ports and starts listening.
    void DataLoaded() override;

    // A prepared message (code first) over the user's most recently opened
    // message connection; without one it waits while a connection forms
    // and is dropped after UnsentMessageLifetime, or, when it is an answer,
    // as soon as the connection cannot be formed.
    void SendMessage(QString user, MemStream& message);
    void SendMessageToUser(QString user, MemStream& message);

    // A share list is taken only as the answer to this: one that arrives
    // when none is asked for is dropped unread.
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
    // together), and how many of them one user and one address keep once
    // the search is full; what no place is found for is counted, not
    // stored.
    void SetSearchResultLimit(int results);
    int SearchResultLimit() const;
    void SetSearchResultUserLimit(int results);
    int SearchResultUserLimit() const;
    void SetSearchResultAddressLimit(int results);
    int SearchResultAddressLimit() const;
    // The request's results left out for the bounds so far, those given
    // up to later answerers included.
    qint64 LeftOutSearchResults(ItemPtr request) const;
    // The answer to a share-list request; until the shared folders provide
    // one, the answer is an empty share list.
    void SetShareListProvider(ShareListProvider provider);
    // Where the time for every expiry comes from (milliseconds).
    void SetClock(Clock clock);
    // The address listened on (any address unless set before DataLoaded).
    void SetListenAddress(const QHostAddress& address) { m_listenAddress = address; }
    void SetInflateLimit(int bytes) { m_inflateLimit = bytes; }
    // AnswerAllowance unless set before any connection (tests make it
    // small).
    void SetAnswerAllowance(qint64 bytes);
    // PeerMessages::ShareListEntryLimit unless set (tests make it small).
    void SetShareListEntryLimit(qint64 entries) { m_shareListEntryLimit = entries; }
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
    // A share list asked for, read whole (over several turns when large),
    // handed over: peer messaging keeps none of it. A receiver may keep the list;
    // only its last holder may change it.
    void UserShare(QString user, std::shared_ptr<FileInfoMap> share, const AttributeTranslationTable& attributes);
    // A share list asked for was dropped with its connection; size and
    // bound: the message's length and the frame bound in bytes, or the
    // inflate bound twice, or the entries read and the entry bound, or
    // both 0 for an unreadable list.
    void ShareListRefused(QString user, PeerMessenger::ShareListRefusal why, qint64 size, qint64 bound);
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
    // Results of the reply that a full search gives up to a later
    // answerer, removed from the store (with the reply, when none of it is
    // left) right after this is heard.
    void GivingUpSearchResults(ItemPtr searchResults, const ItemList& results);
    // More of the request's results were left out for the bounds.
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
    // Has CheckRooms asked every second once anyone waits for the room.
    void CheckWhileWaiting(SharedAllowance& room);
    void Listen(QTcpServer* listener, quint16 port, const char* what);
    void OnNewConnection(QTcpServer* listener, bool obfuscated);
    // Closes what the connection policy names so that one more connection
    // (one being opened, when opening) fits; false when nothing can go.
    bool MakeRoom(bool opening);
    // Closes the connections of the address (of every address when empty)
    // that stay silent beyond its bound.
    void CloseSilent(const QString& address = QString());
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
    // Share lists asked for are read a slice per turn, oldest first; the
    // connection a list came on takes nothing more until it is read.
    void TakeShareList(PeerConnection* connection, const QByteArray& body);
    void ReadShareLists();
    struct PendingShareList;
    void ShareListRead(PendingShareList& list);
    void OnMessageTooLong(PeerConnection* connection, quint32 code, quint32 length);
    void SendToUser(const QString& user, const MemStream& message);
    // Whether search results of size bytes, which nobody waits on, are sent
    // to the user now: within the write backlog bound of its connection
    // (null: of what waits for one) and in turn for the room all answers
    // share; each stretch of drops is logged once.
    bool SearchReplyFits(PeerConnection* connection, const QString& user, qint64 size);
    // Whether a question of size bytes that arrived on the connection is
    // handled now: when what waits behind the message being written to its
    // user is within the write backlog bound, and an answer that may be
    // large has its room claimed in turn. Otherwise it waits, and the
    // connection is asked to reconsider when either changes. A question
    // that names nothing while its answer still waits goes on, to be
    // answered by that one.
    bool MayHandle(PeerConnection* connection, quint32 code, qint64 size);
    // A question that names nothing has one answer: while ours to the same
    // question still waits on the answering connection (null: none), that
    // one serves and the question goes unanswered.
    static bool AnswerAlreadyWaits(PeerConnection* answering, quint32 code);
    // The room claimed for the answer to a question of that code and size
    // before it is built: the size of the last answer of its kind (the
    // largest message until one was sent); for a question answered with
    // what it names, its own size and a little; 0 when that is small.
    qint64 ExpectedAnswer(quint32 questionCode, qint64 size) const;
    void OnTaken(PeerConnection* connection);
    // Reads what every peer took from the system's counts.
    void FollowDeliveries();
    // Share-list requests wait in a line of their own, one user once, and
    // are handed to the provider one at a time, each once room for its
    // list is claimed: room is held for the list being built and the lists
    // sent, never for one waiting its turn. The line is served by what the
    // users' names and addresses hold of our answers, least first, then in
    // the order they asked.
    void AskForShareList(const QString& user);
    void ServeShareLists();
    void ServeShareListsSoon();
    void HandShareListOver();
    void ShareListSent();
    // The user has no message connection left: its request goes, and one
    // already handed over gives way to the next.
    void ForgetShareListRequest(const QString& user);
    // The request handed over that has produced nothing for too long gives
    // way to the next (at the half-minute tick).
    void ExpireHandedShareList(qint64 now);
    // Room taken back in either shared room for whoever waits: from
    // connections that stalled, and in the room for large messages from
    // names and addresses over their part (a reader of our answers that
    // keeps up deserves them however many it asked for).
    void CheckRooms();
    void TakeBack(SharedAllowance& room, const QString& what, bool overPart,
                  const std::function<bool(PeerConnection* connection)>& stalled);
    // The answers waiting for a connection to the user go (our own requests
    // stay); logged with why.
    void DropUnsentAnswers(const QString& user, const QString& why);
    qint64 UnsentBytes(const QString& user) const;
    void SetUserAddress(const QString& user, const QString& address);
    QString OwnName() const;

    QTcpServer* m_listener;
    QTcpServer* m_obfuscatedListener;
    QHostAddress m_listenAddress = QHostAddress::Any;
    Clock m_clock;
    ShareListProvider m_shareListProvider;
    int m_inflateLimit;
    qint64 m_shareListEntryLimit = PeerMessages::ShareListEntryLimit;
    // The users asked for their share list whose list has not come.
    QSet<QString> m_shareListsAsked;
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
    // By answer code, the size of the last one sent.
    QHash<quint32, qint64> m_answerSizes;
    // Search results dropped since they last fitted.
    int m_droppedSearchReplies = 0;
    // Asks CheckRooms while anyone waits for a room.
    QTimer* m_roomCheck;
    std::deque<QString> m_listWaiting;
    // The user whose list the provider builds, or whose room is claimed.
    QString m_listBuilding;
    bool m_listHanded = false;
    // When the request being served was handed to the provider.
    qint64 m_listHandedAt = 0;
    bool m_listServeQueued = false;
    SharedAllowance::Share m_listRoom;
    // What the claim for the list holds beyond the list until it is granted.
    qint64 m_listHeadroom = 0;
    struct PendingShareList
    {
        QString user;
        QPointer<PeerConnection> connection;
        std::unique_ptr<ShareListReader> reader;
    };
    std::deque<PendingShareList> m_shareLists;
    QTimer* m_shareListTimer;
};

extern PeerMessenger* peerMessenger;
