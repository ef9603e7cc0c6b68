// The context toolbar following the focus: which set shows for which widget,
// published keys, the list-selection rule, per-widget texts and hidden
// actions, and widgets that go away.
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidgetAction>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "Settings.h"
#include "ShellHooks.h"

namespace {

// A panel of the central widget with a line edit in it.
struct Panel
{
    QWidget* widget;
    QLineEdit* edit;
};

Panel AddPanel(QWidget* parent)
{
    QWidget* widget = new QWidget(parent);
    new QVBoxLayout(widget);
    QLineEdit* edit = new QLineEdit(widget);
    widget->layout()->addWidget(edit);
    if (parent->layout())
        parent->layout()->addWidget(widget);
    return {widget, edit};
}

} // namespace

class TestActionSetToolBar : public QObject
{
    Q_OBJECT

private:
    QMainWindow* m_window = nullptr;
    ActionSetToolBar* m_bar = nullptr;
    QWidget* m_central = nullptr;

    // The set's actions on the toolbar: everything but the buttons, the
    // label, the spacer and the empty separator action.
    QList<QAction*> SetActions() const
    {
        QList<QAction*> found;
        for (QAction* action : m_bar->actions()) {
            if (!qobject_cast<QWidgetAction*>(action) && !action->text().isEmpty())
                found << action;
        }
        return found;
    }

    QStringList Texts() const
    {
        QStringList texts;
        for (QAction* action : SetActions())
            texts << action->text();
        return texts;
    }

