// The page's toolbar actions and the half-minute pruning of stale uploads.
#include "TransfersForm.h"

#include <QDateTime>

#include "ActionSetToolBar.h"
#include "AtomicDateTime.h"
#include "CompleteDownloadsForm.h"
#include "Data.h"
#include "Settings.h"
#include "TransferQueueManager.h"
#include "UploadPruning.h"
#include "ui_TransfersForm.h"

namespace {

QString Switched(const QString& text, bool on)
{
    return text + (on ? QStringLiteral(" [on]") : QStringLiteral(" [off]"));
}

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

bool IsQueued(ItemPtr upload)
{
    return upload["upload_entry_status"].AsString() == QLatin1String("queued");
}

qint64 LastReceiptMs(ItemPtr upload)
{
    const ItemPtr receipt = upload["last_receipt_time"];
    const auto* time = receipt ? receipt.AsObject<AtomicDateTime>() : nullptr;
    return time && time->IsValid() ? time->Get().toMSecsSinceEpoch() : UploadPruning::NoTime;
}

} // namespace

void TransfersForm::OnActionBarTriggered(QWidget*, QString i_action)
{
    if (i_action == QLatin1String("remove_download"))
        DeleteSelectedDownloads();
    else if (i_action == QLatin1String("dl_add_user"))
        AddSelectedUsersToUserList();
    else if (i_action == QLatin1String("expand_download_folders"))
        ToggleExpansion(m_downloads, false);
    else if (i_action == QLatin1String("expand_download_users"))
        ToggleExpansion(m_downloads, true);
    else if (i_action == QLatin1String("expand_upload_folders"))
        ToggleExpansion(m_uploads, false);
    else if (i_action == QLatin1String("expand_upload_users"))
        ToggleExpansion(m_uploads, true);
    else if (i_action == QLatin1String("complete_downloads"))
        ShowCompleteDownloads();
    else if (i_action == QLatin1String("clear_complete_downloads"))
        ClearCompleteDownloads();
    else if (i_action == QLatin1String("clear_complete_and_aborted_uploads"))
        ClearCompleteAndAbortedUploads();
    else if (i_action == QLatin1String("finish_uploads_and_quit"))
        ToggleFinishUploadsAndQuit();
}

void TransfersForm::ToggleExpansion(TransferTree& tree, bool users)
{
    const bool downloads = &tree == &m_downloads;
    bool& flag = downloads ? (users ? expandDownloadUsers : expandDownloadFolders)
                           : (users ? expandUploadUsers : expandUploadFolders);
    flag = !flag;
    const QString id = QStringLiteral("expand_%1_%2").arg(downloads ? "download" : "upload", users ? "users" : "folders");
    actionBar->SetWidgetActionText(tree.Tree(), id, Switched(users ? tr("Expand Users") : tr("Expand Folders"), flag));
    tree.ExpandAll(users, flag);
}

void TransfersForm::AddSelectedUsersToUserList()
{
    for (QTreeWidgetItem* row : ui->downloadsList->selectedItems()) {
        ItemPtr user = m_downloads.UserOf(m_downloads.UserRowOf(row));
        if (user && !user.IsConnected("in_user_list"))
            user.NewItem("in_user_list");
    }
}

void TransfersForm::ShowCompleteDownloads()
{
    if (!completeDownloadsForm) {
        auto* form = new CompleteDownloadsForm(this);
        ui->transfersTabControl->addTab(form, tr("Complete"));
        form->Init();
    }
    // Showing a page of a tab control that is not its current one would
    // draw it over the current page: the user asked to see the list, so
    // its tab comes forward.
    ui->transfersTabControl->setCurrentWidget(completeDownloadsForm);
}

void TransfersForm::ClearCompleteDownloads()
{
    const ItemPtr complete = d.GetType("download_entry_status")->HasItem("complete");
    RemoveEach(complete.GetItems("download_entry").List(), true);
}

void TransfersForm::ClearCompleteAndAbortedUploads()
{
    // Finished, aborted, denied and failed uploads go at once; queued ones
    // only when their user has been gone for a while.
    ItemList finished;
    for (const ItemPtr& status : d.GetType("upload_entry_status")->GetItems().NotConnected("is_active")) {
        if (status.AsString() == QLatin1String("queued"))
            continue;
        for (const ItemPtr& entry : status.GetItems("upload_entry"))
            finished.push_back(entry);
    }
    RemoveEach(finished, false);

    const qint64 now = NowMs();
    ItemList gone;
    const ItemPtr queued = d.GetType("upload_entry_status")->HasItem("queued");
    for (const ItemPtr& entry : queued.GetItems("upload_entry")) {
        const ItemPtr user = entry["user"];
        if (UploadPruning::UserGoneLongEnough(user.IsConnected("is_online"),
                                              user["last_online_status_change"].AsString(), now))
            gone.push_back(entry);
    }
    RemoveEach(gone, false);
}

void TransfersForm::ToggleFinishUploadsAndQuit()
{
    const bool on = !IsRuntimeSettingOn("finish_uploads_and_quit");
    SetRuntimeSetting("finish_uploads_and_quit", on ? "yes" : "no");
    actionBar->SetWidgetActionText(ui->uploadsList, "finish_uploads_and_quit",
                                   Switched(tr("Finish Uploads and Quit"), on));
}

void TransfersForm::EveryHalfMinute()
{
    const qint64 now = NowMs();
    if (!IsSettingOn("clear_complete_aborted_uploads"))
        return;
    ItemList stale;
    for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems()) {
        const ItemPtr user = entry["user"];
        if (UploadPruning::Stale(IsQueued(entry), user.IsConnected("is_online"),
                                 user["last_online_status_change"].AsString(),
                                 entry["last_status_change_time"].AsString(), LastReceiptMs(entry), now))
            stale.push_back(entry);
    }
    RemoveEach(stale, false);
}
