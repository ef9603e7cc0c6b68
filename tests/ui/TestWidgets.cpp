// Tab activity marks, focus priorities, the focus helpers, key reporting of
// TreeWidget and the sorting of TreeWidgetItem rows.
#include <QImage>
#include <QLineEdit>
#include <QProxyStyle>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QVBoxLayout>

#include "CachedSizeTabBar.h"
#include "ColumnSortingModel.h"
#include "FocusHelpers.h"
#include "RoomTabWidget.h"
#include "TabWidget.h"
#include "TreeWidget.h"
#include "TreeWidgetItem.h"

namespace {

QWidget* AddPage(QTabWidget* tabs, const QString& title)
{
    QWidget* page = new QWidget;
    new QVBoxLayout(page);
    tabs->addTab(page, title);
    return page;
}

template <class W>
W* AddTo(QWidget* page)
{
    W* widget = new W(page);
    page->layout()->addWidget(widget);
    // A child added to a shown page would only appear from the event loop.
    widget->show();
    return widget;
}

QStringList Column(QTreeWidget* tree, int column)
{
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        texts << tree->topLevelItem(i)->text(column);
    return texts;
}

// Counts the tabs a tab bar styles: each tab's style option asks where its
// title goes.
class TabCountingStyle : public QProxyStyle
{
public:
    TabCountingStyle() : QProxyStyle("Fusion") {}

    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override
    {
        styled += element == SE_TabBarTabText;
        return QProxyStyle::subElementRect(element, option, widget);
    }

    mutable int styled = 0;
};

// A page of a fixed size that counts the times it is asked for it.
class SizedPage : public QWidget
{
public:
    SizedPage(int& asked, QSize size) : m_asked(asked), m_size(size) {}

    QSize sizeHint() const override { return ++m_asked, m_size; }
    QSize minimumSizeHint() const override { return ++m_asked, m_size / 2; }

private:
    int& m_asked;
    QSize m_size;
};

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private:
    QWidget* m_window = nullptr;

    // A shown, active window holding an outer TabWidget (pages 0 and 1);
    // page 1 holds an inner TabWidget (pages 0 and 1).
    TabWidget* m_outer = nullptr;
    TabWidget* m_inner = nullptr;
    QWidget* m_outerPage0 = nullptr;
    QWidget* m_outerPage1 = nullptr;
    QWidget* m_innerPage0 = nullptr;
    QWidget* m_innerPage1 = nullptr;

private slots:
    void init()
    {
        m_window = new QWidget;
        QVBoxLayout* layout = new QVBoxLayout(m_window);
        m_outer = new TabWidget(m_window);
        layout->addWidget(m_outer);
        m_outerPage0 = AddPage(m_outer, "zero");
        m_outerPage1 = AddPage(m_outer, "one");
        m_inner = AddTo<TabWidget>(m_outerPage1);
        m_innerPage0 = AddPage(m_inner, "inner zero");
        m_innerPage1 = AddPage(m_inner, "inner one");
        m_window->resize(400, 300);
        m_window->show();
        QApplication::setActiveWindow(m_window);
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
    }

    void activityMarksEveryHiddenEnclosingTab()
    {
        QLineEdit* deep = AddTo<QLineEdit>(m_innerPage1);
        TabWidget::MarkTabActivity(deep);
        QCOMPARE(m_outer->tabBar()->tabTextColor(1), QColor(Qt::blue));
        QCOMPARE(m_inner->tabBar()->tabTextColor(1), QColor(Qt::blue));
        QVERIFY(!m_outer->tabBar()->tabTextColor(0).isValid());
        QVERIFY(!m_inner->tabBar()->tabTextColor(0).isValid());

        // Showing a marked tab takes its mark away; the other stays.
        m_outer->setCurrentIndex(1);
        QVERIFY(!m_outer->tabBar()->tabTextColor(1).isValid());
        QCOMPARE(m_inner->tabBar()->tabTextColor(1), QColor(Qt::blue));

        // The current tab is never marked.
        m_inner->setCurrentIndex(1);
        TabWidget::MarkTabActivity(deep);
        QVERIFY(!m_outer->tabBar()->tabTextColor(1).isValid());
        QVERIFY(!m_inner->tabBar()->tabTextColor(1).isValid());
    }

