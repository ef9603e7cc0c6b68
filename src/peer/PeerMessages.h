#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
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
    // The most entries (folders, files, attribute names) one share list
    // may hold. The most compressible honest lists measured (short numbered
    // names, no attributes) take 4.6 to 5 bytes an entry, so a frame holds
    // about 2.3 million of theirs. At the bound minimal records take 440 MB
    // once read, where the inflate limit alone let a frame make 2 GB of them.
    static constexpr qint64 ShareListEntryLimit = 2500000;
    // The most that one compressed message may inflate to. A share list of a
    // million files takes about 80 MB; the cap leaves room three times over
    // and stops a few kilobytes from a peer from claiming gigabytes.
    static constexpr int InflateLimit = 256 * 1024 * 1024;
    // The most that a search reply may inflate to: room for far more
    // results than one search keeps, while the inflating itself stays short
    // enough not to hold the event loop.
    static constexpr int SearchReplyInflateLimit = 8 * 1024 * 1024;
    // The most that a received compressed message of that code may inflate to.
    static constexpr int InflateLimitFor(quint32 code)
    {
        return code == FileSearchResult ? SearchReplyInflateLimit : InflateLimit;
    }

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
        // Records stepped over unread, beyond those the reader was to keep.
        quint32 filesNotRead = 0;
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
    // Our answer to a peer's question (a request that asks for nothing but
    // that answer); 0 for any other code.
    static quint32 AnswerTo(quint32 request);
    // Whether we send messages of that code only because a peer asked (a
    // question, a transfer or queue request, a search): what waits unread
    // of these is bounded, while our own requests always go.
    static bool IsAnswer(quint32 code);
    // Whether a peer's message of that code may make us answer (a question,
    // a transfer or queue request): handled only while our answers to that
    // peer have room.
    static bool IsQuestion(quint32 code);

    // Inflates a zlib stream, stopping as soon as the output would pass
    // limit bytes. A stream that does not end within the input is Corrupt.
    static InflateResult Inflate(const char* data, qint64 size, int limit, QByteArray& out);

    // Readers, one per body layout.
    static bool ReadShareList(const QByteArray& body, FileInfoMap& folders, AttributeTranslationTable& attributes);
    // Keeps the first keep(ticket) file records and steps over the rest,
    // checking only that each is whole; without keep, every record is kept.
    static bool ReadSearchReply(const QByteArray& body, SearchReplyBody& reply,
                                const std::function<quint32(quint32 ticket)>& keep = nullptr);
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

    // Writers, one per message we send: the whole message, code first, for
    // PeerMessenger::SendMessage. Paths are the bytes the peer knows the
    // file by; a path or name held as text goes as its UTF-8 (Utf8).
    static MemStream WriteShareListRequest();
    // Compressed.
    static MemStream WriteShareList(const FileInfoMap& folders, const AttributeTranslationTable& attributes);
    // Compressed.
    static MemStream WriteSearchReply(const SearchReplyBody& reply);
    static MemStream WriteUserInfoRequest();
    static MemStream WriteUserInfo(const UserInfoBody& info);
    // Compressed.
    static MemStream WriteFolderContents(const FolderContentsBody& contents);
    // Always with the size.
    static MemStream WriteTransferRequest(const TransferRequestBody& request);
    // Allowed: the size when sizePresent; refused: the reason.
    static MemStream WriteTransferResponse(const TransferResponseBody& response);
    static MemStream WriteQueueUpload(const std::string& path);
    static MemStream WritePlaceInLine(const std::string& path, quint32 place);
    static MemStream WriteUploadFailed(const std::string& path);
    static MemStream WriteUploadDenied(const std::string& path, const QString& reason);
    static MemStream WritePlaceInLineRequest(const std::string& path);
    static MemStream WriteUploadOffer(const std::string& path, qint64 size);
    static std::string Utf8(const QString& text);

    // A share list with no folders, compressed: the answer to a share-list
    // request while nothing else provides one.
    static MemStream EmptyShareList();
    // The code followed by the zlib stream of the body at level 9: the very
    // bytes of zlib's one-call compression, from one deflate state kept per
    // thread, since setting up a quarter megabyte of state for each reply
    // costs more than the rest of answering a typical search.
    static MemStream Compressed(quint32 code, const QByteArray& body);
};
