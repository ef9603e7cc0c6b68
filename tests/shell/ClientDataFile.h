#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// A client's data file as a user would leave it after sharing folders and
// queueing downloads: the real engines are built as the main window builds
// them, the folders are shared and the downloads added through those
// engines, and the project's data saver writes the result. Like
// DataFileWriter it uses the program's one store, so it runs while no main
// window exists; the store is empty again afterwards.
class ClientDataFile
{
public:
    void SetSetting(const QString& key, const QString& value);
    // Shared with everyone, as the share dialog's "everyone" choice does,
    // or with the members of the user-list groups named (made when
    // missing); sharing scans the folder at once, so its files are saved
    // too.
    void ShareFolder(const QString& localPath, const QStringList& groups = QStringList());
    // A download of a file of another user's share; remoteFolder is the
    // folder as that user's share list names it ("\" separated).
    void AddDownload(const QString& user, const QString& remoteFolder, const QString& fileName, qint64 size);
    // A room marked to be entered at the first login of a run.
    void AutojoinRoom(const QString& room);
    // A stored wish-list search, as its view leaves it.
    void AddWishListSearch(const QString& text, bool enabled, bool discardRepeats = false);
    // A file-name ending that folder downloads skip.
    void ExcludeExtension(const QString& ending);
    // A user on the user list, in the groups named (made when missing).
    void ListUser(const QString& user, const QStringList& groups = QStringList());
    // A note about another user.
    void NoteUser(const QString& user, const QString& note);
    // Another user marked as the user menu marks them: "unshared",
    // "is_ignored" or "user_online_alert".
    void MarkUser(const QString& user, const QString& marker);

    // False when an engine refuses a folder or a download, or the file
    // cannot be saved; error then says which.
    bool Write(const QString& prefix, QString* error = nullptr) const;

    // Ports free on every interface at the time of asking, for the
    // listening ports of clients that listen on every interface: all
    // different, and none that this process was given before. Fewer than
    // count when the system offers no more.
    static QList<quint16> FreePorts(int count);

private:
    struct Download
    {
        QString user;
        QString remoteFolder;
        QString fileName;
        qint64 size;
    };

    QList<QPair<QString, QString>> m_settings;
    QList<QPair<QString, QStringList>> m_folders;
    QList<Download> m_downloads;
    QStringList m_autojoinRooms;
    struct WishListSearch
    {
        QString text;
        bool enabled;
        bool discardRepeats;
    };
    QList<WishListSearch> m_wishListSearches;
    QStringList m_excludedExtensions;
    QList<QPair<QString, QStringList>> m_listed;
    QList<QPair<QString, QString>> m_notes;
    QList<QPair<QString, QString>> m_marks;
};
