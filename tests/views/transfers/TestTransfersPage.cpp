// The frame of the transfers page: built before any engine, its controls
// filled from stored settings without writing them and then steering the
// engine, the active counts in the tab title, the toolbar toggles and the
// recolouring after the colour dialog.
#include <QCheckBox>
#include <QPointer>
#include <QSpinBox>

#include "Settings.h"
#include "TransfersPageHarness.h"

namespace {

// Every setting written while it lives, as "key=value", in order.
class SettingWrites : public DataHandler
{
public:
    SettingWrites()
    {
        d.AddConnectionEventHandler(d.GetType("global"), d.GetType("global_value"),
                                    new FunctionHandler<ConnectionInfo&>(this, [this](ConnectionInfo& c) {
                                        writes << c.item1.AsString() + "=" + c.item2.AsString();
                                    }));
    }
    QStringList writes;
};

} // namespace

class TestTransfersPage : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

private slots:
    void theFormTouchesNoStoreAndKeepsItsGlobal()
    {
        d.Reset();
        QPointer<TransfersForm> form = new TransfersForm;
        QCOMPARE(transfersForm, form.data());
        QCOMPARE(d.GetTypes().size(), size_t(0));
        delete form;
        QCOMPARE(transfersForm, nullptr);
    }

    void storedSettingsFillTheControlsAndTheControlsSteerTheEngine()
    {
        H h;
        SetSetting("upload_speed_limit", "50");
        SetSetting("upload_speed_limit_enabled", "yes");
        SetSetting("upload_slots", "3");
        SetSetting("download_speed_limit", "250000");
        SetSetting("clear_complete_downloads", "yes");
        SettingWrites record;
        QVERIFY(h.f->Start());
        QCOMPARE(h.Control<QSpinBox>("uploadLimitSpinBox")->value(), 50);
        QVERIFY(h.Control<QCheckBox>("uploadLimitCheckBox")->isChecked());
        QCOMPARE(h.Control<QSpinBox>("uploadSlotsSpinBox")->value(), 3);
        QCOMPARE(h.Control<QSpinBox>("downloadLimitSpinBox")->value(), 99999);
        QVERIFY(h.Control<QCheckBox>("clearDownloadsCheckBox")->isChecked());
        // Showing them wrote nothing.
        QVERIFY2(record.writes.filter(QRegularExpression("limit|slots|clear_")).isEmpty(),
                 qPrintable(record.writes.join(' ')));

        // A speed switches its limit on, 0 off, the switch stored first.
        record.writes.clear();
        auto* speed = h.Control<QSpinBox>("downloadLimitSpinBox");
        speed->setValue(5);
        QCOMPARE(h.f->transfers->GetDownloadSpeed(), 5);
        speed->setValue(0);
        QCOMPARE(record.writes, QStringList({"download_speed_limit_enabled=yes", "download_speed_limit=5",
                                             "download_speed_limit_enabled=no", "download_speed_limit=0"}));
        // On at 0 is no limit.
        h.Control<QCheckBox>("downloadLimitCheckBox")->click();
        QCOMPARE(GetSetting("download_speed_limit_enabled"), QString("yes"));
        QCOMPARE(h.f->transfers->GetDownloadSpeed(), 0);
        h.Control<QSpinBox>("uploadLimitSpinBox")->setValue(120);
        QCOMPARE(h.f->transfers->GetUploadSpeed(), 120);
        h.Control<QSpinBox>("uploadSlotsSpinBox")->setValue(4);
        QCOMPARE(GetSetting("upload_slots"), QString("4"));

        // The clearing switches leave no value when off.
        h.Control<QCheckBox>("clearDownloadsCheckBox")->click();
        QVERIFY(!GetSettingItem("clear_complete_downloads")["global_value"]);
        h.Control<QCheckBox>("clearUploadsCheckBox")->click();
        QCOMPARE(GetSetting("clear_complete_aborted_uploads"), QString("yes"));
    }

    void theTabTitleCountsRunningTransfers()
    {
        H h;
        QCOMPARE(h.TabTitle(), QString("Transfers [0/0]"));
        QVERIFY(h.f->Start());
        const ItemPtr first = h.f->transfers->AddDownload("bob", "a.bin", "x", 100, false, 0);
        const ItemPtr second = h.f->transfers->AddDownload("bob", "b.bin", "x", 100, false, 0);
        h.f->transfers->SetDownloadEntryStatus(first, "downloading");
        h.f->transfers->SetDownloadEntryStatus(second, "downloading");
        QTRY_COMPARE(h.TabTitle(), QString("Transfers [2/0]"));
        h.f->transfers->RemoveDownload(first);
        QTRY_COMPARE(h.TabTitle(), QString("Transfers [1/0]"));

        // A new title repaints the whole page: counts flipping with every
        // small file of a folder change it once, then show where they end.
        int changes = 0;
        QString shown = h.TabTitle();
        for (int i = 0; i < 20; ++i)
            for (const char* status : {"queued", "downloading"}) {
                h.f->transfers->SetDownloadEntryStatus(second, status);
                changes += h.TabTitle() != shown;
                shown = h.TabTitle();
            }
        QVERIFY2(changes <= 1, qPrintable(QString::number(changes)));
        h.f->transfers->SetDownloadEntryStatus(second, "complete");
        QTRY_COMPARE(h.TabTitle(), QString("Transfers [0/0]"));
    }

    void toolbarTogglesShowTheirStateAndColoursFollowTheDialog()
    {
        H h;
        QVERIFY(h.f->Start());
        h.f->transfers->AddDownload("bob", "a.bin", "music\\x", 100, false, 0);
        h.f->transfers->AddDownload("bob", "b.bin", "music\\y", 100, false, 0);
        const ItemPtr c = h.f->transfers->AddDownload("eve", "c.bin", "music\\x", 100, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* bob = H::UserRow(tree, "bob");
        QTreeWidgetItem* eve = H::UserRow(tree, "eve");

        QAction* users = h.Action(tree, "Expand Users [on]");
        QVERIFY(users);
        users->trigger();
        QVERIFY(!bob->isExpanded() && !eve->isExpanded());
        QCOMPARE(bob->text(3), QString("queued"));
        QCOMPARE(users->text(), QString("Expand Users [off]"));
        // New users come collapsed while it is off.
        h.f->transfers->AddDownload("zed", "d.bin", "z", 100, false, 0);
        QVERIFY(!H::UserRow(tree, "zed")->isExpanded());
        users->trigger();
        QVERIFY(bob->isExpanded() && eve->isExpanded());
        QCOMPARE(bob->text(3), QString());
        QAction* folders = h.Action(tree, "Expand Folders [on]");
        QVERIFY(folders);
        folders->trigger();
        QVERIFY(!bob->child(0)->isExpanded() && !bob->child(1)->isExpanded() && bob->isExpanded());
        QCOMPARE(folders->text(), QString("Expand Folders [off]"));

        QAction* quit = h.Action(h.Uploads(), "Finish Uploads and Quit [off]");
        QVERIFY(quit);
        quit->trigger();
        QCOMPARE(GetRuntimeSetting("finish_uploads_and_quit"), QString("yes"));
        QCOMPARE(quit->text(), QString("Finish Uploads and Quit [on]"));
        quit->trigger();
        QCOMPARE(GetRuntimeSetting("finish_uploads_and_quit"), QString("no"));

        // The colour dialog saves, then asks the page to recolour.
        h.f->transfers->SetDownloadEntryStatus(c, "complete");
        SetSetting("color_transfer_queued", "#aa0000");
        SetSetting("color_transfer_complete", "#00aa00");
        h.page->RecolorEntries();
        QCOMPARE(H::Colour(H::FileRow(tree, "bob", "x/music", "a.bin"), 8), QColor("#aa0000"));
        QCOMPARE(H::Colour(H::FileRow(tree, "eve", "x/music", "c.bin")), QColor("#00aa00"));
        QCOMPARE(H::Colour(eve), QColor("#00aa00"));
        QCOMPARE(H::Colour(bob), QColor("#aa0000"));
        QCOMPARE(bob->child(0)->text(3), QString("queued"));
    }
};

QTEST_MAIN(TestTransfersPage)
#include "TestTransfersPage.moc"
