// What peers may make us hold, connection by connection and in the rooms all
// connections share: when a question is handled, when search results are
// sent, when a share list is built, and the room taken back from
// connections that stall while others wait for it.
#include "PeerMessenger.h"

#include <QHash>
#include <QTimer>
#include <QtEndian>
#include <algorithm>

#include "Log.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "WriteBacklog.h"

namespace {
const char* const Area = "Peer Messenger";
} // namespace

bool PeerMessenger::MayHandle(PeerConnection* connection, quint32 code, qint64 size)
{
    PeerConnection* latest = LatestMessageConnection(connection->user);
    PeerConnection* answering = latest ? latest : connection;
    // Handled at once: dropped there.
    if (AnswerAlreadyWaits(answering, code))
        return true;
    if (!answering->HasRoomFor(0)) {
        if (!answering->backedUp)
            Log(Area, 1,
                QString("%1 leaves %2 bytes we sent it unread; its questions wait until it reads")
                    .arg(connection->user)
                    .arg(answering->UnwrittenBytes()));
        answering->backedUp = true;
        return false;
    }
    if (answering->backedUp)
        Log(Area, 1, QString("%1 reads again; its questions are answered").arg(connection->user));
    answering->backedUp = false;
    // An answer that may be large is built only once there is room for it,
    // in turn; a share list claims its room when its turn to be built comes.
    const qint64 expected = code == PeerMessages::SharedFileListRequest ? 0 : ExpectedAnswer(code, size);
    return expected == 0 || connection->QuestionClaim(code).Claim(expected, [connection] { connection->Reconsider(); });
}

bool PeerMessenger::AnswerAlreadyWaits(PeerConnection* answering, quint32 code)
{
    return (code == PeerMessages::SharedFileListRequest || code == PeerMessages::UserInfoRequest) && answering &&
           answering->Waits(PeerMessages::AnswerTo(code));
}

qint64 PeerMessenger::ExpectedAnswer(quint32 questionCode, qint64 size) const
{
    // Not answered at all.
    if (size > MaxQuestion)
        return 0;
    const quint32 answer = PeerMessages::AnswerTo(questionCode);
    if (answer == PeerMessages::SharedFileList || answer == PeerMessages::UserInfoReply ||
        answer == PeerMessages::FolderContents)
        return m_answerSizes.value(answer, 4 + qint64(PeerMessages::MaxFrameLength));
    // A transfer response, place in line or refusal repeats the path asked
    // about, with a reason of our own.
    return size <= SmallQuestion ? 0 : size + SmallQuestion;
}

void PeerMessenger::OnTaken(PeerConnection* connection)
{
    m_connectionPolicy.Taken(connection, m_clock(), connection->DeliveredBytes(), connection->UndeliveredBytes() > 0);
    if (connection->backedUp && connection->HasRoomFor(0))
        for (PeerConnection* asked : m_messageConnections.value(connection->user))
            asked->Reconsider();
}

bool PeerMessenger::SearchReplyFits(PeerConnection* connection, const QString& user, qint64 size)
{
    const SharedAllowance::Owner owner = connection ? connection->RoomOwner() : SharedAllowance::Owner{user, {}, 0};
    const bool fits = (connection ? connection->HasRoomFor(size) : WriteBacklog::Within(UnsentBytes(user), size)) &&
                      m_answers->Admits(owner, 4 + size);
    if (fits) {
        if (m_droppedSearchReplies > 0)
            Log(Area, 1, QString("Search results fit again; %1 were dropped meanwhile").arg(m_droppedSearchReplies));
        m_droppedSearchReplies = 0;
    } else if (m_droppedSearchReplies++ == 0)
        Log(Area, 1,
            QString("Dropping search results of %1 bytes to %2, and more until they fit: %3 bytes wait for it, "
                    "%4 for all peers")
                .arg(size)
                .arg(user)
                .arg(UnwrittenBytes(user))
                .arg(m_answers->Used()));
    return fits;
}

void PeerMessenger::FollowDeliveries()
{
    // A copy: what a peer took may have its connections reconsidered.
    const QList<QList<PeerConnection*>> all = m_messageConnections.values();
    for (const QList<PeerConnection*>& connections : all)
        for (PeerConnection* connection : connections)
            connection->FollowDelivery();
}

void PeerMessenger::CheckRooms()
{
    FollowDeliveries();
    const qint64 now = m_clock();
    TakeBack(*m_answers, "our answers", false, [&](PeerConnection* connection) {
        return m_connectionPolicy.RoomStalled(connection, now, RoomStallTimeout);
    });
    TakeBack(*m_largeMessages, "large messages", true, [&](PeerConnection* connection) {
        // A connection whose message we are still reading waits on us, not on its peer.
        return connection->LargeMessageHeld() > 0 && !connection->IsPaused() &&
               m_connectionPolicy.SilentFor(connection, now) >= RoomStallTimeout;
    });
    if (m_answers->Waiting() == 0 && m_largeMessages->Waiting() == 0)
        m_roomCheck->stop();
}

