// Rows taken out from under a row and the kept ones put back keep what the
// view showed of them (open, hidden, selected, current), and putting that
// back lays the view out once, on the next turn, however many rows open,
// selected or current: never at once, nor scrolled to the current row.
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTreeWidget>

#include "common/TreeRowStates.h"

namespace {

// Counts the view's full layouts, each a walk over every open row.
class CountingTree : public QTreeWidget
{
public:
    void doItemsLayout() override
    {
        ++layouts;
        QTreeWidget::doItemsLayout();
    }
    int layouts = 0;
};

// Each row below the tree's root, depth first, with its marks.
QStringList Marks(QTreeWidget* tree)
{
    QStringList rows;
    QList<QTreeWidgetItem*> stack{tree->invisibleRootItem()};
    while (!stack.isEmpty()) {
        QTreeWidgetItem* row = stack.takeLast();
        for (int i = row->childCount() - 1; i >= 0; --i)
            stack << row->child(i);
        if (row == tree->invisibleRootItem())
            continue;
        rows << row->text(0) + (row->childCount() > 0 && row->isExpanded() ? " open" : "") +
                    (row->isHidden() ? " hidden" : "") + (row->isSelected() ? " selected" : "") +
                    (tree->currentItem() == row ? " current" : "");
    }
    return rows;
}

} // namespace

class TestTreeRowStates : public QObject
{
    Q_OBJECT

private slots:
    void theKeptRowsComeBackAsTheyWereWithOneLayout()
    {
        CountingTree tree;
        tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
        for (int u = 0; u < 3; ++u) {
            auto* user = new QTreeWidgetItem(&tree, {QString("user%1").arg(u)});
            for (int f = 0; f < 60; ++f) {
                auto* folder = new QTreeWidgetItem(user, {QString("%1 folder%2").arg(u).arg(f)});
                for (int n = 0; n < 2; ++n)
                    new QTreeWidgetItem(folder, {QString("%1 %2 file%3").arg(u).arg(f).arg(n)});
            }
        }
        tree.expandAll();
        QTreeWidgetItem* user = tree.topLevelItem(1);
        // A closed folder, a hidden one, files selected in runs and alone,
        // and the current row early among the kept.
        user->child(3)->setExpanded(false);
        user->child(7)->setHidden(true);
        for (int f : {10, 11, 12, 40})
            user->child(f)->child(1)->setSelected(true);
        user->child(20)->setSelected(true);
        tree.setCurrentItem(user->child(2)->child(0), 0, QItemSelectionModel::NoUpdate);
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        // Looking at another user's rows, far from the current row.
        tree.scrollToItem(tree.topLevelItem(2)->child(30), QAbstractItemView::PositionAtTop);
        QCoreApplication::processEvents();
        const QStringList before = Marks(&tree);

        // The last ten folders go, and one in the middle.
        QSet<QTreeWidgetItem*> gone{user->child(30)};
        for (int f = 50; f < 60; ++f)
            gone.insert(user->child(f));
        QStringList expected;
        for (const QString& row : before)
            if (!QRegularExpression("^1 folder(30|5[0-9])( |$)").match(row).hasMatch() &&
                !QRegularExpression("^1 (30|5[0-9]) file").match(row).hasMatch())
                expected << row;
        QCOMPARE(expected.size(), before.size() - 11 * 3);

        TreeRowStates states(&tree, user, gone);
        states.TakeOut();
        QCOMPARE(user->childCount(), 0);
        qDeleteAll(gone);
        user->addChildren(states.Kept());
        // Every row opened again while the view only notes it: a layout
        // before any of them would have each move every row below it.
        const int layouts = tree.layouts;
        QList<int> layoutsAtOpen;
        connect(&tree, &QTreeView::expanded, this, [&] { layoutsAtOpen << tree.layouts; });
        states.Restore();
        QCOMPARE(layoutsAtOpen.size(), 49 - 1);
        QCOMPARE(layoutsAtOpen.count(layouts), layoutsAtOpen.size());
        // Not even to find where the selection and the current row lie.
        QCOMPARE(tree.layouts, layouts);
        QTRY_VERIFY(tree.layouts > layouts);
        QCoreApplication::processEvents();
        QCOMPARE(tree.layouts, layouts + 1);
        QCOMPARE(Marks(&tree), expected);
        QVERIFY(!tree.viewport()->rect().intersects(tree.visualItemRect(tree.currentItem())));
    }
};

QTEST_MAIN(TestTreeRowStates)
#include "TestTreeRowStates.moc"
