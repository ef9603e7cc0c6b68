// A page built the way every page is: widgets in its constructor, store
// handlers and rows from Init on, downward calls to the engine, and a
// destructor that runs after the engines are gone, as at the program's end.
#include <QDesktopServices>
#include <QTest>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Data.h"
#include "TransferQueueManager.h"
#include "ViewFixture.h"
#include "common/RowMirror.h"

namespace {

class DownloadsPage : public QWidget, public DataHandler
{
public:
    DownloadsPage() : tree(new QTreeWidget(this)) { (new QVBoxLayout(this))->addWidget(tree); }

    void Init()
    {
        Type* node = d.NewType("test_download_node", 0, false, true);
        node->RelateToType(d.GetType("download_entry"), one, one, false);
        rows.FollowRemovalOf("download_entry", "test_download_node");
        d.GetType("download_entry")
            ->AddItemAddedHandler(new EventHandler<DownloadsPage, ItemPtr>(this, &DownloadsPage::OnEntryAdded));
    }

    void OnEntryAdded(ItemPtr entry)
    {
        auto* row = new QTreeWidgetItem(tree);
        rows.Add(row, "test_download_node") += entry;
    }

    QTreeWidget* tree;
    RowMirror rows;
};

} // namespace

class TestPageContract : public QObject
{
    Q_OBJECT

private slots:
    void aPageFollowsTheEngineAndOutlivesIt()
    {
        auto* fixture = new ViewFixture;
        auto* page = new DownloadsPage;
        fixture->AddPage(page, "Downloads");
        page->Init();
        QVERIFY(fixture->Start());

        const ItemPtr entry = fixture->transfers->AddDownload("bob", "song.mp3", "music", 1000, true, 0);
        QVERIFY(entry);
        QCOMPARE(page->tree->topLevelItemCount(), 1);
        fixture->transfers->RemoveDownload(entry);
        QCOMPARE(page->tree->topLevelItemCount(), 0);
        fixture->transfers->AddDownload("bob", "other.mp3", "music", 1000, true, 0);

        // What a page hands the desktop is recorded, not opened.
        QDesktopServices::openUrl(QUrl::fromLocalFile("/tmp/x"));
        QCOMPARE(fixture->OpenedUrls(), QList<QUrl>{QUrl::fromLocalFile("/tmp/x")});

        // The engines go first, the page with the window after them.
        delete fixture;
        QCOMPARE(transferQueueManager, nullptr);
    }
};

QTEST_MAIN(TestPageContract)
#include "TestPageContract.moc"
