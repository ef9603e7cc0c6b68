// The downloads tree's context menu as a right click opens it: which
// entries each selection offers, what they do to the chosen downloads (a
// search run again opens its own network-wide tab on the search page), and
// that downloads removed while the menu stands open are left alone.
#include <QDir>
#include <QIcon>

#include "FakePeer.h"
#include "GeneralFunctions.h"
#include "TabWidget.h"
#include "TransfersPageHarness.h"
#include "search/SearchForm.h"

namespace {

const QString kNotify = "Notify me when...";
const QString kFile = "File download completes";
const QString kFolder = "Folder download completes";
const QString kUser = "All downloads from user complete";

QString Notify(const QStringList& entries)
{
    return kNotify + " [" + entries.join(", ") + "]";
}

bool HasAlertIcon(QTreeWidgetItem* row, int column)
{
    return !row->icon(column).isNull() &&
           row->icon(column).pixmap(16).toImage() == QIcon(":/icons/alert_icon").pixmap(16).toImage();
}

} // namespace

class TestDownloadMenu : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

    std::unique_ptr<H> h;
    SearchForm* search = nullptr;
    QTreeWidget* tree = nullptr;
    ItemPtr done, waiting, running, other;

    ItemPtr Add(const QString& user, const QString& folder, const QString& file)
    {
        return h->f->transfers->AddDownload(user, file.toStdString(), folder.toStdString(), 100, false, 0);
    }
    void Set(ItemPtr entry, const QString& status) { h->f->transfers->SetDownloadEntryStatus(entry, status); }
    QTreeWidgetItem* Row(ItemPtr entry) const
    {
        const QString folder = ReversePathname(entry["remote_folder"].AsString());
        return H::FileRow(tree, entry["user"].AsString(), folder, entry["file_name"].AsString());
    }
    QUrl Local(const QString& relative) const
    {
        return QUrl::fromLocalFile(QDir(h->f->DownloadFolder()).filePath(relative));
    }

