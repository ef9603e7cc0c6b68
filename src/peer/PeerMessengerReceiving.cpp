// The messages peers send us: each read by its reader in PeerMessages and
// handed on as a signal, and search results made into items.
#include "PeerMessenger.h"

#include <QPointer>
#include <QTimer>

#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "SearchResultIntake.h"
#include "TurnBudget.h"

namespace {
const char* const Area = "Peer Messenger";
// The records of a share list that cost a turn as much as one message.
const qint64 RecordsPerMessage = 256;
} // namespace

bool PeerMessenger::Inflated(PeerConnection* connection, quint32 code, const QByteArray& body, QByteArray& plain)
{
    const int limit = qMin(m_inflateLimit, PeerMessages::InflateLimitFor(code));
    const auto result = PeerMessages::Inflate(body.constData(), body.size(), limit, plain);
    if (result == PeerMessages::InflateResult::Ok)
        return true;
    if (result == PeerMessages::InflateResult::TooLarge)
        Log(Area, 1,
            QString("A compressed message from %1 inflates past %2 bytes; dropping it and the connection")
                .arg(connection->user)
                .arg(limit));
    else
        Log(Area, 1,
            QString("A compressed message from %1 does not inflate; closing the connection").arg(connection->user));
    Discard(connection);
    return false;
}

void PeerMessenger::OnMessage(PeerConnection* connection, quint32 code, const QByteArray& body)
{
    QPointer<PeerConnection> guard(connection);
    const QString user = connection->user;
    // Unlogged, as a flood of them would flood the log.
    if (AnswerAlreadyWaits(LatestMessageConnection(user), code)) {
        connection->QuestionClaim(code).Release();
        return;
    }
    if (PeerMessages::IsQuestion(code) && 4 + body.size() > MaxQuestion) {
        Log(Area, 1,
            QString("%1 asks with a message %2 of %3 bytes, longer than any path or folder name; not answering it")
                .arg(user)
                .arg(code)
                .arg(4 + body.size()));
        return;
    }
    bool ok = true;
    switch (code) {
    case PeerMessages::SharedFileListRequest:
        Log(Area, 2, QString("%1 asks for our share list").arg(user));
        if (m_shareListProvider)
            AskForShareList(user);
        else
            SendToUser(user, PeerMessages::EmptyShareList());
        break;
    case PeerMessages::SharedFileList:
        TakeShareList(connection, body);
        break;
    case PeerMessages::FileSearchResult:
    {
        QByteArray plain;
        if (!Inflated(connection, code, body, plain))
            return;
        ok = HandleSearchReply(connection, plain);
        break;
    }
    case PeerMessages::UserInfoRequest:
        emit UserInfoRequested(user);
        break;
    case PeerMessages::UserInfoReply:
    {
        PeerMessages::UserInfoBody info;
        ok = PeerMessages::ReadUserInfo(body, info);
        if (ok)
            emit UserInfoReceived(user, info.description, info.hasPicture,
                                  info.hasPicture ? info.picture.data() : nullptr, info.picture.size(),
                                  int(info.uploadSlots), int(info.queuedUploads), info.freeSlot);
        break;
    }
    case PeerMessages::FolderContentsRequest:
    {
        quint32 token = 0;
        QString folder;
        ok = PeerMessages::ReadFolderContentsRequest(body, token, folder);
        if (ok)
            emit SharedFilesInFolderRequested(user, token, folder);
        break;
    }
    case PeerMessages::FolderContents:
    {
        QByteArray plain;
        if (!Inflated(connection, code, body, plain))
            return;
        PeerMessages::FolderContentsBody contents;
        ok = PeerMessages::ReadFolderContents(plain, contents);
        if (ok)
            emit SharedFilesInFolder(user, contents.token, contents.folder, contents.folders);
        break;
    }
    case PeerMessages::TransferRequest:
    {
        PeerMessages::TransferRequestBody request;
        ok = PeerMessages::ReadTransferRequest(body, request);
        if (ok)
            emit FileTransferRequested(user, int(request.direction), request.token, request.path, request.size);
        break;
    }
    case PeerMessages::TransferResponse:
    {
        PeerMessages::TransferResponseBody response;
        ok = PeerMessages::ReadTransferResponse(body, response);
        if (ok)
            emit FileTransferResponse(user, response.token, response.allowed, response.sizePresent, response.size,
                                      response.reason);
        break;
    }
    case PeerMessages::QueueUpload:
    case PeerMessages::UploadFailed:
    case PeerMessages::PlaceInLineRequest:
    {
        std::string path;
        ok = PeerMessages::ReadPath(body, path);
        if (ok && code == PeerMessages::QueueUpload)
            emit QueueUploadRequested(user, ToQString(path));
        else if (ok && code == PeerMessages::UploadFailed)
            emit UploadFailed(user, path);
        else if (ok)
            emit UploadPlaceInLineRequested(user, ToQString(path));
        break;
    }
    case PeerMessages::PlaceInLine:
    {
        std::string path;
        quint32 place = 0;
        ok = PeerMessages::ReadPathAndPlace(body, path, place);
        if (ok)
            emit DownloadPlaceInLine(user, path, int(place));
        break;
    }
    case PeerMessages::UploadDenied:
    {
        std::string path;
        QString reason;
        ok = PeerMessages::ReadPathAndReason(body, path, reason);
        if (ok)
            emit UploadDenied(user, path, reason);
        break;
    }
    case PeerMessages::UploadOffer:
    {
        std::string path;
        qint64 size = 0;
        ok = PeerMessages::ReadPathAndSize(body, path, size);
        if (ok)
            emit QueueDownloadRequested(user, path, size);
        break;
    }
    default:
        Log(Area, 2, QString("Ignoring message %1 from %2, which we do not know").arg(code).arg(user));
        break;
    }
    if (!ok && guard) {
        Log(Area, 1,
            QString("Message %1 from %2 is cut short or malformed; closing the connection").arg(code).arg(user));
        Discard(connection);
    }
}