    QAction* Shown(const QString& text) const
    {
        for (QAction* action : SetActions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }

    void Focus(QWidget* widget)
    {
        widget->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(widget->hasFocus(), 30000);
    }

    void DeclareSets()
    {
        m_bar->AddSetAction("alpha", "a1", "One", ":/icons/online_icon", false);
        m_bar->AddSetAction("beta", "b1", "Three", ":/icons/chat_icon", false);
        m_bar->AddSetAction("alpha", "a2", "Two", ":/icons/away_icon", false);
    }

private slots:
    void init()
    {
        d.Reset();
        DeclareSettingTypes();
        g_showIsOver = false;
        m_window = new QMainWindow;
        m_bar = new ActionSetToolBar(m_window);
        m_window->addToolBar(m_bar);
        m_central = new QWidget(m_window);
        new QVBoxLayout(m_central);
        m_window->setCentralWidget(m_central);
        m_window->resize(600, 400);
        m_window->show();
        QApplication::setActiveWindow(m_window);
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }

    void cleanup()
    {
        // As the program does: the toolbar no longer follows widgets that
        // go with the window, in whatever order they go.
        g_showIsOver = true;
        delete m_window;
        m_window = nullptr;
        g_showIsOver = false;
        d.Reset();
    }

    void layoutBeforeAndAfterASet()
    {
        // Built: the empty action, the spacer and the supporter button only.
        QList<QAction*> actions = m_bar->actions();
        QCOMPARE(actions.size(), 3);
        QVERIFY(actions[0]->text().isEmpty() && !qobject_cast<QWidgetAction*>(actions[0]));
        QVERIFY(qobject_cast<QPushButton*>(m_bar->widgetForAction(actions[2])));

        m_bar->Init();
        DeclareSets();
        Panel panel = AddPanel(m_central);
        m_bar->RegisterWidget(panel.widget, "alpha");
        Focus(panel.edit);

        // Then: availability button, label, the set, the empty action, the
        // spacer and the supporter button.
        actions = m_bar->actions();
        QCOMPARE(actions.size(), 7);
        QPushButton* status = qobject_cast<QPushButton*>(m_bar->widgetForAction(actions[0]));
        QVERIFY(status && status->focusPolicy() == Qt::NoFocus);
        QCOMPARE(qobject_cast<QLabel*>(m_bar->widgetForAction(actions[1]))->text(), QString(" "));
        QCOMPARE(Texts(), QStringList({"One", "Two"}));
        QCOMPARE(actions[2]->text(), QString("One"));
        QVERIFY(actions[4]->text().isEmpty() && actions[4]->icon().isNull());
        QCOMPARE(m_bar->widgetForAction(actions[5])->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QPushButton* supporter = qobject_cast<QPushButton*>(m_bar->widgetForAction(actions[6]));
        QVERIFY(supporter && supporter->focusPolicy() == Qt::NoFocus);
    }

    void focusShowsTheSetOfTheNearestRegisteredWidget()
    {
        m_bar->Init();
        DeclareSets();
        Panel a = AddPanel(m_central);
        Panel b = AddPanel(m_central);
        Panel inner = AddPanel(a.widget);
        QLineEdit* outside = new QLineEdit(m_central);
        m_central->layout()->addWidget(outside);
        m_bar->RegisterWidget(a.widget, "alpha");
        m_bar->RegisterWidget(b.widget, "beta");
        m_bar->RegisterWidget(inner.widget, "beta");

        Focus(a.edit);
        QCOMPARE(Texts(), QStringList({"One", "Two"}));
        QCOMPARE(m_bar->GetCurrentSet(), QString("alpha"));
        QCOMPARE(m_bar->GetCurrentWidget(), a.widget);

        // A registered widget inside another one wins.
        Focus(inner.edit);
        QCOMPARE(Texts(), QStringList({"Three"}));
        QCOMPARE(m_bar->GetCurrentWidget(), inner.widget);

        Focus(b.edit);
        QCOMPARE(m_bar->GetCurrentWidget(), b.widget);

        Focus(outside);
        QVERIFY(Texts().isEmpty());
        QCOMPARE(m_bar->GetCurrentSet(), QString());

        // Registering again moves the widget to the other set.
        m_bar->RegisterWidget(a.widget, "beta");
        Focus(a.edit);
        QCOMPARE(Texts(), QStringList({"Three"}));
    }

    void aSetShownAfterTheOverflowWasOpenedStartsFolded()
    {
        m_bar->Init();
        for (int i = 0; i < 12; ++i)
            m_bar->AddSetAction("long", QString("l%1").arg(i), QString("Long action %1").arg(i), ":/icons/online_icon",
                                false);
        m_bar->AddSetAction("short", "s1", "Short", ":/icons/chat_icon", false);
        Panel many = AddPanel(m_central);
        Panel few = AddPanel(m_central);
        m_bar->RegisterWidget(many.widget, "long");
        m_bar->RegisterWidget(few.widget, "short");

        Focus(few.edit);
        const int oneRow = m_bar->height();
        Focus(many.edit);
        auto* overflow = m_bar->findChild<QToolButton*>("qt_toolbar_ext_button");
        QVERIFY(overflow);
        QTRY_VERIFY_WITH_TIMEOUT(overflow->isVisible(), 30000);
        overflow->click();
        QTRY_VERIFY_WITH_TIMEOUT(m_bar->height() > oneRow, 30000);

        // What the user picks there moves the focus: the short set fits
        // and shows in one row, without the "»".
        Focus(few.edit);
        QTRY_VERIFY_WITH_TIMEOUT(!overflow->isVisible(), 30000);
        QVERIFY(!overflow->isChecked());
        QCOMPARE(m_bar->height(), oneRow);
        QVERIFY(m_bar->widgetForAction(Shown("Short"))->isVisible());

        // The long set overflows again, folded until the "»" is pressed.
        Focus(many.edit);
        QTRY_VERIFY_WITH_TIMEOUT(overflow->isVisible(), 30000);
        QVERIFY(!overflow->isChecked());
        QCOMPARE(m_bar->height(), oneRow);
    }

    void tabWidgetsStandForTheirCurrentPage()
    {
        m_bar->Init();
        DeclareSets();
        Panel holder = AddPanel(m_central);
        QTabWidget* tabs = new QTabWidget(holder.widget);
        holder.widget->layout()->addWidget(tabs);
        QWidget* page0 = new QWidget;
        QWidget* page1 = new QWidget;
        tabs->addTab(page0, "zero");
        tabs->addTab(page1, "one");
        m_bar->RegisterWidget(holder.widget, "alpha");
        m_bar->RegisterWidget(page0, "beta");

        Focus(tabs->tabBar());
        QCOMPARE(Texts(), QStringList({"Three"}));
        tabs->setCurrentIndex(1);
        Focus(holder.edit);
        Focus(tabs->tabBar());
        QCOMPARE(Texts(), QStringList({"One", "Two"}));
    }

    void sameWidgetKeepsActionsButRepublishesKeys()
    {
        m_bar->Init();
        DeclareSets();
        Panel a = AddPanel(m_central);
        Panel b = AddPanel(m_central);
        QLineEdit* second = new QLineEdit(a.widget);
        a.widget->layout()->addWidget(second);
        m_bar->RegisterWidget(a.widget, "alpha");
        m_bar->RegisterWidget(b.widget, "beta");
        m_bar->AddWidgetKey(a.widget, "room", "lobby");
        m_bar->AddWidgetKey(b.widget, "room", "attic");

        QCOMPARE(m_bar->GetKey("room"), QString());
        Focus(a.edit);
        QCOMPARE(m_bar->GetKey("room"), QString("lobby"));
        Focus(b.edit);
        QCOMPARE(m_bar->GetKey("room"), QString("attic"));

        // Moving inside the shown widget keeps the very same actions.
        Focus(a.edit);
        QList<QPointer<QAction>> kept;
        for (QAction* action : SetActions())
            kept << action;
        Focus(second);
        QCOMPARE(m_bar->GetKey("room"), QString("lobby"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(kept.size(), 2);
        for (const QPointer<QAction>& action : kept)
            QVERIFY(action && SetActions().contains(action));

        // Another widget rebuilds them.
        Focus(b.edit);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<QAction>& action : kept)
            QVERIFY(!action);
        Focus(a.edit);

        // Keys outlive the set they came with.
        QLineEdit* outside = new QLineEdit(m_central);
        m_central->layout()->addWidget(outside);
        Focus(outside);
        QCOMPARE(m_bar->GetKey("room"), QString("lobby"));
    }

    void duplicateIdsAndUndeclaredSets()
    {
        m_bar->Init();
        m_bar->AddSetAction("gamma", "same", "First", QString(), false);
        m_bar->AddSetAction("gamma", "other", "Middle", QString(), false);
        m_bar->AddSetAction("gamma", "same", "Last", QString(), false);
        Panel a = AddPanel(m_central);
        Panel b = AddPanel(m_central);
        m_bar->RegisterWidget(a.widget, "gamma");
        m_bar->RegisterWidget(b.widget, "nothing_declared");

        Focus(a.edit);
        QCOMPARE(Texts(), QStringList({"First", "Middle", "Last"}));
        QSignalSpy spy(m_bar, &ActionSetToolBar::ActionTriggered);
        Shown("First")->trigger();
        Shown("Last")->trigger();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy[0][1].toString(), QString("same"));
        QCOMPARE(spy[1][1].toString(), QString("same"));
        QCOMPARE(spy[0][0].value<QWidget*>(), a.widget);

        Focus(b.edit);
        QVERIFY(Texts().isEmpty());
        QCOMPARE(m_bar->GetCurrentSet(), QString("nothing_declared"));
    }

    void listSelectionRuleAndColumnKeys()
    {
        m_bar->Init();
        m_bar->AddSetAction("list", "needs", "Needs Row", QString(), true);
        m_bar->AddSetAction("list", "free", "Any Time", QString(), false);
        Panel page = AddPanel(m_central);
        QTreeWidget* tree = new QTreeWidget(page.widget);
        page.widget->layout()->addWidget(tree);
        tree->setColumnCount(2);
        tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
        QTreeWidgetItem* first = new QTreeWidgetItem(tree, QStringList({"r1", "alice"}));
        QTreeWidgetItem* second = new QTreeWidgetItem(tree, QStringList({"r2", "bob"}));
        m_bar->RegisterWidget(page.widget, "list");
        m_bar->AddWidgetColumnKey(page.widget, "user", 1);
        m_bar->AddWidgetKey(page.widget, "user", "fixed");

        Focus(tree);
        QSignalSpy spy(m_bar, &ActionSetToolBar::ActionTriggered);
        QCOMPARE(m_bar->GetKey("user"), QString("fixed"));
        Shown("Needs Row")->trigger();
        QCOMPARE(spy.count(), 0);
        Shown("Any Time")->trigger();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_bar->GetKey("user"), QString("fixed"));

        second->setSelected(true);
        first->setSelected(true);
        Shown("Needs Row")->trigger();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy[1][1].toString(), QString("needs"));
        QCOMPARE(m_bar->GetKey("user"), tree->selectedItems().first()->text(1));

        // Without a tree on the focus path the rule does not apply.
        tree->clearSelection();
        Focus(page.edit);
        Shown("Needs Row")->trigger();
        QCOMPARE(spy.count(), 3);
    }

