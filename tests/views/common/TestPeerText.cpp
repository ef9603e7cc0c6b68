// Text from other users shown as data: controls visible, "&" never a
// shortcut, markup never markup, no override reaching past the name, and no
// word too long to lay out at once.
#include <QTest>
#include <QTextLayout>

#include "common/PeerText.h"

class TestPeerText : public QObject
{
    Q_OBJECT

    // The order in which a line's characters are drawn, left to right.
    static QString DrawnOrder(const QString& text)
    {
        QTextLayout layout(text);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(100000);
        layout.endLayout();
        QString drawn;
        QVector<int> logical;
        for (int i = 0; i < text.size(); ++i) {
            logical << i;
        }
        // Visual order through the caret: the x of each logical position.
        std::sort(logical.begin(), logical.end(), [&](int a, int b) { return line.cursorToX(a) < line.cursorToX(b); });
        for (int i : logical) {
            if (text[i].isLetterOrNumber() || text[i] == '.') {
                drawn += text[i];
            }
        }
        return drawn;
    }

private slots:
    void controlsAreShownAndLineBreaksOnlyWhereAsked()
    {
        const QString raw = QString("a\tb\nc") + QChar(0x07) + QChar(0x7f);
        const QString shown = PeerText::VisibleControls(raw);
        for (QChar c : shown) {
            QVERIFY2(c.unicode() >= 0x20 && c.unicode() != 0x7f, "a control character is left raw");
        }
        QCOMPARE(shown, QString("a") + QChar(0x2409) + "b" + QChar(0x240a) + "c" + QChar(0x2407) + QChar(0x2421));
        QCOMPARE(PeerText::VisibleControls("a\nb", true), QString("a\nb"));
        QCOMPARE(PeerText::Html("<b>x</b>\ny", true).count("<br>"), 1);
        QVERIFY(!PeerText::Html("<b>x</b>").contains("<b>"));
    }

    void anOverrideInsideANameCannotReorderTheTextAroundIt()
    {
        // "gnp.exe" behind a right-to-left override reads "exe.png" in the
        // name itself, but the sentence after it stays in reading order.
        const QString name = QChar(0x202e) + QString("gnp.exe");
        const QString isolated = PeerText::Isolated(name);
        QVERIFY(isolated.startsWith(QChar(0x2068)));
        QVERIFY(isolated.endsWith(QChar(0x2069)));
        QCOMPARE(DrawnOrder("sent " + isolated + " ok"), QString("sentexe.pngok"));

        // A stray closing isolate would end ours early; open ones are closed.
        const QString stray = PeerText::Isolated(QChar(0x2069) + QString("x") + QChar(0x2067) + "y");
        QCOMPARE(stray.count(QChar(0x2069)), 2);
        QCOMPARE(stray.count(QChar(0x2067)), 1);
        QVERIFY(!stray.mid(1).startsWith(QChar(0x2069)));
    }

    void titlesShowAmpersandsAsThemselves()
    {
        const QString title = PeerText::Title("late night & co");
        QVERIFY(title.contains("late night && co"));
        QCOMPARE(PeerText::Title("r&b").count('&'), 2);
    }

    void aLongRunGetsInvisiblePlacesToBreakButMarkupStaysWhole()
    {
        const QChar zwsp(0x200b);
        const QString run(450, 'x');
        QCOMPARE(PeerText::Breakable(run + " short", 200, false),
                 QString(200, 'x') + zwsp + QString(200, 'x') + zwsp + QString(50, 'x') + " short");
        // A tag and a character reference are never cut, nor a character
        // written as a pair.
        const QString note = QString::fromUtf8("\xF0\x9F\x8E\xB5");
        const QString markup = "<a href=\"" + run + "\">" + QString(199, 'y') + "&amp;" + note + note + "</a>";
        const QString broken = PeerText::Breakable(markup, 200, true);
        QVERIFY(broken.startsWith("<a href=\"" + run + "\">" + QString(199, 'y') + "&amp;" + zwsp + note + note));
        QCOMPARE(QString(broken).remove(zwsp), markup);
    }
};

QTEST_MAIN(TestPeerText)
#include "TestPeerText.moc"
