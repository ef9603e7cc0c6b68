#include "PeerMessages.h"

#include <memory>
#include <zlib.h>

#include "MemStream.h"
#include "ShareListReader.h"

namespace {
// A u32 count of records of at least minimumSize bytes each: false when the
// rest of the body cannot hold that many, so nothing is allocated for them.
bool ReadCount(MemStream& in, unsigned long minimumSize, quint32& count)
{
    return in.Read(count) && count <= in.Remaining() / minimumSize;
}

bool ReadFiles(MemStream& in, std::set<FileInfo>& files)
{
    quint32 count = 0;
    if (!ReadCount(in, FileInfo::MinimumWireSize, count))
        return false;
    for (quint32 i = 0; i < count; ++i) {
        FileInfo file;
        if (!file.Read(in))
            return false;
        files.insert(std::move(file));
    }
    return true;
}

// Moves past a u32 length and that many bytes.
bool SkipString(MemStream& in)
{
    quint32 length = 0;
    return in.Read(length) && in.Skip(length);
}

// Moves past one file record without making anything of it.
bool SkipFile(MemStream& in)
{
    quint32 attributes = 0;
    return in.Skip(1) && SkipString(in) && in.Skip(8) && SkipString(in) && in.Read(attributes) &&
           attributes <= in.Remaining() / 8 && in.Skip(8ul * attributes);
}

bool ReadTranslationTable(MemStream& in, AttributeTranslationTable& table)
{
    quint32 count = 0;
    if (!ReadCount(in, 8, count))
        return false;
    AttributeTranslationTable read;
    for (quint32 i = 0; i < count; ++i) {
        quint32 code = 0;
        std::string name;
        if (!in.Read(code) || !in.Read(name))
            return false;
        read[int(code)] = name;
    }
    table.swap(read);
    return true;
}
} // namespace

PeerMessages::InflateResult PeerMessages::Inflate(const char* data, qint64 size, int limit, QByteArray& out)
{
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        return InflateResult::Corrupt;

    QByteArray result;
    char chunk[65536];
    InflateResult outcome = InflateResult::Corrupt;
    qint64 offered = 0;
    for (;;) {
        if (stream.avail_in == 0 && offered < size) {
            const qint64 take = qMin<qint64>(size - offered, 1 << 30);
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data + offered));
            stream.avail_in = uInt(take);
            offered += take;
        }
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof(chunk);
        const int status = inflate(&stream, Z_NO_FLUSH);
        const int produced = int(sizeof(chunk) - stream.avail_out);
        if (produced > limit - result.size()) {
            outcome = InflateResult::TooLarge;
            break;
        }
        result.append(chunk, produced);
        if (status == Z_STREAM_END) {
            outcome = InflateResult::Ok;
            break;
        }
        // Anything else, Z_BUF_ERROR included, means the input ended before
        // the stream did or the stream is broken.
        if (status != Z_OK)
            break;
    }
    inflateEnd(&stream);
    if (outcome == InflateResult::Ok)
        out.swap(result);
    return outcome;
}

bool PeerMessages::ReadShareList(const QByteArray& body, FileInfoMap& folders, AttributeTranslationTable& attributes)
{
    ShareListReader reader(body);
    if (reader.Read() != ShareListReader::Status::Done)
        return false;
    folders.swap(*reader.TakeList());
    attributes = reader.TakeAttributes();
    return true;
}

bool PeerMessages::ReadSearchReply(const QByteArray& body, SearchReplyBody& reply,
                                   const std::function<quint32(quint32 ticket)>& keep)
{
    MemStream in(body);
    SearchReplyBody read;
    quint32 count = 0;
    if (!in.Read(read.user) || !in.Read(read.token) || !ReadCount(in, FileInfo::MinimumWireSize, count))
        return false;
    const quint32 kept = keep ? qMin(count, keep(read.token)) : count;
    read.files.reserve(kept);
    for (quint32 i = 0; i < kept; ++i) {
        FileInfo file;
        if (!file.Read(in))
            return false;
        read.files.push_back(std::move(file));
    }
    for (quint32 i = kept; i < count; ++i)
        if (!SkipFile(in))
            return false;
    read.filesNotRead = count - kept;
    quint8 freeSlot = 0;
    if (!in.Read(freeSlot) || !in.Read(read.speed) || !in.Read(read.queued) ||
        !ReadTranslationTable(in, read.attributes))
        return false;
    read.freeSlot = freeSlot != 0;
    reply = std::move(read);
    return true;
}

bool PeerMessages::ReadUserInfo(const QByteArray& body, UserInfoBody& info)
{
    MemStream in(body);
    UserInfoBody read;
    quint8 hasPicture = 0;
    if (!in.Read(read.description) || !in.Read(hasPicture))
        return false;
    if (hasPicture) {
        quint32 length = 0;
        if (!in.Read(length) || !in.ReadBytes(read.picture, length))
            return false;
        read.hasPicture = true;
    }
    quint8 freeSlot = 0;
    if (!in.Read(read.uploadSlots) || !in.Read(read.queuedUploads) || !in.Read(freeSlot))
        return false;
    read.freeSlot = freeSlot != 0;
    info = std::move(read);
    return true;
}

