#include <QtTest>

#include "FakePeer.h"
#include "FakeWire.h"
#include "PeerFixture.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "ShareListReader.h"

namespace {

// A share list and the body that carries it, written side by side.
struct Written
{
    FileInfoMap list;
    AttributeTranslationTable table;
    FakeWire body;

    Written& Folder(const QByteArray& path, int files, const QByteArray& name = "track", int nameBytes = 0)
    {
        body.StrBytes(path).U32(quint32(files));
        std::set<FileInfo>& kept = list[path.toStdString()];
        for (int i = 0; i < files; ++i) {
            QByteArray fileName = name + QByteArray::number(i) + ".mp3";
            if (nameBytes > 0)
                fileName = fileName.leftJustified(nameBytes, 'x');
            FileInfo file(fileName.toStdString(), 1000 + i, AttributeMap("mp3"));
            file.Attributes().Add(AttributeMap::Bitrate, 128 + i % 3);
            body.File(fileName, quint64(1000 + i), "mp3", {{AttributeMap::Bitrate, quint32(128 + i % 3)}});
            kept.insert(file);
        }
        return *this;
    }
};

QStringList Listed(const FileInfoMap& list)
{
    QStringList lines;
    for (const auto& folder : list)
        for (const FileInfo& file : folder.second) {
            quint32 bitrate = 0;
            file.Attributes().Get(AttributeMap::Bitrate, bitrate);
            lines << QString::fromStdString(folder.first + "|" + file.Name().substr(0, 40)) + "|" +
                         QString::number(file.Size()) + "|" + QString::number(bitrate);
        }
    return lines;
}

// Reads to the end, a few records a call: the calls it took.
int ReadInSlices(ShareListReader& reader)
{
    int calls = 1;
    while (reader.Read([] { return false; }) == ShareListReader::Status::Reading)
        ++calls;
    return calls;
}

// A list as compressible as honest lists come: comic pages "001.jpg" on,
// two dozen an issue, of sizes spread as scans are, with no attributes.
QByteArray ComicPages(int issues)
{
    QRandomGenerator dice(7);
    FakeWire body;
    body.U32(quint32(issues));
    for (int issue = 0; issue < issues; ++issue) {
        body.Str(QString("Comics\\Series %1\\Issue %2").arg(issue / 300).arg(issue % 300)).U32(24);
        for (int page = 1; page <= 24; ++page)
            body.File(QByteArray::number(page).rightJustified(3, '0') + ".jpg", 200000 + dice.bounded(700000));
    }
    return FakeWire::Compress(body.U32(0).Bytes());
}

// A list of many files in folders of a thousand, compressed.
QByteArray ManyFiles(int files)
{
    FakeWire body;
    body.U32(quint32((files + 999) / 1000));
    for (int folder = 0; folder * 1000 < files; ++folder) {
        const int here = std::min(1000, files - folder * 1000);
        body.Str(QString("big\\f%1").arg(folder)).U32(quint32(here));
        for (int n = 0; n < here; ++n)
            body.File("n" + QByteArray::number(n) + ".bin", quint64(n));
    }
    return FakeWire::Compress(body.U32(0).Bytes());
}

} // namespace

