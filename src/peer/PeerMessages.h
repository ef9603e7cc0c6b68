#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <string>
#include <vector>

#include "FileInfo.h"

class MemStream;

// The peer messages of a message ("P") connection: their codes, their
// builders and their readers. A reader takes the body (the bytes after the
// code) and fails, changing nothing that the caller may use, when the body
// ends before its last field or a count promises more than the body holds;
// it never reads past the end, so any bytes at all may be fed to it.
class PeerMessages
{
public:
    enum Code : quint32
    {
        SharedFileListRequest = 4,
        SharedFileList = 5,
        FileSearchResult = 9,
        UserInfoRequest = 15,
        UserInfoReply = 16,
        FolderContentsRequest = 36,
        FolderContents = 37,
        TransferRequest = 40,
        TransferResponse = 41,
        QueueUpload = 43,
        PlaceInLine = 44,
        UploadFailed = 46,
        UploadDenied = 50,
        PlaceInLineRequest = 51,
        UploadOffer = 60
    };

    // The largest length field of a frame (code and body) that is read.
    static constexpr quint32 MaxFrameLength = 10485760;
    // The most that one compressed message may inflate to. A share list of a
    // million files takes about 80 MB; the cap leaves room three times over
    // and stops a few kilobytes from a peer from claiming gigabytes.
    static constexpr int InflateLimit = 256 * 1024 * 1024;

    struct TransferRequestBody
    {
        quint32 direction = 0;
        quint32 token = 0;
        std::string path;
        qint64 size = 0;
    };
    struct TransferResponseBody
    {
        quint32 token = 0;
        bool allowed = false;
        bool sizePresent = false;
        qint64 size = 0;
        QString reason;
    };
    struct SearchReplyBody
    {
        std::string user;
        quint32 token = 0;
        std::vector<FileInfo> files;
        bool freeSlot = false;
        quint32 speed = 0;
        quint32 queued = 0;
        AttributeTranslationTable attributes;
    };
    struct UserInfoBody
    {
        QString description;
        bool hasPicture = false;
        QByteArray picture;
        quint32 uploadSlots = 0;
        quint32 queuedUploads = 0;
        bool freeSlot = false;
    };
    struct FolderContentsBody
    {
        quint32 token = 0;
        QString folder;
        FileInfoMap folders;
    };

    enum class InflateResult
    {
        Ok,
        Corrupt,
        TooLarge
    };
    // Inflates a zlib stream, stopping as soon as the output would pass
    // limit bytes. A stream that does not end within the input is Corrupt.
    static InflateResult Inflate(const char* data, qint64 size, int limit, QByteArray& out);

    // Readers, one per body layout.
    static bool ReadShareList(const QByteArray& body, FileInfoMap& folders, AttributeTranslationTable& attributes);
    static bool ReadSearchReply(const QByteArray& body, SearchReplyBody& reply);
    static bool ReadUserInfo(const QByteArray& body, UserInfoBody& info);
    static bool ReadFolderContents(const QByteArray& body, FolderContentsBody& contents);
    static bool ReadFolderContentsRequest(const QByteArray& body, quint32& token, QString& folder);
    // The size is required for direction 1 (an upload offer) and optional
    // otherwise (0 when absent).
    static bool ReadTransferRequest(const QByteArray& body, TransferRequestBody& request);
    static bool ReadTransferResponse(const QByteArray& body, TransferResponseBody& response);
    // Messages 43, 46 and 51.
    static bool ReadPath(const QByteArray& body, std::string& path);
    // Message 44.
    static bool ReadPathAndPlace(const QByteArray& body, std::string& path, quint32& place);
    // Message 50.
    static bool ReadPathAndReason(const QByteArray& body, std::string& path, QString& reason);
    // Message 60.
    static bool ReadPathAndSize(const QByteArray& body, std::string& path, qint64& size);

    // A share list with no folders, compressed: the answer to a share-list
    // request while nothing else provides one.
    static MemStream EmptyShareList();
    // The code followed by the zlib stream of the body (level 9).
    static MemStream Compressed(quint32 code, const QByteArray& body);
};