// ---------------------------------------------------------------------------
// Share lists, a slice per turn

void PeerMessenger::TakeShareList(PeerConnection* connection, const QByteArray& body)
{
    // A list is an answer: one that nobody waits for is never inflated, so
    // no peer makes us read and hold a list unasked.
    if (!m_shareListsAsked.remove(connection->user)) {
        Log(Area, 2, QString("%1 sends a share list we did not ask for; dropping it unread").arg(connection->user));
        return;
    }
    // What follows on the connection waits, so its messages keep their
    // order and each connection has one list read at a time; the room a
    // large list took in what connections share is held until it is read.
    connection->Pause();
    m_shareLists.push_back(
        {connection->user, connection, std::make_unique<ShareListReader>(body, m_inflateLimit, m_shareListEntryLimit)});
    ReadShareLists();
}

void PeerMessenger::ReadShareLists()
{
    while (!m_shareLists.empty()) {
        // On by a timer, not a posted call: the rest of the loop's work, and
        // its painting, has its turn between two slices.
        if (TurnBudget::Exhausted()) {
            m_shareListTimer->start();
            return;
        }
        // Every 256 records read spend a message's share of the turn, so a
        // list gives way to other connections' messages however fast it is
        // read.
        ShareListReader& reader = *m_shareLists.front().reader;
        qint64 spent = reader.RecordCount();
        const auto goOn = [&reader, &spent] {
            for (; reader.RecordCount() - spent >= RecordsPerMessage; spent += RecordsPerMessage)
                TurnBudget::Spend();
            return !TurnBudget::Exhausted();
        };
        if (reader.Read(goOn) == ShareListReader::Status::Reading)
            continue;
        PendingShareList read = std::move(m_shareLists.front());
        m_shareLists.pop_front();
        ShareListRead(read);
    }
}

