// The event toolbar: what an event does depending on whether the main window
// is active and the page is shown, buttons per widget, the setting that
// turns buttons off, blinking, sound choice, and pages that go away.
#include <QIcon>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

#include "Data.h"
#include "DataSaver.h"
#include "EventToolBar.h"
#include "Settings.h"
#include "ShellHooks.h"
#include "TabWidget.h"

class TestEventToolBar : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataSaver> m_saver;
    EventToolBar* m_bar = nullptr;
    QWidget* m_window = nullptr;
    TabWidget* m_tabs = nullptr;
    QLineEdit* m_shown = nullptr;   // on the current page
    QLineEdit* m_hidden = nullptr;  // on the other page
    QLineEdit* m_another = nullptr; // on the other page too

    bool m_active = true;
    QStringList m_balloons;
    QStringList m_sounds;
    QStringList m_icons; // application icons set, "reset" for the normal one

    QList<QAction*> Buttons() const
    {
        QList<QAction*> buttons;
        for (QAction* action : m_bar->actions()) {
            if (!action->text().isEmpty())
                buttons << action;
        }
        return buttons;
    }

    void SetSoundFile(const char* kind, const QString& file)
    {
        d.GetType("event_sound")->GetItem(kind) += d.GetType("event_sound_file")->GetItem(file);
    }