bool PeerMessages::ReadFolderContents(const QByteArray& body, FolderContentsBody& contents)
{
    MemStream in(body);
    FolderContentsBody read;
    quint32 count = 0;
    if (!in.Read(read.token) || !in.Read(read.folder) || !ReadCount(in, 12, count))
        return false;
    for (quint32 i = 0; i < count; ++i) {
        std::string folder;
        quint32 endMark = 0;
        if (!in.Read(folder) || !ReadFiles(in, read.folders[folder]) || !in.Read(endMark))
            return false;
    }
    contents = std::move(read);
    return true;
}

bool PeerMessages::ReadFolderContentsRequest(const QByteArray& body, quint32& token, QString& folder)
{
    MemStream in(body);
    quint32 readToken = 0;
    QString readFolder;
    if (!in.Read(readToken) || !in.Read(readFolder))
        return false;
    token = readToken;
    folder = readFolder;
    return true;
}

bool PeerMessages::ReadTransferRequest(const QByteArray& body, TransferRequestBody& request)
{
    MemStream in(body);
    TransferRequestBody read;
    if (!in.Read(read.direction) || !in.Read(read.token) || !in.Read(read.path))
        return false;
    if (!in.Read(read.size) && read.direction == 1)
        return false;
    request = std::move(read);
    return true;
}

bool PeerMessages::ReadTransferResponse(const QByteArray& body, TransferResponseBody& response)
{
    MemStream in(body);
    TransferResponseBody read;
    quint8 allowed = 0;
    if (!in.Read(read.token) || !in.Read(allowed))
        return false;
    read.allowed = allowed != 0;
    if (read.allowed)
        read.sizePresent = in.Read(read.size);
    else if (!in.Read(read.reason))
        return false;
    response = std::move(read);
    return true;
}

bool PeerMessages::ReadPath(const QByteArray& body, std::string& path)
{
    MemStream in(body);
    return in.Read(path);
}

bool PeerMessages::ReadPathAndPlace(const QByteArray& body, std::string& path, quint32& place)
{
    MemStream in(body);
    std::string readPath;
    if (!in.Read(readPath) || !in.Read(place))
        return false;
    path.swap(readPath);
    return true;
}

bool PeerMessages::ReadPathAndReason(const QByteArray& body, std::string& path, QString& reason)
{
    MemStream in(body);
    std::string readPath;
    if (!in.Read(readPath) || !in.Read(reason))
        return false;
    path.swap(readPath);
    return true;
}

bool PeerMessages::ReadPathAndSize(const QByteArray& body, std::string& path, qint64& size)
{
    MemStream in(body);
    std::string readPath;
    if (!in.Read(readPath) || !in.Read(size))
        return false;
    path.swap(readPath);
    return true;
}

// ---------------------------------------------------------------------------
// Writers

namespace {
MemStream Message(quint32 code)
{
    MemStream message;
    message.Write(code);
    return message;
}

MemStream PathMessage(quint32 code, const std::string& path)
{
    MemStream message = Message(code);
    message.Write(path);
    return message;
}

void WriteFiles(OutputStream& out, const std::set<FileInfo>& files)
{
    out.Write(quint32(files.size()));
    for (const FileInfo& file : files)
        file.Write(out);
}

void WriteTranslationTable(OutputStream& out, const AttributeTranslationTable& table)
{
    out.Write(quint32(table.size()));
    for (const auto& entry : table) {
        out.Write(quint32(entry.first));
        out.Write(entry.second);
    }
}
} // namespace

MemStream PeerMessages::WriteShareListRequest()
{
    return Message(SharedFileListRequest);
}

MemStream PeerMessages::WriteShareList(const FileInfoMap& folders, const AttributeTranslationTable& attributes)
{
    MemStream body;
    body.Write(quint32(folders.size()));
    for (const auto& folder : folders) {
        body.Write(folder.first);
        WriteFiles(body, folder.second);
    }
    WriteTranslationTable(body, attributes);
    return Compressed(SharedFileList, body.GetBytes());
}

MemStream PeerMessages::WriteSearchReply(const SearchReplyBody& reply)
{
    MemStream body;
    body.Write(reply.user);
    body.Write(reply.token);
    body.Write(quint32(reply.files.size()));
    for (const FileInfo& file : reply.files)
        file.Write(body);
    body.Write(quint8(reply.freeSlot ? 1 : 0));
    body.Write(reply.speed);
    body.Write(reply.queued);
    WriteTranslationTable(body, reply.attributes);
    return Compressed(FileSearchResult, body.GetBytes());
}

MemStream PeerMessages::WriteUserInfoRequest()
{
    return Message(UserInfoRequest);
}

