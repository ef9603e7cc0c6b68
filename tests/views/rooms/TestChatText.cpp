// The chat text that room pages and private chats share: chat and status
// lines as HTML, action lines, activity stamps, the room view's cap, the log
// lines, the log files' names and the writing of the logs.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

#include "Data.h"
#include "Settings.h"
#include "ViewFixture.h"
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
                 QString("[<font color=\"#0066ff\">%1</font>][<font color=\"#0033ff\">alice</font>] hello")
                     .arg(Now("h:mm:ss")));
        QCOMPARE(PlainText(ChatText::ChatLineHtml("alice", "hello")), QString("[%1][alice] hello").arg(Now("h:mm:ss")));

        SetSetting("chat_timestamps", "per_message_long");
        QVERIFY(ChatText::ChatLineHtml("alice", "hello").contains(Now("MMM d h:mm:ss ap") + "</font>]"));

        for (const char* mode : {"activity_based", "no_timestamps", "something else"}) {
            SetSetting("chat_timestamps", mode);
            QCOMPARE(ChatText::ChatLineHtml("alice", "hello"), QString("[<font color=\"#0033ff\">alice</font>] hello"));
        }
    }

    void wordsFromOthersAreTextAndOnlyPlainAddressesBecomeLinks()
    {
        QCOMPARE(ChatText::ChatLineHtml("bob", "two  spaces"),
                 QString("[<font color=\"#0033ff\">bob</font>] two &nbsp;spaces"));
        const QString tag = "<img src=\"file:///etc/passwd\"><a href=\"http://x.org\">y</a>";
        QCOMPARE(PlainText(ChatText::ChatLineHtml("<b>bob</b>", tag)), "[<b>bob</b>] " + tag);
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
        for (const QString name : {"lobby", "..", ".", "a%2Fb", "a\\b", "x.log", ""})
            QCOMPARE(ChatText::LogFileName(name), name + ".log");
        QCOMPARE(ChatText::LogFileName("a/b"), QString("a%2Fb.txt"));
        QCOMPARE(ChatText::LogFileName("../../.bashrc"), QString("..%2F..%2F.bashrc.txt"));

        const QString folder = ChatText::LogFolder(ChatText::Log::Room);
        QVERIFY(folder.endsWith("/Quorvane Chat Logs/Rooms/"));
        QVERIFY(ChatText::LogFolder(ChatText::Log::User).endsWith("/Quorvane Chat Logs/Users/"));
        const QStringList names{
            "a/b", "a%2Fb", "a%2Fb.txt", "a%/b",  "a%25/b", "a%252Fb", QString("a") + QChar(0) + "b", "a%00b", "/",
            "%2F", "../x",  "..%2Fx",    "x.log", "x",      "x.txt"};
        QSet<QString> files;
        for (const QString& name : names) {
            const QString path = ChatText::LogPath(ChatText::Log::Room, name);
            QCOMPARE(QFileInfo(path).absolutePath() + "/", folder);
            QVERIFY(!path.contains(QChar(0)));
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
        const QString html0 = view.document()->toHtml();
        for (; appended < 1500; ++appended) {
            ChatText::AppendCapped(&view,
                                   ChatText::ChatLineHtml("u", QString("line %1 %2").arg(appended).arg(padding)));
            const int before = size;
            size = view.document()->toHtml().size();
            if (size >= before)
                continue;
            // A cut drops the head and the paragraphs up to the end of the
            // one the cut fell in, a little more than ViewCut characters;
            // the head comes back and the new line is added.
            ++cuts;
            const int line = size / view.document()->blockCount() + 1;
            const int head = html0.size();
            QVERIFY2(before - size >= ChatText::ViewCut - head - line && before - size <= ChatText::ViewCut + line,
                     qPrintable(QString("%1 -> %2").arg(before).arg(size)));
        }
        QVERIFY(cuts >= 2);
        const QString html = view.document()->toHtml();
        QVERIFY(html.size() <= ChatText::ViewCap + 1000);

        const QStringList lines = view.toPlainText().split('\n');
        QVERIFY(lines.size() < appended);
        QCOMPARE(lines.last(), QString("[u] line %1 %2").arg(appended - 1).arg(padding));
        // What is kept is whole lines, oldest first, in an unbroken run.
        const int first = appended - lines.size();
        for (int i = 0; i < lines.size(); ++i)
            QCOMPARE(lines.at(i), QString("[u] line %1 %2").arg(first + i).arg(padding));
        QCOMPARE(Links(html), QStringList());
    }

    void oneHugeLineIsDroppedWholeRatherThanCutInsideItsTags()
    {
        ChatBrowser view;
        QString huge;
        for (int i = 0; i < 6000; ++i)
            huge += QString("http://example.org/page%1  ").arg(i);
        ChatText::AppendCapped(&view, ChatText::ChatLineHtml("spammer", huge));
        QVERIFY(view.document()->toHtml().size() > ChatText::ViewCap);

        ChatText::AppendCapped(&view, ChatText::ChatLineHtml("alice", "after"));
        QCOMPARE(view.toPlainText(), QString("[alice] after"));
        ChatText::AppendCapped(&view, ChatText::ChatLineHtml("bob", "http://b.org/"));
        QCOMPARE(view.toPlainText(), QString("[alice] after\n[bob] http://b.org/"));
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
