#pragma once

#include <QObject>
#include <QString>

#include "ItemPtr.h"
#include "ItemSet.h"
#include "common/KeptItems.h"

class QMenu;

// The download entries of the downloads tree's context menu, and what they
// do: open the finished file or its folder, retry, remove, ask to be told
// when a file, a folder or all of a user's downloads complete, and run the
// search that found the download again. One object per menu, made for the
// "download_entry" items of the selected rows and destroyed after the menu
// closes.
//
// The menu runs its own event loop, during which entries may be removed (a
// completed download cleared, the user's Delete key in another window):
// the object keeps its items in a KeptItems, so each slot acts only on
// those still there, and looks rows up again rather than keeping them.
class DownloadMenuOptions : public QObject
{
    Q_OBJECT

public:
    // With no entries nothing is added, not even a separator.
    DownloadMenuOptions(QMenu* ip_menu, ItemSet i_entries, QObject* ip_parent = nullptr);

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
    // The user and the folder when they are the same for every entry and
    // still there; null otherwise.
    ItemPtr User() const { return m_anchors.Alive(m_user); }
    ItemPtr Folder() const { return m_anchors.Alive(m_folder); }

    KeptItems m_entries;
    QString m_searchText;
    KeptItems m_anchors;
    ItemPtr m_user;
    ItemPtr m_folder;
};
