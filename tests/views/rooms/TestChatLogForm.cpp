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
};

QTEST_MAIN(TestChatLogForm)
#include "TestChatLogForm.moc"
