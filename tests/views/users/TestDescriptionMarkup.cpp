// Another user's description as the markup a document is given: formatting
// kept, everything else read as text or left out, and hostile sizes and
// depths bounded before any layout sees them.
#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>

#include "users/DescriptionMarkup.h"

namespace {

QString Shown(const QString& description)
{
    QTextDocument document;
    document.setHtml(DescriptionMarkup::Sanitize(description).html);
    return document.toPlainText();
}

QString Repeat(const QString& part, int times)
{
    QString all;
    all.reserve(part.size() * times);
    for (int i = 0; i < times; ++i)
        all += part;
    return all;
}

// Every tag of the markup, opening or closing, in order.
QStringList Tags(const QString& html)
{
    QStringList tags;
    QRegularExpressionMatchIterator it = QRegularExpression("<(/?[a-z0-9]+)").globalMatch(html);
    while (it.hasNext())
        tags << it.next().captured(1);
    return tags;
}

} // namespace

class TestDescriptionMarkup : public QObject
{
    Q_OBJECT

private slots:
    void formattingIsKeptAndNothingElse()
    {
        const QString html =
            DescriptionMarkup::Sanitize("<B>bold</b> <font color=\"#a0b0c0\" size=+1 face=x onclick=\"y\">c</font>"
                                        "<font color=\"red;background:url(x)\">d</font><ul><li>one<li>two</ul>")
                .html;
        QVERIFY(html.contains("<b>bold</b>"));
        QVERIFY(html.contains("<font color=\"#a0b0c0\" size=\"+1\">c</font>"));
        QVERIFY(html.contains("<font>d</font>"));
        QVERIFY(html.contains("<ul><li>one</li><li>two</li></ul>"));
        QVERIFY(!html.contains("onclick") && !html.contains("face") && !html.contains("url"));

        // Pictures, links, scripts and styles go; tables leave their text
        // in lines and cells.
        const QString hostile = "<img src=\"/dev/zero\"><a href=\"file:///etc/passwd\">link</a>"
                                "<script>alert(1)</script><style>p{color:red}</style><!-- hidden -->"
                                "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>tail";
        const QString sanitized = DescriptionMarkup::Sanitize(hostile).html;
        for (const char* gone : {"img", "href", "<a", "script", "alert", "style", "hidden", "table", "<td"})
            QVERIFY2(!sanitized.contains(gone), gone);
        QCOMPARE(Shown(hostile), QString("link\na b \nc \ntail"));
    }

    void textIsTextWhateverItLooksLike()
    {
        // Not tags, entities of controls, and line ends of either kind.
        QCOMPARE(Shown("1 < 2 & 3 > 2 &lt;b&gt; &bogus; <3 <a"), QString("1 < 2 & 3 > 2 <b> &bogus; <3 <a"));
        QCOMPARE(Shown("a\r\nb\nc"), QString("a\nb\nc"));
        QCOMPARE(Shown(QString("bell\a&#7;&#0;&#xd800;tab\t")), QString("bell") + QChar(0x2407) + QChar(0x2407) +
                                                                    QChar(0xfffd) + QChar(0xfffd) + "tab" +
                                                                    QChar(0x2409));
        // A quoted ">" belongs to the attribute; an unended quote is text.
        QCOMPARE(Shown("<font color=\"a>b\">x</font>"), QString("x"));
        QCOMPARE(Shown("<b title=\"x>y"), QString("<b title=\"x>y"));
    }

    void unbalancedMarkupIsClosedAndNestsNoDeeperThanTheBound()
    {
        const DescriptionMarkup::Result stray = DescriptionMarkup::Sanitize("y</b></p><li>x<p>a<b>b<p>c");
        QVERIFY(!stray.flattened && !stray.cut);
        QCOMPARE(Tags(stray.html), (QStringList{"br", "p", "b", "/b", "/p", "p", "/p"}));

        const DescriptionMarkup::Result deep =
            DescriptionMarkup::Sanitize(Repeat("<i><b>", 50) + "x" + Repeat("</b></i>", 50) + "<u>after</u>");
        QVERIFY(deep.flattened && !deep.cut);
        const QStringList tags = Tags(deep.html);
        QCOMPARE(tags.count("i") + tags.count("b"), DescriptionMarkup::MaxDepth);
        QCOMPARE(tags.count("/i") + tags.count("/b"), DescriptionMarkup::MaxDepth);
        QVERIFY(deep.html.contains("<u>after</u>"));
        QVERIFY(Shown(Repeat("<i><b>", 50) + "x").startsWith("x\n"));
    }

    void hostileSizesAreBounded()
    {
        // Tables and lists nested a thousand deep: no table is left, and
        // lists go no deeper than the bound.
        const DescriptionMarkup::Result nested =
            DescriptionMarkup::Sanitize(Repeat("<table><tr><td><ul><li>", 1000) + "end");
        QVERIFY(nested.flattened && !nested.html.contains("table"));
        QVERIFY(Tags(nested.html).count("ul") <= DescriptionMarkup::MaxDepth);

        // Markup without text is bounded too; a character is never cut in
        // half.
        const DescriptionMarkup::Result tags = DescriptionMarkup::Sanitize(Repeat("<i></i>", 100000));
        QVERIFY(tags.cut && tags.html.size() <= DescriptionMarkup::MaxMarkup + 1000);
        const QString emoji = QString(DescriptionMarkup::MaxText - 1, 'a') + QString::fromUtf8("\xf0\x9f\x98\x80");
        QVERIFY(!Shown(emoji).at(DescriptionMarkup::MaxText - 1).isHighSurrogate());

        // Past the bound of what is read, the start is shown all the same.
        const QString overlong = QString(DescriptionMarkup::MaxSource + 1, 'w');
        QVERIFY(DescriptionMarkup::Sanitize(overlong).cut);
        QVERIFY(Shown(overlong).startsWith(QString(DescriptionMarkup::MaxText, 'w') + "\nThe description is longer"));
    }
};

QTEST_MAIN(TestDescriptionMarkup)
#include "TestDescriptionMarkup.moc"
