#include "DownloadMenuOptions.h"

#include <QMenu>

#include "DownloadAlerts.h"
#include "Server.h"
#include "ServerNames.h"
#include "TransferNames.h"
#include "TransferQueueManager.h"
#include "TransfersForm.h"
#include "common/LocalFiles.h"
#include "search/SearchForm.h"

namespace {

QString StatusOf(ItemPtr entry)
{
    return entry[TransferNames::DownloadEntryStatus].AsString();
}

bool IsRunning(ItemPtr entry)
{
    return entry[TransferNames::DownloadEntryStatus].IsConnected(TransferNames::IsActive);
}

// The one item of a type that every entry holds, or null when they hold
// different ones (or none).
ItemPtr Common(const ItemSet& entries, const char* type)
{
    ItemPtr common;
    for (const ItemPtr& entry : entries) {
        const ItemPtr item = entry[type];
        if (!item || (common && item != common))
            return ItemPtr();
        common = item;
    }
    return common;
}

} // namespace

DownloadMenuOptions::DownloadMenuOptions(QMenu* ip_menu, ItemSet i_entries, QObject* ip_parent) : QObject(ip_parent)
{
    if (i_entries.empty())
        return;
    m_entries.Add(i_entries);
    if (!ip_menu->isEmpty())
        ip_menu->addSeparator();

    const size_t count = i_entries.size();
    const ItemPtr first = i_entries.First();
    if (count == 1 && StatusOf(first) == QLatin1String(TransferNames::Complete))
        ip_menu->addAction(QIcon(":/icons/play_icon"), tr("Open File"), this, &DownloadMenuOptions::OnOpenFile);
    ip_menu->addAction(QIcon(":/icons/folder_icon"), tr("Open Folder"), this, &DownloadMenuOptions::OnOpenFolder);
    if (count > 1)
        ip_menu->addAction(QIcon(":/icons/transfer_icon"), tr("Retry downloads"), this,
                           &DownloadMenuOptions::OnRetryDownloads);
    else if (StatusOf(first) != QLatin1String(TransferNames::Complete) && !IsRunning(first))
        ip_menu->addAction(QIcon(":/icons/transfer_icon"), tr("Retry download"), this,
                           &DownloadMenuOptions::OnRetryDownloads);
    ip_menu->addSeparator();
    ip_menu->addAction(QIcon(":/icons/transfer_icon"), count > 1 ? tr("Remove downloads") : tr("Remove download"), this,
                       &DownloadMenuOptions::OnRemoveDownloads);

    m_user = Common(i_entries, ServerNames::User);
    m_folder = Common(i_entries, TransferNames::RemoteFolder);
    m_anchors.Add(m_user);
    m_anchors.Add(m_folder);
    AddAlerts(ip_menu);

    if (const ItemPtr text = first[ServerNames::SearchRequestText]) {
        m_searchText = text.AsString();
        // Results need a search page to show them.
        if (searchForm)
            ip_menu->addAction(QIcon(":/icons/search_icon"), tr("Re-run Search: ") + m_searchText, this,
                               &DownloadMenuOptions::OnRerunSearch);
    }
}

void DownloadMenuOptions::AddAlerts(QMenu* menu)
{
    auto* notify = new QMenu(tr("Notify me when..."), menu);
    notify->setIcon(QIcon(DownloadAlerts::Icon));
    if (m_entries.Size() == 1 && DownloadAlerts::CanWatchFile(m_entries.First()))
        notify->addAction(tr("File download completes"), this, &DownloadMenuOptions::OnSetFileDownloadAlert);
    if (DownloadAlerts::CanWatchFolder(m_user, m_folder))
        notify->addAction(tr("Folder download completes"), this, &DownloadMenuOptions::OnSetFolderDownloadAlert);
    if (transfersForm && DownloadAlerts::CanWatchUser(transfersForm->DownloadTree(), m_user))
        notify->addAction(tr("All downloads from user complete"), this, &DownloadMenuOptions::OnSetUserDownloadAlert);
    if (notify->isEmpty())
        delete notify;
    else
        menu->addMenu(notify);
}

void DownloadMenuOptions::OnOpenFile()
{
    if (transferQueueManager && m_entries.First())
        OpenLocalPath(transferQueueManager->GetDownloadTargetPath(m_entries.First(), true));
}

void DownloadMenuOptions::OnOpenFolder()
{
    if (transferQueueManager && m_entries.First())
        OpenLocalPath(transferQueueManager->GetDownloadTargetFolder(m_entries.First(), true));
}

void DownloadMenuOptions::OnRetryDownloads()
{
    if (transferQueueManager)
        m_entries.ForEach([](ItemPtr entry) { transferQueueManager->RequeueDownload(entry); });
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    if (transferQueueManager)
        m_entries.ForEach([](ItemPtr entry) { transferQueueManager->RemoveDownload(entry); });
}

// The conditions are asked again: the menu may have stood open while the
// download completed or another menu made the same request.

void DownloadMenuOptions::OnSetFileDownloadAlert()
{
    const ItemPtr entry = m_entries.First();
    if (transfersForm && m_entries.Size() == 1 && DownloadAlerts::CanWatchFile(entry))
        DownloadAlerts::WatchFile(transfersForm->DownloadTree(), entry);
}

void DownloadMenuOptions::OnSetFolderDownloadAlert()
{
    if (transfersForm && DownloadAlerts::CanWatchFolder(User(), Folder()))
        DownloadAlerts::WatchFolder(transfersForm->DownloadTree(), User(), Folder());
}

void DownloadMenuOptions::OnSetUserDownloadAlert()
{
    if (transfersForm && DownloadAlerts::CanWatchUser(transfersForm->DownloadTree(), User()))
        DownloadAlerts::WatchUser(transfersForm->DownloadTree(), User());
}

void DownloadMenuOptions::OnRerunSearch()
{
    // Always network-wide, whatever the first search's target was.
    if (searchForm && gp_server)
        searchForm->CreateSearchForm(gp_server->FileSearch(m_searchText, QString()), m_searchText, NetworkSearch);
}
