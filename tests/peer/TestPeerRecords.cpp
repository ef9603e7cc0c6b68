#include <QtTest>
#include <functional>

#include "FakeObfuscation.h"
#include "FakeWire.h"
#include "FileInfo.h"
#include "MemStream.h"
#include "Obfuscator.h"
#include "PeerMessages.h"

// The share-list records, the message readers, bounded inflation and the
// obfuscation transform, without sockets.
class TestPeerRecords : public QObject
{
    Q_OBJECT

private slots:
    void fileInfoMatchesTheWireAndOrdersByBytes();
    void readersTakeWellFormedBodies();
    void readersRejectEveryCutShortBody();
    void countsBeyondTheDataFailWithoutAllocating();
    void inflationIsBounded();
    void obfuscationFollowsTheDocumentedScheme();
};

void TestPeerRecords::fileInfoMatchesTheWireAndOrdersByBytes()
{
    AttributeMap attributes("mp3");
    attributes.Add(AttributeMap::Bitrate, 192);
    attributes.Add(AttributeMap::VariableBitrate, 1);
    const FileInfo file("a song.mp3", 5000000000LL, attributes);
    MemStream written;
    file.Write(written);
    const QByteArray expected = FakeWire().File("a song.mp3", 5000000000ULL, "mp3", {{0, 192}, {2, 1}}).Bytes();
    QCOMPARE(written.GetBytes(), expected);

    FileInfo read;
    QVERIFY(read.Read(written));
    QCOMPARE(read.Name(), std::string("a song.mp3"));
    QCOMPARE(read.Size(), 5000000000LL);
    QVERIFY(read.Attributes() == attributes);
    quint32 value = 0;
    QVERIFY(read.Attributes().Get(AttributeMap::VariableBitrate, value) && value == 1);
    QVERIFY(!read.Attributes().Get(AttributeMap::LengthSeconds, value));

    // Bytes compare unsigned: "\xc3\xa9" (é) comes after every ASCII name.
    std::set<FileInfo> set;
    set.insert(FileInfo("\xc3\xa9t\xc3\xa9", 1));
    set.insert(FileInfo("b", 7));
    set.insert(FileInfo("b", 3));
    set.insert(FileInfo("b", 3, AttributeMap("other")));
    set.insert(FileInfo("B", 9));
    QCOMPARE(int(set.size()), 4);
    std::vector<std::pair<std::string, qint64>> order;
    for (const FileInfo& f : set)
        order.emplace_back(f.Name(), f.Size());
    const std::vector<std::pair<std::string, qint64>> expectedOrder = {
        {"B", 9}, {"b", 3}, {"b", 7}, {"\xc3\xa9t\xc3\xa9", 1}};
    QVERIFY(order == expectedOrder);
}

