// The peer message writers on their own: every message we send against the
// documented layout (written independently by FakeWire) and read back by the
// reader of the same message.
#include <QtTest>
#include <functional>
#include <thread>

#include "FakeWire.h"
#include "MemStream.h"
#include "PeerMessages.h"

namespace {
using M = PeerMessages;

struct Case
{
    const char* name;
    MemStream written;
    quint32 code;
    bool compressed;
    QByteArray body;
    // Reads the body back and checks what it read.
    std::function<bool(const QByteArray&)> readBack;
};

// A path that is not UTF-8: paths go as the bytes the peer named them by.
const std::string Path = "music\\caf\xe9.mp3";

bool Same(const FileInfo& a, const FileInfo& b)
{
    return a.Name() == b.Name() && a.Size() == b.Size() && a.Attributes() == b.Attributes();
}

template <typename Files>
bool Same(const Files& a, const Files& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const FileInfo& x, const FileInfo& y) { return Same(x, y); });
}

bool Same(const FileInfoMap& a, const FileInfoMap& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.first == y.first && Same(x.second, y.second); });
}

FileInfo Mp3(const std::string& name, qint64 size)
{
    AttributeMap attributes("mp3");
    attributes.Add(AttributeMap::Bitrate, 192);
    attributes.Add(AttributeMap::VariableBitrate, 1);
    return FileInfo(name, size, attributes);
}

std::vector<Case> Cases()
{
    const QByteArray path = QByteArray::fromStdString(Path);
    const QByteArray mp3 = FakeWire().File("a.mp3", 5000000000ULL, "mp3", {{0, 192}, {2, 1}}).Bytes();

    FileInfoMap folders;
    folders["music"].insert(Mp3("a.mp3", 5000000000LL));
    folders["empty"];
    const AttributeTranslationTable table = {{0, "bitrate"}};

    M::SearchReplyBody reply;
    reply.user = M::Utf8(QString::fromUtf8("b\xc3\xa9"));
    reply.token = 4294967295u;
    reply.files = {Mp3("a.mp3", 5000000000LL)};
    reply.freeSlot = true;
    reply.speed = 20000;
    reply.queued = 3;

    M::UserInfoBody info;
    info.description = "hi";
    info.hasPicture = true;
    info.picture = QByteArray("\x89PNG\0", 5);
    info.uploadSlots = 2;
    info.queuedUploads = 7;

    M::FolderContentsBody contents;
    contents.token = 9;
    contents.folder = "music";
    contents.folders["music"].insert(FileInfo("b.ogg", 12));

    M::TransferRequestBody request{1, 41, Path, 12};
    M::TransferResponseBody allowed{8, true, true, 99, QString()};
    M::TransferResponseBody refused{9, false, false, 0, "Cancelled"};

    return {
        {"share list request",
         M::WriteShareListRequest(),
         4,
         false,
         {},
         [](const QByteArray& b) { return b.isEmpty(); }},
        {"user info request",
         M::WriteUserInfoRequest(),
         15,
         false,
         {},
         [](const QByteArray& b) { return b.isEmpty(); }},
        {"share list", M::WriteShareList(folders, table), 5, true,
         FakeWire().U32(2).Str("empty").U32(0).Str("music").U32(1).Raw(mp3).U32(1).U32(0).Str("bitrate").Bytes(),
         [=](const QByteArray& b) {
             FileInfoMap readFolders;
             AttributeTranslationTable readTable;
             return M::ReadShareList(b, readFolders, readTable) && Same(readFolders, folders) && readTable == table;
         }},
        {"search reply", M::WriteSearchReply(reply), 9, true,
         FakeWire()
             .Str(QString::fromUtf8("b\xc3\xa9"))
             .U32(4294967295u)
             .U32(1)
             .Raw(mp3)
             .U8(1)
             .U32(20000)
             .U32(3)
             .U32(0)
             .Bytes(),
         [=](const QByteArray& b) {
             M::SearchReplyBody read;
             return M::ReadSearchReply(b, read) && read.user == reply.user && read.token == reply.token &&
                    Same(read.files, reply.files) && read.freeSlot && read.speed == 20000 && read.queued == 3 &&
                    read.attributes.empty();
         }},
        {"user info", M::WriteUserInfo(info), 16, false,
         FakeWire().Str("hi").U8(1).U32(5).Raw(info.picture).U32(2).U32(7).U8(0).Bytes(),
         [=](const QByteArray& b) {
             M::UserInfoBody read;
             return M::ReadUserInfo(b, read) && read.description == "hi" && read.hasPicture &&
                    read.picture == info.picture && read.uploadSlots == 2 && read.queuedUploads == 7 && !read.freeSlot;
         }},
        {"folder contents", M::WriteFolderContents(contents), 37, true,
         FakeWire().U32(9).Str("music").U32(1).Str("music").U32(1).File("b.ogg", 12).U32(0).Bytes(),
         [=](const QByteArray& b) {
             M::FolderContentsBody read;
             return M::ReadFolderContents(b, read) && read.token == 9 && read.folder == "music" &&
                    Same(read.folders, contents.folders);
         }},
        {"transfer request", M::WriteTransferRequest(request), 40, false,
         FakeWire().U32(1).U32(41).StrBytes(path).U64(12).Bytes(),
         [=](const QByteArray& b) {
             M::TransferRequestBody read;
             return M::ReadTransferRequest(b, read) && read.direction == 1 && read.token == 41 && read.path == Path &&
                    read.size == 12;
         }},
        {"transfer allowed", M::WriteTransferResponse(allowed), 41, false, FakeWire().U32(8).U8(1).U64(99).Bytes(),
         [](const QByteArray& b) {
             M::TransferResponseBody read;
             return M::ReadTransferResponse(b, read) && read.token == 8 && read.allowed && read.sizePresent &&
                    read.size == 99;
         }},
        {"transfer allowed without size", M::WriteTransferResponse({7, true, false, 99, "x"}), 41, false,
         FakeWire().U32(7).U8(1).Bytes(),
         [](const QByteArray& b) {
             M::TransferResponseBody read;
             return M::ReadTransferResponse(b, read) && read.allowed && !read.sizePresent;
         }},
        {"transfer refused", M::WriteTransferResponse(refused), 41, false,
         FakeWire().U32(9).U8(0).Str("Cancelled").Bytes(),
         [](const QByteArray& b) {
             M::TransferResponseBody read;
             return M::ReadTransferResponse(b, read) && !read.allowed && read.reason == "Cancelled";
         }},
        {"queue upload", M::WriteQueueUpload(Path), 43, false, FakeWire().StrBytes(path).Bytes(),
         [](const QByteArray& b) {
             std::string read;
             return M::ReadPath(b, read) && read == Path;
         }},
        {"place in line", M::WritePlaceInLine(Path, 4294967295u), 44, false,
         FakeWire().StrBytes(path).U32(4294967295u).Bytes(),
         [](const QByteArray& b) {
             std::string read;
             quint32 place = 0;
             return M::ReadPathAndPlace(b, read, place) && read == Path && place == 4294967295u;
         }},
        {"upload failed", M::WriteUploadFailed(Path), 46, false, FakeWire().StrBytes(path).Bytes(),
         [](const QByteArray& b) {
             std::string read;
             return M::ReadPath(b, read) && read == Path;
         }},
        {"upload denied", M::WriteUploadDenied(Path, "File not shared."), 50, false,
         FakeWire().StrBytes(path).Str("File not shared.").Bytes(),
         [](const QByteArray& b) {
             std::string read;
             QString reason;
             return M::ReadPathAndReason(b, read, reason) && read == Path && reason == "File not shared.";
         }},
        {"place in line request", M::WritePlaceInLineRequest(Path), 51, false, FakeWire().StrBytes(path).Bytes(),
         [](const QByteArray& b) {
             std::string read;
             return M::ReadPath(b, read) && read == Path;
         }},
        {"upload offer", M::WriteUploadOffer(Path, 5000000000LL), 60, false,
         FakeWire().StrBytes(path).U64(5000000000ULL).Bytes(),
         [](const QByteArray& b) {
             std::string read;
             qint64 size = 0;
             return M::ReadPathAndSize(b, read, size) && read == Path && size == 5000000000LL;
         }},
    };
}
} // namespace

