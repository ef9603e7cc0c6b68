// The messages peers send us: each read by its reader in PeerMessages and
// handed on as a signal, and search results made into items.
#include "PeerMessenger.h"

#include <QPointer>
#include <vector>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "PeerNames.h"
#include "ServerNames.h"

namespace {
const char* const Area = "Peer Messenger";
} // namespace

bool PeerMessenger::Inflated(PeerConnection* connection, const QByteArray& body, QByteArray& plain)
{
    const auto result = PeerMessages::Inflate(body.constData(), body.size(), m_inflateLimit, plain);
    if (result == PeerMessages::InflateResult::Ok)
        return true;
    if (result == PeerMessages::InflateResult::TooLarge)
        Log(Area, 1,
            QString("A compressed message from %1 inflates past %2 bytes; dropping it and the connection")
                .arg(connection->user)
                .arg(m_inflateLimit));
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
        if (!Inflated(connection, body, plain))
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
        if (!Inflated(connection, body, plain))
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
        if (!Inflated(connection, body, plain))
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
    if (!PeerMessages::ReadSearchReply(plain, reply))
        return false;
    const QString user = connection->user;
    if (ToQString(reply.user) != user) {
        Log(Area, 1,
            QString("Search results under the name %1 arrived from %2; closing the connection")
                .arg(ToQString(reply.user), user));
        Discard(connection);
        return true;
    }

    ItemPtr request = d.GetType(ServerNames::SearchRequest)->HasItem(Value(reply.token));
    if (!request || request.IsConnected(PeerNames::SearchStopped)) {
        if (IsLogging())
            Log(Area, 3,
                QString("Dropping search results of %1 for ticket %2, which is unknown or stopped")
                    .arg(user)
                    .arg(reply.token));
        return true;
    }
    ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(user);
    if (userItem.IsConnected(ServerNames::IsIgnored))
        return true;

    ItemPtr wish = request[ServerNames::WishListItem];
    const bool discardRepeats = wish.IsConnected(PeerNames::DiscardRepeatedResults);
    if (discardRepeats && userItem && wish[PeerNames::ReceivedResultsFromUsers].IsConnected(userItem)) {
        Log("Wish List", 1, QString("Throwing away repeated search results from user %1").arg(user));
        return true;
    }

    // A record without a file name (an empty path, or one that ends in a
    // separator) names no file anyone could download.
    struct Split
    {
        const FileInfo* file;
        std::string folder;
        std::string name;
    };
    std::vector<Split> files;
    for (const FileInfo& file : reply.files) {
        const std::string& path = file.Name();
        // Remote paths are cut at "\" only: a "/" belongs to the name, which
        // is asked for again exactly as listed.
        const size_t separator = path.rfind('\\');
        Split split{&file, separator == std::string::npos ? std::string() : path.substr(0, separator),
                    separator == std::string::npos ? path : path.substr(separator + 1)};
        if (!split.name.empty() && split.name.back() != '/')
            files.push_back(std::move(split));
    }
    if (files.empty()) {
        if (IsLogging())
            Log(Area, 3, QString("Search results of %1 hold no usable file").arg(user));
        return true;
    }

    Data::Batch batch(&d);
    userItem = d.GetType(ServerNames::User)->GetItem(user);
    ItemPtr results = d.GetType(PeerNames::SearchResults)->NewItem();
    results += userItem;
    results += d.GetType(PeerNames::SearchResultsUserAvailable)->GetItem(reply.freeSlot ? "yes" : "no");
    results += d.GetType(PeerNames::SearchResultsUserSpeed)->GetItem(Value(reply.speed));
    results += d.GetType(PeerNames::SearchResultsUploadsInQueue)->GetItem(Value(reply.queued));
    for (const Split& split : files) {
        ItemPtr result = results.NewItem(PeerNames::SearchResult);
        result += d.GetType(PeerNames::SearchResultFileName)->GetItem(split.name);
        result += d.GetType(PeerNames::SearchResultFileFolder)->GetItem(split.folder);
        result += d.GetType(PeerNames::FileSize)->GetItem(Value(split.file->Size()));
        for (const auto& attribute : split.file->Attributes().Values()) {
            if (attribute.first == AttributeMap::Bitrate)
                result += d.GetType(PeerNames::Bitrate)->GetItem(Value(attribute.second));
            else if (attribute.first == AttributeMap::LengthSeconds)
                result += d.GetType(PeerNames::LengthSeconds)->GetItem(Value(attribute.second));
            else if (attribute.first == AttributeMap::VariableBitrate)
                result += d.GetType(PeerNames::BitrateMode)->GetItem(attribute.second ? "vbr" : "cbr");
        }
    }
    request += results;
    if (discardRepeats) {
        ItemPtr received = wish[PeerNames::ReceivedResultsFromUsers];
        if (!received)
            received = wish.NewItem(PeerNames::ReceivedResultsFromUsers);
        received += userItem;
    }
    // Results come by the hundred a second: no text is made unless logged.
    if (IsLogging())
        Log("Search", 2, QString("%1 result(s) from %2 for ticket %3").arg(files.size()).arg(user).arg(reply.token));
    emit SearchResults(results);
    return true;
}
