#include "DNetManager.h"

#include <QMetaObject>
#include <QPointer>
#include <QTcpSocket>
#include <algorithm>

#include "Log.h"
#include "MemStream.h"
#include "PeerMessenger.h"
#include "ReadBacklog.h"
#include "Server.h"
#include "Settings.h"
#include "TimerManager.h"
#include "TurnBudget.h"

DNetManager* dnetManager = nullptr;

namespace {
const char* const Area = "Distributed Network";

QByteArray Frame(DNetManager::FrameCode code, const MemStream& body)
{
    MemStream frame;
    frame.Write(quint32(1 + body.GetLength()));
    frame.Write(quint8(code));
    frame.Append(body.GetBytes());
    return frame.GetBytes();
}
} // namespace

DNetManager::DNetManager(QObject* parent) : QObject(parent)
{
    dnetManager = this;
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this, &DNetManager::OnDNetConnectionRequested);
        connect(peerMessenger, &PeerMessenger::DNetConnectionAccepted, this, &DNetManager::OnDNetConnectionAccepted);
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &DNetManager::OnConnectionToUserFailed);
    }
    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &DNetManager::OnServerConnected);
        connect(gp_server, &Server::DistributedParentCandidates, this, &DNetManager::OnParentCandidates);
        connect(gp_server, &Server::DistributedSearch, this, &DNetManager::OnDistributedSearch);
    }
    if (timerManager)
        connect(timerManager, &QTimer::timeout, this, &DNetManager::OnHalfMinuteTick);
}

DNetManager::~DNetManager()
{
    QList<Link*> links = m_children;
    if (m_parent)
        links.append(m_parent);
    for (Link* link : links) {
        link->socket->disconnect(this);
        delete link->socket;
        delete link;
    }
    if (dnetManager == this)
        dnetManager = nullptr;
}

QString DNetManager::Parent() const
{
    return m_parent ? m_parent->user : QString();
}

QStringList DNetManager::Children() const
{
    QStringList users;
    for (const Link* link : m_children)
        users << link->user;
    return users;
}

QString DNetManager::BranchRoot() const
{
    return m_parent && !m_branchRoot.isEmpty() ? m_branchRoot : OwnName();
}

int DNetManager::ChildLimit() const
{
    const int speed = GetSetting("upload_speed").toInt();
    return std::clamp(speed / BytesPerSecondPerChild, MinChildren, MaxChildren);
}

QString DNetManager::OwnName() const
{
    return GetSetting("username");
}

// ---------------------------------------------------------------------------
// Frames

QByteArray DNetManager::Search(const QString& user, quint32 token, const QString& text)
{
    MemStream body;
    body.Write(user);
    body.Write(token);
    body.Write(text);
    return Frame(SearchFrame, body);
}

QByteArray DNetManager::Number(FrameCode code, quint32 number)
{
    MemStream body;
    body.Write(number);
    return Frame(code, body);
}

QByteArray DNetManager::Name(FrameCode code, const QString& name)
{
    MemStream body;
    body.Write(name);
    return Frame(code, body);
}

bool DNetManager::ReadSearch(const QByteArray& body, QString& user, quint32& token, QString& text)
{
    MemStream in(body);
    QString readUser, readText;
    quint32 readToken = 0;
    if (!in.Read(readUser) || !in.Read(readToken) || !in.Read(readText))
        return false;
    user = readUser;
    token = readToken;
    text = readText;
    return true;
}

// ---------------------------------------------------------------------------
// Links

DNetManager::Link* DNetManager::Adopt(const QString& user, QTcpSocket* socket)
{
    auto* link = new Link;
    link->user = user;
    link->socket = socket;
    socket->setParent(this);
    socket->setReadBufferSize(ReadBacklog::SocketBufferLimit);
    connect(socket, &QTcpSocket::readyRead, this, [this, link] { OnReadable(link); });
    connect(socket, &QTcpSocket::disconnected, this, [this, link] { Closing(link, "closed by the other side"); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, link] { Closing(link, link->socket->errorString()); });
    // Frames may have come in with the opening, before the hand-over.
    QPointer<QTcpSocket> guard(socket);
    QMetaObject::invokeMethod(
        this,
        [this, link, guard] {
            if (guard && (link == m_parent || m_children.contains(link)))
                OnReadable(link);
        },
        Qt::QueuedConnection);
    return link;
}

