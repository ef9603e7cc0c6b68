#include "SearchResultMenuOptions.h"

#include <QHash>
#include <QIcon>
#include <QMenu>
#include <QSet>
#include <QStringList>
#include <QTreeWidget>
#include <algorithm>

#include "Data.h"
#include "PeerNames.h"
#include "SearchResultsForm.h"
#include "ServerNames.h"
#include "TransferQueueManager.h"

namespace {

SearchResultMenuOptions::FolderBrowser& Browser()
{
    static SearchResultMenuOptions::FolderBrowser browser;
    return browser;
}

SearchResultsForm* PageOf(QTreeWidgetItem* item)
{
    QWidget* widget = item ? item->treeWidget() : nullptr;
    while (widget && !qobject_cast<SearchResultsForm*>(widget))
        widget = widget->parentWidget();
    return qobject_cast<SearchResultsForm*>(widget);
}

bool IsFolderRow(const SearchResultsForm* page, const QTreeWidgetItem* row)
{
    return page->Rows().Node(row).GetType() == d.HasType("search_results_folder_node");
}

} // namespace

SearchResultMenuOptions::SearchResultMenuOptions(QMenu* menu, QTreeWidgetItem* item, QObject* parent)
    : QObject(parent), m_page(PageOf(item))
{
    if (!m_page)
        return;
    if (const ItemPtr result = m_page->ResultOf(item)) {
        menu->addAction(QIcon(":/icons/download_icon"), tr("Download File(s)"), this,
                        &SearchResultMenuOptions::OnDownloadFile);
        m_folder = result[PeerNames::SearchResultFileFolder].AsString();
    } else if (IsFolderRow(m_page, item)) {
        m_folder = m_page->Rows().Item(item, PeerNames::SearchResultFileFolder).AsString();
    } else {
        return;
    }
    m_user = m_page->UserOf(item);
    menu->addAction(QIcon(":/icons/downloads_icon"), tr("Download Folder(s)"), this,
                    &SearchResultMenuOptions::OnDownloadFolder);
    menu->addAction(QIcon(":/icons/browse_icon"), tr("Browse Folder"), this, &SearchResultMenuOptions::OnBrowseFolder);
}

void SearchResultMenuOptions::SetFolderBrowser(FolderBrowser browser)
{
    Browser() = std::move(browser);
}

void SearchResultMenuOptions::OnDownloadFile()
{
    if (!m_page)
        return;
    const QList<QTreeWidgetItem*> rows = m_page->searchResults()->selectedItems();
    const bool single = rows.size() == 1;
    // One at a time, so they queue in the order the tree gives them.
    for (QTreeWidgetItem* row : rows) {
        const ItemPtr result = m_page->ResultOf(row);
        if (!result)
            break;
        m_page->QueueDownloads({result}, single);
    }
}

void SearchResultMenuOptions::OnDownloadFolder()
{
    if (!m_page)
        return;
    ItemSet results;
    // A file row stands for its whole folder in its reply; several rows of
    // one folder gather it once.
    QSet<QPair<Item*, Item*>> gathered;
    // The chosen folders by user: a file whose folder lies below another
    // chosen one keeps its path from that one down.
    QHash<QString, QStringList> chosen;
    for (QTreeWidgetItem* row : m_page->searchResults()->selectedItems()) {
        if (const ItemPtr result = m_page->ResultOf(row)) {
            const ItemPtr reply = result[PeerNames::SearchResults];
            const ItemPtr folder = result[PeerNames::SearchResultFileFolder];
            chosen[m_page->UserOf(row)] << folder.AsString();
            results.insert(result);
            const QPair<Item*, Item*> key(reply.GetItemPointer(), folder.GetItemPointer());
            if (folder && !gathered.contains(key)) {
                gathered.insert(key);
                results.Add(reply.GetItems(PeerNames::SearchResult).Connected(folder));
            }
        } else if (IsFolderRow(m_page, row)) {
            chosen[m_page->UserOf(row)] << m_page->Rows().Item(row, PeerNames::SearchResultFileFolder).AsString();
            // Files the filter hides belong to the folder too.
            for (int i = 0; i < row->childCount(); ++i)
                if (const ItemPtr file = m_page->ResultOf(row->child(i)))
                    results.insert(file);
        }
    }
    // By name only, exactly as stored; equal names stay in store order.
    ItemList ordered = results.List();
    std::stable_sort(ordered.begin(), ordered.end(), [](const ItemPtr& a, const ItemPtr& b) {
        return a[PeerNames::SearchResultFileName].AsStdString() < b[PeerNames::SearchResultFileName].AsStdString();
    });
    for (const ItemPtr& result : ordered) {
        if (transferQueueManager &&
            transferQueueManager->HasExcludedDownloadExtension(result[PeerNames::SearchResultFileName].AsString()))
            continue;
        const QString user = result[PeerNames::SearchResults][ServerNames::User].AsString();
        m_page->QueueDownloads({result}, false,
                               LevelBelowChosen(result[PeerNames::SearchResultFileFolder].AsString(), chosen[user]));
    }
}

int SearchResultMenuOptions::LevelBelowChosen(const QString& folder, const QStringList& chosen)
{
    int level = 0;
    for (const QString& top : chosen)
        if (folder.size() > top.size() && folder.startsWith(top + '\\'))
            level = std::max(level, int(folder.mid(top.size()).count('\\')));
    return level;
}

void SearchResultMenuOptions::OnBrowseFolder()
{
    if (Browser())
        Browser()(m_user, m_folder);
}