private slots:
    void init()
    {
        d.Reset();
        DeclareSettingTypes();
        g_showIsOver = false;
        m_saver.reset(new DataSaver);
        m_active = true;
        m_balloons.clear();
        m_sounds.clear();
        m_icons.clear();
        g_shellHooks.isMainWindowActive = [this] { return m_active; };
        g_shellHooks.popupAlert = [this](const QString& text) { m_balloons << text; };
        g_shellHooks.setApplicationIcon = [this](const QString& icon) { m_icons << icon; };
        g_shellHooks.resetApplicationIcon = [this] { m_icons << "reset"; };

        m_window = new QWidget;
        QVBoxLayout* layout = new QVBoxLayout(m_window);
        m_bar = new EventToolBar(m_window);
        m_bar->SetSoundPlayer([this](const QString& file) { m_sounds << file; });
        layout->addWidget(m_bar);
        m_tabs = new TabWidget(m_window);
        layout->addWidget(m_tabs);
        QWidget* page0 = new QWidget;
        QWidget* page1 = new QWidget;
        new QVBoxLayout(page0);
        new QVBoxLayout(page1);
        m_shown = new QLineEdit(page0);
        page0->layout()->addWidget(m_shown);
        m_hidden = new QLineEdit(page1);
        m_another = new QLineEdit(page1);
        page1->layout()->addWidget(m_hidden);
        page1->layout()->addWidget(m_another);
        m_tabs->addTab(page0, "shown");
        m_tabs->addTab(page1, "hidden");
        m_window->resize(400, 300);
        m_window->show();
        QApplication::setActiveWindow(m_window);
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        SetSetting("show_event_buttons", "yes");
        SetSoundFile("room_chat", "/sounds/room.wav");
    }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
        g_shellHooks = ShellHooks();
        g_showIsOver = false;
        m_saver.reset();
        d.Reset();
    }

    void startsHiddenWithItsPlaceholder()
    {
        QVERIFY(m_bar->isHidden());
        QCOMPARE(m_bar->actions().size(), 1);
        QVERIFY(m_bar->actions().first()->text().isEmpty());
    }

    void namedIconsLoad()
    {
        for (const char* name : {"online_icon", "away_icon", "offline_icon", "gold_star_icon", "chat_icon", "room_icon",
                                 "wishlist_icon", "browse_icon", "download_icon", "info_icon"}) {
            QVERIFY2(!QIcon(QString(":/icons/") + name).pixmap(16, 16).isNull(), name);
        }
        // Some callers write the path without the slash after the colon.
        QVERIFY(!QIcon(":icons/online_icon").pixmap(16, 16).isNull());
    }

    void eventOnTheShownPageOfTheActiveWindow()
    {
        m_bar->AddEvent("room", ":/icons/room_icon", m_shown, "balloon", "room_chat", false);
        QVERIFY(m_balloons.isEmpty());
        QVERIFY(m_sounds.isEmpty());
        QVERIFY(Buttons().isEmpty());
        QVERIFY(!m_bar->IsBlinking());
        QVERIFY(m_bar->isHidden());
    }

    void eventOnAHiddenPageOfTheActiveWindow()
    {
        m_bar->AddEvent("lobby", ":/icons/room_icon", m_hidden, "hello", "room_chat", false);
        QCOMPARE(m_tabs->tabBar()->tabTextColor(1), QColor(Qt::blue));
        QCOMPARE(m_balloons, QStringList({"hello"}));
        QCOMPARE(m_sounds, QStringList({"/sounds/room.wav"}));
        QCOMPARE(Buttons().size(), 1);
        QCOMPARE(Buttons().first()->text(), QString("lobby"));
        QVERIFY(!m_bar->isHidden());
        QVERIFY(!m_bar->IsBlinking());
    }

    void eventOnTheShownPageOfAnInactiveWindow()
    {
        m_active = false;
        m_bar->AddEvent("room", ":/icons/room_icon", m_shown, "hello", "room_chat", false);
        QVERIFY(m_bar->IsBlinking());
        QCOMPARE(m_balloons, QStringList({"hello"}));
        QCOMPARE(m_sounds, QStringList({"/sounds/room.wav"}));
        QVERIFY(Buttons().isEmpty());
    }

    void blinkingCyclesIconsInTextOrderUntilFocusMoves()
    {
        m_active = false;
        m_bar->AddEvent("x", ":/icons/room_icon", m_hidden, QString(), QString(), false);
        m_bar->AddEvent("y", ":/icons/chat_icon", m_another, QString(), QString(), false);
        m_bar->AddEvent("x", ":/icons/room_icon", m_hidden, QString(), QString(), false);
        QCOMPARE(m_bar->PendingAlertIcons(), QStringList({":/icons/chat_icon", ":/icons/room_icon"}));

        m_icons.clear();
        for (int tick = 0; tick < 4; ++tick)
            m_bar->OnIconAlertTimeout();
        QCOMPARE(m_icons, QStringList({":/icons/chat_icon", ":/icons/room_icon", "reset", ":/icons/chat_icon"}));

        m_icons.clear();
        m_shown->setFocus();
        m_hidden->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(!m_bar->IsBlinking(), 30000);
        QVERIFY(m_bar->PendingAlertIcons().isEmpty());
        QVERIFY(m_icons.contains("reset"));
        m_icons.clear();
        m_bar->OnIconAlertTimeout();
        QVERIFY(m_icons.isEmpty());
    }

    void soundOfTheKindElseDefaultElseSilence()
    {
        QCOMPARE(m_bar->SoundFileForKind("download"), QString());
        m_bar->AddEvent("f", ":/icons/download_icon", m_hidden, QString(), "download", false);
        QVERIFY(m_sounds.isEmpty());
        // Asking made the kind's item, as the Options page expects.
        QVERIFY(d.GetType("event_sound")->HasItem("download"));

        SetSoundFile("default", "/sounds/default.wav");
        m_bar->AddEvent("f", ":/icons/download_icon", m_hidden, QString(), "download", false);
        SetSoundFile("download", "/sounds/download.wav");
        m_bar->AddEvent("f", ":/icons/download_icon", m_hidden, QString(), "download", false);
        m_bar->AddEvent("f", ":/icons/download_icon", m_hidden, QString(), QString(), false);
        QCOMPARE(m_sounds, QStringList({"/sounds/default.wav", "/sounds/download.wav"}));
    }

    void oneButtonPerWidgetUnlessRepeated()
    {
        m_bar->AddEvent("first", ":/icons/room_icon", m_hidden, "b1", "room_chat", false);
        m_bar->AddEvent("second", ":/icons/room_icon", m_hidden, "b2", "room_chat", false);
        // The second still alerts, but keeps the first button and its text.
        QCOMPARE(m_balloons, QStringList({"b1", "b2"}));
        QCOMPARE(m_sounds.size(), 2);
        QCOMPARE(Buttons().size(), 1);
        QCOMPARE(Buttons().first()->text(), QString("first"));

        m_bar->AddEvent("alice online", ":/icons/online_icon", m_another, QString(), QString(), true);
        m_bar->AddEvent("bob online", ":/icons/online_icon", m_another, QString(), QString(), true);
        QCOMPARE(Buttons().size(), 3);
        // Bob again, after a reconnection: the button he has is enough.
        m_bar->AddEvent("bob online", ":/icons/online_icon", m_another, "bob", QString(), true);
        QCOMPARE(Buttons().size(), 3);
        QCOMPARE(m_balloons.last(), QString("bob"));
        // A title whose name has an ampersand is still one button when it
        // comes again, and shows as given.
        m_bar->AddEvent("r&&b online", ":/icons/online_icon", m_another, QString(), QString(), true);
        m_bar->AddEvent("r&&b online", ":/icons/online_icon", m_another, QString(), QString(), true);
        QCOMPARE(Buttons().size(), 4);
        QCOMPARE(Buttons().last()->iconText(), QString("r&b online"));
        m_bar->RemoveEvents(m_another);
        m_bar->AddEvent("alice online", ":/icons/online_icon", m_another, QString(), QString(), true);
        m_bar->AddEvent("bob online", ":/icons/online_icon", m_another, QString(), QString(), true);

        // Clicking one of them leaves the other and brings the page forward.
        Buttons()[1]->trigger();
        QCOMPARE(Buttons().size(), 2);
        QCOMPARE(Buttons()[1]->text(), QString("bob online"));
        QCOMPARE(m_tabs->currentIndex(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(m_another->hasFocus(), 30000);
    }

    // A burst of senders: the toolbar holds a hundred buttons at most, the
    // rest waiting in order and showing as others go.
    void pastAHundredButtonsTheRestWaitTheirTurn()
    {
        QList<QLineEdit*> pages;
        for (int i = 0; i < 150; ++i) {
            pages << new QLineEdit(m_hidden->parentWidget());
            m_bar->AddEvent(QString("user %1").arg(i), ":/icons/chat_icon", pages.last(), QString(), QString(), false);
        }
        QCOMPARE(Buttons().size(), 100);
        QCOMPARE(d.GetType("event_toolbar_widget")->Count(), size_t(150));
        // A waiting page's second event adds no button either.
        m_bar->AddEvent("again", ":/icons/chat_icon", pages[120], QString(), QString(), false);
        QCOMPARE(d.GetType("event_toolbar_action")->Count(), size_t(150));

        // A waiting page that goes takes its button; a shown one that goes
        // lets in the next still waiting.
        delete pages.takeAt(100);
        m_bar->RemoveEvents(pages[0]);
        QCOMPARE(Buttons().size(), 100);
        QCOMPARE(Buttons().last()->text(), QString("user 101"));
        Buttons().first()->trigger();
        QCOMPARE(Buttons().first()->text(), QString("user 2"));
        QCOMPARE(Buttons().last()->text(), QString("user 102"));

        for (QLineEdit* page : pages)
            m_bar->RemoveEvents(page);
        QVERIFY(Buttons().isEmpty());
        QVERIFY(m_bar->isHidden());
        QCOMPARE(d.GetType("event_toolbar_widget")->Count(), size_t(0));
    }

    void lastButtonGoneHidesTheToolbar()
    {
        m_bar->AddEvent("one", ":/icons/room_icon", m_hidden, QString(), QString(), false);
        m_bar->AddEvent("two", ":/icons/chat_icon", m_another, QString(), QString(), false);
        m_bar->RemoveEvents(m_another);
        QCOMPARE(Buttons().size(), 1);
        QVERIFY(!m_bar->isHidden());
        QVERIFY(!d.GetType("event_toolbar_widget")->HasItem(Value(static_cast<QObject*>(m_another))));

        Buttons().first()->trigger();
        QVERIFY(Buttons().isEmpty());
        QCOMPARE(m_bar->actions().size(), 1);
        QVERIFY(m_bar->isHidden());
        QCOMPARE(d.GetType("event_toolbar_action")->Count(), size_t(0));
        QCOMPARE(d.GetType("event_toolbar_widget")->Count(), size_t(0));

        // A widget without buttons is no trouble.
        m_bar->RemoveEvents(m_shown);
        QCOMPARE(m_bar->actions().size(), 1);
    }

    void destroyedPageTakesItsButtons()
    {
        m_bar->AddEvent("one", ":/icons/room_icon", m_hidden, QString(), QString(), true);
        m_bar->AddEvent("two", ":/icons/room_icon", m_hidden, QString(), QString(), true);
        m_bar->AddEvent("three", ":/icons/chat_icon", m_another, QString(), QString(), false);
        delete m_hidden;
        m_hidden = nullptr;
        QCOMPARE(Buttons().size(), 1);
        QCOMPARE(Buttons().first()->text(), QString("three"));
        delete m_another;
        m_another = nullptr;
        QVERIFY(Buttons().isEmpty());
        QVERIFY(m_bar->isHidden());
        QCOMPARE(d.GetType("event_toolbar_widget")->Count(), size_t(0));
    }

    void withoutEventButtonsTheRestStillHappens()
    {
        SetSetting("show_event_buttons", "no");
        m_active = false;
        m_bar->AddEvent("lobby", ":/icons/room_icon", m_hidden, "hello", "room_chat", false);
        QVERIFY(Buttons().isEmpty());
        QVERIFY(m_bar->isHidden());
        QCOMPARE(m_tabs->tabBar()->tabTextColor(1), QColor(Qt::blue));
        QCOMPARE(m_balloons, QStringList({"hello"}));
        QCOMPARE(m_sounds.size(), 1);
        QVERIFY(m_bar->IsBlinking());
    }

    void nothingReactsOnceTheShowIsOver()
    {
        m_bar->AddEvent("one", ":/icons/room_icon", m_hidden, QString(), QString(), false);
        g_showIsOver = true;
        Buttons().first()->trigger();
        QCOMPARE(Buttons().size(), 1);
        m_hidden->setFocus();
        QCOMPARE(d.GetType("event_toolbar_widget")->Count(), size_t(1));
    }
};

QTEST_MAIN(TestEventToolBar)
#include "TestEventToolBar.moc"