private slots:
    // Bob's downloads in two folders, one of them finished and one running;
    // Eve's in a folder of the same name. The search page stands beside the
    // transfers page, as in the program.
    void init()
    {
        h.reset(new H);
        search = new SearchForm;
        h->f->AddPage(search, "Search");
        search->Init();
        QVERIFY(h->f->Start());
        tree = h->Downloads();
        done = Add("bob", "music\\a", "done.mp3");
        waiting = Add("bob", "music\\a", "wait.mp3");
        running = Add("bob", "music\\b", "run.mp3");
        other = Add("eve", "music\\a", "eve.mp3");
        Set(done, "complete");
        Set(running, "downloading");
    }
    void cleanup() { h.reset(); }

    void eachSelectionOffersWhatItsDownloadsAllow()
    {
        QCOMPARE(h->MenuTexts(tree, {Row(done)}),
                 QStringList({"Open File", "Open Folder", "-", "Remove download", Notify({kFolder, kUser})}));
        QCOMPARE(h->MenuTexts(tree, {Row(waiting)}), QStringList({"Open Folder", "Retry download", "-",
                                                                  "Remove download", Notify({kFile, kFolder, kUser})}));
        QCOMPARE(h->MenuTexts(tree, {Row(running)}),
                 QStringList({"Open Folder", "-", "Remove download", Notify({kFile, kFolder, kUser})}));

        // A folder row stands for its files, alone or among other rows.
        QTreeWidgetItem* bobA = H::FolderRow(tree, "bob", "a/music");
        QCOMPARE(h->MenuTexts(tree, {bobA}),
                 QStringList({"Open Folder", "Retry downloads", "-", "Remove downloads", Notify({kFolder, kUser})}));
        QCOMPARE(h->MenuTexts(tree, {bobA, Row(running)}),
                 QStringList({"Open Folder", "Retry downloads", "-", "Remove downloads", Notify({kUser})}));
        // Rows of one user end in that user's menu, those of two do not.
        const QStringList bobs = h->AllMenuTexts(tree, {bobA, H::UserRow(tree, "bob")});
        QCOMPARE(bobs.mid(3, 5),
                 QStringList({"Remove downloads", Notify({kUser}), "-", "Message user", "Add user to list"}));
        QVERIFY(!h->AllMenuTexts(tree, {Row(waiting), Row(other)}).contains("Message user"));
        QVERIFY(h->AllMenuTexts(tree, {Row(done)}).contains("Message user"));

        // Downloads of two users: no folder or user of their own to watch.
        QCOMPARE(h->MenuTexts(tree, {Row(waiting), Row(other)}),
                 QStringList({"Open Folder", "Retry downloads", "-", "Remove downloads"}));
        // Eve has one folder only: a user alert would say what the folder
        // alert says.
        QCOMPARE(h->MenuTexts(tree, {Row(other)}).last(), Notify({kFile, kFolder}));

        // Each request is offered until it is made.
        QVERIFY(h->Choose(tree, {Row(waiting)}, kFile));
        QVERIFY(HasAlertIcon(Row(waiting), 2));
        QVERIFY(h->Choose(tree, {bobA}, kFolder));
        QVERIFY(HasAlertIcon(bobA, 1));
        QVERIFY(h->Choose(tree, {H::UserRow(tree, "bob")}, kUser));
        QVERIFY(HasAlertIcon(H::UserRow(tree, "bob"), 0));
        QCOMPARE(d.GetType("complete_download_alert")->Count(), size_t(3));
        QCOMPARE(h->MenuTexts(tree, {Row(waiting)}).last(), QString("Remove download"));
        // What is finished needs no watching.
        Set(other, "complete");
        QCOMPARE(h->MenuTexts(tree, {Row(other)}).last(), QString("Remove download"));
    }

    void entriesActOnTheChosenDownloads()
    {
        // Where the finished file lies, in the desktop's "/" form.
        QVERIFY(h->Choose(tree, {Row(done)}, "Open File"));
        QVERIFY(h->Choose(tree, {Row(running)}, "Open Folder"));
        QCOMPARE(h->f->OpenedUrls(), QList<QUrl>({Local("complete/a/done.mp3"), Local("complete/b")}));

        // A retry passes over what is finished or running.
        Set(waiting, "aborted");
        QVERIFY(h->Choose(tree, {Row(done), Row(waiting), Row(running)}, "Retry downloads"));
        QCOMPARE(waiting["download_entry_status"].AsString(), QString("queued"));
        QCOMPARE(done["download_entry_status"].AsString(), QString("complete"));
        QCOMPARE(running["download_entry_status"].AsString(), QString("downloading"));

        QVERIFY(h->Choose(tree, {Row(done), Row(other)}, "Remove downloads"));
        QCOMPARE(H::TopTexts(tree), QStringList({"bob"}));
        QVERIFY(h->Choose(tree, {H::UserRow(tree, "bob")}, "Remove downloads"));
        QCOMPARE(tree->topLevelItemCount(), 0);
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(0));
    }

    void theSearchThatFoundADownloadRunsAgainNetworkWide()
    {
        QVERIFY(h->f->OnlinePeer("alice"));
        QCOMPARE(h->MenuTexts(tree, {Row(waiting)}).filter("Re-run").size(), 0);
        waiting.Connect(d.GetType("search_request_text")->GetItem("blue train"));
        QCOMPARE(h->MenuTexts(tree, {Row(waiting)}).last(), QString("Re-run Search: blue train"));
        // Of several downloads, the first one's search.
        QVERIFY(h->Choose(tree, {Row(running), Row(waiting)}, "Re-run Search: blue train"));
        auto* tabs = search->findChild<TabWidget*>("searchTabControl");
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->tabText(0), QString("blue train"));
        QVERIFY(h->f->Peer("alice")->WaitForSearchRequests(1));
        QCOMPARE(h->f->Peer("alice")->searchRequests.first().text, QString("blue train"));

        // Without a search page there is nowhere to show the results.
        delete search;
        search = nullptr;
        QCOMPARE(h->MenuTexts(tree, {Row(waiting)}).filter("Re-run").size(), 0);
    }

    void downloadsRemovedWhileTheMenuIsOpenAreLeftAlone()
    {
        // The menu stands open while one of its downloads goes and a new
        // one comes (perhaps where the old one lay in memory).
        ItemPtr newcomer;
        QVERIFY(h->Menu(tree, {Row(done), Row(waiting)}, [&](QMenu* menu) {
            h->f->transfers->RemoveDownload(done);
            newcomer = Add("bob", "music\\a", "new.mp3");
            QVERIFY(H::Trigger(menu, "Remove downloads"));
        }));
        QCOMPARE(H::Files(H::FolderRow(tree, "bob", "a/music")), QStringList({"new.mp3"}));

        QVERIFY(h->Menu(tree, {Row(newcomer)}, [&](QMenu* menu) {
            h->f->transfers->RemoveDownload(newcomer);
            newcomer = Add("bob", "music\\a", "newer.mp3");
            QVERIFY(H::Trigger(menu, kFile));
            QVERIFY(H::Trigger(menu, "Open Folder"));
        }));
        QCOMPARE(d.GetType("complete_download_alert")->Count(), size_t(0));
        QVERIFY(Row(newcomer)->icon(2).isNull());
        QCOMPARE(h->f->OpenedUrls(), QList<QUrl>());

        // Every download of the user goes: neither the folder nor the user
        // is watched without them.
        QVERIFY(h->Menu(tree, {H::UserRow(tree, "bob")}, [&](QMenu* menu) {
            for (const ItemPtr& entry : d.GetType("user")->HasItem("bob").GetItems("download_entry"))
                h->f->transfers->RemoveDownload(entry);
            QVERIFY(H::Trigger(menu, kUser));
            QVERIFY(H::Trigger(menu, "Retry downloads"));
        }));
        QCOMPARE(d.GetType("complete_download_alert")->Count(), size_t(0));
        QCOMPARE(H::TopTexts(tree), QStringList({"eve"}));
    }
};

QTEST_MAIN(TestDownloadMenu)
#include "TestDownloadMenu.moc"
