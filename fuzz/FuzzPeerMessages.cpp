// The readers of every peer message body and the bounded inflate: the first
// byte picks the reader, the rest is the body.
#include "FuzzSupport.h"
#include "PeerMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray body = fuzz::Bytes(data + 1, size - 1);
    switch (data[0] % 12) {
    case 0:
    {
        FileInfoMap folders;
        AttributeTranslationTable attributes;
        PeerMessages::ReadShareList(body, folders, attributes);
        break;
    }
    case 1:
    {
        PeerMessages::SearchReplyBody reply;
        PeerMessages::ReadSearchReply(body, reply);
        break;
    }
    case 2:
    {
        PeerMessages::UserInfoBody info;
        PeerMessages::ReadUserInfo(body, info);
        break;
    }
    case 3:
    {
        PeerMessages::FolderContentsBody contents;
        PeerMessages::ReadFolderContents(body, contents);
        break;
    }
    case 4:
    {
        quint32 token = 0;
        QString folder;
        PeerMessages::ReadFolderContentsRequest(body, token, folder);
        break;
    }
    case 5:
    {
        PeerMessages::TransferRequestBody request;
        PeerMessages::ReadTransferRequest(body, request);
        break;
    }
    case 6:
    {
        PeerMessages::TransferResponseBody response;
        PeerMessages::ReadTransferResponse(body, response);
        break;
    }
    case 7:
    {
        std::string path;
        PeerMessages::ReadPath(body, path);
        break;
    }
    case 8:
    {
        std::string path;
        quint32 place = 0;
        PeerMessages::ReadPathAndPlace(body, path, place);
        break;
    }
    case 9:
    {
        std::string path;
        QString reason;
        PeerMessages::ReadPathAndReason(body, path, reason);
        break;
    }
    case 10:
    {
        std::string path;
        qint64 fileSize = 0;
        PeerMessages::ReadPathAndSize(body, path, fileSize);
        break;
    }
    default:
    {
        // A small limit, so that a stream claiming more is seen to stop.
        const int limit = 64 * 1024;
        QByteArray out;
        const auto result = PeerMessages::Inflate(body.constData(), body.size(), limit, out);
        fuzz::Require(out.size() <= limit);
        if (result == PeerMessages::InflateResult::Ok) {
            // An inflated share list is read as one.
            FileInfoMap folders;
            AttributeTranslationTable attributes;
            PeerMessages::ReadShareList(out, folders, attributes);
        }
        break;
    }
    }
    return 0;
}
