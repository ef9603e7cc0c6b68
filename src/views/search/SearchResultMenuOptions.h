#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QMenu;
class QTreeWidgetItem;
class SearchResultsForm;

// The download and browse entries of a results page's context menu for the
// row that was clicked, and what they do: "Download File(s)" queues the
// selected files, "Download Folder(s)" the whole folders of the selected
// rows (without excluded extensions), "Browse Folder" opens the clicked
// row's folder in the user's share browser. A user row gets no entry.
//
// Lives on the stack of the page's menu handler while the menu runs its
// own event loop, so it keeps the page guarded and the clicked row's user
// and folder as text, and reads the selection again when an entry is
// chosen.
class SearchResultMenuOptions : public QObject
{
    Q_OBJECT

public:
    // Opens a user's share browser at a remote folder ("\" separators).
    typedef std::function<void(const QString& user, const QString& folder)> FolderBrowser;

    SearchResultMenuOptions(QMenu* menu, QTreeWidgetItem* item, QObject* parent = nullptr);

    // The share views hand over their browser here; until then "Browse
    // Folder" does nothing.
    static void SetFolderBrowser(FolderBrowser browser);

    // The save level of a file in folder when the user chose the given
    // folders of its user: the steps below the highest chosen folder
    // above it, 0 when none is above it.
    static int LevelBelowChosen(const QString& folder, const QStringList& chosen);

public slots:
    void OnDownloadFile();
    void OnDownloadFolder();
    void OnBrowseFolder();

private:
    QPointer<SearchResultsForm> m_page;
    QString m_user;
    QString m_folder;
};
