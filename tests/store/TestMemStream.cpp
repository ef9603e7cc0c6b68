#include "MemStream.h"
#include "Persistent.h"

#include <QtTest>

#include <functional>

namespace {
QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(static_cast<char>(v));
    return bytes;
}

struct Sample : Persistent
{
    quint32 number = 0;
    QString name;
    bool Read(InputStream& s) override { return s.Read(number) && s.Read(name); }
    void Write(OutputStream& s) const override
    {
        s.Write(number);
        s.Write(name);
    }
};
} // namespace

class TestMemStream : public QObject
{
    Q_OBJECT

private slots:
    void valuesAreLittleEndianAndRoundTrip();
    void shortReadsFailAndConsumeNothing();
    void oversizeStringLengthFailsAtOnce();
    void copiesShareOneBufferButNotTheReadPosition();
    void framingHelpers();
};

void TestMemStream::valuesAreLittleEndianAndRoundTrip()
{
    const QString text = QStringLiteral("Gr\u00fc\u00dfe \u2713");
    const std::string raw("a\0\xe9", 3);
    MemStream s;
    s.Write(quint8(0xab));
    s.Write(quint32(0x01020304));
    s.Write(qint32(-2));
    s.Write(quint64(0x0102030405060708ULL));
    s.Write(qint64(-1));
    s.Write(raw);
    s.Write(QString());
    s.Write(text);
    const QByteArray utf8 = text.toUtf8();
    QCOMPARE(s.GetBytes(), Bytes({0xab, 4,   3, 2,    1,    0xfe, 0xff, 0xff, 0xff,        8,    7,    6, 5, 4,
                                  3,    2,   1, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,        0xff, 0xff, 3, 0, 0,
                                  0,    'a', 0, 0xe9, 0,    0,    0,    0,    utf8.size(), 0,    0,    0}) +
                               utf8);

    quint8 u8 = 0;
    quint32 u32 = 0;
    qint32 i32 = 0;
    quint64 u64 = 0;
    qint64 i64 = 0;
    std::string readRaw;
    QString empty = QStringLiteral("stale"), readText;
    QVERIFY(s.Read(u8) && s.Read(u32) && s.Read(i32) && s.Read(u64) && s.Read(i64));
    QVERIFY(s.Read(readRaw) && s.Read(empty) && s.Read(readText));
    QCOMPARE(u8, quint8(0xab));
    QCOMPARE(u32, quint32(0x01020304));
    QCOMPARE(i32, qint32(-2));
    QCOMPARE(u64, quint64(0x0102030405060708ULL));
    QCOMPARE(i64, qint64(-1));
    QVERIFY(readRaw == raw);
    QVERIFY(empty.isEmpty());
    QCOMPARE(readText, text);
    QVERIFY(!s.Read(u8));

    Sample out;
    out.number = 7;
    out.name = QStringLiteral("seven");
    static_cast<const StreamWritable&>(out).Write(s);
    Sample in;
    QVERIFY(static_cast<StreamReadable&>(in).Read(s));
    QCOMPARE(in.number, 7u);
    QCOMPARE(in.name, out.name);
}

void TestMemStream::shortReadsFailAndConsumeNothing()
{
    using Reader = std::function<bool(MemStream&)>;
    MemStream u8, u32, u64, text;
    u8.Write(quint8(9));
    u32.Write(quint32(0xdeadbeef));
    u64.Write(qint64(-5));
    text.Write(QStringLiteral("hello"));
    const std::pair<QByteArray, Reader> cases[] = {
        {u8.GetBytes(),
         [](MemStream& s) {
             quint8 v;
             return s.Read(v);
         }},
        {u32.GetBytes(),
         [](MemStream& s) {
             quint32 v;
             return s.Read(v);
         }},
        {u64.GetBytes(),
         [](MemStream& s) {
             qint64 v;
             return s.Read(v);
         }},
        {text.GetBytes(),
         [](MemStream& s) {
             QString v;
             return s.Read(v);
         }},
    };

    // Every cut short of the whole value fails without moving; once the
    // rest arrives the same read succeeds.
    for (const auto& [complete, read] : cases) {
        for (int cut = 0; cut < complete.size(); ++cut) {
            MemStream s(Bytes({0x55}));
            QVERIFY(s.Skip(1));
            s.Append(complete.left(cut));
            QVERIFY2(!read(s), qPrintable(QStringLiteral("%1 of %2 bytes").arg(cut).arg(complete.size())));
            QCOMPARE(s.GetReadPosition(), 1UL);
            s.Append(complete.mid(cut));
            QVERIFY(read(s));
            QCOMPARE(s.Remaining(), 0UL);
        }
    }
}

void TestMemStream::oversizeStringLengthFailsAtOnce()
{
    MemStream s;
    s.Write(quint32(0xffffffff));
    s.Write(quint32(0));
    std::string raw = "kept";
    QVERIFY(!s.Read(raw));
    QCOMPARE(raw, std::string("kept"));
    QCOMPARE(s.GetReadPosition(), 0UL);
}

void TestMemStream::copiesShareOneBufferButNotTheReadPosition()
{
    MemStream a;
    a.Write(quint32(1));
    MemStream b = a;
    b.Write(quint32(2));
    QCOMPARE(a.GetLength(), 8UL);

    quint32 v = 0;
    QVERIFY(a.Read(v) && v == 1);
    QVERIFY(b.Read(v) && v == 1);
    QVERIFY(a.Read(v) && v == 2);

    MemStream c(a);
    c.Clear();
    QCOMPARE(a.GetLength(), 0UL);
    QVERIFY(!b.Read(v));
    b.Write(quint32(3));
    QCOMPARE(c.Remaining(), 4UL);
}

void TestMemStream::framingHelpers()
{
    MemStream s(Bytes({4, 0, 0, 0, 'b', 'o', 'd', 'y', 2, 0, 0, 0, 'x'}));
    char head[4] = {};
    QVERIFY(s.PeekBuffer(head, 4));
    QCOMPARE(s.GetReadPosition(), 0UL);
    quint32 length = 0;
    QByteArray body;
    QVERIFY(s.Read(length) && s.ReadBytes(body, length));
    QCOMPARE(body, QByteArray("body"));

    // The second frame has one of its two bytes.
    QVERIFY(s.Read(length));
    QVERIFY(!s.ReadBytes(body, length));
    QVERIFY(!s.Skip(2));
    QVERIFY(s.SetReadPosition(8));
    s.DiscardRead();
    QCOMPARE(s.GetBytes(), Bytes({2, 0, 0, 0, 'x'}));
    QCOMPARE(s.GetReadPosition(), 0UL);
    s.Append("y");
    QVERIFY(s.Skip(4) && s.ReadBytes(body, 2));
    QCOMPARE(body, QByteArray("xy"));
    QVERIFY(!s.SetReadPosition(s.GetLength() + 1));
    QCOMPARE(s.GetReadPosition(), s.GetLength());
}

QTEST_APPLESS_MAIN(TestMemStream)
#include "TestMemStream.moc"
