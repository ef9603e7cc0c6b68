// The chat-log viewer: the file as plain, whole, trimmed lines and the lines
// logged while it is open, one viewer per room, finding forwards and back,
// erasing the log, opening its folder, and a log not written yet.
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>

#include "DialogAnswerer.h"
#include "RoomsSetup.h"
#include "Settings.h"
#include "common/PeerText.h"
#include "rooms/ChatLogForm.h"
#include "rooms/ChatLogSearch.h"
#include "rooms/ChatText.h"

namespace {

QString WriteLog(const QString& room, const QStringList& lines)
{
    const QString path = ChatText::LogPath(ChatText::Log::Room, room);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    for (const QString& line : lines)
        file.write(line.toUtf8() + "\n");
    return path;
}

QPlainTextEdit* LogEdit(QWidget* viewer)
{
    return viewer->findChild<QPlainTextEdit*>("logEdit");
}

} // namespace

class TestChatLogForm : public QObject
{
    Q_OBJECT

private:
    RoomsSetup s;

    // The lobby's page and, opened from it, the lobby's log.
    ChatLogForm* OpenLobbyLog(RoomForm** page = nullptr)
    {
        s.Server()->AddRoom("lobby", {"x"});
        RoomForm* lobby = s.Enter("lobby");
        if (page)
            *page = lobby;
        if (!lobby || !s.Trigger(RoomsSetup::Edit(lobby), "Chat Log"))
            return nullptr;
        return qobject_cast<ChatLogForm*>(s.Tabs()->currentWidget());
    }

private slots:
    void init()
    {
        QDir(QDir::homePath() + "/Quorvane Chat Logs").removeRecursively();
        s.Make();
        QVERIFY(s.Start());
    }
    void cleanup() { s.Stop(); }

    void showsTheLogAsPlainWholeLinesAndFollowsIt()
    {
        const QString longLine = QString(35000, QChar(0xe9)) + QChar(0xfc);
        WriteLog("lobby", {"  first line  ", "", "<img src=/dev/zero> <b>bold?</b>", longLine, "last\t"});
        RoomForm* lobby = nullptr;
        ChatLogForm* viewer = OpenLobbyLog(&lobby);
        QVERIFY(viewer);
        QCOMPARE(s.Tabs()->tabText(s.Tabs()->indexOf(viewer)), PeerText::Title("lobby"));
        const QStringList shown = LogEdit(viewer)->toPlainText().split('\n');
        QCOMPARE(shown, (QStringList{"first line", "", "<img src=/dev/zero> <b>bold?</b>", longLine, "last"}));
        QVERIFY(!LogEdit(viewer)->document()->toHtml().contains("<img"));

        s.Server()->SayInRoom("lobby", "x", "  <i>new</i>  ");
        QTRY_VERIFY(LogEdit(viewer)->toPlainText().endsWith("][x] <i>new</i>"));

        // Once per room: the action brings the open viewer back.
        s.Tabs()->setCurrentWidget(lobby);
        QVERIFY(s.Trigger(RoomsSetup::Edit(lobby), "Chat Log"));
        QCOMPARE(s.Tabs()->count(), 2);
        QCOMPARE(s.Tabs()->currentWidget(), static_cast<QWidget*>(viewer));
    }

    void findWalksTheMatchesAndSetsTheButtons()
    {
        SetSetting("color_input_background", "#ffffff");
        SetSetting("color_input_text", "#000000");
        WriteLog("lobby", {"Alpha one", "beta ALPHA two", "last alpha"});
        ChatLogForm* viewer = OpenLobbyLog();
        QVERIFY(viewer);
        auto* search = viewer->findChild<QLineEdit*>("searchEdit");
        auto* back = viewer->findChild<QPushButton*>("searchBackButton");
        auto* forward = viewer->findChild<QPushButton*>("searchForwardButton");
        auto marked = [&] {
            const QList<QTextEdit::ExtraSelection> marks = LogEdit(viewer)->extraSelections();
            return marks.isEmpty() ? -1 : marks.first().cursor.selectionStart();
        };
        auto buttons = [&] { return QString(back->isEnabled() ? "<" : "-") + (forward->isEnabled() ? ">" : "-"); };

        search->setText("alPHA");
        QCOMPARE(marked(), 0);
        QCOMPARE(buttons(), QString("->"));
        const QTextCharFormat colours = LogEdit(viewer)->extraSelections().first().format;
        QCOMPARE(colours.foreground().color(), QColor("#ffffff"));
        QCOMPARE(colours.background().color(), QColor("#000000"));
        forward->click();
        QCOMPARE(marked(), 15);
        QCOMPARE(buttons(), QString("<>"));
        forward->click();
        QCOMPARE(marked(), 30);
        QCOMPARE(buttons(), QString("<-"));
        back->click();
        QCOMPARE(marked(), 15);

        for (const char* nothing : {"zzz", ""}) {
            search->setText(nothing);
            QCOMPARE(marked(), -1);
            QCOMPARE(buttons(), QString("--"));
        }
    }