namespace {
QByteArray ShareListBody()
{
    return FakeWire()
        .U32(2)
        .Str("\\music")
        .U32(2)
        .File("b.mp3", 20, "mp3", {{0, 320}})
        .File("a.mp3", 10)
        .Str("\\empty")
        .U32(0)
        .U32(1)
        .U32(0)
        .Str("bitrate")
        .Bytes();
}

QByteArray SearchReplyBody()
{
    return FakeWire()
        .Str("peer")
        .U32(77)
        .U32(2)
        .File("\\music\\a.mp3", 10, "mp3", {{1, 200}})
        .File("b.txt", 20)
        .U8(1)
        .U32(5000)
        .U32(3)
        .U32(0)
        .Bytes();
}

QByteArray UserInfoBody()
{
    return FakeWire().Str("hello\r\nthere").U8(1).U32(3).Raw("PNG").U32(2).U32(5).U8(1).Bytes();
}

QByteArray FolderContentsBody()
{
    return FakeWire().U32(9).Str("\\music").U32(1).Str("\\music").U32(1).File("a.mp3", 10).U32(0).Bytes();
}

// Each well-formed body with a reader that must fail for every shorter cut.
struct Case
{
    const char* name;
    QByteArray body;
    std::function<bool(const QByteArray&)> read;
};

QList<Case> Cases()
{
    return {
        {"share list", ShareListBody(),
         [](const QByteArray& b) {
             FileInfoMap m;
             AttributeTranslationTable t;
             return PeerMessages::ReadShareList(b, m, t);
         }},
        {"search reply", SearchReplyBody(),
         [](const QByteArray& b) {
             PeerMessages::SearchReplyBody r;
             return PeerMessages::ReadSearchReply(b, r);
         }},
        // Records past those kept are stepped over, yet must be whole.
        {"search reply, one record kept", SearchReplyBody(),
         [](const QByteArray& b) {
             PeerMessages::SearchReplyBody r;
             quint32 asked = 0;
             const bool read = PeerMessages::ReadSearchReply(b, r, [&](quint32 ticket) {
                 asked = ticket;
                 return 1u;
             });
             return read && asked == 77 && r.files.size() == 1 && r.files[0].Name() == "\\music\\a.mp3" &&
                    r.filesNotRead == 1 && r.speed == 5000 && r.queued == 3;
         }},
        {"user info", UserInfoBody(),
         [](const QByteArray& b) {
             PeerMessages::UserInfoBody r;
             return PeerMessages::ReadUserInfo(b, r);
         }},
        {"folder contents", FolderContentsBody(),
         [](const QByteArray& b) {
             PeerMessages::FolderContentsBody r;
             return PeerMessages::ReadFolderContents(b, r);
         }},
        {"folder request", FakeWire().U32(4).Str("\\x").Bytes(),
         [](const QByteArray& b) {
             quint32 t;
             QString f;
             return PeerMessages::ReadFolderContentsRequest(b, t, f);
         }},
        {"upload offer", FakeWire().U32(1).U32(8).Str("a\\b").U64(5).Bytes(),
         [](const QByteArray& b) {
             PeerMessages::TransferRequestBody r;
             return PeerMessages::ReadTransferRequest(b, r);
         }},
        {"refusal", FakeWire().U32(8).U8(0).Str("Queued").Bytes(),
         [](const QByteArray& b) {
             PeerMessages::TransferResponseBody r;
             return PeerMessages::ReadTransferResponse(b, r);
         }},
        {"path", FakeWire().Str("a\\b").Bytes(),
         [](const QByteArray& b) {
             std::string p;
             return PeerMessages::ReadPath(b, p);
         }},
        {"place", FakeWire().Str("a\\b").U32(3).Bytes(),
         [](const QByteArray& b) {
             std::string p;
             quint32 n;
             return PeerMessages::ReadPathAndPlace(b, p, n);
         }},
        {"denial", FakeWire().Str("a\\b").Str("Too many").Bytes(),
         [](const QByteArray& b) {
             std::string p;
             QString r;
             return PeerMessages::ReadPathAndReason(b, p, r);
         }},
        {"queue offer", FakeWire().Str("a\\b").U64(12).Bytes(),
         [](const QByteArray& b) {
             std::string p;
             qint64 s;
             return PeerMessages::ReadPathAndSize(b, p, s);
         }},
    };
}
} // namespace

void TestPeerRecords::readersTakeWellFormedBodies()
{
    for (const Case& c : Cases())
        QVERIFY2(c.read(c.body), c.name);

    // What the fields hold is checked end to end (TestPeerMessages); here
    // the parts that may be left out.
    PeerMessages::UserInfoBody info;
    QVERIFY(PeerMessages::ReadUserInfo(FakeWire().Str("").U8(0).U32(1).U32(0).U8(0).Bytes(), info));
    QVERIFY(!info.hasPicture && info.picture.isEmpty() && !info.freeSlot);

    // The size of a transfer request is optional unless it offers an upload;
    // an accepting response may carry one.
    PeerMessages::TransferRequestBody request;
    QVERIFY(PeerMessages::ReadTransferRequest(FakeWire().U32(0).U32(8).Str("a").Bytes(), request));
    QCOMPARE(request.direction, 0u);
    QCOMPARE(request.size, qint64(0));
    PeerMessages::TransferResponseBody response;
    QVERIFY(PeerMessages::ReadTransferResponse(FakeWire().U32(8).U8(1).Bytes(), response));
    QVERIFY(response.allowed && !response.sizePresent);
    QVERIFY(PeerMessages::ReadTransferResponse(FakeWire().U32(8).U8(1).U64(99).Bytes(), response));
    QVERIFY(response.allowed && response.sizePresent && response.size == 99);
}

void TestPeerRecords::readersRejectEveryCutShortBody()
{
    for (const Case& c : Cases())
        for (int length = 0; length < c.body.size(); ++length)
            QVERIFY2(!c.read(c.body.left(length)), qPrintable(QString("%1 cut to %2").arg(c.name).arg(length)));
}

