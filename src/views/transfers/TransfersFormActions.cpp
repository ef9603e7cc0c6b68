// The page's toolbar actions and the half-minute pruning of stale uploads.
#include "TransfersForm.h"

#include <QDateTime>

#include "ActionSetToolBar.h"
#include "AtomicDateTime.h"
#include "CompleteDownloadsForm.h"
#include "Data.h"
#include "ServerNames.h"
#include "Settings.h"
#include "TransferNames.h"
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
    return upload[TransferNames::UploadEntryStatus].AsString() == QLatin1String(TransferNames::Queued);
}

qint64 LastReceiptMs(ItemPtr upload)
{
    const ItemPtr receipt = upload[TransferNames::LastReceiptTime];
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
    const QString id =
        QStringLiteral("expand_%1_%2").arg(downloads ? "download" : "upload", users ? "users" : "folders");
    actionBar->SetWidgetActionText(tree.Tree(), id, Switched(users ? tr("Expand Users") : tr("Expand Folders"), flag));
    tree.ExpandAll(users, flag);
}

void TransfersForm::AddSelectedUsersToUserList()
{
    for (QTreeWidgetItem* row : ui->downloadsList->selectedItems()) {
        ItemPtr user = m_downloads.UserOf(m_downloads.UserRowOf(row));
        if (user && !user.IsConnected(ServerNames::InUserList))
            user.NewItem(ServerNames::InUserList);
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
    const ItemPtr complete = d.GetType(TransferNames::DownloadEntryStatus)->HasItem(TransferNames::Complete);
    RemoveEach(complete.GetItems(TransferNames::DownloadEntry).List(), true);
}

void TransfersForm::ClearCompleteAndAbortedUploads()
{
    // Finished, aborted, denied and failed uploads go at once; queued ones
    // only when their user has been gone for a while.
    ItemList finished;
    for (const ItemPtr& status :
         d.GetType(TransferNames::UploadEntryStatus)->GetItems().NotConnected(TransferNames::IsActive)) {
        if (status.AsString() == QLatin1String(TransferNames::Queued))
            continue;
        for (const ItemPtr& entry : status.GetItems(TransferNames::UploadEntry))
            finished.push_back(entry);
    }
    RemoveEach(finished, false);

    const qint64 now = NowMs();
    ItemList gone;
    const ItemPtr queued = d.GetType(TransferNames::UploadEntryStatus)->HasItem(TransferNames::Queued);
    for (const ItemPtr& entry : queued.GetItems(TransferNames::UploadEntry)) {
        const ItemPtr user = entry[ServerNames::User];
        if (UploadPruning::UserGoneLongEnough(user.IsConnected(ServerNames::IsOnline),
                                              user[ServerNames::LastOnlineStatusChange].AsString(), now))
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
    for (const ItemPtr& entry : d.GetType(TransferNames::UploadEntry)->GetItems()) {
        const ItemPtr user = entry[ServerNames::User];
        if (UploadPruning::Stale(IsQueued(entry), user.IsConnected(ServerNames::IsOnline),
                                 user[ServerNames::LastOnlineStatusChange].AsString(),
                                 entry[TransferNames::LastStatusChangeTime].AsString(), LastReceiptMs(entry), now))
            stale.push_back(entry);
    }
    RemoveEach(stale, false);
}