    void plainTabWidgetsAreNotMarked()
    {
        QTabWidget* plain = AddTo<QTabWidget>(m_outerPage0);
        AddPage(plain, "a");
        QWidget* hidden = AddPage(plain, "b");
        QLineEdit* edit = AddTo<QLineEdit>(hidden);
        TabWidget::MarkTabActivity(edit);
        QVERIFY(!plain->tabBar()->tabTextColor(1).isValid());

        // A RoomTabWidget marks like any TabWidget.
        RoomTabWidget* rooms = AddTo<RoomTabWidget>(m_outerPage0);
        AddPage(rooms, "a");
        QWidget* chat = AddPage(rooms, "b");
        TabWidget::MarkTabActivity(chat);
        QCOMPARE(rooms->tabBar()->tabTextColor(1), QColor(Qt::blue));
    }

    void aHiddenRoomTabWidgetColoursItsMarksOnceShown()
    {
        auto* chats = AddTo<RoomTabWidget>(m_innerPage1);
        AddPage(chats, "a");
        QWidget* spoken = AddPage(chats, "b");
        AddPage(chats, "c");
        TabWidget::MarkTabActivity(AddTo<QLineEdit>(spoken));
        QVERIFY(!chats->tabBar()->tabTextColor(1).isValid());
        QCOMPARE(m_outer->tabBar()->tabTextColor(1), QColor(Qt::blue));

        // The mark goes with its page when the tab moves.
        chats->tabBar()->moveTab(1, 2);
        m_outer->setCurrentIndex(1);
        m_inner->setCurrentIndex(1);
        QCOMPARE(chats->tabBar()->tabTextColor(2), QColor(Qt::blue));
        QVERIFY(!chats->tabBar()->tabTextColor(1).isValid());

        // Seen, the mark is gone for good.
        chats->setCurrentIndex(2);
        chats->setCurrentIndex(0);
        m_outer->setCurrentIndex(0);
        m_outer->setCurrentIndex(1);
        QVERIFY(!chats->tabBar()->tabTextColor(2).isValid());
    }

    // Thousands of tabs, a handful in view: a repaint styles those, and
    // draws what QTabBar's own paint draws, wherever the bar is scrolled.
    void aCachedSizeTabBarPaintsAsQTabBarStylingOnlyTheTabsInView()
    {
        TabCountingStyle style;
        QTabBar plain;
        CachedSizeTabBar cached;
        for (QTabBar* bar : std::initializer_list<QTabBar*>{&plain, &cached}) {
            bar->setStyle(&style);
            for (int i = 0; i < 400; ++i)
                bar->addTab(QString("user %1").arg(i));
            bar->setTabTextColor(7, Qt::blue);
            bar->setTabEnabled(9, false);
            bar->setTabVisible(3, false);
            bar->setTabVisible(150, false);
            bar->resize(500, bar->sizeHint().height());
            bar->show();
        }
        QVERIFY(QTest::qWaitForWindowExposed(&cached));
        for (int current : {0, 8, 200, 399}) {
            plain.setCurrentIndex(current);
            cached.setCurrentIndex(current);
            QCOMPARE(cached.grab().toImage(), plain.grab().toImage());
        }
        style.styled = 0;
        cached.repaint();
        QVERIFY2(style.styled > 0 && style.styled < 40, qPrintable(QString::number(style.styled)));

        // Its size is kept between layouts, and follows each change, shown
        // or hidden.
        for (QTabBar* bar : std::initializer_list<QTabBar*>{&plain, &cached}) {
            bar->hide();
            bar->setTabText(5, "a much longer title than it had");
            bar->addTab("one more");
        }
        QCOMPARE(cached.sizeHint(), plain.sizeHint());
        for (QTabBar* bar : std::initializer_list<QTabBar*>{&plain, &cached}) {
            bar->show();
            bar->removeTab(7);
        }
        QCOMPARE(cached.sizeHint(), plain.sizeHint());
        QCOMPARE(cached.grab().toImage(), plain.grab().toImage());
    }