void TestPeerRecords::countsBeyondTheDataFailWithoutAllocating()
{
    FileInfoMap share;
    AttributeTranslationTable table;
    // Folder count, file count, attribute count and translation count, each
    // claiming far more than follows.
    QVERIFY(!PeerMessages::ReadShareList(FakeWire().U32(0xffffffff).Str("x").U32(0).Bytes(), share, table));
    QVERIFY(!PeerMessages::ReadShareList(FakeWire().U32(1).Str("x").U32(0xfffffff0).U8(1).Bytes(), share, table));
    QVERIFY(!PeerMessages::ReadShareList(
        FakeWire().U32(1).Str("x").U32(1).U8(1).Str("n").U64(1).Str("").U32(0x7fffffff).U32(0).Bytes(), share, table));
    QVERIFY(!PeerMessages::ReadShareList(FakeWire().U32(0).U32(0xffffffff).U32(0).Bytes(), share, table));
    QVERIFY(share.empty() && table.empty());

    PeerMessages::SearchReplyBody reply;
    QVERIFY(!PeerMessages::ReadSearchReply(FakeWire().Str("p").U32(1).U32(0xffffffff).U8(0).Bytes(), reply));
    PeerMessages::UserInfoBody info;
    QVERIFY(!PeerMessages::ReadUserInfo(FakeWire().Str("d").U8(1).U32(0xfffffff0).Raw("abc").Bytes(), info));
    PeerMessages::FolderContentsBody contents;
    QVERIFY(!PeerMessages::ReadFolderContents(FakeWire().U32(1).Str("f").U32(0xffffffff).Bytes(), contents));
    // A string length beyond the body.
    std::string path;
    QVERIFY(!PeerMessages::ReadPath(FakeWire().U32(0xffffffff).Raw("abc").Bytes(), path));
}

void TestPeerRecords::inflationIsBounded()
{
    const QByteArray plain(1 << 20, 'x');
    const QByteArray packed = FakeWire::Compress(plain);
    QByteArray out;
    QCOMPARE(PeerMessages::Inflate(packed.constData(), packed.size(), 1 << 20, out), PeerMessages::InflateResult::Ok);
    QCOMPARE(out, plain);
    out.clear();
    QCOMPARE(PeerMessages::Inflate(packed.constData(), packed.size(), (1 << 20) - 1, out),
             PeerMessages::InflateResult::TooLarge);
    QVERIFY(out.isEmpty());
    QCOMPARE(PeerMessages::Inflate(packed.constData(), packed.size() - 4, 1 << 21, out),
             PeerMessages::InflateResult::Corrupt);
    QCOMPARE(PeerMessages::Inflate("not zlib", 8, 1 << 21, out), PeerMessages::InflateResult::Corrupt);
    QCOMPARE(PeerMessages::Inflate("", 0, 1 << 21, out), PeerMessages::InflateResult::Corrupt);

    // The empty share list that answers requests while nothing else does.
    MemStream empty = PeerMessages::EmptyShareList();
    FakeWire message(empty.GetBytes());
    quint32 code = 0;
    QVERIFY(message.ReadU32(code));
    QCOMPARE(code, 5u);
    QCOMPARE(FakeWire::Inflate(empty.GetBytes().mid(4)), FakeWire().U32(0).U32(0).Bytes());
}

void TestPeerRecords::obfuscationFollowsTheDocumentedScheme()
{
    // The keystream example of docs/protocol.md.
    Obfuscator example(0x12345678, Obfuscator::FromConnectingSide);
    QCOMPARE(example.Transformed(QByteArray(8, '\0')).toHex(), QByteArray("5f32d0c4502344ba"));
    Obfuscator answer(0x12345678, Obfuscator::FromAcceptingSide);
    QCOMPARE(answer.Transformed(QByteArray(8, '\0')).toHex(), QByteArray("451dae6e9613b8dc"));

    const QByteArray text = "the opening frame and every message after it";
    for (quint32 key : {0u, 1u, 0xdeadbeefu}) {
        Obfuscator fromOpener(key, Obfuscator::FromConnectingSide);
        Obfuscator fromAccepter(key, Obfuscator::FromAcceptingSide);
        FakeObfuscation openerReference(key, FakeObfuscation::OpenerSeed);
        FakeObfuscation accepterReference(key, FakeObfuscation::AccepterSeed);

        // Split across calls, as bytes arrive, the same as all at once.
        QByteArray sent = text;
        fromOpener.Transform(sent.data(), 5);
        fromOpener.Transform(sent.data() + 5, sent.size() - 5);
        QCOMPARE(sent, openerReference.Apply(text));
        QVERIFY(sent != text);
        const QByteArray answered = fromAccepter.Transformed(text);
        QCOMPARE(answered, accepterReference.Apply(text));
        QVERIFY(answered != sent);

        Obfuscator decoder(key, Obfuscator::FromConnectingSide);
        QCOMPARE(decoder.Transformed(sent), text);
    }
}

QTEST_MAIN(TestPeerRecords)
#include "TestPeerRecords.moc"
