// The row mirror: rows and their node items stay in step whichever side
// goes first, even while a menu's event loop runs, and a row address used
// again never brings back an old row's node.
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "Data.h"
#include "common/RowMirror.h"

class TestRowMirror : public QObject
{
    Q_OBJECT

private:
    QTreeWidget* m_tree = nullptr;

    static ItemPtr Entry(int n) { return d.GetType("entry")->GetItem(QString("entry %1").arg(n)); }

    // A row for each item, its node connected to the item.
    QTreeWidgetItem* AddRow(RowMirror& mirror, ItemPtr item, QTreeWidgetItem* parent = nullptr)
    {
        auto* row = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
        row->setText(0, item.AsString());
        mirror.Add(row, "entry_node") += item;
        return row;
    }

private slots:
    void init()
    {
        d.Reset();
        Type* entry = d.NewType("entry", 0, false, true);
        Type* node = d.NewType("entry_node", 0, false, true);
        node->RelateToType(entry, one, one, false);
        m_tree = new QTreeWidget;
    }

    void cleanup()
    {
        delete m_tree;
        d.Reset();
    }

    void rowsRemovedDuringAMenusLoopAreNotHandedBack()
    {
        RowMirror mirror;
        mirror.FollowRemovalOf("entry", "entry_node");
        QList<QTreeWidgetItem*> rows;
        for (int i = 0; i < 3; ++i)
            rows << AddRow(mirror, Entry(i));
        const QList<RowMirror::Key> keys = mirror.Keys(rows);
        QCOMPARE(keys.size(), 3);

        // The user's entry goes away while the menu is open.
        QMenu menu;
        menu.addAction("Remove");
        QTimer::singleShot(0, &menu, [&] {
            Entry(1).Remove();
            menu.close();
        });
        menu.exec(QPoint(0, 0));

        QVERIFY(mirror.Row(keys[0]));
        QVERIFY(!mirror.Row(keys[1]));
        QVERIFY(mirror.Row(keys[2]));
        QCOMPARE(m_tree->topLevelItemCount(), 2);
        QCOMPARE(int(d.GetType("entry_node")->Count()), 2);
        QCOMPARE(mirror.Item(mirror.Row(keys[2]), "entry").AsString(), QString("entry 2"));
    }

    void eitherSideGoingTakesTheOtherAlong()
    {
        RowMirror mirror;
        QTreeWidgetItem* parent = AddRow(mirror, Entry(0));
        QTreeWidgetItem* child = AddRow(mirror, Entry(1), parent);
        AddRow(mirror, Entry(2), child);
        QTreeWidgetItem* other = AddRow(mirror, Entry(3));
        const RowMirror::Key otherKey = mirror.KeyOf(other);

        // The parent row takes every row below it and their nodes.
        mirror.Remove(parent);
        QCOMPARE(mirror.Count(), 1);
        QCOMPARE(int(d.GetType("entry_node")->Count()), 1);
        QVERIFY(!Entry(1)["entry_node"]);

        // A node removed by someone else takes its row.
        mirror.Node(other).Remove();
        QVERIFY(!mirror.Row(otherKey));
        QCOMPARE(m_tree->topLevelItemCount(), 0);

        // Keys are never used again.
        QTreeWidgetItem* again = AddRow(mirror, Entry(4));
        QVERIFY(mirror.KeyOf(again) != otherKey);
        QVERIFY(!mirror.Row(otherKey));
    }

    void aRecycledRowAddressFindsNoOldNode()
    {
        RowMirror mirror;
        // A row deleted behind the mirror's back leaves its node; a new row
        // at that address must start without the old row's item.
        auto* row = new QTreeWidgetItem(m_tree);
        mirror.Add(row, "entry_node") += Entry(7);
        const Value address(row);
        mirror.Add(row, "entry_node");
        QVERIFY(!mirror.Item(row, "entry"));
        QVERIFY(!Entry(7)["entry_node"]);
        QCOMPARE(int(d.GetType("entry_node")->Count()), 1);
        QCOMPARE(d.GetType("entry_node")->HasItem(address), mirror.Node(row));
    }

    void clearAndDestructionRemoveEveryNode()
    {
        {
            RowMirror mirror;
            for (int i = 0; i < 5; ++i)
                AddRow(mirror, Entry(i));
            mirror.Clear(m_tree);
            QCOMPARE(m_tree->topLevelItemCount(), 0);
            QCOMPARE(int(d.GetType("entry_node")->Count()), 0);
            for (int i = 0; i < 5; ++i)
                AddRow(mirror, Entry(i));
        }
        // The page went; its rows stay for the tree to delete, its nodes go.
        QCOMPARE(m_tree->topLevelItemCount(), 5);
        QCOMPARE(int(d.GetType("entry_node")->Count()), 0);
        QCOMPARE(int(d.GetType("entry")->Count()), 5);
    }

    void tenThousandRowsFollowTheirItems()
    {
        RowMirror mirror;
        mirror.FollowRemovalOf("entry", "entry_node");
        const int n = 10000;
        m_tree->setUpdatesEnabled(false);
        for (int i = 0; i < n; ++i)
            AddRow(mirror, Entry(i));
        for (int i = 0; i < n; i += 997)
            QCOMPARE(mirror.RowOf(Entry(i), "entry_node")->text(0), Entry(i).AsString());

        // Every other item goes in one store operation.
        {
            Data::Batch batch(&d);
            for (int i = 0; i < n; i += 2)
                Entry(i).Remove();
        }
        QCOMPARE(mirror.Count(), n / 2);
        QCOMPARE(m_tree->topLevelItemCount(), n / 2);
        QCOMPARE(int(d.GetType("entry_node")->Count()), n / 2);
        for (int i = 1; i < n; i += 2)
            QVERIFY(mirror.RowOf(Entry(i), "entry_node"));
        mirror.Clear(m_tree);
        QCOMPARE(int(d.GetType("entry_node")->Count()), 0);
    }
};

QTEST_MAIN(TestRowMirror)
#include "TestRowMirror.moc"
