// The frame of the transfers page: its form before any engine, the controls
// filled from stored settings without writing them and then steering the
// engine, the clearing switches, the active counts in the tab title, the
// toolbar toggles and the recolouring after the colour dialog.
#include <QCheckBox>
#include <QHeaderView>
#include <QPointer>
#include <QSpinBox>

#include "Settings.h"
#include "TransfersPageHarness.h"

namespace {

// Every setting written while it lives, as "key=value", in the order
// written.
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
    QStringList Of(const QString& key) const { return writes.filter(QRegularExpression("^" + key + "=")); }
};

} // namespace

class TestTransfersPage : public QObject
{
    Q_OBJECT

private slots:
    void theFormStandsBeforeAnyEngine()
    {
        d.Reset();
        QPointer<TransfersForm> form = new TransfersForm;
        QCOMPARE(transfersForm, form.data());
        QCOMPARE(form->objectName(), QString("TransfersForm"));
        auto* downloads = form->findChild<QTreeWidget*>("downloadsList");
        auto* uploads = form->findChild<QTreeWidget*>("uploadsList");
        QCOMPARE(downloads->columnCount(), 9);
        QCOMPARE(downloads->headerItem()->text(5), QString("   ETA"));
        QCOMPARE(downloads->headerItem()->text(8), QString("Place"));
        QCOMPARE(downloads->columnWidth(4), 140);
        QCOMPARE(uploads->columnCount(), 8);
        QVERIFY(downloads->header()->stretchLastSection());
        QVERIFY(!uploads->header()->stretchLastSection());
        QVERIFY(!downloads->header()->sectionsMovable());
        QCOMPARE(downloads->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(form->findChild<QSpinBox*>("uploadSlotsSpinBox")->minimum(), 1);
        QCOMPARE(form->findChild<QSpinBox*>("downloadLimitSpinBox")->maximum(), 99999);
        // Nothing of the store was touched.
        QCOMPARE(d.GetTypes().size(), size_t(0));
        delete form;
        QCOMPARE(transfersForm, nullptr);
    }

    void storedSettingsFillTheControlsWithoutBeingWritten()
    {
        TransfersPageHarness h;
        // As the data file left them.
        SetSetting("upload_speed_limit", "50");
        SetSetting("upload_speed_limit_enabled", "yes");
        SetSetting("upload_slots", "3");
        SetSetting("download_speed_limit", "250000");
        SetSetting("download_speed_limit_enabled", "no");
        SetSetting("clear_complete_downloads", "yes");
        SettingWrites record;
        QVERIFY(h.f->Start());

        QCOMPARE(h.Control<QSpinBox>("uploadLimitSpinBox")->value(), 50);
        QVERIFY(h.Control<QCheckBox>("uploadLimitCheckBox")->isChecked());
        QCOMPARE(h.Control<QSpinBox>("uploadSlotsSpinBox")->value(), 3);
        QCOMPARE(h.Control<QSpinBox>("downloadLimitSpinBox")->value(), 99999);
        QVERIFY(!h.Control<QCheckBox>("downloadLimitCheckBox")->isChecked());
        QVERIFY(h.Control<QCheckBox>("clearDownloadsCheckBox")->isChecked());
        QVERIFY(!h.Control<QCheckBox>("clearUploadsCheckBox")->isChecked());
        for (const char* key : {"upload_speed_limit", "upload_speed_limit_enabled", "upload_slots",
                                "download_speed_limit", "download_speed_limit_enabled", "clear_complete_downloads",
                                "clear_complete_aborted_uploads"})
            QVERIFY2(record.Of(key).isEmpty(), key);
        QCOMPARE(GetSetting("download_speed_limit"), QString("250000"));
    }

    void speedBoxesSwitchTheirLimitAndTellTheEngine()
    {
        TransfersPageHarness h;
        QVERIFY(h.f->Start());
        SettingWrites record;
        auto* speed = h.Control<QSpinBox>("downloadLimitSpinBox");
        auto* limit = h.Control<QCheckBox>("downloadLimitCheckBox");

        // A speed switches the limit on, first the switch, then the value.
        speed->setValue(5);
        QCOMPARE(record.writes, QStringList({"download_speed_limit_enabled=yes", "download_speed_limit=5"}));
        QVERIFY(limit->isChecked());
        QCOMPARE(h.f->transfers->GetDownloadSpeed(), 5);
        // 0 switches it off, again before the value is stored.
        record.writes.clear();
        speed->setValue(0);
        QCOMPARE(record.writes, QStringList({"download_speed_limit_enabled=no", "download_speed_limit=0"}));
        QVERIFY(!limit->isChecked());
        QCOMPARE(h.f->transfers->GetDownloadSpeed(), 0);
        // Switching on at 0 is a limit of nothing: no limit.
        record.writes.clear();
        limit->click();
        QCOMPARE(record.writes, QStringList({"download_speed_limit_enabled=yes"}));
        QCOMPARE(h.f->transfers->GetDownloadSpeed(), 0);

        record.writes.clear();
        h.Control<QSpinBox>("uploadLimitSpinBox")->setValue(120);
        QCOMPARE(record.writes, QStringList({"upload_speed_limit_enabled=yes", "upload_speed_limit=120"}));
        QCOMPARE(h.f->transfers->GetUploadSpeed(), 120);
        h.Control<QCheckBox>("uploadLimitCheckBox")->click();
        QCOMPARE(GetSetting("upload_speed_limit_enabled"), QString("no"));
        QCOMPARE(h.f->transfers->GetUploadSpeed(), 0);

        h.Control<QSpinBox>("uploadSlotsSpinBox")->setValue(4);
        QCOMPARE(GetSetting("upload_slots"), QString("4"));
    }

    void clearingSwitchesLeaveNoValueWhenOff()
    {
        TransfersPageHarness h;
        QVERIFY(h.f->Start());
        for (const char* name : {"clearDownloadsCheckBox", "clearUploadsCheckBox"}) {
            const char* key = QByteArray(name) == "clearDownloadsCheckBox" ? "clear_complete_downloads"
                                                                            : "clear_complete_aborted_uploads";
            auto* box = h.Control<QCheckBox>(name);
            box->click();
            QCOMPARE(GetSetting(key), QString("yes"));
            box->click();
            QVERIFY2(!GetSettingItem(key)["global_value"], key);
            QVERIFY(!IsSettingOn(key));
        }
    }

    void theTabTitleCountsRunningTransfers()
    {
        TransfersPageHarness h;
        QCOMPARE(h.TabTitle(), QString("Transfers [0/0]"));
        QVERIFY(h.f->Start());
        const ItemPtr first = h.f->transfers->AddDownload("bob", "a.bin", "x", 100, false, 0);
        const ItemPtr second = h.f->transfers->AddDownload("bob", "b.bin", "x", 100, false, 0);
        h.f->transfers->SetDownloadEntryStatus(first, "downloading");
        QCOMPARE(h.TabTitle(), QString("Transfers [1/0]"));
        h.f->transfers->SetDownloadEntryStatus(second, "downloading");
        QCOMPARE(h.TabTitle(), QString("Transfers [2/0]"));
        // A removal counts once it is over.
        h.f->transfers->RemoveDownload(first);
        QTRY_COMPARE(h.TabTitle(), QString("Transfers [1/0]"));
        h.f->transfers->SetDownloadEntryStatus(second, "complete");
        QCOMPARE(h.TabTitle(), QString("Transfers [0/0]"));
    }

    void toolbarTogglesShowAndSwitchTheirState()
    {
        TransfersPageHarness h;
        QVERIFY(h.f->Start());
        h.f->transfers->AddDownload("bob", "a.bin", "music\\x", 100, false, 0);
        h.f->transfers->AddDownload("bob", "b.bin", "music\\y", 100, false, 0);
        h.f->transfers->AddDownload("eve", "c.bin", "music\\x", 100, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* bob = TransfersPageHarness::UserRow(tree, "bob");
        QTreeWidgetItem* eve = TransfersPageHarness::UserRow(tree, "eve");
        QVERIFY(bob->isExpanded() && eve->isExpanded() && bob->child(0)->isExpanded());

        QAction* users = h.Action(tree, "Expand Users [on]");
        QVERIFY(users);
        users->trigger();
        QVERIFY(!bob->isExpanded() && !eve->isExpanded());
        // A collapsed user shows the state of its downloads.
        QCOMPARE(bob->text(3), QString("queued"));
        QCOMPARE(users->text(), QString("Expand Users [off]"));
        // New users come collapsed while the switch is off.
        h.f->transfers->AddDownload("zed", "d.bin", "music\\z", 100, false, 0);
        QVERIFY(!TransfersPageHarness::UserRow(tree, "zed")->isExpanded());
        users->trigger();
        QVERIFY(bob->isExpanded() && eve->isExpanded());
        QCOMPARE(bob->text(3), QString());
        QCOMPARE(users->text(), QString("Expand Users [on]"));

        QAction* folders = h.Action(tree, "Expand Folders [on]");
        QVERIFY(folders);
        folders->trigger();
        QVERIFY(!bob->child(0)->isExpanded() && !bob->child(1)->isExpanded() && !eve->child(0)->isExpanded());
        QVERIFY(bob->isExpanded());
        QCOMPARE(folders->text(), QString("Expand Folders [off]"));

        QAction* quit = h.Action(h.Uploads(), "Finish Uploads and Quit [off]");
        QVERIFY(quit);
        quit->trigger();
        QCOMPARE(GetRuntimeSetting("finish_uploads_and_quit"), QString("yes"));
        QCOMPARE(quit->text(), QString("Finish Uploads and Quit [on]"));
        quit->trigger();
        QCOMPARE(GetRuntimeSetting("finish_uploads_and_quit"), QString("no"));
        QCOMPARE(quit->text(), QString("Finish Uploads and Quit [off]"));
        // The uploads tree keeps its own expansion switches.
        QVERIFY(h.Action(h.Uploads(), "Expand Users [on]"));
    }

    void recolouringFollowsTheColourSettings()
    {
        TransfersPageHarness h;
        SetSetting("color_transfer_queued", "#3366ff");
        SetSetting("color_transfer_complete", "#006400");
        SetSetting("color_transfer_other", "#000000");
        QVERIFY(h.f->Start());
        const ItemPtr done = h.f->transfers->AddDownload("bob", "a.bin", "x", 100, false, 0);
        const ItemPtr waiting = h.f->transfers->AddDownload("bob", "b.bin", "x", 100, false, 0);
        h.f->transfers->SetDownloadEntryStatus(done, "complete");
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* bob = TransfersPageHarness::UserRow(tree, "bob");
        QTreeWidgetItem* doneRow = TransfersPageHarness::FileRow(tree, "bob", "x", "a.bin");
        QCOMPARE(TransfersPageHarness::Colour(doneRow), QColor("#006400"));
        QCOMPARE(TransfersPageHarness::Colour(doneRow, 8), QColor("#006400"));
        QCOMPARE(TransfersPageHarness::Colour(bob), QColor("#3366ff"));

        // The colour dialog saves, then asks the page; a collapsed row
        // shows its state again.
        SetSetting("color_transfer_queued", "#aa0000");
        SetSetting("color_transfer_complete", "no colour at all");
        bob->setExpanded(false);
        bob->setText(3, QString());
        h.page->RecolorEntries();
        QCOMPARE(TransfersPageHarness::Colour(doneRow), QColor("#000000"));
        QCOMPARE(TransfersPageHarness::Colour(TransfersPageHarness::Child(bob->child(0), 2, "b.bin")),
                 QColor("#aa0000"));
        QCOMPARE(TransfersPageHarness::Colour(bob), QColor("#aa0000"));
        QCOMPARE(bob->text(3), QString("queued"));
        Q_UNUSED(waiting);
    }
};

QTEST_MAIN(TestTransfersPage)
#include "TestTransfersPage.moc"