class TestPeerMessageCodec : public QObject
{
    Q_OBJECT

private slots:
    void writersFollowTheLayoutAndReadBack()
    {
        for (const Case& c : Cases()) {
            FakeWire message(c.written.GetBytes());
            quint32 code = 0;
            QVERIFY2(message.ReadU32(code) && code == c.code, c.name);
            QByteArray body = c.written.GetBytes().mid(4);
            if (c.compressed)
                body = FakeWire::Inflate(body);
            QVERIFY2(body == c.body, c.name);
            QVERIFY2(c.readBack(body), c.name);
        }
    }

    void compressedMessagesAreZlibsOneCallBytes()
    {
        // The deflate state kept per thread gives the very bytes of zlib's
        // one-call compression at level 9, call after call and on any
        // thread, so a peer cannot tell which thread built a reply.
        QByteArray body;
        for (int i = 0; i < 20000; ++i)
            body += QByteArray::number(i * 7919 % 1000) + ',';
        const QByteArray expected = FakeWire().U32(9).Raw(FakeWire::Compress(body)).Bytes();
        QCOMPARE(M::Compressed(9, body).GetBytes(), expected);
        QCOMPARE(M::Compressed(9, body).GetBytes(), expected);
        QByteArray elsewhere;
        std::thread([&] { elsewhere = M::Compressed(9, body).GetBytes(); }).join();
        QCOMPARE(elsewhere, expected);
        QCOMPARE(M::Compressed(5, QByteArray()).GetBytes(), FakeWire().U32(5).Raw(FakeWire::Compress({})).Bytes());
    }
};

QTEST_GUILESS_MAIN(TestPeerMessageCodec)
#include "TestPeerMessageCodec.moc"
