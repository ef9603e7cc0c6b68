#include "SearchParser.h"

#include <QtTest>

namespace {
QString Join(const std::set<QString>& words)
{
    QStringList list(words.begin(), words.end());
    return list.join(QLatin1Char('|'));
}
} // namespace

class TestSearchParser : public QObject
{
    Q_OBJECT

private slots:
    void accepted();
    void rejectedKeepsTheLastWords();
};

void TestSearchParser::accepted()
{
    // text, plain words, part words, excluded words
    const char* const cases[][4] = {
        {"Abbey -live *road", "abbey", "road", "live"},
        {"\t b  a\t\ta ", "a|b", "", ""},
        {"*foo *bar", "", "bar|foo", ""},
        {"\"Let It\" be", "be|let it", "", ""},
        {"x -\"a b\" *\"c\td\"", "x", "c\td", "a b"},
        {"a-b --c *-d", "a-b", "-d", "-c"},
        {"\xc3\x89T\xc3\x89", "\xc3\xa9t\xc3\xa9", "", ""},
    };
    for (const auto& c : cases) {
        SearchParser parser;
        QVERIFY2(parser.SetSearchText(QString::fromUtf8(c[0])), c[0]);
        QCOMPARE(Join(parser.GetIncludedTokenSet()), QString::fromUtf8(c[1]));
        QCOMPARE(Join(parser.GetIncludedPartTokenSet()), QString::fromUtf8(c[2]));
        QCOMPARE(Join(parser.GetExcludedTokenSet()), QString::fromUtf8(c[3]));
    }
}

void TestSearchParser::rejectedKeepsTheLastWords()
{
    SearchParser parser;
    QVERIFY(parser.SetSearchText(QStringLiteral("one *two -three")));

    const char* const rejected[] = {
        "", " \t ", "-a -b", "abc -", "abc *", "a - b", "a \"\"", "a -\"\"", "a \"b c", "ab\"c", "\"ab\"c",
    };
    for (const char* text : rejected)
        QVERIFY2(!parser.SetSearchText(QString::fromUtf8(text)), text);
    QCOMPARE(Join(parser.GetIncludedTokenSet()), QStringLiteral("one"));
    QCOMPARE(Join(parser.GetIncludedPartTokenSet()), QStringLiteral("two"));
    QCOMPARE(Join(parser.GetExcludedTokenSet()), QStringLiteral("three"));

    QVERIFY(parser.SetSearchText(QStringLiteral("six")));
    QVERIFY(parser.GetIncludedPartTokenSet().empty() && parser.GetExcludedTokenSet().empty());
}

QTEST_APPLESS_MAIN(TestSearchParser)
#include "TestSearchParser.moc"