    // QTabWidget asks every page for its size whenever its own is asked,
    // as a layout does after each insert.
    void aRoomTabWidgetAsksEachNewPageItsSizeOnce()
    {
        auto* chats = AddTo<RoomTabWidget>(m_innerPage1);
        int asked = 0;
        const int pages = 200;
        for (int i = 0; i < pages; ++i) {
            chats->addTab(new SizedPage(asked, QSize(100, 80)), QString("user %1").arg(i));
            chats->sizeHint();
            chats->minimumSizeHint();
        }
        QVERIFY2(asked < 10 * pages, qPrintable(QString::number(asked)));

        // A page asking more room grows the hints; gone, they shrink back.
        const QSize hint = chats->sizeHint();
        const QSize minimum = chats->minimumSizeHint();
        chats->addTab(new SizedPage(asked, QSize(900, 700)), "big");
        QVERIFY(chats->sizeHint().width() > 900 && chats->sizeHint().height() > 700);
        QVERIFY(chats->minimumSizeHint().width() > 450 && chats->minimumSizeHint().height() > 350);
        delete chats->widget(pages);
        QCOMPARE(chats->sizeHint(), hint);
        QCOMPARE(chats->minimumSizeHint(), minimum);
    }

    void showingPageFocusesHighestPriority()
    {
        QLineEdit* low = AddTo<QLineEdit>(m_innerPage1);
        QLineEdit* high = AddTo<QLineEdit>(m_innerPage1);
        QLineEdit* alsoHigh = AddTo<QLineEdit>(m_innerPage1);
        RegisterWidgetForTabFocus(low, 1);
        RegisterWidgetForTabFocus(high, 2);
        RegisterWidgetForTabFocus(alsoHigh, 2);
        // Hidden when registered: nothing took the focus.
        QVERIFY(!low->hasFocus() && !high->hasFocus() && !alsoHigh->hasFocus());

        m_outer->setCurrentIndex(1);
        m_inner->setCurrentIndex(1);
        QTRY_VERIFY_WITH_TIMEOUT(high->hasFocus(), 30000);

        // A page without priorities leaves the focus where it was.
        m_inner->setCurrentIndex(0);
        QLineEdit* elsewhere = AddTo<QLineEdit>(m_outerPage1);
        elsewhere->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(elsewhere->hasFocus(), 30000);
        m_inner->setCurrentIndex(1);
        m_inner->setCurrentIndex(0);
        QVERIFY(!high->hasFocus());
    }

    void registeringVisibleWidgetFocusesAtOnce()
    {
        QLineEdit* first = AddTo<QLineEdit>(m_outerPage0);
        QLineEdit* second = AddTo<QLineEdit>(m_outerPage0);
        first->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(first->hasFocus(), 30000);
        RegisterWidgetForTabFocus(second, 1);
        QVERIFY(second->hasFocus());
        QCOMPARE(second->property("get_focus").toInt(), 1);
    }

    void findFocusPropertyReturnsBestOrFloor()
    {
        QLineEdit* edit = AddTo<QLineEdit>(m_outerPage0);
        edit->setProperty("get_focus", 3);
        QCOMPARE(FindWidgetFocusProperty(m_outerPage0, 0), 3);
        QCOMPARE(FindWidgetFocusProperty(m_outerPage0, 5), 5);
        // Hidden pages offer nothing.
        QLineEdit* hidden = AddTo<QLineEdit>(m_innerPage1);
        hidden->setProperty("get_focus", 9);
        QCOMPARE(FindWidgetFocusProperty(m_outerPage1, 0), 0);
    }

