// Private chats: a tab per user whose icon follows the user's presence,
// lines both ways with stamps, status lines and announcements, the
// empty-share warning, the private log and its viewer.
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QToolButton>

#include "EventToolBar.h"
#include "RoomsSetup.h"
#include "Settings.h"
#include "ShellHooks.h"
#include "common/PeerText.h"
#include "common/ViewClock.h"
#include "rooms/ChatForm.h"
#include "rooms/ChatLogForm.h"
#include "rooms/ChatText.h"

namespace {

bool SameIcon(const QIcon& icon, const char* resource)
{
    return icon.pixmap(16, 16).toImage() == QIcon(resource).pixmap(16, 16).toImage();
}

QStringList LogLines(const QString& user)
{
    QFile file(ChatText::LogPath(ChatText::Log::User, user));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

QStringList Lines(QWidget* page)
{
    return RoomsSetup::Unisolated(page->findChild<QTextEdit*>("chatView")->toPlainText()).split('\n');
}

} // namespace

class TestChatsForm : public QObject
{
    Q_OBJECT

private:
    RoomsSetup s;
    QStringList m_popups;

    // Logged in, with private messages reaching the chats page as the main
    // window hands them over.
    bool Start()
    {
        s.Make();
        QObject::connect(s.fixture->net.client, &Server::PrivateChat, s.chats,
                         [this](QString user, QString text) { s.chats->GetChatForm(user)->AddChat(user, text); });
        g_shellHooks.popupAlert = [this](const QString& text) { m_popups << text; };
        return s.Start();
    }
    void From(const QString& user, const QString& text)
    {
        s.Server()->Send("me", 22, TestMessage().U32(0).Str(user).Str(text).U8(1).Body());
    }
    void Status(const QString& user, quint32 status)
    {
        s.Server()->Send("me", 7, TestMessage().Str(user).U32(status).Body());
    }

private slots:
    void init()
    {
        QDir(QDir::homePath() + "/Quorvane Chat Logs").removeRecursively();
        m_popups.clear();
    }
    void cleanup() { s.Stop(); }

    void eachSenderHasOneTabWhoseIconFollowsThem()
    {
        QVERIFY(Start());
        QTabWidget* tabs = s.ChatTabs();
        Status("ann", 2);
        From("ann", "hello");
        QTRY_COMPARE(tabs->count(), 1);
        QCOMPARE(s.fixture->tabs->currentWidget(), static_cast<QWidget*>(s.rooms));
        QVERIFY(SameIcon(tabs->tabIcon(0), ":/icons/online_icon"));
        From("ann", "still there?");
        From("R&D", "hi");
        QTRY_COMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(1), PeerText::Title("R&D"));
        QVERIFY(SameIcon(tabs->tabIcon(1), ":/icons/offline_icon"));
        QCOMPARE(Lines(tabs->widget(0)).mid(1), (QStringList{"[ann] hello", "[ann] still there?"}));
        QTRY_COMPARE(s.SentNames(5).count("ann"), 1);

        Status("ann", 0);
        QTRY_VERIFY(SameIcon(tabs->tabIcon(0), ":/icons/offline_icon"));
        tabs->tabBar()->moveTab(0, 1);
        Status("ann", 2);
        QTRY_VERIFY(SameIcon(tabs->tabIcon(1), ":/icons/online_icon"));
        QVERIFY(SameIcon(tabs->tabIcon(0), ":/icons/offline_icon"));

        // A chat closed and written to again starts afresh.
        emit tabs->tabCloseRequested(1);
        QCOMPARE(tabs->count(), 1);
        From("ann", "back again");
        QTRY_COMPARE(tabs->count(), 2);
        QCOMPARE(Lines(tabs->widget(1)).mid(1), QStringList{"[ann] back again"});
        QCOMPARE(s.SentNames(5).count("ann"), 1);
    }

