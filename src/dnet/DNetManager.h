#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QTcpSocket;

// This client's node of the distributed search network: at most one parent,
// from which searches arrive, and a bounded number of children, to which
// they are passed on. Links are "D" connections formed and handed over by
// peer messaging; the server names parent candidates and hears our state.
// Frames and server messages are described in docs/protocol.md.
class DNetManager : public QObject
{
    Q_OBJECT

public:
    enum FrameCode : quint8
    {
        SearchFrame = 1,      // parent to child: string user, u32 token, string text
        LevelFrame = 2,       // parent to child: u32 the parent's level
        GroupLeaderFrame = 3, // parent to child: string the branch root
        ChildDepthFrame = 4   // child to parent: u32 the depth below the child
    };
    // Frames are small; a longer length field ends the link.
    static constexpr quint32 MaxFrameLength = 65536;
    // Children allowed: one per this many bytes per second of the upload
    // speed the server measured, within [MinChildren, MaxChildren].
    static constexpr int BytesPerSecondPerChild = 20480;
    static constexpr int MinChildren = 2;
    static constexpr int MaxChildren = 10;
    // No real tree is this deep; a level or depth beyond it can only come
    // from a loop counting itself up, so the link that brings it is closed
    // and nothing above it is ever sent.
    static constexpr quint32 MaxLevel = 64;

    // Needs peer messaging; connects to it and to the server connection.
    explicit DNetManager(QObject* parent = nullptr);
    ~DNetManager() override;

    bool HasParent() const { return m_parent != nullptr; }
    QString Parent() const;
    QStringList Children() const;
    quint32 Level() const { return m_level; }
    // The root of our branch: ourselves without a parent.
    QString BranchRoot() const;
    quint32 ChildDepth() const { return m_childDepth; }
    int ChildLimit() const;
    // What the links hold of what their peers sent: the bytes read and not
    // yet handled, and those waiting in their sockets. Each link reads no
    // faster than it handles (see ReadBacklog), so TCP slows a flooding peer.
    qint64 UnreadBytes() const;

    // Frame builders and the reader of a search frame's body (after the
    // code), which never reads past the end.
    static QByteArray Search(const QString& user, quint32 token, const QString& text);
    static QByteArray Number(FrameCode code, quint32 number);
    static QByteArray Name(FrameCode code, const QString& name);
    static bool ReadSearch(const QByteArray& body, QString& user, quint32& token, QString& text);

signals:
    void DNetSearchRequest(QString user, quint32 token, QString text);

private slots:
    void OnHalfMinuteTick();
    void OnServerConnected();
    void OnParentCandidates(QStringList users);
    void OnDistributedSearch(QString user, quint32 token, QString text);
    void OnDNetConnectionRequested(QString user, QTcpSocket* socket);
    void OnDNetConnectionAccepted(QString user, QTcpSocket* socket);
    void OnConnectionToUserFailed(QString user, QString type);

private:
    struct Link
    {
        QString user;
        QTcpSocket* socket = nullptr;
        QByteArray buffer;
        quint32 depth = 0;
        bool continuationQueued = false;
        // The socket ended; the link closes once what it read is handled.
        bool closing = false;
        QString closeReason;
    };

    Link* Adopt(const QString& user, QTcpSocket* socket);
    void OnReadable(Link* link);
    // Moves what fits under the backlog bound from the socket to the
    // buffer, which must hold no handled bytes; returns how many it moved.
    qint64 ReadWhatFits(Link* link);
    void ContinueReading(Link* link);
    void Closing(Link* link, const QString& why);
    void OnFrame(Link* link, quint8 code, const QByteArray& body);
    void Close(Link* link, const QString& why);
    void Send(Link* link, const QByteArray& frame);
    void SendToChildren(const QByteArray& frame);
    void TryNextCandidate();
    void LoseParent();
    bool IsOfOurBranch(const QString& user) const;
    void UpdateChildDepth();
    void ReportState();
    QString OwnName() const;

    Link* m_parent = nullptr;
    QList<Link*> m_children;
    QStringList m_candidates;
    // The candidate whose link is being formed.
    QString m_trying;
    quint32 m_level = 0;
    QString m_branchRoot;
    quint32 m_childDepth = 0;
};

extern DNetManager* dnetManager;
