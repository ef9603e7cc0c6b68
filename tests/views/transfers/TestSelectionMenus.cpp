// The trees' context menus on selections of many rows, as Ctrl+A makes
// them: an entry chosen acts on every transfer below every selected row (a
// closed folder's too), in slices when there are many, whatever comes and
// goes meanwhile; opening the menu looks at no more of the selection than
// its texts need.
#include "FakePeerLink.h"
#include "GeneralFunctions.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "TransfersPageHarness.h"

class TestSelectionMenus : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

    std::unique_ptr<H> h;
    QTreeWidget* tree = nullptr;

    ItemPtr Add(const QString& user, const QString& folder, const QString& file)
    {
        return h->f->transfers->AddDownload(user, file.toStdString(), folder.toStdString(), 100, false, 0);
    }
    QList<ItemPtr> AddMany(const QString& user, const QString& folder, int count)
    {
        QList<ItemPtr> entries;
        for (int i = 0; i < count; ++i)
            entries << Add(user, folder, QString("%1.mp3").arg(i));
        return entries;
    }
    static size_t Count(const char* type) { return d.GetType(type)->Count(); }
    // Every row selected, as Ctrl+A does, then the entry chosen.
    bool ChooseOnAll(QTreeWidget* view, const QString& text)
    {
        view->selectAll();
        bool found = false;
        const bool shown =
            H::WithMenu(view, view->topLevelItem(0), [&](QMenu* menu) { found = H::Trigger(menu, text); });
        return shown && found;
    }

private slots:
    void init()
    {
        h.reset(new H);
        QVERIFY(h->f->Start());
        tree = h->Downloads();
    }
    void cleanup() { h.reset(); }

    void downloadEntriesActOnEveryDownloadBelowTheSelection()
    {
        const QList<ItemPtr> big = AddMany("bob", "music\\big", 200);
        const ItemPtr a = Add("bob", "music\\a", "a.mp3");
        const ItemPtr x = Add("eve", "music\\x", "x.mp3");
        for (const ItemPtr& entry : big + QList<ItemPtr>{a, x})
            h->f->transfers->SetDownloadEntryStatus(entry, "aborted");
        H::FolderRow(tree, "bob", "big/music")->setExpanded(false);

        QVERIFY(ChooseOnAll(tree, "Retry downloads"));
        QTRY_COMPARE(d.GetType("download_entry_status")->HasItem("queued").CountItems("download_entry"), size_t(202));
        QVERIFY(ChooseOnAll(tree, "Remove downloads"));
        QTRY_COMPARE(Count("download_entry"), size_t(0));
        QCOMPARE(tree->topLevelItemCount(), 0);
    }

    void theUploadMenuRemovesEveryUploadBelowTheSelection()
    {
        for (int i = 0; i < 150; ++i)
            h->f->WriteFile(QString("share/big/%1.bin").arg(i), QByteArray(10, 'x'));
        h->f->WriteFile("share/a.bin", QByteArray(10, 'x'));
        ItemPtr share = ShareScanned(h->f->shares, h->f->MakeFolder("share"));
        QVERIFY(share);
        share.NewItem("shared_public");
        QVERIFY(h->f->OnlinePeer("alice") && h->f->OnlinePeer("bob"));
        for (int i = 0; i < 150; ++i)
            h->f->transfers->AddUpload("alice", h->f->Remote(QString("share/big/%1.bin").arg(i)));
        h->f->transfers->AddUpload("alice", h->f->Remote("share/a.bin"));
        h->f->transfers->AddUpload("bob", h->f->Remote("share/a.bin"));
        QTreeWidget* uploads = h->Uploads();
        QCOMPARE(Count("upload_entry"), size_t(152));
        QTreeWidgetItem* bigRow = H::UserRow(uploads, "alice")->child(0);
        QCOMPARE(bigRow->childCount(), 150);
        bigRow->setExpanded(false);

        QVERIFY(ChooseOnAll(uploads, "Remove uploads"));
        QTRY_COMPARE(Count("upload_entry"), size_t(0));
        QCOMPARE(uploads->topLevelItemCount(), 0);
    }

    void openingTheMenuWalksNoDownloadsHoweverManyAreSelected()
    {
        for (const char* user : {"bob", "eve", "ann"})
            AddMany(user, "music\\big", 1000);
        tree->selectAll();
        const quint64 before = h->page->DownloadTree().EntriesVisited();
        QStringList texts;
        QVERIFY(H::WithMenu(tree, tree->topLevelItem(0), [&](QMenu* menu) { texts = H::Texts(menu); }));
        QCOMPARE(h->page->DownloadTree().EntriesVisited(), before);
        QCOMPARE(texts, QStringList({"Open Folder", "Retry downloads", "-", "Remove downloads"}));
        QCOMPARE(Count("download_entry"), size_t(3000));
    }

    void rowsThatComeAndGoMeanwhileAreHandled()
    {
        // More than a turn's share in a closed folder (here a hundred rows a
        // turn, as on the slowest machine).
        h->page->SweepJob().SetMostSteps(100);
        const QList<ItemPtr> big = AddMany("bob", "music\\big", 3000);
        const ItemPtr a1 = Add("bob", "music\\a", "a1.mp3");
        Add("bob", "music\\a", "a2.mp3");
        const ItemPtr x1 = Add("eve", "music\\x", "x1.mp3");
        Add("eve", "music\\x", "x2.mp3");
        H::FolderRow(tree, "bob", "big/music")->setExpanded(false);

        // While the menu is open, one selected row goes and so does one
        // below a selected user.
        QVERIFY(h->Menu(tree,
                        {H::FolderRow(tree, "bob", "big/music"), H::FileRow(tree, "bob", "a/music", "a1.mp3"),
                         H::UserRow(tree, "eve")},
                        [&](QMenu* menu) {
                            h->f->transfers->RemoveDownload(a1);
                            h->f->transfers->RemoveDownload(x1);
                            QVERIFY(H::Trigger(menu, "Remove downloads"));
                        }));
        // Between slices: some of those still to go (the folder goes from
        // its back) go by other hands, and downloads are queued into the
        // chosen folder and user.
        QVERIFY(h->page->SweepJob().IsRunning());
        for (int i = 0; i < 10; ++i) {
            QVERIFY(!big[i].IsRemoved());
            h->f->transfers->RemoveDownload(big[i]);
        }
        Add("bob", "music\\big", "after.mp3");
        Add("eve", "music\\x", "late.mp3");

        QTRY_COMPARE(Count("download_entry"), size_t(3));
        QCOMPARE(H::TopTexts(tree), QStringList({"bob", "eve"}));
        QCOMPARE(H::Files(H::FolderRow(tree, "bob", "big/music")), QStringList({"after.mp3"}));
        QCOMPARE(H::Files(H::FolderRow(tree, "bob", "a/music")), QStringList({"a2.mp3"}));
        QCOMPARE(H::Files(H::FolderRow(tree, "eve", "x/music")), QStringList({"late.mp3"}));
        QCOMPARE(Count("download_list_node"), size_t(3));
    }
};

QTEST_MAIN(TestSelectionMenus)
#include "TestSelectionMenus.moc"