    void perWidgetTextsAndHiddenActions()
    {
        m_bar->Init();
        DeclareSets();
        Panel a = AddPanel(m_central);
        Panel b = AddPanel(m_central);
        Panel c = AddPanel(m_central);
        m_bar->RegisterWidget(a.widget, "alpha");
        m_bar->RegisterWidget(b.widget, "beta");
        m_bar->RegisterWidget(c.widget, "alpha");

        Focus(a.edit);
        m_bar->SetWidgetActionText(a.widget, "a1", "One [on]");
        QCOMPARE(Texts(), QStringList({"One [on]", "Two"}));
        m_bar->SetWidgetActionText(a.widget, "a1", "One [off]");
        QCOMPARE(Texts(), QStringList({"One [off]", "Two"}));
        m_bar->SetWidgetActionHidden(a.widget, "a2", true);
        QVERIFY(!Shown("Two")->isVisible());

        // Another widget's override waits until its set shows, and one text
        // serving two pairs does not leak into a third.
        m_bar->SetWidgetActionText(c.widget, "a2", "One [off]");
        QCOMPARE(Texts(), QStringList({"One [off]", "Two"}));

        Focus(b.edit);
        Focus(a.edit);
        QCOMPARE(Texts(), QStringList({"One [off]", "Two"}));
        QVERIFY(!Shown("Two")->isVisible());

        Focus(c.edit);
        QCOMPARE(Texts(), QStringList({"One", "One [off]"}));
        QVERIFY(Shown("One [off]")->isVisible());

        // Un-hiding works too, at once for the shown widget.
        Focus(a.edit);
        m_bar->SetWidgetActionHidden(a.widget, "a2", false);
        QVERIFY(Shown("Two")->isVisible());

        // Unknown ids and unregistered widgets change nothing.
        QLineEdit stray;
        m_bar->SetWidgetActionText(&stray, "a1", "Nope");
        m_bar->SetWidgetActionText(a.widget, "no_such_id", "Nope");
        QCOMPARE(Texts(), QStringList({"One [off]", "Two"}));
    }

