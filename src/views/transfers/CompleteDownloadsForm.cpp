#include "CompleteDownloadsForm.h"

#include <QHeaderView>

#include "CompleteDownloadItem.h"
#include "Data.h"
#include "DataSaver.h"
#include "PeriodicDuties.h"
#include "ServerNames.h"
#include "TransferNames.h"
#include "TransferQueueManager.h"
#include "common/ColumnWidths.h"
#include "ui_CompleteDownloadsForm.h"

CompleteDownloadsForm* completeDownloadsForm = nullptr;

namespace {

const char* const kNode = "complete_download_node";

enum Column
{
    FileColumn,
    FolderColumn,
    UserColumn,
    SizeColumn,
    TimeColumn
};

} // namespace

CompleteDownloadsForm::CompleteDownloadsForm(QWidget* parent) : QWidget(parent), ui(new Ui_CompleteDownloadsForm)
{
    completeDownloadsForm = this;
    ui->setupUi(this);
    QTreeWidget* list = ui->downloadList;
    list->setHeaderLabels({tr("File"), tr("Folder"), tr("User"), tr("Size"), tr("Completion time")});
    // The completion time is written out in full, weekday to year.
    ColumnWidths::Set(list, {250, 250, 100, 100, 150},
                      {QString(), QString(), QString(), "161234567", "Wed Dec 17 11:39:12 2026"});
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
}

CompleteDownloadsForm::~CompleteDownloadsForm()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    delete ui;
    ui = nullptr;
    if (completeDownloadsForm == this)
        completeDownloadsForm = nullptr;
}

void CompleteDownloadsForm::Init()
{
    // A form made again in the same run (as tests do) finds its type.
    if (!d.HasType(kNode)) {
        Type* node = d.NewType(kNode, 0, false, true);
        node->RelateToType(d.GetType(TransferNames::CompleteDownload), one, one, false);
    }
    m_rows.FollowRemovalOf(TransferNames::CompleteDownload, kNode);
    if (transferQueueManager)
        connect(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded, this,
                &CompleteDownloadsForm::OnCompleteDownloadAdded);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    // Opened during a run, the list starts with what finished before.
    ListExisting();
}

void CompleteDownloadsForm::DataLoaded()
{
    ListExisting();
}

void CompleteDownloadsForm::ListExisting()
{
    // In the store's order, which is the order of completion: among rows
    // of one second each later one goes first.
    for (const ItemPtr& download : d.GetType(TransferNames::CompleteDownload)->GetItems())
        OnCompleteDownloadAdded(download);
}

int CompleteDownloadsForm::PlaceOf(qint64 completedMs) const
{
    // Rows are newest first: find the first one that did not complete
    // after completedMs.
    int low = 0;
    int high = ui->downloadList->topLevelItemCount();
    while (low < high) {
        const int middle = (low + high) / 2;
        const auto* row = static_cast<const CompleteDownloadItem*>(ui->downloadList->topLevelItem(middle));
        if (row->CompletedMs() > completedMs)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void CompleteDownloadsForm::OnCompleteDownloadAdded(ItemPtr ip_completeDownload)
{
    if (!ip_completeDownload || ip_completeDownload[kNode])
        return;
    const QString time = ip_completeDownload[TransferNames::CompleteDownloadCompletionTime].AsString();
    const qint64 ms = PeriodicDuties::ParseMSecs(time);
    auto* row = new CompleteDownloadItem(ms == PeriodicDuties::Invalid ? CompleteDownloadItem::NoTime : ms);
    row->setText(FileColumn, ip_completeDownload[TransferNames::CompleteDownloadFilename].AsString());
    row->setText(FolderColumn, ip_completeDownload[TransferNames::CompleteDownloadRelativeFolder].AsString());
    row->setText(UserColumn, ip_completeDownload[ServerNames::User].AsString());
    row->setText(SizeColumn, ip_completeDownload[TransferNames::CompleteDownloadFileSize].AsString());
    row->setText(TimeColumn, time);
    ui->downloadList->insertTopLevelItem(PlaceOf(row->CompletedMs()), row);
    m_rows.Add(row, kNode) += ip_completeDownload;
}
