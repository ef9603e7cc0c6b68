// The list of completed downloads: opened from the downloads toolbar as a
// tab of its own that comes forward, listing what finished earlier in the
// run, newest first, each row as the engine recorded it; a second request
// adds no second tab and lists nothing twice.
#include <QTabWidget>

#include "TransfersPageHarness.h"
#include "transfers/CompleteDownloadsForm.h"

class TestCompleteDownloads : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

    static QStringList Column(QTreeWidget* list, int column)
    {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(column);
        return texts;
    }

private slots:
    void completedDownloadsAreListedNewestFirst()
    {
        H h;
        QVERIFY(h.f->Start());
        const QDateTime now = QDateTime::currentDateTime();
        // Finished before the list is opened.
        h.Completed("bob", "jazz", "yesterday.mp3", 1234567, now.addDays(-1));
        h.Completed("alice", "music", "song.mp3", 5000, now);

        auto* tabs = h.page->findChild<QTabWidget*>("transfersTabControl");
        QAction* open = h.Action(h.Downloads(), "Completed Downloads");
        QVERIFY(open);
        open->trigger();
        QVERIFY(completeDownloadsForm);
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(2), QString("Complete"));
        // It comes forward instead of being drawn over the downloads.
        QCOMPARE(tabs->currentWidget(), completeDownloadsForm);
        QVERIFY(!h.Downloads()->isVisible());

        auto* list = completeDownloadsForm->findChild<QTreeWidget*>("downloadList");
        QCOMPARE(Column(list, 0), QStringList({"song.mp3", "yesterday.mp3"}));
        QCOMPARE(Column(list, 2), QStringList({"alice", "bob"}));
        // Size and time as stored.
        QCOMPARE(Column(list, 3), QStringList({"5000", "1234567"}));
        QCOMPARE(Column(list, 4), QStringList({now.toString(Qt::TextDate), now.addDays(-1).toString(Qt::TextDate)}));

        // Each later completion at its place; of one second, the later first.
        h.Completed("carol", "x", "tomorrow.mp3", 1, now.addDays(1));
        h.Completed("carol", "x", "last week.mp3", 1, now.addDays(-7));
        h.Completed("carol", "x", "also yesterday.mp3", 1, now.addDays(-1));
        QCOMPARE(Column(list, 0),
                 QStringList({"tomorrow.mp3", "song.mp3", "also yesterday.mp3", "yesterday.mp3", "last week.mp3"}));

        // Asked again, and told of a load again: one tab, one row each.
        tabs->setCurrentIndex(0);
        h.Action(h.Downloads(), "Completed Downloads")->trigger();
        completeDownloadsForm->DataLoaded();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->currentIndex(), 2);
        QCOMPARE(list->topLevelItemCount(), 5);
    }
};

QTEST_MAIN(TestCompleteDownloads)
#include "TestCompleteDownloads.moc"
