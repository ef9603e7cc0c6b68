#include "Data.h"
#include "FilterParser.h"

#include <QtTest>

class TestFilterParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse();
    void matching();
    void remainderCollectsWhatIsLeft();
    void remainderAfterRejection();

private:
    ItemPtr m_vbr320;
    ItemPtr m_cbr128;
    ItemPtr m_bare;
};

namespace {
ItemPtr MakeResult(const char* mode, const char* bitrate, const char* size)
{
    ItemPtr result = d.GetType("search_result")->NewItem();
    const std::pair<const char*, const char*> attributes[] = {
        {"bitrate_mode", mode}, {"bitrate", bitrate}, {"file_size", size}};
    for (const auto& [type, value] : attributes) {
        if (value)
            result += d.GetType(type)->NewItem(value);
    }
    return result;
}
} // namespace

void TestFilterParser::initTestCase()
{
    Type* result = d.NewType("search_result", 0, true, false);
    for (const char* name : {"bitrate_mode", "bitrate", "file_size"})
        result->RelateToType(d.NewType(name, 2, false, true), many, one, false);
    m_vbr320 = MakeResult("vbr", "320", "12000000");
    m_cbr128 = MakeResult("cbr", "128", "5000000");
    m_bare = MakeResult(nullptr, nullptr, nullptr);
}

void TestFilterParser::parse()
{
    FilterParser f;
    QVERIFY(!f.HasAttributes());
    QCOMPARE(f.MinFilesInFolder(), 0);

    f.Parse(QStringLiteral("Lackluster  Container\t-Bothersome ISCBR mbr:320 minfilesize:10 mfif:8"));
    QCOMPARE(f.GetIncludedWords(), QStringList({"lackluster", "container"}));
    QCOMPARE(f.GetExcludedWords(), QStringList({"bothersome"}));
    QVERIFY(f.IsCbr() && !f.IsVbr() && f.HasAttributes());
    QCOMPARE(f.MinBitrate(), 320);
    QCOMPARE(f.MinFileSize(), qint64(10000000));
    QCOMPARE(f.MinFilesInFolder(), 8);

    // Parse starts afresh.
    f.Parse(QStringLiteral("isvbr minbitrate:128 mfs:3000000 minfilesinfolder:2"));
    QVERIFY(f.IsVbr() && !f.IsCbr());
    QCOMPARE(f.MinBitrate(), 128);
    QCOMPARE(f.MinFileSize(), qint64(3000000000000LL));
    QCOMPARE(f.MinFilesInFolder(), 2);
    QVERIFY(f.GetIncludedWords().isEmpty() && f.GetExcludedWords().isEmpty());

    // The minimum files in a folder is no attribute; conditions without a
    // number and a lone dash filter nothing.
    f.Parse(QStringLiteral("mfif:4 mbr: mfs:lots -"));
    QVERIFY(!f.HasAttributes());
    QCOMPARE(f.MinFilesInFolder(), 4);
    QVERIFY(f.GetIncludedWords().isEmpty() && f.GetExcludedWords().isEmpty());
    QCOMPARE(f.IsMatching(QStringLiteral("anything"), nullptr, m_bare), 0);

    f.Parse(QStringLiteral("mfs:99999999999999999"));
    QVERIFY(f.MinFileSize() > 0);
}

void TestFilterParser::matching()
{
    // filter, text, result for: no item, vbr 320 12 MB, cbr 128 5 MB, no attributes
    const struct
    {
        const char* filter;
        const char* text;
        int expected[4];
    } cases[] = {
        {"", "whatever", {0, 0, 0, 0}},
        {"abc Def", "xxABCxx\\dEF.mp3", {0, 0, 0, 0}},
        {"abc def", "abc.mp3", {1, 1, 1, 1}},
        {"abc -live", "abc LIVE.mp3", {2, 2, 2, 2}},
        {"zzz -live", "live.mp3", {2, 2, 2, 2}},
        {"isvbr", "a", {0, 0, 2, 2}},
        {"iscbr", "a", {0, 2, 0, 2}},
        {"mbr:128", "a", {0, 0, 0, 2}},
        {"minbitrate:129", "a", {0, 0, 2, 2}},
        {"mfs:12", "a", {0, 0, 2, 2}},
        {"mfs:13", "a", {0, 2, 2, 2}},
        // A failed condition rejects before the words are looked at.
        {"isvbr nothere", "a", {1, 1, 2, 2}},
    };
    const ItemPtr results[] = {ItemPtr(), m_vbr320, m_cbr128, m_bare};
    for (const auto& c : cases) {
        FilterParser f;
        f.Parse(QString::fromUtf8(c.filter));
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(f.IsMatching(QString::fromUtf8(c.text), nullptr, results[i]) == c.expected[i],
                     qPrintable(QStringLiteral("%1 on item %2").arg(c.filter).arg(i)));
        }
    }
}

void TestFilterParser::remainderCollectsWhatIsLeft()
{
    FilterParser f;
    f.Parse(QStringLiteral("rock live best -bootleg isvbr mbr:192 mfif:3"));
    FilterParser r;
    r.Parse(QStringLiteral("stale -words iscbr mfs:1"));

    // A folder name takes care of some words for everything below it.
    QCOMPARE(f.IsMatching(QStringLiteral("Rock Albums"), &r, ItemPtr()), 1);
    QCOMPARE(r.GetIncludedWords(), QStringList({"live", "best"}));
    QCOMPARE(r.GetExcludedWords(), QStringList({"bootleg"}));
    QVERIFY(r.IsVbr() && !r.IsCbr() && r.HasAttributes());
    QCOMPARE(r.MinBitrate(), 192);
    QCOMPARE(r.MinFileSize(), qint64(0));
    QCOMPARE(r.MinFilesInFolder(), 3);

    // The remainder may be the filter itself, as when walking up a tree.
    QCOMPARE(r.IsMatching(QStringLiteral("The Best"), &r, ItemPtr()), 1);
    QCOMPARE(r.GetIncludedWords(), QStringList({"live"}));
    QCOMPARE(r.GetExcludedWords(), QStringList({"bootleg"}));
    QCOMPARE(r.IsMatching(QStringLiteral("live.mp3"), nullptr, m_vbr320), 0);
    QCOMPARE(r.IsMatching(QStringLiteral("live.mp3"), nullptr, m_cbr128), 2);
    QCOMPARE(r.IsMatching(QStringLiteral("bootleg live.mp3"), nullptr, m_vbr320), 2);

    QCOMPARE(f.IsMatching(QStringLiteral("rock\\best of\\live"), &r, m_vbr320), 0);
    QVERIFY(r.GetIncludedWords().isEmpty());
}

void TestFilterParser::remainderAfterRejection()
{
    FilterParser f;
    f.Parse(QStringLiteral("rock -bootleg mfs:1 mfif:2"));
    FilterParser r;
    QCOMPARE(f.IsMatching(QStringLiteral("Rock Bootleg"), &r, ItemPtr()), 2);
    QVERIFY(r.GetIncludedWords().isEmpty() && r.GetExcludedWords().isEmpty());
    QCOMPARE(r.MinFileSize(), qint64(1000000));
    QCOMPARE(r.MinFilesInFolder(), 2);

    r.Parse(QStringLiteral("stale"));
    QCOMPARE(f.IsMatching(QStringLiteral("rock"), &r, m_bare), 2);
    QVERIFY(r.GetIncludedWords().isEmpty() && r.HasAttributes());
}

QTEST_APPLESS_MAIN(TestFilterParser)
#include "TestFilterParser.moc"
