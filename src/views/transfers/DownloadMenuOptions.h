#pragma once

#include <QObject>
#include <QString>

#include "ItemPtr.h"
#include "TransferTree.h"
#include "common/KeptItems.h"

class QMenu;

// The download entries of the downloads tree's context menu, and what they
// do: open the finished file or its folder, retry, remove, ask to be told
// when a file, a folder or all of a user's downloads complete, and run the
// search that found the download again. One object per menu, made for the
// selected rows of the downloads tree and destroyed after the menu closes.
//
// The entries shown are worked out from as little of the selection as
// their texts need: retry and remove act on every download below the rows
// still selected when one of them is chosen (the page does that work, as
// for the Delete key), so opening the menu costs the same on a hundred
// thousand rows as on one.
//
// The menu runs its own event loop, during which entries may be removed (a
// completed download cleared, the user's Delete key in another window):
// the object keeps its items in a KeptItems, so each slot acts only on
// those still there, and looks rows up again rather than keeping them.
class DownloadMenuOptions : public QObject
{
    Q_OBJECT

public:
    // With no entry selected nothing is added, not even a separator.
    DownloadMenuOptions(QMenu* ip_menu, const TransferTree::MenuSelection& i_selection, QObject* ip_parent = nullptr);

signals:
    // Retry or remove every download below the selected rows.
    void RetryChosen();
    void RemoveChosen();

public slots:
    void OnOpenFile();
    void OnOpenFolder();
    void OnRetryDownloads();
    void OnRemoveDownloads();
    void OnSetFileDownloadAlert();
    void OnSetFolderDownloadAlert();
    void OnSetUserDownloadAlert();
    void OnRerunSearch();

private:
    void AddAlerts(QMenu* menu);
    // The first selected download, while it is there.
    ItemPtr First() const { return m_first.First(); }
    // The user and the folder when they are the same for every entry and
    // still there; null otherwise.
    ItemPtr User() const { return m_anchors.Alive(m_user); }
    ItemPtr Folder() const { return m_anchors.Alive(m_folder); }

    KeptItems m_first;
    bool m_several = false;
    QString m_searchText;
    KeptItems m_anchors;
    ItemPtr m_user;
    ItemPtr m_folder;
};