// Share lists read a slice at a time: the reader against the list it was
// written from and the bounds of a list read whole; over a message
// connection, the connection's later messages waiting for the list, and a
// list too long for the frame bound told as refused.
class TestShareListReading : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        f = new PeerFixture;
        QVERIFY(f->Start());
        fake = f->AddPeer("peer");
        QVERIFY(fake);
    }

    void cleanup()
    {
        delete f;
        f = nullptr;
    }

    void aListReadInSlicesIsTheListItWasWrittenFrom()
    {
        // Names longer than what is inflated at a time, a folder listed
        // twice, one without files, one of thousands, and a table.
        Written written;
        written.body.U32(6);
        written.Folder("music", 2)
            .Folder("music\\long names", 3, "very long ", 150000)
            .Folder("twice", 2, "a")
            .Folder("empty", 0)
            .Folder("twice", 2, "b")
            .Folder("music\\all", 5000);
        written.body.U32(2).U32(1).Str("length").U32(0).Str("bitrate");
        const QByteArray plain = written.body.Bytes();
        const QByteArray compressed = FakeWire::Compress(plain);

        // At most 64 records a slice.
        ShareListReader reader(compressed, PeerMessages::InflateLimit);
        QVERIFY(ReadInSlices(reader) >= 5009 / 64);
        QCOMPARE(reader.GetStatus(), ShareListReader::Status::Done);
        QCOMPARE(reader.FileCount(), qint64(5009));
        QCOMPARE(reader.InflatedBytes(), qint64(plain.size()));
        const std::shared_ptr<FileInfoMap> list = reader.TakeList();
        QVERIFY(list);
        QCOMPARE(list->size(), size_t(5));
        QCOMPARE(Listed(*list), Listed(written.list));
        QCOMPARE(reader.TakeAttributes(), (AttributeTranslationTable{{0, "bitrate"}, {1, "length"}}));

        // The same body already inflated, in one go.
        ShareListReader whole(plain);
        QCOMPARE(whole.Read(), ShareListReader::Status::Done);
        QCOMPARE(Listed(*whole.TakeList()), Listed(written.list));
    }

    void theBoundsOfAListReadWholeHold()
    {
        Written written;
        written.body.U32(2);
        written.Folder("a", 300).Folder("a\\b", 300);
        const QByteArray list = written.body.U32(0).Bytes();
        auto read = [](const QByteArray& compressed, int limit) {
            ShareListReader reader(compressed, limit);
            ReadInSlices(reader);
            return reader.GetStatus();
        };
        using S = ShareListReader::Status;
        // Within the limit to the byte, and one byte past it.
        QCOMPARE(read(FakeWire::Compress(list), list.size()), S::Done);
        QCOMPARE(read(FakeWire::Compress(list), list.size() - 1), S::TooLarge);
        // What follows the last field is ignored, but counts to the limit.
        const QByteArray trailed = FakeWire::Compress(list + QByteArray(200000, '\0'));
        QCOMPARE(read(trailed, list.size() + 200000), S::Done);
        QCOMPARE(read(trailed, list.size() + 100000), S::TooLarge);
        // A stream cut short, bytes that are no stream, a body cut short.
        const QByteArray compressed = FakeWire::Compress(list);
        QCOMPARE(read(compressed.left(compressed.size() - 8), PeerMessages::InflateLimit), S::Corrupt);
        QCOMPARE(read("not a zlib stream", PeerMessages::InflateLimit), S::Corrupt);
        QCOMPARE(read(FakeWire::Compress(list.left(list.size() - 4)), PeerMessages::InflateLimit), S::Malformed);
        ShareListReader plain(list.left(list.size() - 4));
        QCOMPARE(plain.Read(), S::Malformed);
        QVERIFY(!plain.TakeList());
    }

    void aListHoldsNoMoreEntriesThanItsBound()
    {
        // 2 folders and 600 files; a path listed three times, an entry each
        // time, and two attribute names.
        Written list, repeated;
        list.body.U32(2);
        list.Folder("a", 300).Folder("a\\b", 300).body.U32(0);
        repeated.body.U32(3);
        repeated.Folder("x", 0).Folder("x", 0).Folder("x", 0).body.U32(2).U32(0).Str("b").U32(1).Str("l");
        using S = ShareListReader::Status;
        const QList<std::tuple<QByteArray, qint64, S, qint64, qint64>> cases = {
            {list.body.Bytes(), 602, S::Done, 602, 600},
            {list.body.Bytes(), 601, S::TooManyEntries, 601, 599},
            {repeated.body.Bytes(), 5, S::Done, 5, 0},
            {repeated.body.Bytes(), 4, S::TooManyEntries, 4, 0},
        };
        for (const auto& [plain, limit, status, entries, files] : cases) {
            ShareListReader reader(FakeWire::Compress(plain), PeerMessages::InflateLimit, limit);
            ReadInSlices(reader);
            QCOMPARE(reader.GetStatus(), status);
            QCOMPARE(reader.EntryCount(), entries);
            QCOMPARE(reader.FileCount(), files);
            QCOMPARE(bool(reader.TakeList()), status == S::Done);
        }
    }

    void anHonestListThatFitsAFrameIsWithinTheEntryBound()
    {
        // A tenth of the bound in entries of the most compressible honest
        // shape takes more than a tenth of a frame, and is read whole.
        const QByteArray compressed = ComicPages(int(PeerMessages::ShareListEntryLimit / 10 / 25));
        ShareListReader reader(compressed, PeerMessages::InflateLimit);
        QCOMPARE(reader.Read(), ShareListReader::Status::Done);
        QCOMPARE(reader.EntryCount(), PeerMessages::ShareListEntryLimit / 10);
        QVERIFY2(qint64(compressed.size()) * 10 > PeerMessages::MaxFrameLength,
                 qPrintable(QString::number(compressed.size())));
    }

    void aConnectionWaitsWhileItsListIsRead()
    {
        FakePeerLink* link = fake->Greet(f->peer->ListeningPort(), false, "P", 1);
        QVERIFY(link);
        QTRY_COMPARE(f->peer->MessageConnectionCount("peer"), 1);
        QStringList events;
        connect(f->peer, &PeerMessenger::UserShare, this, [&](QString user, std::shared_ptr<FileInfoMap> share) {
            qint64 files = 0;
            for (const auto& folder : *share)
                files += qint64(folder.second.size());
            events << QString("list of %1 from %2").arg(files).arg(user);
        });
        connect(f->peer, &PeerMessenger::UserInfoRequested, this,
                [&](QString user) { events << "info asked by " + user; });
        // More records than a turn takes however fast they are read, then
        // a request behind them on the same connection.
        f->peer->GetUserSharedFiles("peer");
        link->SendMessage(PeerMessages::SharedFileList, ManyFiles(70000));
        link->SendMessage(15, {});
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 30000);
        QCOMPARE(events, QStringList({"list of 70000 from peer", "info asked by peer"}));
        QCOMPARE(f->peer->LargeMessages().Used(), qint64(0));
        QVERIFY(!link->IsClosed());
    }

    void onlyAListAskedForPastTheFrameBoundIsToldAsRefused()
    {
        QList<qint64> refused;
        connect(f->peer, &PeerMessenger::ShareListRefused, this,
                [&](QString, PeerMessenger::ShareListRefusal, qint64 size) { refused << size; });
        // The length field and the code are read, nothing more; a search
        // reply as long goes without a word of lists, and so does a list
        // after the one asked for.
        const quint32 tooLong = PeerMessages::MaxFrameLength + 4000000;
        f->peer->GetUserSharedFiles("peer");
        for (quint32 code : {quint32(PeerMessages::FileSearchResult), quint32(PeerMessages::SharedFileList),
                             quint32(PeerMessages::SharedFileList)}) {
            FakePeerLink* link = fake->Greet(f->peer->ListeningPort(), false, "P", code);
            QVERIFY(link);
            link->SendRaw(FakeWire().U32(tooLong).U32(code).Bytes() + QByteArray(1 << 20, 'x'));
            QVERIFY(link->WaitForClosed(10000));
        }
        QCOMPARE(refused, QList<qint64>({tooLong}));
    }

private:
    PeerFixture* f = nullptr;
    FakePeer* fake = nullptr;
};

QTEST_MAIN(TestShareListReading)
#include "TestShareListReading.moc"