    void clearingAsksAndTheFolderOpens()
    {
        const QString path = WriteLog("lobby", {"kept unless asked"});
        ChatLogForm* viewer = OpenLobbyLog();
        QVERIFY(viewer);
        QWidget* search = viewer->findChild<QLineEdit*>("searchEdit");

        QVERIFY(s.Trigger(search, "Open Log Folder"));
        QCOMPARE(s.fixture->OpenedUrls(), QList<QUrl>{QUrl::fromLocalFile(QFileInfo(path).absolutePath())});

        DialogAnswerer answers;
        answers.Then(DialogAnswerer::Press(QMessageBox::No)).Then(DialogAnswerer::Press(QMessageBox::Yes));
        QVERIFY(s.Trigger(search, "Clear Log"));
        QVERIFY(QFile::exists(path));
        QCOMPARE(LogEdit(viewer)->toPlainText(), QString("kept unless asked"));
        QVERIFY(s.Trigger(search, "Clear Log"));
        QCOMPARE(answers.Titles(), (QStringList{"Clear log?", "Clear log?"}));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(LogEdit(viewer)->toPlainText(), QString());

        // The next line makes the file again, and shows here.
        s.Server()->SayInRoom("lobby", "x", "after");
        QTRY_VERIFY(QFile::exists(path));
        QTRY_VERIFY(LogEdit(viewer)->toPlainText().endsWith("[x] after"));
    }

    void aLogNotWrittenYetOffersNoActions()
    {
        ChatLogForm* viewer = OpenLobbyLog();
        QVERIFY(viewer);
        QCOMPARE(LogEdit(viewer)->toPlainText(), QString());
        QVERIFY(s.fixture->Focus(viewer->findChild<QLineEdit*>("searchEdit")));
        QVERIFY(!s.fixture->ToolbarAction("Clear Log"));
        QVERIFY(!s.fixture->ToolbarAction("Open Log Folder"));
        s.Server()->SayInRoom("lobby", "x", "first words");
        QTRY_VERIFY(LogEdit(viewer)->toPlainText().endsWith("[x] first words"));
    }

    void aNulOrOtherControlShowsAndTheRestOfItsLineIsKept()
    {
        const QString path = WriteLog("lobby", {});
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("[t][x] before") + '\0' + "after\x07 end\n");
        file.close();
        ChatLogForm* viewer = OpenLobbyLog();
        QVERIFY(viewer);
        QCOMPARE(LogEdit(viewer)->toPlainText(),
                 QString("[t][x] before") + QChar(0x2400) + "after" + QChar(0x2407) + " end");
        auto* search = viewer->findChild<QLineEdit*>("searchEdit");
        search->setText("after");
        QCOMPARE(LogEdit(viewer)->extraSelections().first().cursor.selectionStart(), 14);

        ChatText::LogChat(ChatText::Log::Room, "lobby", QString("late") + QChar(0) + "line");
        QVERIFY(LogEdit(viewer)->toPlainText().endsWith(QString("\nlate") + QChar(0x2400) + "line"));
    }

    // The viewer finds in its own copy of the text: every match must be
    // where the document would have found it.
    void findingInTheCopyAgreesWithTheDocument()
    {
        for (const QStringList& start : {QStringList(), QStringList{""}, QStringList{"Alpha beta", "", "alphabet"}}) {
            QPlainTextEdit edit;
            ChatLogSearch search;
            edit.setPlainText(start.join('\n'));
            search.SetLines(start);
            for (const QString& line :
                 {QString("ALPHA") + QChar::Nbsp + "beta", QString("a"), QString(""), QString("betaalpha ALPHAlpha")}) {
                edit.appendPlainText(line);
                search.AppendLine(line);
            }
            const QTextDocument* document = edit.document();
            QCOMPARE(search.Text().size(), document->characterCount() - 1);
            for (const char* what : {"alpha", "a b", "a beta", "ALPHAL", "a", "beta\nalpha", "zz"}) {
                for (int at = 0; at <= search.Text().size(); ++at) {
                    const QTextCursor forward = document->find(what, at);
                    QCOMPARE(search.Next(what, at), forward.isNull() ? -1 : forward.selectionStart());
                    const QTextCursor backward = document->find(what, at + 1, QTextDocument::FindBackward);
                    QVERIFY2(search.Previous(what, at) == (backward.isNull() ? -1 : backward.selectionStart()),
                             qPrintable(QString("%1 at %2 in %3").arg(what).arg(at).arg(search.Text())));
                }
            }
        }
    }

    void typingOnFindsWhatASearchFromTheTopWould()
    {
        ChatLogSearch search;
        search.SetLines({"the cab", "the cat", "THE CATS", "catalogue"});
        QCOMPARE(search.First("c"), 4);
        QCOMPARE(search.First("ca"), 4);
        QCOMPARE(search.First("cat"), 12);
        QCOMPARE(search.First("CATS"), 20);
        QCOMPARE(search.First("catsx"), -1);
        // A line that comes in may hold the first match of a word that had none.
        search.AppendLine("catsx at last");
        QCOMPARE(search.First("catsx"), 35);
        QCOMPARE(search.First("catsxy"), -1);
        QCOMPARE(search.First("cata"), 25);
        QCOMPARE(search.First("cat"), 12);
        search.Clear();
        QCOMPARE(search.First("cat"), -1);
        QCOMPARE(search.First(""), -1);
    }
};

QTEST_MAIN(TestChatLogForm)
#include "TestChatLogForm.moc"
