#include "PeerMessages.h"

#include <zlib.h>

#include "MemStream.h"

namespace
{
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
    for (quint32 i = 0; i < count; ++i)
    {
        FileInfo file;
        if (!file.Read(in))
            return false;
        files.insert(std::move(file));
    }
    return true;
}

bool ReadTranslationTable(MemStream& in, AttributeTranslationTable& table)
{
    quint32 count = 0;
    if (!ReadCount(in, 8, count))
        return false;
    AttributeTranslationTable read;
    for (quint32 i = 0; i < count; ++i)
    {
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
    for (;;)
    {
        if (stream.avail_in == 0 && offered < size)
        {
            const qint64 take = qMin<qint64>(size - offered, 1 << 30);
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data + offered));
            stream.avail_in = uInt(take);
            offered += take;
        }
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof(chunk);
        const int status = inflate(&stream, Z_NO_FLUSH);
        const int produced = int(sizeof(chunk) - stream.avail_out);
        if (produced > limit - result.size())
        {
            outcome = InflateResult::TooLarge;
            break;
        }
        result.append(chunk, produced);
        if (status == Z_STREAM_END)
        {
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
    MemStream in(body);
    quint32 count = 0;
    // A folder is at least its path length and its file count.
    if (!ReadCount(in, 8, count))
        return false;
    FileInfoMap read;
    for (quint32 i = 0; i < count; ++i)
    {
        std::string folder;
        if (!in.Read(folder) || !ReadFiles(in, read[folder]))
            return false;
    }
    AttributeTranslationTable table;
    if (!ReadTranslationTable(in, table))
        return false;
    folders.swap(read);
    attributes.swap(table);
    return true;
}

bool PeerMessages::ReadSearchReply(const QByteArray& body, SearchReplyBody& reply)
{
    MemStream in(body);
    SearchReplyBody read;
    quint32 count = 0;
    if (!in.Read(read.user) || !in.Read(read.token) || !ReadCount(in, FileInfo::MinimumWireSize, count))
        return false;
    read.files.reserve(count);
    for (quint32 i = 0; i < count; ++i)
    {
        FileInfo file;
        if (!file.Read(in))
            return false;
        read.files.push_back(std::move(file));
    }
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
    if (hasPicture)
    {
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
    for (quint32 i = 0; i < count; ++i)
    {
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

MemStream PeerMessages::EmptyShareList()
{
    MemStream body;
    body.Write(quint32(0)); // folders
    body.Write(quint32(0)); // attribute names
    return Compressed(SharedFileList, body.GetBytes());
}

MemStream PeerMessages::Compressed(quint32 code, const QByteArray& body)
{
    uLongf length = compressBound(uLong(body.size()));
    QByteArray packed(int(length), '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &length, reinterpret_cast<const Bytef*>(body.constData()),
              uLong(body.size()), 9);
    packed.resize(int(length));
    MemStream message;
    message.Write(code);
    message.Append(packed);
    return message;
}