void PeerMessenger::ShareListRead(PendingShareList& list)
{
    const ShareListReader::Status status = list.reader->GetStatus();
    if (status == ShareListReader::Status::Done) {
        const std::shared_ptr<FileInfoMap> share = list.reader->TakeList();
        const AttributeTranslationTable attributes = list.reader->TakeAttributes();
        list.reader.reset();
        if (list.connection)
            list.connection->Resume();
        emit UserShare(list.user, share, attributes);
        return;
    }
    ShareListRefusal why = ShareListRefusal::Unreadable;
    qint64 size = 0, bound = 0;
    if (status == ShareListReader::Status::TooLarge) {
        why = ShareListRefusal::InflatesTooFar;
        size = bound = m_inflateLimit;
        Log(Area, 1,
            QString("A compressed message from %1 inflates past %2 bytes; dropping it and the connection")
                .arg(list.user)
                .arg(m_inflateLimit));
    } else if (status == ShareListReader::Status::TooManyEntries) {
        why = ShareListRefusal::HoldsTooMany;
        size = list.reader->EntryCount();
        bound = list.reader->EntryLimit();
        Log(Area, 1,
            QString("The share list of %1 holds more than %2 folders, files and attribute names; dropping it and "
                    "the connection")
                .arg(list.user)
                .arg(bound));
    } else if (status == ShareListReader::Status::Corrupt) {
        Log(Area, 1, QString("A compressed message from %1 does not inflate; closing the connection").arg(list.user));
    } else {
        Log(Area, 1,
            QString("Message %1 from %2 is cut short or malformed; closing the connection")
                .arg(PeerMessages::SharedFileList)
                .arg(list.user));
    }
    if (list.connection)
        Discard(list.connection);
    emit ShareListRefused(list.user, why, size, bound);
}

void PeerMessenger::OnMessageTooLong(PeerConnection* connection, quint32 code, quint32 length)
{
    if (code != PeerMessages::SharedFileList || connection->user.isEmpty())
        return;
    Log(Area, 1,
        QString("The share list of %1 is %2 bytes long, past the bound of %3; closing the connection")
            .arg(connection->user)
            .arg(length)
            .arg(PeerMessages::MaxFrameLength));
    if (m_shareListsAsked.remove(connection->user))
        emit ShareListRefused(connection->user, ShareListRefusal::TooLong, length, PeerMessages::MaxFrameLength);
}

bool PeerMessenger::HandleSearchReply(PeerConnection* connection, const QByteArray& plain)
{
    PeerMessages::SearchReplyBody reply;
    const QString& user = connection->user;
    const SearchResultIntake::Sender sender{user, connection->RoomOwner().address};
    // Records past the places the search has for the sender are stepped
    // over unread.
    if (!PeerMessages::ReadSearchReply(
            plain, reply, [this, &sender](quint32 ticket) { return m_searchResults->Room(ticket, sender); }))
        return false;
    if (ToQString(reply.user) != user) {
        Log(Area, 1,
            QString("Search results under the name %1 arrived from %2; closing the connection")
                .arg(ToQString(reply.user), user));
        Discard(connection);
        return true;
    }
    m_searchResults->Take(sender, reply);
    return true;
}

void PeerMessenger::SetSearchResultLimit(int results)
{
    m_searchResults->SetLimit(results);
}

int PeerMessenger::SearchResultLimit() const
{
    return m_searchResults->Limit();
}

void PeerMessenger::SetSearchResultUserLimit(int results)
{
    m_searchResults->SetUserLimit(results);
}

int PeerMessenger::SearchResultUserLimit() const
{
    return m_searchResults->UserLimit();
}

void PeerMessenger::SetSearchResultAddressLimit(int results)
{
    m_searchResults->SetAddressLimit(results);
}

int PeerMessenger::SearchResultAddressLimit() const
{
    return m_searchResults->AddressLimit();
}

qint64 PeerMessenger::LeftOutSearchResults(ItemPtr request) const
{
    return m_searchResults->LeftOut(request);
}
