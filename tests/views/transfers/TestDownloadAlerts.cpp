// Completion alerts as the user asks for them in the download menu: file,
// folder and user alerts raised through the event toolbar in that order and
// only once everything they wait for is complete, their marks taken off,
// and finished downloads cleared when the user wants that, also those
// stored complete.
#include <QTabWidget>

#include "EventToolBar.h"
#include "ShellHooks.h"
#include "TransfersPageHarness.h"
#include "common/PeerText.h"
#include "transfers/DownloadAlerts.h"

class TestDownloadAlerts : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

    std::unique_ptr<H> h;
    QTreeWidget* tree = nullptr;
    QStringList balloons;

    ItemPtr Add(const QString& user, const QString& folder, const QString& file)
    {
        return h->f->transfers->AddDownload(user, file.toStdString(), folder.toStdString(), 100, false, 0);
    }
    // Completes a download and lets the page handle it.
    void Complete(ItemPtr entry)
    {
        h->f->transfers->SetDownloadEntryStatus(entry, "complete");
        QCoreApplication::sendPostedEvents(h->page, QEvent::MetaCall);
    }
    QStringList ButtonTexts() const
    {
        QStringList texts;
        for (QAction* action : h->f->events->actions())
            if (!action->text().isEmpty())
                texts << action->text();
        return texts;
    }

    // The page with its engines; the window is not looked at, so every
    // alert shows its balloon, which is recorded.
    void Make()
    {
        h.reset(new H);
        tree = h->Downloads();
        balloons.clear();
        g_shellHooks.isMainWindowActive = [] { return false; };
        g_shellHooks.popupAlert = [this](const QString& text) { balloons << text; };
    }

private slots:
    void cleanup() { h.reset(); }

    void alertsFireOnceEverythingTheyWaitForIsComplete()
    {
        Make();
        QVERIFY(h->f->Start());
        SetSetting("show_event_buttons", "yes");
        d.GetType("event_sound")->GetItem("download").Connect(d.GetType("event_sound_file")->GetItem("done.wav"));
        const ItemPtr a1 = Add("bob", "music\\a", "1.bin");
        const ItemPtr a2 = Add("bob", "music\\a", "2.bin");
        const ItemPtr b3 = Add("bob", "music\\b", "3.bin");
        const ItemPtr eveA = Add("eve", "music\\a", "4.bin");
        const ItemPtr eveC = Add("eve", "music\\c", "5.bin");
        QTreeWidgetItem* a2Row = H::FileRow(tree, "bob", "a/music", "2.bin");
        QTreeWidgetItem* bobA = H::FolderRow(tree, "bob", "a/music");
        QTreeWidgetItem* bob = H::UserRow(tree, "bob");
        QVERIFY(h->Choose(tree, {a2Row}, "File download completes"));
        QVERIFY(h->Choose(tree, {bobA}, "Folder download completes"));
        QVERIFY(h->Choose(tree, {bob}, "All downloads from user complete"));
        QVERIFY(h->Choose(tree, {H::FolderRow(tree, "eve", "a/music")}, "Folder download completes"));
        QVERIFY(h->Choose(tree, {H::UserRow(tree, "eve")}, "All downloads from user complete"));
        // The downloads are out of sight, so the event leaves a button.
        h->page->findChild<QTabWidget*>("transfersTabControl")->setCurrentIndex(1);

        // Bob's folder waits for 2.bin; bob for 2.bin too; Eve's folder of
        // the same name is hers alone.
        Complete(a1);
        Complete(b3);
        QCOMPARE(balloons, QStringList());
        Complete(eveA);
        QCOMPARE(balloons, QStringList({"Download of folder a complete"}));
        QVERIFY(H::FolderRow(tree, "eve", "a/music")->icon(1).isNull());
        QVERIFY(!H::UserRow(tree, "eve")->icon(0).isNull());

        Complete(a2);
        QCOMPARE(balloons, QStringList({"Download of folder a complete", "Download of file 2.bin complete",
                                        "Download of folder a complete", "All download from user bob complete"}));
        QCOMPARE(h->f->sounds.size(), 4);
        // One button for the downloads, named by the first event.
        QCOMPARE(ButtonTexts(), QStringList({PeerText::Title("a")}));
        QVERIFY(a2Row->icon(2).isNull() && bobA->icon(1).isNull() && bob->icon(0).isNull());
        // Each alert fires once: Eve's user alert is the one left.
        QCOMPARE(d.GetType("complete_download_alert")->Count(), size_t(1));
        Complete(eveC);
        QCOMPARE(balloons.last(), QString("All download from user eve complete"));
        QCOMPARE(d.GetType("complete_download_alert")->Count(), size_t(0));
    }

    void alertsWithoutRowsMarkNothing()
    {
        // Before the engine's queue is loaded the page has no rows.
        Make();
        const ItemPtr entry = h->StoredDownload("bob", "x", "y.bin", 10, 1);
        const TransferTree& rows = h->page->DownloadTree();
        DownloadAlerts::WatchFile(rows, entry);
        DownloadAlerts::WatchFolder(rows, entry["user"], entry["remote_folder"]);
        DownloadAlerts::WatchUser(rows, entry["user"]);
        h->f->transfers->SetDownloadEntryStatus(entry, "complete");
        QCOMPARE(DownloadAlerts::Complete(rows, entry).size(), 3);
    }

    void finishedDownloadsGoWhenTheUserClearsThem()
    {
        Make();
        int order = 0;
        for (const char* name : {"a.bin", "b.bin"})
            h->StoredDownload("bob", "x", name, 10, ++order)
                .Connect(d.GetType("download_entry_status")->GetItem("complete"));
        const ItemPtr c = h->StoredDownload("bob", "x", "c.bin", 10, ++order);
        SetSetting("clear_complete_downloads", "yes");
        // Rows of downloads stored complete go as soon as they are made.
        QVERIFY(h->f->Start());
        QTRY_COMPARE(H::Files(H::FolderRow(tree, "bob", "x")), QStringList({"c.bin"}));

        // A download that completes goes right after its alert.
        QVERIFY(h->Choose(tree, {H::FileRow(tree, "bob", "x", "c.bin")}, "File download completes"));
        h->f->transfers->SetDownloadEntryStatus(c, "complete");
        QTRY_COMPARE(tree->topLevelItemCount(), 0);
        QCOMPARE(balloons, QStringList({"Download of file c.bin complete"}));
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(0));
    }
};

QTEST_MAIN(TestDownloadAlerts)
#include "TestDownloadAlerts.moc"