    void focusWidgetAndParentsShowsTabsInnermostFirst()
    {
        QLineEdit* target = AddTo<QLineEdit>(m_innerPage1);
        QStringList order;
        connect(m_inner, &QTabWidget::currentChanged, this, [&] { order << "inner"; });
        connect(m_outer, &QTabWidget::currentChanged, this, [&] { order << "outer"; });

        FocusWidgetAndParents(target);
        QCOMPARE(m_outer->currentIndex(), 1);
        QCOMPARE(m_inner->currentIndex(), 1);
        QCOMPARE(order, QStringList({"inner", "outer"}));
        QTRY_VERIFY_WITH_TIMEOUT(target->hasFocus(), 30000);
    }

    void getWidgetTabWidgetFindsNearest()
    {
        QLineEdit* deep = AddTo<QLineEdit>(m_innerPage1);
        int index = -7;
        QCOMPARE(GetWidgetTabWidget(deep, index), static_cast<QTabWidget*>(m_inner));
        QCOMPARE(index, 1);
        QCOMPARE(GetWidgetTabWidget(m_inner, index), static_cast<QTabWidget*>(m_outer));
        QCOMPARE(index, 1);

        QWidget lonely;
        QLineEdit inLonely(&lonely);
        index = -7;
        QCOMPARE(GetWidgetTabWidget(&inLonely, index), static_cast<QTabWidget*>(nullptr));
        QCOMPARE(GetWidgetTabWidget(&lonely, index), static_cast<QTabWidget*>(nullptr));
        QCOMPARE(index, -7);
    }

    void treeReportsKeyBeforeMoving()
    {
        TreeWidget* tree = AddTo<TreeWidget>(m_outerPage0);
        for (const char* text : {"a", "b", "c"})
            new QTreeWidgetItem(tree, QStringList(text));
        tree->setCurrentItem(tree->topLevelItem(0));
        tree->setFocus();

        QString currentWhenReported;
        int reportedKey = 0;
        connect(tree, &TreeWidget::KeyPressed, this, [&](QKeyEvent* ip_event) {
            currentWhenReported = tree->currentItem()->text(0);
            reportedKey = ip_event->key();
        });
        QTest::keyClick(tree, Qt::Key_Down);
        QCOMPARE(reportedKey, int(Qt::Key_Down));
        QCOMPARE(currentWhenReported, QString("a"));
        QCOMPARE(tree->currentItem()->text(0), QString("b"));
    }
};

// Sorting needs no window.
class TestRowSorting : public QObject
{
    Q_OBJECT

private:
    QTreeWidget* m_tree = nullptr;
    ColumnSortingModel m_model;

    void AddRows(const QStringList& texts, int column, bool withModel = true)
    {
        for (const QString& text : texts) {
            TreeWidgetItem* row = new TreeWidgetItem(m_tree);
            row->setText(column, text);
            if (withModel)
                row->SetSortingModel(&m_model);
        }
    }

private slots:
    void init()
    {
        m_tree = new QTreeWidget;
        m_tree->setColumnCount(3);
        m_model = ColumnSortingModel();
    }

    void cleanup()
    {
        delete m_tree;
        m_tree = nullptr;
    }

