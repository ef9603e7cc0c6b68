// The chat text that room pages and private chats share: chat and status
// lines as HTML, what of others' words they show, action lines, activity
// stamps, the views' cap, the log lines, the log files' names and the
// writing of the logs.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextLayout>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Settings.h"
#include "ViewFixture.h"
#include "common/PeerText.h"
#include "common/ViewClock.h"
#include "rooms/ChatActivity.h"
#include "rooms/ChatBrowser.h"
#include "rooms/ChatLogViewer.h"
#include "rooms/ChatText.h"

namespace {

class RecordingViewer : public ChatLogViewer
{
public:
    void AddLine(QString line) override { lines << line; }
    QStringList lines;
};

// The anchors of a piece of HTML, as a rich-text view reads them.
QStringList Links(const QString& html)
{
    QTextDocument document;
    document.setHtml(html);
    QStringList links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor())
                links << it.fragment().charFormat().anchorHref() + " = " + it.fragment().text();
        }
    }
    return links;
}

QString PlainText(const QString& html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

QString Unisolated(QString text)
{
    return text.remove(QChar(0x2068)).remove(QChar(0x2069));
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Now(const char* format)
{
    return ViewClock::Now().toString(format);
}

} // namespace

class TestChatText : public QObject
{
    Q_OBJECT

private:
    ViewFixture* m_fixture = nullptr;

    void ConnectViewer(const QString& room, ChatLogViewer* viewer)
    {
        d.GetType("room")->GetItem(room) += d.GetType("chat_log_form")->GetItem(Value(viewer));
    }

private slots:
    void init()
    {
        m_fixture = new ViewFixture;
        QDir(QDir::homePath() + "/Quorvane Chat Logs").removeRecursively();
    }

    void cleanup()
    {
        delete m_fixture;
        m_fixture = nullptr;
    }

    void aChatLineIsStampedAsTheSettingSays()
    {
        SetSetting("chat_timestamps", "per_message_short");
        QCOMPARE(ChatText::ChatLineHtml("alice", "hello"),
                 QString("[<font color=\"#0066ff\">%1</font>][<font color=\"#0033ff\">%2</font>] %3")
                     .arg(Now("h:mm:ss"), PeerText::Isolated("alice"), PeerText::Isolated("hello")));
        QCOMPARE(Unisolated(PlainText(ChatText::ChatLineHtml("alice", "hello"))),
                 QString("[%1][alice] hello").arg(Now("h:mm:ss")));

        SetSetting("chat_timestamps", "per_message_long");
        QVERIFY(ChatText::ChatLineHtml("alice", "hello").contains(Now("MMM d h:mm:ss ap") + "</font>]"));

        for (const char* mode : {"activity_based", "no_timestamps", "something else"}) {
            SetSetting("chat_timestamps", mode);
            QCOMPARE(Unisolated(ChatText::ChatLineHtml("alice", "hello")),
                     QString("[<font color=\"#0033ff\">alice</font>] hello"));
        }
    }

    void wordsFromOthersAreTextAndOnlyPlainAddressesBecomeLinks()
    {
        QCOMPARE(Unisolated(ChatText::ChatLineHtml("bob", "two  spaces")),
                 QString("[<font color=\"#0033ff\">bob</font>] two &nbsp;spaces"));
        const QString tag = "<img src=\"file:///etc/passwd\"><a href=\"http://x.org\">y</a>";
        QCOMPARE(Unisolated(PlainText(ChatText::ChatLineHtml("<b>bob</b>", tag))), "[<b>bob</b>] " + tag);
        QCOMPARE(PlainText(ChatText::StatusLineHtml(tag)), "* " + tag);

        QCOMPARE(Links(ChatText::ChatLineHtml("bob", "see http://a.org/q?x=1&y=2 now")),
                 QStringList{"http://a.org/q?x=1&y=2 = http://a.org/q?x=1&y=2"});
        QCOMPARE(Links(ChatText::ChatLineHtml("bob", "HTTP://A.ORG/")), QStringList());
        QCOMPARE(Links(ChatText::StatusLineHtml("https://b.org/x")), QStringList{"https://b.org/x = https://b.org/x"});
        QCOMPARE(ChatText::StatusLineHtml("Chat ended"), QString("* <font color=\"#339933\">Chat ended</font>"));
    }

    void actionLinesNeedTheExactPrefix()
    {
        QVERIFY(ChatText::IsAction("  /me waves  "));
        QVERIFY(!ChatText::IsAction("/mewaves"));
        QVERIFY(!ChatText::IsAction("/Me waves"));
        QVERIFY(!ChatText::IsAction("/me"));
        QCOMPARE(ChatText::ActionText("alice", "  /me   waves hello  "), QString("alice waves hello"));
        QCOMPARE(ChatText::ActionText("a%1", "/me %2 too"), QString("a%1 %2 too"));
        QCOMPARE(ChatText::ActionShown("a\x1b", " /me  waves "),
                 PeerText::Isolated(QString("a") + QChar(0x241b)) + " " + PeerText::Isolated("waves"));
    }

    void logLinesKeepTheirFieldsLiterallyOnOneLine()
    {
        const QString stamp = Now("MMM d h:mm:ss ap");
        QCOMPARE(ChatText::ChatLogLine("100%1", "%2  <b>done</b>"), "[" + stamp + "][100%1] %2  <b>done</b>");
        QCOMPARE(ChatText::ChatLogLine("ev\nil", "a\r\n[Jan 1 1:00:00 am][admin] b"),
                 QString("[%1][ev il] a  [Jan 1 1:00:00 am][admin] b").arg(stamp));
        QCOMPARE(ChatText::ActionLogLine("bob waves\nagain"), QString("[%1] * bob waves again").arg(stamp));
    }

    void logFileNamesStayInTheirFolderAndNeverMeet()
    {
        // Names that are harmless with ".log" after them keep their old file.
        for (const QString& name : QStringList{"lobby", "a.", "a%2Fb", "a\\b", "x.log", "", QString(251, 'n')})
            QCOMPARE(ChatText::LogFileName(name), name + ".log");
        QCOMPARE(ChatText::LogFileName("a/b"), QString("a%2Fb.txt"));
        QCOMPARE(ChatText::LogFileName("../../.bashrc"), QString("%2E.%2F..%2F.bashrc.txt"));
        // Nor is a log ever hidden.
        QCOMPARE(ChatText::LogFileName(".."), QString("%2E..txt"));
        QCOMPARE(ChatText::LogFileName(".x"), QString("%2Ex.txt"));

        const QString folder = ChatText::LogFolder(ChatText::Log::Room);
        QVERIFY(folder.endsWith("/Quorvane Chat Logs/Rooms/"));
        QVERIFY(ChatText::LogFolder(ChatText::Log::User).endsWith("/Quorvane Chat Logs/Users/"));
        const QStringList names{"a/b",
                                "a%2Fb",
                                "a%2Fb.txt",
                                "a%/b",
                                "a%25/b",
                                "a%252Fb",
                                QString("a") + QChar(0) + "b",
                                "a%00b",
                                "/",
                                "%2F",
                                "../x",
                                "..%2Fx",
                                "x.log",
                                "x",
                                "x.txt",
                                ".",
                                "..",
                                "%2E",
                                "%2E.",
                                ".x",
                                "%2Ex",
                                QString(300, 'n'),
                                QString(300, 'n') + "o",
                                QString(251, 'n'),
                                QString(252, 'n'),
                                QString(250, 'n') + "%H",
                                "." + QString(300, 'n'),
                                QString(200, QChar(0x4e2d)),
                                QString(84, QChar(0x4e2d))};
        QSet<QString> files;
        for (const QString& name : names) {
            const QString path = ChatText::LogPath(ChatText::Log::Room, name);
            QCOMPARE(QFileInfo(path).absolutePath() + "/", folder);
            QVERIFY(!path.contains(QChar(0)));
            const QString file = QFileInfo(path).fileName();
            QVERIFY2(file.toUtf8().size() <= 255 && !file.startsWith('.'), qPrintable(file));
            files.insert(path);
        }
        QCOMPARE(files.size(), names.size());
    }

    void aLoggedLineIsAppendedAndReachesTheOpenViewer()
    {
        RecordingViewer viewer;
        ConnectViewer("lobby", &viewer);
        QVERIFY(!QDir(ChatText::LogFolder(ChatText::Log::Room)).exists());

        ChatText::LogChat(ChatText::Log::Room, "lobby", "[x][alice] héllo");
        ChatText::LogChat(ChatText::Log::Room, "lobby", "[x] * alice waves");
        ChatText::LogChat(ChatText::Log::Room, "a/b", "elsewhere");
        QCOMPARE(FileBytes(ChatText::LogPath(ChatText::Log::Room, "lobby")),
                 QString("[x][alice] héllo\n[x] * alice waves\n").toUtf8());
        QCOMPARE(FileBytes(ChatText::LogFolder(ChatText::Log::Room) + "a%2Fb.txt"), QByteArray("elsewhere\n"));
        QCOMPARE(viewer.lines, (QStringList{"[x][alice] héllo", "[x] * alice waves"}));

        // A file that cannot be written costs the file its line, not the viewer.
        QVERIFY(QDir().mkpath(ChatText::LogPath(ChatText::Log::Room, "blocked")));
        RecordingViewer blocked;
        ConnectViewer("blocked", &blocked);
        ChatText::LogChat(ChatText::Log::Room, "blocked", "still shown");
        QCOMPARE(blocked.lines, QStringList{"still shown"});

        ChatText::LogChat(ChatText::Log::User, "bob", "private");
        QCOMPARE(FileBytes(ChatText::LogPath(ChatText::Log::User, "bob")), QByteArray("private\n"));
    }

    void everyNameGetsAVisibleLogAndAnOldHiddenOneIsKept()
    {
        const QString folder = ChatText::LogFolder(ChatText::Log::User);
        const QString longName = QString(300, QChar(0xe9));
        ChatText::LogChat(ChatText::Log::User, longName, "said at length");
        ChatText::LogChat(ChatText::Log::User, longName + "x", "said by another");
        QCOMPARE(FileBytes(ChatText::LogPath(ChatText::Log::User, longName)), QByteArray("said at length\n"));
        QCOMPARE(FileBytes(ChatText::LogPath(ChatText::Log::User, longName + "x")), QByteArray("said by another\n"));

        // A log written hidden before is taken over, not left behind.
        QVERIFY(QDir().mkpath(folder));
        QFile old(folder + ".dot.log");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older\n");
        old.close();
        ChatText::LogChat(ChatText::Log::User, ".dot", "newer");
        QCOMPARE(FileBytes(folder + "%2Edot.txt"), QByteArray("older\nnewer\n"));
        QVERIFY(!QFile::exists(folder + ".dot.log"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
    }

    void aLogSwitchedOffWritesNothingAndTellsNoViewer()
    {
        RecordingViewer viewer;
        ConnectViewer("lobby", &viewer);
        SetSetting("log_room_chat", "no");
        ChatText::LogChat(ChatText::Log::Room, "lobby", "unseen");
        QVERIFY(!QFile::exists(ChatText::LogPath(ChatText::Log::Room, "lobby")));
        QVERIFY(viewer.lines.isEmpty());

        // The private chats have their own switch.
        SetSetting("log_private_chat", "");
        ChatText::LogChat(ChatText::Log::User, "bob", "unseen");
        QVERIFY(!QFile::exists(ChatText::LogPath(ChatText::Log::User, "bob")));
        SetSetting("log_room_chat", "yes");
        ChatText::LogChat(ChatText::Log::Room, "lobby", "seen");
        QCOMPARE(viewer.lines, QStringList{"seen"});
    }

    void theCappedViewDropsItsOldestWholeLines()
    {
        ChatBrowser view;
        const QString padding(200, 'p');
        int appended = 0;
        int cuts = 0;
        int size = 0;
        for (; appended < 1500; ++appended) {
            ChatText::AppendCapped(&view,
                                   ChatText::ChatLineHtml("u", QString("line %1 %2").arg(appended).arg(padding)));
            const int before = size;
            size = view.document()->characterCount();
            if (size >= before)
                continue;
            // A cut drops whole lines, at least ViewCut characters and less
            // than a line more, and the new line is added.
            ++cuts;
            const int line = size / view.document()->blockCount() + 1;
            QVERIFY2(before - size >= ChatText::ViewCut - line && before - size <= ChatText::ViewCut + line,
                     qPrintable(QString("%1 -> %2").arg(before).arg(size)));
        }
        QVERIFY(cuts >= 2);
        // Characters, not the HTML around them: a view of long lines with
        // little markup holds no more text than the cap.
        QVERIFY(view.document()->characterCount() <= ChatText::ViewCap + 300);

        const QStringList lines = Unisolated(view.toPlainText()).split('\n');
        QVERIFY(lines.size() < appended);
        QCOMPARE(lines.last(), QString("[u] line %1 %2").arg(appended - 1).arg(padding));
        // What is kept is whole lines, oldest first, in an unbroken run.
        const int first = appended - lines.size();
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(lines.at(i), QString("[u] line %1 %2").arg(first + i).arg(padding));
        QCOMPARE(Links(view.document()->toHtml()), QStringList());
    }

    void aHugeLineIsShownBoundedAndLoggedWhole()
    {
        // No spaces to break at, and tags that would nest if they were read.
        for (const QString& huge : {QString(1 << 20, 'w'), QString("<b>").repeated(262144)}) {
            const QString shown = Unisolated(PlainText(ChatText::ChatLineHtml("spammer", huge)));
            const QString left =
                QString(" %1 (%2 more characters not shown)").arg(QChar(0x2026)).arg(huge.size() - ChatText::LineCap);
            QCOMPARE(shown, "[spammer] " + huge.left(ChatText::LineCap) + left);
            QVERIFY(ChatText::ChatLogLine("spammer", huge).endsWith("] " + huge));
        }
        // A cut never leaves half of a character written as a pair.
        const QString pairs = QString(ChatText::LineCap - 1, 'a') + QString::fromUtf8("\xF0\x9F\x8E\xB5").repeated(3);
        const QString shown = ChatText::Shown(pairs);
        QVERIFY(shown.contains(QString(ChatText::LineCap - 1, 'a') + " " + QChar(0x2026)));
        QVERIFY(ChatText::Shown(QString(500, 'n'), ChatText::NameCap).contains("300 more characters not shown"));

        // A word wider than the view breaks at its edge.
        ChatBrowser narrow;
        narrow.resize(300, 200);
        narrow.show();
        ChatText::AppendCapped(&narrow, ChatText::ChatLineHtml("spammer", QString(2000, 'w')));
        QTRY_VERIFY(narrow.document()->lastBlock().layout()->lineCount() > 10);
        QVERIFY(narrow.document()->size().width() <= 300);
    }

    void aBurstIsInTheViewAtOnceAndTheViewFollowsItOnlyFromTheBottom()
    {
        ChatBrowser view;
        view.resize(300, 200);
        view.show();
        auto burst = [&](int first) {
            for (int i = first; i < first + 100; ++i)
                ChatText::AppendCapped(&view, ChatText::ChatLineHtml("u", QString("line %1").arg(i)));
        };
        burst(0);
        QCOMPARE(view.document()->blockCount(), 100);
        QVERIFY(Unisolated(view.toPlainText()).endsWith("[u] line 99"));
        QScrollBar* bar = view.verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());

        // Scrolled up to read, the reader is left where they are.
        bar->setValue(10);
        burst(100);
        QTRY_COMPARE(view.document()->lastBlock().layout()->lineCount(), 1);
        QCOMPARE(bar->value(), 10);
        bar->setValue(bar->maximum());
        burst(200);
        QTRY_COMPARE(view.document()->lastBlock().layout()->lineCount(), 1);
        QCOMPARE(bar->value(), bar->maximum());
        const QPoint bottom = view.viewport()->rect().bottomLeft() - QPoint(-4, 8);
        QVERIFY(view.cursorForPosition(bottom).block().text().contains("line 299"));
    }

    void oneHugeLineIsDroppedWholeRatherThanCutInsideItsTags()
    {
        // Only text that is no chat line can be longer than the cap now.
        ChatBrowser view;
        QString huge;
        for (int i = 0; i < 6000; ++i)
            huge += QString("http://example.org/page%1  ").arg(i);
        view.append(ConvertLinks(huge));
        QVERIFY(view.document()->characterCount() > ChatText::ViewCap);

        ChatText::AppendCapped(&view, ChatText::ChatLineHtml("alice", "after"));
        QCOMPARE(Unisolated(view.toPlainText()), QString("[alice] after"));
        ChatText::AppendCapped(&view, ChatText::ChatLineHtml("bob", "http://b.org/"));
        QCOMPARE(Unisolated(view.toPlainText()), QString("[alice] after\n[bob] http://b.org/"));
        QCOMPARE(Links(view.document()->toHtml()), QStringList{"http://b.org/ = http://b.org/"});
    }

    void controlsShowAndEachNameAndMessageKeepsItsOwnDirection()
    {
        const QChar override(0x202e);
        const QString name = QString("ev") + override + "il\n";
        const QString message = QString("see gnp") + override + ".exe\a\r\nnow" + QChar(0x2069);
        const QString shown = PlainText(ChatText::ChatLineHtml(name, message));
        QCOMPARE(shown, "[" + PeerText::Line(name) + "] " + PeerText::Line(message));
        // The override stays inside its isolate: the closing bracket and the
        // message are outside the name's, and a stray closer cannot end it.
        QVERIFY(shown.contains(QString("il") + QChar(0x240a) + QChar(0x2069) + "] " + QChar(0x2068) + "see"));
        QVERIFY(shown.contains(QString("exe") + QChar(0x2407) + QChar(0x240d) + QChar(0x240a) + "now"));
        QCOMPARE(shown.count(QChar(0x2069)), 2);
        QVERIFY(!shown.contains('\a'));

        QCOMPARE(PlainText(ChatText::StatusLineHtml(QString("bell\a"))), QString("* bell") + QChar(0x2407));
        QCOMPARE(PlainText(ChatText::StatusLineHtml(ChatText::Shown(name, ChatText::NameCap) + " is away.")),
                 "* " + PeerText::Line(name) + " is away.");
        // The log keeps what was said, a line to an entry.
        QCOMPARE(ChatText::ChatLogLine(name, message).mid(ChatText::ChatLogLine(name, message).indexOf("][")),
                 QString("][ev") + override + "il ] see gnp" + override + ".exe\a  now" + QChar(0x2069));
    }

    void chatActivityStartsWithALineAndEndsAfterFiveQuietMinutes()
    {
        ChatActivity activity;
        QVERIFY(!activity.IsActive());
        QCOMPARE(activity.Check(), QString());
        const QString started = Now("MMM d h:mm:ss ap");
        QCOMPARE(activity.ChatLine(), "Chat started " + started);
        QVERIFY(activity.IsActive());
        m_fixture->Advance(60000);
        QCOMPARE(activity.ChatLine(), QString());
        const QString last = Now("MMM d h:mm:ss ap");
        m_fixture->Advance(ChatActivity::QuietLimit);
        QCOMPARE(activity.Check(), QString());
        m_fixture->Advance(1);
        QCOMPARE(activity.Check(), "Chat ended " + last);
        QVERIFY(!activity.IsActive());
        QCOMPARE(activity.Check(), QString());
        QVERIFY(activity.ChatLine().startsWith("Chat started "));

        // Other stamps show nothing, while the state changes all the same.
        SetSetting("chat_timestamps", "per_message_short");
        ChatActivity quiet;
        QCOMPARE(quiet.ChatLine(), QString());
        QVERIFY(quiet.IsActive());
        m_fixture->Advance(300000);
        QCOMPARE(quiet.Check(), QString());
        QVERIFY(!quiet.IsActive());
    }

    void theChatViewLoadsNothingItsTextNames()
    {
        const QString picture =
            m_fixture->WriteFile("pic.xpm", "/* XPM */\nstatic char*p[]={\"1 1 1 1\",\"a c #ff0000\",\"a\"};\n");
        const QUrl url = QUrl::fromLocalFile(picture);
        QTextBrowser plain;
        QVERIFY(plain.loadResource(QTextDocument::ImageResource, url).isValid());

        ChatBrowser view;
        // A view that only grows keeps nothing to undo.
        QVERIFY(!view.document()->isUndoRedoEnabled());
        QVERIFY(!view.openLinks());
        QVERIFY(!view.openExternalLinks());
        // A picture is a blank point, never what the address names (a
        // missing one would make the toolkit read the file itself).
        auto blank = [](const QVariant& resource) {
            const QImage image = resource.value<QImage>();
            return image.size() == QSize(1, 1) && qAlpha(image.pixel(0, 0)) == 0;
        };
        view.setHtml(QString("<img src=\"%1\"><img src=\"data:image/png;base64,iVBORw0KGgo=\">").arg(url.toString()));
        QVERIFY(blank(view.loadResource(QTextDocument::ImageResource, url)));
        QVERIFY(blank(view.document()->resource(QTextDocument::ImageResource, url)));
        QVERIFY(
            blank(view.document()->resource(QTextDocument::ImageResource, QUrl("data:image/png;base64,iVBORw0KGgo="))));
        QVERIFY(!view.document()->resource(QTextDocument::StyleSheetResource, url).isValid());
        // The document it keeps after being cleared is still its own.
        view.clear();
        view.setHtml(QString("<img src=\"%1\">").arg(url.toString()));
        QVERIFY(blank(view.document()->resource(QTextDocument::ImageResource, url)));
    }
};

QTEST_MAIN(TestChatText)
#include "TestChatText.moc"