    void destroyedWidgetsLeaveNothingBehind()
    {
        m_bar->Init();
        DeclareSets();
        Panel a = AddPanel(m_central);
        Panel b = AddPanel(m_central);
        m_bar->RegisterWidget(a.widget, "alpha");
        m_bar->RegisterWidget(b.widget, "beta");
        m_bar->AddWidgetKey(b.widget, "k", "v");
        m_bar->AddWidgetColumnKey(b.widget, "c", 0);
        m_bar->SetWidgetActionHidden(b.widget, "b1", true);
        Type* widgets = d.GetType("toolbar_action_widget");
        const Value bAddress(static_cast<unsigned long long>(reinterpret_cast<quintptr>(b.widget)));

        Focus(a.edit);
        delete b.widget;
        // Another widget going away changes nothing on screen.
        QCOMPARE(Texts(), QStringList({"One", "Two"}));
        QVERIFY(!widgets->HasItem(bAddress));
        QCOMPARE(d.GetType("action_key_value_pair")->Count(), size_t(0));
        QCOMPARE(d.GetType("action_key_column_pair")->Count(), size_t(0));
        QCOMPARE(d.GetType("widget_action_hidden")->Count(), size_t(0));

        QLineEdit* outside = new QLineEdit(m_central);
        m_central->layout()->addWidget(outside);
        QSignalSpy spy(m_bar, &ActionSetToolBar::ActionTriggered);
        delete a.widget;
        QVERIFY(Texts().isEmpty());
        QCOMPARE(m_bar->GetCurrentWidget(), static_cast<QWidget*>(nullptr));
        QCOMPARE(widgets->Count(), size_t(0));
        QCOMPARE(spy.count(), 0);

        // A widget registered afresh starts with the set's own texts.
        Panel fresh = AddPanel(m_central);
        m_bar->RegisterWidget(fresh.widget, "beta");
        Focus(fresh.edit);
        QCOMPARE(Texts(), QStringList({"Three"}));
        QVERIFY(Shown("Three")->isVisible());
    }

    void ignoredBeforeInitAndAfterTheShow()
    {
        DeclareSets();
        Panel a = AddPanel(m_central);
        Panel b = AddPanel(m_central);
        m_bar->RegisterWidget(a.widget, "alpha");
        m_bar->RegisterWidget(b.widget, "beta");
        Focus(a.edit);
        QVERIFY(Texts().isEmpty());

        m_bar->Init();
        Focus(b.edit);
        Focus(a.edit);
        QCOMPARE(Texts(), QStringList({"One", "Two"}));

        g_showIsOver = true;
        Focus(b.edit);
        m_bar->SetWidgetActionText(a.widget, "a1", "Late");
        QCOMPARE(Texts(), QStringList({"One", "Two"}));
        delete a.widget;
        QCOMPARE(Texts(), QStringList({"One", "Two"}));
    }
};

QTEST_MAIN(TestActionSetToolBar)
#include "TestActionSetToolBar.moc"
