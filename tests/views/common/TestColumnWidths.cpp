// Figure columns read whole at the font the tree has, also when the user's
// application font arrives after the page was made.
#include <QApplication>
#include <QTest>
#include <QTreeWidget>

#include "common/ColumnWidths.h"

class TestColumnWidths : public QObject
{
    Q_OBJECT

private slots:
    void figureColumnsGrowWithALaterLargerFontAndKeepWiderWidths()
    {
        QTreeWidget tree;
        tree.setHeaderLabels({"File", "Size", "Folder"});
        ColumnWidths::Set(&tree, {200, 40}, {QString(), "88,012,345"});
        const int first = tree.columnWidth(1);
        QVERIFY(first >= ColumnWidths::Needed(&tree, 1, "88,012,345"));

        // The application font of a user who reads large type, set once the
        // page exists (as the main window does after making its pages).
        QFont large = tree.font();
        large.setPointSizeF(large.pointSizeF() * 2);
        tree.setFont(large);
        QVERIFY(ColumnWidths::Needed(&tree, 1, "88,012,345") > first);
        QCOMPARE(tree.columnWidth(1), ColumnWidths::Needed(&tree, 1, "88,012,345"));
        // Columns without a sample keep what they were given.
        QCOMPARE(tree.columnWidth(0), 200);

        // A column the user made wider stays as wide when the font shrinks.
        tree.setColumnWidth(1, 500);
        tree.setFont(QApplication::font());
        QCOMPARE(tree.columnWidth(1), 500);
    }
};

QTEST_MAIN(TestColumnWidths)
#include "TestColumnWidths.moc"
