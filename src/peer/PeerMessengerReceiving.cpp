// The messages peers send us: each read by its reader in PeerMessages and
// handed on as a signal, and search results made into items.
#include "PeerMessenger.h"

#include <QPointer>

#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "SearchResultIntake.h"

namespace {
const char* const Area = "Peer Messenger";
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
    if (!WillAnswer(user, code))
        return;
    bool ok = true;
    switch (code) {
    case PeerMessages::SharedFileListRequest:
    {
        Log(Area, 2, QString("%1 asks for our share list").arg(user));
        if (m_shareListProvider)
            m_shareListProvider(user);
        else
            SendToUser(user, PeerMessages::EmptyShareList());
        break;
    }
    case PeerMessages::SharedFileList:
    {
        QByteArray plain;
        if (!Inflated(connection, code, body, plain))
            return;
        FileInfoMap share;
        AttributeTranslationTable attributes;
        ok = PeerMessages::ReadShareList(plain, share, attributes);
        if (ok)
            emit UserShare(user, share, attributes);
        break;
    }
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

bool PeerMessenger::HandleSearchReply(PeerConnection* connection, const QByteArray& plain)
{
    PeerMessages::SearchReplyBody reply;
    // Records past what the search may still keep are stepped over unread.
    if (!PeerMessages::ReadSearchReply(plain, reply, [this](quint32 ticket) { return m_searchResults->Room(ticket); }))
        return false;
    const QString user = connection->user;
    if (ToQString(reply.user) != user) {
        Log(Area, 1,
            QString("Search results under the name %1 arrived from %2; closing the connection")
                .arg(ToQString(reply.user), user));
        Discard(connection);
        return true;
    }
    m_searchResults->Take(user, reply);
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

qint64 PeerMessenger::LeftOutSearchResults(ItemPtr request) const
{
    return m_searchResults->LeftOut(request);
}