void DNetManager::OnReadable(Link* link)
{
    int taken = 0;
    for (;;) {
        const int held = link->buffer.size() - taken;
        quint32 length = 0;
        if (held >= 4) {
            MemStream header(link->buffer.constData() + taken, 4);
            header.Read(length);
            if (length < 1 || length > MaxFrameLength) {
                Close(link, QString("frame length %1 out of bounds").arg(length));
                return;
            }
        }
        if (held < 4 || held < 4 + int(length)) {
            link->buffer.remove(0, taken);
            taken = 0;
            if (ReadWhatFits(link) > 0)
                continue;
            break;
        }
        // A burst of searches from the parent is a search of our shares
        // each: they are handled a turn's budget at a time, in order.
        if (TurnBudget::Exhausted()) {
            link->buffer.remove(0, taken);
            ContinueReading(link);
            return;
        }
        const quint8 code = quint8(link->buffer.at(taken + 4));
        const QByteArray body = link->buffer.mid(taken + 5, int(length) - 1);
        taken += 4 + int(length);
        // A frame may end the link (a malformed one does).
        const bool parent = link == m_parent;
        OnFrame(link, code, body);
        TurnBudget::Spend();
        if (parent ? link != m_parent : !m_children.contains(link))
            return;
    }
    if (link->closing)
        Close(link, link->closeReason);
}

qint64 DNetManager::ReadWhatFits(Link* link)
{
    const QByteArray bytes =
        ReadBacklog::ReadWhatFits(link->socket, link->buffer, ReadBacklog::MaxBacklog, MaxFrameLength);
    link->buffer.append(bytes);
    return bytes.size();
}

qint64 DNetManager::UnreadBytes() const
{
    qint64 unread = 0;
    for (const Link* link : m_children)
        unread += link->buffer.size() + link->socket->bytesAvailable();
    if (m_parent)
        unread += m_parent->buffer.size() + m_parent->socket->bytesAvailable();
    return unread;
}

void DNetManager::Closing(Link* link, const QString& why)
{
    if (link != m_parent && !m_children.contains(link))
        return;
    // What came before the end still counts; the link ends once it is
    // handled.
    if (!link->closing) {
        link->closing = true;
        link->closeReason = why;
    }
    OnReadable(link);
}

void DNetManager::ContinueReading(Link* link)
{
    if (link->continuationQueued)
        return;
    link->continuationQueued = true;
    QPointer<QTcpSocket> guard(link->socket);
    QMetaObject::invokeMethod(
        this,
        [this, link, guard] {
            // The link may have ended meanwhile.
            if (guard && (link == m_parent || m_children.contains(link)) && link->socket == guard) {
                link->continuationQueued = false;
                OnReadable(link);
            }
        },
        Qt::QueuedConnection);
}

void DNetManager::OnFrame(Link* link, quint8 code, const QByteArray& body)
{
    MemStream in(body);
    if (link == m_parent) {
        if (code == SearchFrame) {
            QString user, text;
            quint32 token = 0;
            if (!ReadSearch(body, user, token, text)) {
                Close(link, "unreadable search frame");
                return;
            }
            Log(Area, 3, QString("Search from %1 for \"%2\" came down from %3").arg(user, text, link->user));
            SendToChildren(Search(user, token, text));
            emit DNetSearchRequest(user, token, text);
        } else if (code == LevelFrame) {
            quint32 level = 0;
            if (!in.Read(level)) {
                Close(link, "unreadable level frame");
                return;
            }
            if (level >= MaxLevel) {
                Close(link, QString("level %1 is beyond any tree: a loop").arg(level));
                return;
            }
            if (m_level != level + 1) {
                m_level = level + 1;
                SendToChildren(Number(LevelFrame, m_level));
                ReportState();
            }
        } else if (code == GroupLeaderFrame) {
            QString root;
            if (!in.Read(root)) {
                Close(link, "unreadable group leader frame");
                return;
            }
            // A parent below us in our own branch closes a loop.
            if (IsOfOurBranch(root)) {
                Close(link, QString("its branch root %1 is of our own branch: a loop").arg(root));
                return;
            }
            if (m_branchRoot != root) {
                m_branchRoot = root;
                SendToChildren(Name(GroupLeaderFrame, root));
                ReportState();
            }
        } else
            Log(Area, 3, QString("Ignoring frame %1 from our parent %2").arg(code).arg(link->user));
        return;
    }

    if (code == ChildDepthFrame) {
        quint32 depth = 0;
        if (!in.Read(depth)) {
            Close(link, "unreadable child depth frame");
            return;
        }
        if (depth >= MaxLevel) {
            Close(link, QString("depth %1 is beyond any tree: a loop").arg(depth));
            return;
        }
        link->depth = depth;
        UpdateChildDepth();
    } else
        Log(Area, 3, QString("Ignoring frame %1 from our child %2").arg(code).arg(link->user));
}

void DNetManager::Close(Link* link, const QString& why)
{
    const bool parent = link == m_parent;
    if (!parent && !m_children.contains(link))
        return;
    Log(Area, 1, QString("Link to our %1 %2 closed: %3").arg(parent ? "parent" : "child", link->user, why));
    link->socket->disconnect(this);
    link->socket->abort();
    link->socket->deleteLater();
    if (parent) {
        m_parent = nullptr;
        delete link;
        LoseParent();
        return;
    }
    m_children.removeAll(link);
    delete link;
    UpdateChildDepth();
    ReportState();
}

