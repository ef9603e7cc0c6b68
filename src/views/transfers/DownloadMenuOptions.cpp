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

} // namespace

DownloadMenuOptions::DownloadMenuOptions(QMenu* ip_menu, const TransferTree::MenuSelection& i_selection,
                                         QObject* ip_parent)
    : QObject(ip_parent)
{
    const ItemPtr first = i_selection.first;
    if (!first)
        return;
    m_first.Add(first);
    m_several = i_selection.several;
    if (!ip_menu->isEmpty())
        ip_menu->addSeparator();

    if (!m_several && StatusOf(first) == QLatin1String(TransferNames::Complete))
        ip_menu->addAction(QIcon(":/icons/play_icon"), tr("Open File"), this, &DownloadMenuOptions::OnOpenFile);
    ip_menu->addAction(QIcon(":/icons/folder_icon"), tr("Open Folder"), this, &DownloadMenuOptions::OnOpenFolder);
    if (m_several)
        ip_menu->addAction(QIcon(":/icons/transfer_icon"), tr("Retry downloads"), this,
                           &DownloadMenuOptions::OnRetryDownloads);
    else if (StatusOf(first) != QLatin1String(TransferNames::Complete) && !IsRunning(first))
        ip_menu->addAction(QIcon(":/icons/transfer_icon"), tr("Retry download"), this,
                           &DownloadMenuOptions::OnRetryDownloads);
    ip_menu->addSeparator();
    ip_menu->addAction(QIcon(":/icons/transfer_icon"), m_several ? tr("Remove downloads") : tr("Remove download"), this,
                       &DownloadMenuOptions::OnRemoveDownloads);

    m_user = i_selection.user;
    m_folder = i_selection.folder;
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
    if (!m_several && DownloadAlerts::CanWatchFile(First()))
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
    if (transferQueueManager && First())
        OpenLocalPath(transferQueueManager->GetDownloadTargetPath(First(), true));
}

void DownloadMenuOptions::OnOpenFolder()
{
    if (transferQueueManager && First())
        OpenLocalPath(transferQueueManager->GetDownloadTargetFolder(First(), true));
}

void DownloadMenuOptions::OnRetryDownloads()
{
    emit RetryChosen();
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    emit RemoveChosen();
}

// The conditions are asked again: the menu may have stood open while the
// download completed or another menu made the same request.

void DownloadMenuOptions::OnSetFileDownloadAlert()
{
    const ItemPtr entry = First();
    if (transfersForm && !m_several && DownloadAlerts::CanWatchFile(entry))
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