    void cellNumbersKeepOnlyDigits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("number");
        QTest::newRow("separators") << "1,234" << qint64(1234);
        QTest::newRow("unit") << "987 KB" << qint64(987);
        QTest::newRow("minus dropped") << "-5" << qint64(5);
        QTest::newRow("point dropped") << "1.5" << qint64(15);
        QTest::newRow("numbers run together") << "128 kbps, 3:05" << qint64(128305);
        QTest::newRow("empty") << "" << qint64(0);
        QTest::newRow("no digits") << "n/a" << qint64(0);
        QTest::newRow("too long") << "99999999999999999999" << qint64(0);
        QTest::newRow("largest") << "9223372036854775807" << qint64(9223372036854775807LL);
    }

    void cellNumbersKeepOnlyDigits()
    {
        QFETCH(QString, text);
        QFETCH(qint64, number);
        QCOMPARE(TreeWidgetItem::CellNumber(text), number);
    }

    void numericColumnSortsByNumber()
    {
        m_model.SetColumnSortingNumeric(1);
        AddRows({"1,234", "987 KB", "20 B", "-5"}, 1);
        m_tree->sortItems(1, Qt::AscendingOrder);
        QCOMPARE(Column(m_tree, 1), QStringList({"-5", "20 B", "987 KB", "1,234"}));
    }

    void cellsWithoutNumbersTie()
    {
        m_model.SetColumnSortingNumeric(0);
        TreeWidgetItem empty(nullptr);
        TreeWidgetItem words(nullptr);
        TreeWidgetItem zero(nullptr);
        TreeWidgetItem huge(nullptr);
        empty.setText(0, "");
        words.setText(0, "none");
        zero.setText(0, "0");
        huge.setText(0, "123456789012345678901234");
        for (TreeWidgetItem* row : {&empty, &words, &zero, &huge})
            row->SetSortingModel(&m_model);
        QVERIFY(!(empty < words) && !(words < empty));
        QVERIFY(!(zero < words) && !(words < zero));
        QVERIFY(!(huge < empty) && !(empty < huge));

        // Equal numbers tie whatever surrounds them.
        TreeWidgetItem a(nullptr);
        TreeWidgetItem b(nullptr);
        a.setText(0, "7 files");
        b.setText(0, "and 7");
        a.SetSortingModel(&m_model);
        b.SetSortingModel(&m_model);
        QVERIFY(!(a < b) && !(b < a));
    }

    void textColumnsSortByCharacterCode()
    {
        AddRows({"beta", "Zeta", "alpha", "Alpha"}, 0);
        m_tree->sortItems(0, Qt::AscendingOrder);
        QCOMPARE(Column(m_tree, 0), QStringList({"Alpha", "Zeta", "alpha", "beta"}));
    }

    void reversedColumnsShowLargestFirst()
    {
        m_model.SetColumnSortingNumeric(1);
        m_model.SetColumnSortingReversed(1);
        m_model.SetColumnSortingReversed(2);
        AddRows({"2", "10", "1"}, 1);
        m_tree->sortItems(1, Qt::AscendingOrder);
        QCOMPARE(Column(m_tree, 1), QStringList({"10", "2", "1"}));

        m_tree->clear();
        AddRows({"b", "c", "a"}, 2);
        m_tree->sortItems(2, Qt::AscendingOrder);
        QCOMPARE(Column(m_tree, 2), QStringList({"c", "b", "a"}));
    }

    void rowWithoutModelComparesText()
    {
        m_model.SetColumnSortingNumeric(0);
        TreeWidgetItem* plain = new TreeWidgetItem(m_tree);
        TreeWidgetItem* modelled = new TreeWidgetItem(m_tree);
        plain->setText(0, "10");
        modelled->setText(0, "9");
        modelled->SetSortingModel(&m_model);
        // Each row compares by its own rule: as text "10" < "9", as numbers
        // 9 < 10, so both comparisons hold.
        QVERIFY(*plain < *modelled);
        QVERIFY(*modelled < *plain);
    }

    void modelMarksAreIndependent()
    {
        QVERIFY(!m_model.IsSortingNumeric(4));
        QVERIFY(!m_model.IsSortingReversed(4));
        m_model.SetColumnSortingReversed(4);
        QVERIFY(m_model.IsSortingReversed(4));
        QVERIFY(!m_model.IsSortingNumeric(4));
        m_model.SetColumnSortingNumeric(4);
        m_model.SetColumnSortingNumeric(4);
        QVERIFY(m_model.IsSortingNumeric(4));
        QVERIFY(m_model.IsSortingReversed(4));
        QVERIFY(!m_model.IsSortingNumeric(3));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int status = 0;
    {
        TestWidgets widgets;
        status |= QTest::qExec(&widgets, argc, argv);
    }
    {
        TestRowSorting sorting;
        status |= QTest::qExec(&sorting, argc, argv);
    }
    return status;
}

#include "TestWidgets.moc"