void DNetManager::Send(Link* link, const QByteArray& frame)
{
    link->socket->write(frame);
}

void DNetManager::SendToChildren(const QByteArray& frame)
{
    for (Link* child : m_children)
        Send(child, frame);
}

// ---------------------------------------------------------------------------
// Parent

void DNetManager::OnHalfMinuteTick()
{
    if (m_parent || !m_trying.isEmpty() || !gp_server || !gp_server->IsConnected())
        return;
    Log(Area, 2, "Asking the server for parent candidates");
    gp_server->GetDistributedParentCandidates();
}

void DNetManager::OnParentCandidates(QStringList users)
{
    if (m_parent || !m_trying.isEmpty())
        return;
    m_candidates.clear();
    for (const QString& user : users)
        if (!user.isEmpty() && !IsOfOurBranch(user) && !m_candidates.contains(user))
            m_candidates << user;
    Log(Area, 2, QString("%1 parent candidate(s)").arg(m_candidates.size()));
    TryNextCandidate();
}

void DNetManager::TryNextCandidate()
{
    m_trying.clear();
    if (m_candidates.isEmpty() || !peerMessenger)
        return;
    m_trying = m_candidates.takeFirst();
    Log(Area, 2, QString("Trying %1 as our parent").arg(m_trying));
    peerMessenger->RequestDNetConnectionToUser(m_trying);
}

void DNetManager::OnConnectionToUserFailed(QString user, QString type)
{
    if (type == "D" && user == m_trying)
        TryNextCandidate();
}

void DNetManager::OnDNetConnectionAccepted(QString user, QTcpSocket* socket)
{
    if (m_parent || user != m_trying || IsOfOurBranch(user)) {
        // A late answer from a candidate we no longer wait for, or one
        // that became our child meanwhile.
        socket->abort();
        socket->deleteLater();
        if (!m_parent && user == m_trying)
            TryNextCandidate();
        return;
    }
    m_trying.clear();
    m_candidates.clear();
    m_parent = Adopt(user, socket);
    m_level = 1;
    m_branchRoot = user;
    Log(Area, 1, QString("%1 is our parent").arg(user));
    Send(m_parent, Number(ChildDepthFrame, m_childDepth));
    SendToChildren(Number(LevelFrame, m_level));
    SendToChildren(Name(GroupLeaderFrame, BranchRoot()));
    ReportState();
}

bool DNetManager::IsOfOurBranch(const QString& user) const
{
    if (user == OwnName())
        return true;
    for (const Link* child : m_children)
        if (child->user == user)
            return true;
    return false;
}

void DNetManager::LoseParent()
{
    m_level = 0;
    m_branchRoot.clear();
    SendToChildren(Number(LevelFrame, m_level));
    SendToChildren(Name(GroupLeaderFrame, BranchRoot()));
    ReportState();
}

// ---------------------------------------------------------------------------
// Children

void DNetManager::OnDNetConnectionRequested(QString user, QTcpSocket* socket)
{
    for (Link* child : QList<Link*>(m_children))
        if (child->user == user)
            Close(child, "the user linked again");
    if (user == OwnName() || user == Parent() || (m_parent && user == m_branchRoot) ||
        m_children.size() >= ChildLimit()) {
        Log(Area, 2, QString("Not taking %1 as a child").arg(user));
        socket->abort();
        socket->deleteLater();
        return;
    }
    Link* link = Adopt(user, socket);
    m_children.append(link);
    Log(Area, 1, QString("%1 is our child").arg(user));
    Send(link, Number(LevelFrame, m_level));
    Send(link, Name(GroupLeaderFrame, BranchRoot()));
    ReportState();
}

void DNetManager::UpdateChildDepth()
{
    quint32 depth = 0;
    for (const Link* child : m_children)
        depth = std::max(depth, child->depth + 1);
    if (depth == m_childDepth)
        return;
    m_childDepth = depth;
    if (m_parent)
        Send(m_parent, Number(ChildDepthFrame, m_childDepth));
    ReportState();
}

void DNetManager::OnDistributedSearch(QString user, quint32 token, QString text)
{
    // Only a branch root passes the server's searches down; below it they
    // come from the parent.
    if (!m_parent)
        SendToChildren(Search(user, token, text));
}

// ---------------------------------------------------------------------------
// Server

void DNetManager::OnServerConnected()
{
    ReportState();
}

void DNetManager::ReportState()
{
    if (!gp_server || !gp_server->IsConnected())
        return;
    gp_server->SendDistributedState(HasParent(), BranchRoot(), m_level, quint32(m_children.size()),
                                    quint32(ChildLimit()), m_childDepth);
}