void PeerMessenger::TakeBack(SharedAllowance& room, const QString& what, bool overPart,
                             const std::function<bool(PeerConnection* connection)>& stalled)
{
    if (room.Shortfall() == 0)
        return;
    QHash<quint64, PeerConnection*> holders;
    for (const QList<PeerConnection*>& connections : m_messageConnections)
        for (PeerConnection* connection : connections)
            holders.insert(connection->RoomOwner().holder, connection);
    // Each turn closes one holder, so this ends.
    while (!holders.isEmpty()) {
        PeerConnection* connection = holders.value(room.HolderToTakeBackFrom(
            [&](quint64 holder) {
                PeerConnection* held = holders.value(holder);
                return held && stalled(held);
            },
            overPart));
        if (!connection)
            return;
        holders.remove(connection->RoomOwner().holder);
        Log(Area, 1,
            QString("Closing a connection of %1 (%2): its name holds %3 bytes of the room for %4, which others wait "
                    "for, and it moved none of them or holds more than its part")
                .arg(connection->user, connection->RoomOwner().address)
                .arg(room.HeldByName(connection->user))
                .arg(what));
        Discard(connection);
    }
}

void PeerMessenger::DropUnsentAnswers(const QString& user, const QString& why)
{
    auto unsent = m_unsent.find(user);
    if (unsent == m_unsent.end())
        return;
    std::deque<Unsent>& messages = unsent->second;
    const size_t before = messages.size();
    messages.erase(std::remove_if(messages.begin(), messages.end(),
                                  [](const Unsent& message) {
                                      return message.message.size() >= 4 &&
                                             PeerMessages::IsAnswer(
                                                 qFromLittleEndian<quint32>(message.message.constData()));
                                  }),
                   messages.end());
    if (messages.size() != before)
        Log(Area, 1, QString("Dropped %1 answer(s) to %2: %3").arg(before - messages.size()).arg(user, why));
    if (messages.empty())
        m_unsent.erase(unsent);
}

void PeerMessenger::AskForShareList(const QString& user)
{
    // One list answers every request made before it is sent.
    if (user == m_listBuilding || std::find(m_listWaiting.begin(), m_listWaiting.end(), user) != m_listWaiting.end())
        return;
    m_listWaiting.push_back(user);
    ServeShareLists();
}

void PeerMessenger::ServeShareLists()
{
    m_listServeQueued = false;
    if (!m_listBuilding.isEmpty() || m_listWaiting.empty())
        return;
    if (!m_shareListProvider) {
        std::deque<QString> waiting;
        waiting.swap(m_listWaiting);
        for (const QString& user : waiting)
            SendToUser(user, PeerMessages::EmptyShareList());
        return;
    }
    auto ownerOf = [this](const QString& user) {
        PeerConnection* latest = LatestMessageConnection(user);
        return SharedAllowance::Owner{user, latest ? latest->RoomOwner().address : QString(), 0};
    };
    auto next = m_listWaiting.begin();
    qint64 least = m_answers->Standing(ownerOf(*next));
    for (auto it = std::next(next); it != m_listWaiting.end(); ++it) {
        const qint64 standing = m_answers->Standing(ownerOf(*it));
        if (standing < least) {
            next = it;
            least = standing;
        }
    }
    m_listBuilding = *next;
    m_listWaiting.erase(next);
    m_listHanded = false;
    // Never taken back: it moves nothing until the list is built. It
    // claims the headroom too, which it gives back once granted, and lets
    // answers that fit go first while it waits.
    m_listRoom = SharedAllowance::Share(m_answers, ownerOf(m_listBuilding));
    const qint64 expected = ExpectedAnswer(PeerMessages::SharedFileListRequest, 0);
    m_listHeadroom =
        std::max<qint64>(0, std::min(m_answers->Total() / ShareListHeadroomDivisor, m_answers->Total() - expected));
    if (m_listRoom.Claim(
            expected + m_listHeadroom,
            [this] {
                QMetaObject::invokeMethod(
                    this, [this] { HandShareListOver(); }, Qt::QueuedConnection);
            },
            true))
        HandShareListOver();
}

void PeerMessenger::ServeShareListsSoon()
{
    if (m_listServeQueued)
        return;
    m_listServeQueued = true;
    QMetaObject::invokeMethod(
        this, [this] { ServeShareLists(); }, Qt::QueuedConnection);
}

void PeerMessenger::HandShareListOver()
{
    if (m_listBuilding.isEmpty() || m_listHanded || !m_listRoom.Held())
        return;
    m_listHanded = true;
    m_listHandedAt = m_clock();
    m_listRoom.Remove(m_listHeadroom);
    // The provider may answer before it returns.
    const QString user = m_listBuilding;
    if (m_shareListProvider)
        m_shareListProvider(user);
    else
        SendToUser(user, PeerMessages::EmptyShareList());
}

void PeerMessenger::ShareListSent()
{
    m_listRoom.Release();
    m_listBuilding.clear();
    m_listHanded = false;
    ServeShareListsSoon();
}

void PeerMessenger::ForgetShareListRequest(const QString& user)
{
    m_listWaiting.erase(std::remove(m_listWaiting.begin(), m_listWaiting.end(), user), m_listWaiting.end());
    // A list already handed over is sent all the same, as any answer, but
    // nobody waits for it in line.
    if (user == m_listBuilding)
        ShareListSent();
}

void PeerMessenger::ExpireHandedShareList(qint64 now)
{
    if (m_listBuilding.isEmpty() || !m_listHanded || now - m_listHandedAt < HandedShareListTimeout)
        return;
    Log(Area, 1,
        QString("The share list for %1 was neither sent nor refused within %2 s; the next in line goes on")
            .arg(m_listBuilding)
            .arg(HandedShareListTimeout / 1000));
    ShareListSent();
}
