// What a save takes of the store a slice at a time while the store changes
// between the slices: the file it lays out loads back as the store stood
// when the last slice ended, whatever left, came, moved or stopped being
// saved meanwhile, the items beside the sweep's place among them.
#include <QtTest>
#include <memory>
#include <random>

#include "Data.h"
#include "SaveSweep.h"
#include "SavedStore.h"
#include "Settings.h"
#include "TurnSlice.h"

namespace {
// The file of the store as it stands, taken in one go.
QByteArray AtOnce()
{
    SaveSweep sweep(SavedStore::Whole, SavedStore::ByConnection, false);
    TurnSlice whole = TurnSlice::Whole();
    sweep.Run(whole);
    return sweep.Take().Assemble();
}

// Slices of at most steps items until the sweep is done, changing the
// store after each; the number of slices.
int Sweep(SaveSweep& sweep, int steps, const std::function<void(int slice)>& between)
{
    int slices = 0;
    for (;;) {
        TurnSlice slice(0, steps);
        ++slices;
        if (sweep.Run(slice))
            return slices;
        between(slices);
    }
}
} // namespace

class TestSaveSweep : public QObject
{
    Q_OBJECT

private slots:
    void init() { SavedStore::Declare(); }
    void cleanup() { d.Reset(); }

    void theSweepsPlaceOutlivesTheItemsBesideItLeaving()
    {
        QList<ItemPtr> entries;
        for (int i = 0; i < 30; ++i)
            entries << SavedStore::Entry(QString("e%1").arg(i));
        SaveSweep sweep(SavedStore::Whole, SavedStore::ByConnection, true);
        // Entries come first, an item a step: after a slice of five the
        // sweep took e0..e4 and takes e5 next.
        TurnSlice first(0, 5);
        QVERIFY(!sweep.Run(first));
        entries[5].Remove();
        entries[4].Remove();
        TurnSlice second(0, 3);
        QVERIFY(!sweep.Run(second));
        // e6, e7, e8 taken: the next and the one before it go at once, and
        // so does the first of all.
        entries[8].Remove();
        entries[9].Remove();
        entries[0].Remove();
        TurnSlice third(0, 1);
        QVERIFY(!sweep.Run(third));
        // e10 taken; everything after it goes, and new ones come behind.
        for (int i = 11; i < 30; ++i)
            entries[i].Remove();
        SavedStore::Entry("late one");
        SavedStore::Entry("late two");
        TurnSlice rest = TurnSlice::Whole();
        QVERIFY(sweep.Run(rest));

        const QByteArray expected = AtOnce();
        const QByteArray sliced = sweep.Take().Assemble();
        const QStringList loaded = SavedStore::Loaded(sliced);
        QCOMPARE(loaded, SavedStore::Loaded(expected));
        QVERIFY(loaded.join('\n').contains("[late two]"));
        QVERIFY(!loaded.join('\n').contains("[e5]"));
        QCOMPARE(loaded.filter("download_entry").size(), 8);
    }

    void whatChangesBetweenSlicesIsInTheFileAsItStandsAtTheEnd()
    {
        std::mt19937 random(20240611);
        const auto pick = [&](Type* type) {
            const ItemSet items = type->GetItems();
            return items.empty() ? ItemPtr() : items.List()[random() % items.size()];
        };
        Type* entries = d.GetType("download_entry");
        Type* contacts = d.GetType("contact");
        Type* tags = d.GetType("tag");
        for (int i = 0; i < 400; ++i) {
            ItemPtr entry = SavedStore::Entry(QString("f%1").arg(i));
            entry += tags->GetItem(Value(QString("t%1").arg(i % 13)));
            if (i % 5 == 0)
                entry.NewItem("paused");
        }
        for (int i = 0; i < 60; ++i)
            contacts->GetItem(Value(QString("c%1").arg(i))) += tags->GetItem(Value(QString("t%1").arg(i % 17)));
        // Tags that only a search holds are not saved, yet carry a colour:
        // when one is saved later, so is its colour's connection.
        ItemPtr search = d.GetType("search")->GetItem("old songs");
        for (int i = 0; i < 20; ++i) {
            ItemPtr orphan = tags->GetItem(Value(QString("orphan%1").arg(i)));
            search += orphan;
            orphan += d.GetType("tag_colour")->GetItem(Value(QString("colour%1").arg(i % 3)));
        }
        SetSetting("nick", "before");

        SaveSweep sweep(SavedStore::Whole, SavedStore::ByConnection, true);
        int made = 0;
        const int slices = Sweep(sweep, 7, [&](int) {
            switch (random() % 9) {
            case 0:
                SavedStore::Entry(QString("new%1").arg(made++)) +=
                    tags->GetItem(Value(QString("t%1").arg(random() % 20)));
                break;
            case 1:
                pick(entries).Remove();
                break;
            case 2:
                // An end that holds one: the old name goes unsaved.
                pick(entries) += d.GetType("file_name")->GetItem(Value(QString("renamed%1").arg(made++)));
                break;
            case 3:
                if (ItemPtr entry = pick(entries); entry.IsConnected("paused"))
                    entry.Disconnect("paused");
                else
                    entry.NewItem("paused");
                break;
            case 4:
                pick(contacts) += pick(tags);
                break;
            case 5:
                pick(contacts).Disconnect("tag");
                break;
            case 6:
                pick(contacts).Remove();
                break;
            case 7:
                pick(tags).Remove();
                break;
            default:
                // Saved only now, with the colour it had all along.
                pick(contacts) += tags->GetItem(Value(QString("orphan%1").arg(random() % 20)));
                SetSetting("nick", QString("after %1").arg(made++));
            }
        });
        QVERIFY2(slices > 100, qPrintable(QString::number(slices)));

        const QByteArray expected = AtOnce();
        const QByteArray sliced = sweep.Take().Assemble();
        const QStringList loaded = SavedStore::Loaded(sliced);
        QCOMPARE(loaded, SavedStore::Loaded(expected));
        QVERIFY(loaded.join('\n').contains("[colour"));
        QVERIFY(loaded.join('\n').contains("[after "));
    }
};

QTEST_GUILESS_MAIN(TestSaveSweep)
#include "TestSaveSweep.moc"
