#include "ShareBrowser.h"

#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "TurnSlice.h"
#include "search/FilterHelpDialog.h"

ShareBrowser::ShareBrowser(QString user, const char* tabType, QWidget* parent)
    : QWidget(parent), m_user(user), m_tabType(tabType),
      m_showJob(ShareFolderTree::SliceFloor, [this](TurnSlice& slice) { return ShowSome(slice); })
{
    d.GetType(tabType)->GetItem(Value(this)) += d.GetType("user")->GetItem(Value(user));
}

ShareBrowser::~ShareBrowser()
{
    // The tab item names this object's address: it must not outlive it.
    if (Type* tabs = d.HasType(m_tabType)) {
        if (ItemPtr tab = tabs->HasItem(Value(this)))
            tab.Remove();
    }
    m_tree.reset();
}

ShareBrowser* ShareBrowser::Of(ItemPtr user, const char* tabType)
{
    const ItemPtr tab = user[tabType];
    return tab ? tab.AsObject<ShareBrowser>() : nullptr;
}

void ShareBrowser::SetUpBrowser(QTreeWidget* folderTree, QTreeWidget* fileList, QLineEdit* filterEdit,
                                const QList<QWidget*>& hiddenUntilShown)
{
    m_folderTree = folderTree;
    m_fileList = fileList;
    m_filterEdit = filterEdit;
    m_hiddenUntilShown = hiddenUntilShown;
    m_tree.reset(new ShareFolderTree(this, folderTree, fileList));
    for (QWidget* widget : m_hiddenUntilShown)
        widget->hide();
}

void ShareBrowser::SetSliceSteps(int steps)
{
    m_showJob.SetMostSteps(steps);
    m_tree->SetSliceSteps(steps);
}

void ShareBrowser::ShowShare(ItemPtr share, ShareFolderTree::FolderOrder order, bool sliced)
{
    m_tree->BeginBuild(share, order);
    if (!sliced) {
        TurnSlice whole = TurnSlice::Whole();
        ShowSome(whole);
        return;
    }
    // Nodes made of the share's folders, not yet in the tree, go with it.
    m_showJob.Over(share, [this] { StopShowing(); });
    m_showJob.Start();
}

bool ShareBrowser::ShowSome(TurnSlice& slice)
{
    if (!m_tree->BuildSome(slice)) {
        Filling();
        return false;
    }
    if (GetSetting("expand_new_shares") == QLatin1String("yes"))
        m_folderTree->expandAll();
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ShareBrowser::OnActionBarTriggered,
                Qt::UniqueConnection);
    m_tree->ResetExpandLevel();
    for (QWidget* widget : m_hiddenUntilShown)
        widget->show();
    m_shown = true;
    ShareShown();
    return true;
}

void ShareBrowser::StopShowing()
{
    StopOwnWork();
    m_showJob.Stop();
    m_tree->Clear();
}

void ShareBrowser::Close(ItemPtr share)
{
    m_showJob.Stop();
    // The rows go before the data they show: at once but for a long file
    // list, whose rows are deleted over the next turns before the browser
    // goes.
    m_tree->Clear();
    if (sharedFoldersManager)
        sharedFoldersManager->ReleaseShare(share);
    if (ItemPtr tab = d.GetType(m_tabType)->HasItem(Value(this)))
        tab.Remove();
    m_tree->WhenIdle([this] { deleteLater(); });
}

// ---------------------------------------------------------------------------
// Folders, files, the filter and the toolbar

void ShareBrowser::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    m_tree->ShowFiles(current, m_filterEdit->text());
}

void ShareBrowser::OnFilterTextChanged(QString text)
{
    m_tree->Filter(text);
}

void ShareBrowser::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void ShareBrowser::OnActionBarTriggered(QWidget* widget, QString action)
{
    if (widget != this)
        return;
    if (action == QLatin1String("expand_level"))
        ExpandLevel();
    else if (action == QLatin1String("collapse_all"))
        CollapseAll();
    else if (action == QLatin1String("expand_all"))
        ExpandAll();
    else
        OnOwnAction(action);
}

void ShareBrowser::OnOwnAction(const QString&) {}

void ShareBrowser::ExpandLevel()
{
    m_tree->ExpandOneLevel();
}

void ShareBrowser::ExpandAll()
{
    m_tree->ExpandAll();
}

void ShareBrowser::CollapseAll()
{
    m_tree->CollapseAll();
}

// ---------------------------------------------------------------------------
// What downloads and uploads are made of

ItemList ShareBrowser::SelectedFolders() const
{
    ItemList folders;
    for (const QTreeWidgetItem* node : m_folderTree->selectedItems()) {
        if (const ItemPtr folder = m_tree->FolderOf(node))
            folders.push_back(folder);
    }
    return folders;
}

ItemList ShareBrowser::FilesOf(const QList<QTreeWidgetItem*>& rows) const
{
    ItemList files;
    for (const QTreeWidgetItem* row : rows) {
        if (const ItemPtr file = m_tree->FileOf(row))
            files.push_back(file);
    }
    return files;
}

void ShareBrowser::MarkFiles(const ItemList& files, const QString& icon) const
{
    QList<QTreeWidgetItem*> rows;
    for (const ItemPtr& file : files) {
        if (QTreeWidgetItem* row = m_tree->RowOf(file))
            rows.append(row);
    }
    // Loading the picture costs more than a deep walk's other work per
    // folder: only when a row wants it.
    if (rows.isEmpty())
        return;
    const QIcon shown(icon);
    // The list hears of each row's change by searching for the row among
    // all of them: a folder of 100,000 rows marked row by row would take
    // minutes. An icon moves no row, so the list is only painted again.
    QAbstractItemModel* model = m_fileList->model();
    {
        const QSignalBlocker quiet(model);
        for (QTreeWidgetItem* row : rows)
            row->setIcon(0, shown);
    }
    m_fileList->viewport()->update();
}

void ShareBrowser::ShowMenu(QTreeWidget* tree, QPoint point, const QString& text, const std::function<void()>& chosen)
{
    if (tree == m_folderTree && !tree->itemAt(point))
        return;
    QMenu menu;
    menu.addAction(QIcon(":/icons/transfer_icon"), text, this, chosen);
    menu.exec(tree->viewport()->mapToGlobal(point));
}