    void linesStatusAndStampsBothWays()
    {
        QVERIFY(Start());
        const QString started = ViewClock::Now().toString(ChatText::LongTimeFormat);
        const QString hundred(100, QLatin1Char('x'));
        From("ann", "  two  spaces ");
        From("ann", "/me waves");
        From("ann", hundred);
        From("ann", hundred + "y");
        QTRY_COMPARE(m_popups.size(), 3);
        QCOMPARE(m_popups, (QStringList{"[ann]   two  spaces ", "[ann] " + hundred, "[ann] " + hundred + " ..."}));
        ChatForm* page = s.chats->GetChatForm("ann");
        // Every space of the message shows, apart from the one after the name.
        QCOMPARE(Lines(page).mid(0, 3),
                 (QStringList{"* Chat started " + started, "[ann]   two  spaces ", "* ann waves"}));

        Status("ann", 1);
        Status("ann", 2);
        Status("ann", 1);
        Status("ann", 0);
        QTRY_COMPARE(Lines(page).mid(5),
                     (QStringList{"* ann is away.", "* ann is available.", "* ann is away.", "* ann is available."}));
        s.fixture->Advance(300001);
        s.fixture->Tick();
        QCOMPARE(Lines(page).last(), "* Chat ended " + started);

        QLineEdit* edit = page->findChild<QLineEdit*>("chatEdit");
        QTest::keyClick(edit, Qt::Key_Return);
        edit->setText("  ");
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(Lines(page).at(Lines(page).size() - 2).startsWith("* Chat started"));
        QTRY_COMPARE(s.SentNames(22), QStringList{"ann"});
        QCOMPARE(m_popups.last(), QString("[me]   "));

        const QString later = ViewClock::Now().toString(ChatText::LongTimeFormat);
        QCOMPARE(LogLines("ann"),
                 (QStringList{QString("[%1][ann]   two  spaces ").arg(started),
                              QString("[%1] * ann waves").arg(started), QString("[%1][ann] %2").arg(started, hundred),
                              QString("[%1][ann] %2y").arg(started, hundred), QString("[%1][me]   ").arg(later)}));
    }

    void aNewChatShowsTheEmptyShareWarningAndAnAwayUser()
    {
        QVERIFY(Start());
        ItemPtr ann = d.GetType("user")->GetItem("ann");
        ann += d.GetType("sent_empty_share_warning_message")->GetItem("Please share something first.");
        Status("ann", 1);
        QTRY_VERIFY(ann.IsConnected("is_away"));
        s.chats->OpenChatForm("ann");
        ChatForm* page = s.chats->GetChatForm("ann");
        QCOMPARE(Lines(page).mid(1), (QStringList{"[me] Please share something first.", "* ann is away."}));
        QCOMPARE(LogLines("ann").size(), 1);
        QCOMPARE(s.fixture->tabs->currentWidget(), static_cast<QWidget*>(s.chats));
    }

    void theChatLogOpensOnceBesideTheChat()
    {
        QVERIFY(Start());
        From("ann", "remember the tape");
        QTRY_COMPARE(s.ChatTabs()->count(), 1);
        ChatForm* page = s.chats->GetChatForm("ann");
        QLineEdit* edit = page->findChild<QLineEdit*>("chatEdit");
        QVERIFY(s.Trigger(edit, "Chat Log"));
        QCOMPARE(s.ChatTabs()->count(), 2);
        auto* viewer = qobject_cast<ChatLogForm*>(s.ChatTabs()->widget(1));
        QVERIFY(viewer);
        QCOMPARE(s.ChatTabs()->tabText(1), PeerText::Title("ann"));
        QVERIFY(SameIcon(s.ChatTabs()->tabIcon(1), ":/icons/note_icon"));
        QVERIFY(viewer->findChild<QPlainTextEdit*>("logEdit")->toPlainText().endsWith("[ann] remember the tape"));

        QVERIFY(s.Trigger(edit, "Chat Log"));
        QCOMPARE(s.ChatTabs()->count(), 2);
        QCOMPARE(s.ChatTabs()->currentWidget(), static_cast<QWidget*>(viewer));

        // The viewer stays when its chat goes, and hears the next line.
        emit s.ChatTabs()->tabCloseRequested(0);
        QCOMPARE(s.ChatTabs()->count(), 1);
        From("ann", "and the cable");
        QTRY_VERIFY(viewer->findChild<QPlainTextEdit*>("logEdit")->toPlainText().endsWith("[ann] and the cable"));
    }

    void aLineTypedOutOfTheServerIsSaidNotToBeSentAndAPasteGoesWhole()
    {
        QVERIFY(Start());
        s.chats->OpenChatForm("ann");
        ChatForm* page = s.chats->GetChatForm("ann");
        QLineEdit* edit = page->findChild<QLineEdit*>("chatEdit");
        QSignalSpy lost(s.fixture->net.client, &Server::Disconnected);
        s.Server()->Cut("me");
        QVERIFY(lost.wait(30000));
        edit->setText("anyone there?");
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(Lines(page).last(), QString("* ") + ChatForm::NotSentNotice);
        QCOMPARE(edit->text(), QString("anyone there?"));
        QVERIFY(LogLines("ann").isEmpty());
        QVERIFY(m_popups.isEmpty());

        QSignalSpy back(s.fixture->net.client, &Server::Connected);
        s.fixture->Tick();
        QVERIFY(back.wait(30000));
        // Longer than a line edit takes unless told otherwise.
        const QString paste = QString(40000, 'z') + "end";
        edit->setText(paste);
        QCOMPARE(edit->text(), paste);
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_COMPARE(s.Server()->ReceivedMessages(22).size(), 1);
        TestMessage sent(s.Server()->ReceivedMessages(22).first().body);
        QString to, text;
        QVERIFY(sent.ReadStr(to) && sent.ReadStr(text));
        QCOMPARE(to, QString("ann"));
        QCOMPARE(text, paste);
        QCOMPARE(edit->text(), QString());
        QVERIFY(LogLines("ann").last().endsWith("[me] " + paste));
    }