MemStream PeerMessages::WriteUserInfo(const UserInfoBody& info)
{
    MemStream message = Message(UserInfoReply);
    message.Write(info.description);
    message.Write(quint8(info.hasPicture ? 1 : 0));
    if (info.hasPicture) {
        message.Write(quint32(info.picture.size()));
        message.Append(info.picture);
    }
    message.Write(info.uploadSlots);
    message.Write(info.queuedUploads);
    message.Write(quint8(info.freeSlot ? 1 : 0));
    return message;
}

MemStream PeerMessages::WriteFolderContents(const FolderContentsBody& contents)
{
    MemStream body;
    body.Write(contents.token);
    body.Write(contents.folder);
    body.Write(quint32(contents.folders.size()));
    for (const auto& folder : contents.folders) {
        body.Write(folder.first);
        WriteFiles(body, folder.second);
        body.Write(quint32(0));
    }
    return Compressed(FolderContents, body.GetBytes());
}

MemStream PeerMessages::WriteTransferRequest(const TransferRequestBody& request)
{
    MemStream message = Message(TransferRequest);
    message.Write(request.direction);
    message.Write(request.token);
    message.Write(request.path);
    message.Write(request.size);
    return message;
}

MemStream PeerMessages::WriteTransferResponse(const TransferResponseBody& response)
{
    MemStream message = Message(TransferResponse);
    message.Write(response.token);
    message.Write(quint8(response.allowed ? 1 : 0));
    if (!response.allowed)
        message.Write(response.reason);
    else if (response.sizePresent)
        message.Write(response.size);
    return message;
}

MemStream PeerMessages::WriteQueueUpload(const std::string& path)
{
    return PathMessage(QueueUpload, path);
}

MemStream PeerMessages::WritePlaceInLine(const std::string& path, quint32 place)
{
    MemStream message = PathMessage(PlaceInLine, path);
    message.Write(place);
    return message;
}

MemStream PeerMessages::WriteUploadFailed(const std::string& path)
{
    return PathMessage(UploadFailed, path);
}

MemStream PeerMessages::WriteUploadDenied(const std::string& path, const QString& reason)
{
    MemStream message = PathMessage(UploadDenied, path);
    message.Write(reason);
    return message;
}

MemStream PeerMessages::WritePlaceInLineRequest(const std::string& path)
{
    return PathMessage(PlaceInLineRequest, path);
}

MemStream PeerMessages::WriteUploadOffer(const std::string& path, qint64 size)
{
    MemStream message = PathMessage(UploadOffer, path);
    message.Write(size);
    return message;
}

quint32 PeerMessages::AnswerTo(quint32 request)
{
    switch (request) {
    case SharedFileListRequest:
        return SharedFileList;
    case UserInfoRequest:
        return UserInfoReply;
    case FolderContentsRequest:
        return FolderContents;
    case PlaceInLineRequest:
        return PlaceInLine;
    default:
        return 0;
    }
}

bool PeerMessages::IsAnswer(quint32 code)
{
    switch (code) {
    case SharedFileList:
    case FileSearchResult:
    case UserInfoReply:
    case FolderContents:
    case TransferResponse:
    case PlaceInLine:
    case UploadDenied:
        return true;
    default:
        return false;
    }
}

bool PeerMessages::IsQuestion(quint32 code)
{
    switch (code) {
    case SharedFileListRequest:
    case UserInfoRequest:
    case FolderContentsRequest:
    case TransferRequest:
    case QueueUpload:
    case PlaceInLineRequest:
        return true;
    default:
        return false;
    }
}

std::string PeerMessages::Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

MemStream PeerMessages::EmptyShareList()
{
    return WriteShareList(FileInfoMap(), AttributeTranslationTable());
}

MemStream PeerMessages::Compressed(quint32 code, const QByteArray& body)
{
    struct StreamEnd
    {
        void operator()(z_stream* z) const
        {
            if (z)
                deflateEnd(z);
            delete z;
        }
    };
    thread_local const std::unique_ptr<z_stream, StreamEnd> stream([] {
        auto* z = new z_stream{};
        if (deflateInit(z, 9) == Z_OK)
            return z;
        delete z;
        return static_cast<z_stream*>(nullptr);
    }());

    QByteArray packed;
    if (stream && deflateReset(stream.get()) == Z_OK) {
        packed.resize(int(deflateBound(stream.get(), uLong(body.size()))));
        stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
        stream->avail_in = uInt(body.size());
        stream->next_out = reinterpret_cast<Bytef*>(packed.data());
        stream->avail_out = uInt(packed.size());
        if (deflate(stream.get(), Z_FINISH) == Z_STREAM_END)
            packed.resize(int(stream->total_out));
        else
            packed.clear();
    }
    if (packed.isEmpty()) {
        // Without a state of its own: the same bytes, only slower.
        uLongf length = compressBound(uLong(body.size()));
        packed.resize(int(length));
        compress2(reinterpret_cast<Bytef*>(packed.data()), &length, reinterpret_cast<const Bytef*>(body.constData()),
                  uLong(body.size()), 9);
        packed.resize(int(length));
    }
    MemStream message = Message(code);
    message.Append(packed);
    return message;
}