    // Spam from many users at once: a tab each, none of them costing a
    // layout of every tab before it.
    void aBurstOfSendersMakesATabEachAndEveryLineArrives()
    {
        QVERIFY(Start());
        const int senders = 300;
        QByteArray burst;
        for (int i = 0; i < senders; ++i)
            burst += TestMessage::Frame(
                22,
                TestMessage().U32(quint32(i)).Str(QString("spam%1").arg(i)).Str(QString("buy %1").arg(i)).U8(1).Body());
        QVERIFY(s.Server()->SendRaw("me", burst));
        QTabWidget* tabs = s.ChatTabs();
        QTRY_COMPARE_WITH_TIMEOUT(tabs->count(), senders, 60000);
        for (int i = 0; i < senders; ++i) {
            const QString user = QString("spam%1").arg(i);
            QCOMPARE(tabs->tabText(i), PeerText::Title(user));
            QCOMPARE(Lines(tabs->widget(i)).mid(1), QStringList{QString("[%1] buy %2").arg(user).arg(i)});
            QVERIFY(LogLines(user).value(0).endsWith(QString("[%1] buy %2").arg(user).arg(i)));
            // A tab's own close button, or a colour set while the bar is
            // hidden, makes the bar lay out every tab at each new one.
            QVERIFY(!tabs->tabBar()->tabButton(i, QTabBar::LeftSide) &&
                    !tabs->tabBar()->tabButton(i, QTabBar::RightSide));
            QVERIFY(!tabs->tabBar()->tabTextColor(i).isValid());
        }
        QCOMPARE(m_popups.size(), senders);

        // Shown, every tab but the current one has its mark.
        s.fixture->tabs->setCurrentWidget(s.chats);
        QVERIFY(!tabs->tabBar()->tabTextColor(0).isValid());
        for (int i = 1; i < senders; ++i)
            QCOMPARE(tabs->tabBar()->tabTextColor(i), QColor(Qt::blue));

        // A chat still closes: by a middle click on its tab, and the current
        // one by the corner button.
        QTest::mouseClick(tabs->tabBar(), Qt::MiddleButton, {}, tabs->tabBar()->tabRect(0).center());
        QCOMPARE(tabs->count(), senders - 1);
        QCOMPARE(tabs->tabText(0), PeerText::Title("spam1"));
        auto* close = tabs->findChild<QToolButton*>("closeTabButton");
        QVERIFY(close && close->isVisible());
        tabs->setCurrentIndex(5);
        close->click();
        QCOMPARE(tabs->count(), senders - 2);
        QCOMPARE(tabs->tabText(5), PeerText::Title("spam7"));
    }

    void aFloodOfLongMessagesIsCappedAndTitlesShowNamesAsTheyAre()
    {
        QVERIFY(Start());
        SetSetting("show_event_buttons", "yes");
        const QString name = "<b>evil</b>&amp; late night & co";
        const QString hundredK = QString(100 * 1024, 'w');
        for (int i = 0; i < 60; ++i)
            From(name, QString::number(i) + hundredK);
        QTRY_COMPARE_WITH_TIMEOUT(LogLines(name).size(), 60, 30000);
        ChatForm* page = s.chats->GetChatForm(name);
        auto* view = page->findChild<QTextEdit*>("chatView");
        QVERIFY(view->document()->characterCount() <= ChatText::ViewCap + ChatText::LineCap + 200);
        QVERIFY(Lines(page).last().startsWith("[" + name + "] 59" + hundredK.left(ChatText::LineCap - 2)));
        QVERIFY(Lines(page).last().endsWith(" more characters not shown)"));
        QVERIFY(LogLines(name).last().endsWith("] 59" + hundredK));

        QCOMPARE(s.ChatTabs()->tabText(0), PeerText::Title(name));
        QVERIFY(s.Trigger(page->findChild<QLineEdit*>("chatEdit"), "Chat Log"));
        QCOMPARE(s.ChatTabs()->tabText(1), PeerText::Title(name));
        QVERIFY(s.ChatTabs()->tabText(1).contains("&&amp; late night && co"));
        // The chat's event button reads the same as its tab.
        QCOMPARE(s.fixture->events->actions().first()->text(), PeerText::Title(name));
    }
};

QTEST_MAIN(TestChatsForm)
#include "TestChatsForm.moc"
