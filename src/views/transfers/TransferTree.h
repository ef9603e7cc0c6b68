#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <functional>
#include <vector>

#include "ItemPtr.h"
#include "ItemSet.h"
#include "TransferFigures.h"
#include "TransferStatus.h"
#include "common/RowMirror.h"

class QModelIndex;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;
class Type;

// One of the transfers page's two trees, downloads or uploads: a row per
// user, under it a row per folder, under that a row per file (one per
// transfer entry of the engine). Every row is mirrored by a node item of
// one of three node types, so a handler finds the row of an entry, and a
// slot the entries of a row, through the store. Both trees work alike; a
// Names record says which types and words each one uses.
class TransferTree
{
public:
    enum class RowKind
    {
        None,
        User,
        Folder,
        File
    };

    struct Names
    {
        const char* entry;      // "download_entry"
        const char* status;     // "download_entry_status"
        const char* userNode;   // "download_list_user_node"
        const char* folderNode; // "download_list_folder_node"
        const char* fileNode;   // "download_list_node"
        const char* folderItem; // what a folder row stands for: "remote_folder"
        const char* position;   // "write_position"
        const char* running;    // "downloading"
        const char* size;       // "file_size"
        const char* sizeHolder; // the item holding the size: null for the entry itself
    };

    // Column numbers, the same in both trees.
    enum Column
    {
        UserColumn = 0,
        FolderColumn = 1,
        FileColumn = 2,
        StatusColumn = 3,
        ProgressColumn = 4,
        EtaColumn = 5,
        SpeedColumn = 6,
        SizeColumn = 7,
        PlaceColumn = 8
    };

    explicit TransferTree(const Names& names);
    // The tree widget, once the page's form has made it.
    void Attach(QTreeWidget* tree);

    // Declares the three node types and their relations (the engine's
    // types exist already) and looks up the types used at every report.
    void Declare();

    QTreeWidget* Tree() const { return m_tree; }
    RowMirror& Rows() { return m_rows; }
    const RowMirror& Rows() const { return m_rows; }
    const Names& GetNames() const { return m_names; }

    // The row of a node of this tree's kinds, by its node's type.
    RowKind Kind(const QTreeWidgetItem* row) const;
    QTreeWidgetItem* FileRow(ItemPtr entry) const;
    QTreeWidgetItem* UserRow(ItemPtr user) const;
    // The folder row of a user's files in a folder, or null.
    QTreeWidgetItem* FolderRow(ItemPtr user, ItemPtr folderItem) const;
    // The user row above a row (the row itself for a user row); null for a
    // row not of this tree.
    QTreeWidgetItem* UserRowOf(QTreeWidgetItem* row) const;
    ItemPtr EntryOf(const QTreeWidgetItem* fileRow) const;
    ItemPtr UserOf(const QTreeWidgetItem* userRow) const;

    // Makes the file row of an entry, and the user and folder rows above
    // it when they do not exist yet (a new user row gets the online icon
    // of the moment; new parents are expanded as the switches say). A
    // status, when given, is shown (as statusText) and coloured in.
    QTreeWidgetItem* AddFileRow(ItemPtr entry, ItemPtr user, ItemPtr folderItem, const QString& folderText,
                                const QString& fileText, const QString& sizeText, bool expandUsers, bool expandFolders,
                                const QString& status = QString(), const QString& statusText = QString());

    // Takes an entry's file row away with the folder and user rows it
    // leaves empty; a user row left with one folder loses its bar and
    // time. Returns the user row when it stays, null otherwise (also when
    // the entry had no row).
    QTreeWidgetItem* RemoveFileRow(ItemPtr entry);

    // Calls f for each entry below a row (the row's own for a file row).
    void ForEachEntry(const QTreeWidgetItem* row, const std::function<void(ItemPtr)>& f) const;
    ItemSet Entries(const QTreeWidgetItem* row) const;

    // What a context menu shows for the selected rows, read from the view's
    // selection in a few steps however many rows are selected: the rows
    // stand for every entry below them, and only as much of them is looked
    // at as the menu's texts need.
    struct MenuSelection
    {
        // The first entry below the selected rows, in the tree's order.
        ItemPtr first;
        // The rows stand for two entries or more.
        bool several = false;
        // Names of the rows' users: two at most, enough to tell one user
        // from many.
        QSet<QString> users;
        // The one user, and the one folder item, of all those entries;
        // null when there are more.
        ItemPtr user;
        ItemPtr folder;
    };
    MenuSelection Selection() const;
    // Keys of the selected rows that lie below no other selected row, in
    // the tree's order: together they stand for every selected entry once.
    std::vector<RowMirror::Key> SelectedTops() const;

    TransferStatus::Kind KindOf(ItemPtr entry) const;
    QString StatusOf(ItemPtr entry) const;
    // Counts a file row's entry anew under its folder and user rows, after
    // its status changed or it reported progress.
    void Recount(QTreeWidgetItem* fileRow, ItemPtr entry);
    // What the entries below a row are; for a user or folder row kept up to
    // date row by row, so a large user costs nothing more per change.
    TransferStatus::Counts Tally(const QTreeWidgetItem* row) const;
    QString Aggregate(const QTreeWidgetItem* row) const;
    QString Aggregate(const ItemSet& entries) const;
    // For a user or folder row kept up to date row by row as Tally is: a
    // report costs the same under a user with ten thousand downloads.
    TransferFigures::Sums Sums(const QTreeWidgetItem* row) const;
    TransferFigures::Sums Sums(const ItemSet& entries) const;
    // Entries visited by the walks below rows so far.
    quint64 EntriesVisited() const { return m_entriesVisited; }

    // The live counters of a running entry; 0 without them.
    qint64 Position(ItemPtr entry) const;
    qint64 Speed(ItemPtr entry) const;
    // Download: "file_size"; upload: its shared file's "shared_file_size".
    qint64 Size(ItemPtr entry) const;

    // A user or folder row: its aggregate in the status column while it is
    // collapsed, and its colour in any case.
    void ShowAggregate(QTreeWidgetItem* row) const;
    // Progress bar and time of a row; the bar is made on first need: a
    // widget on a user or folder row, figures the column's delegate draws
    // on a file row.
    void ShowProgress(QTreeWidgetItem* row, qint64 done, double percent, qint64 secondsLeft);
    // A finished file row's full bar: its whole size, 100%.
    void ShowFinished(QTreeWidgetItem* fileRow, ItemPtr entry);
    // The bar a row shows: whether it has one, its percent and its text.
    struct ShownBar
    {
        bool shown = false;
        int value = 0;
        QString text;
    };
    ShownBar BarOf(QTreeWidgetItem* row) const;
    // An expanded parent row shows no status, bar, time or speed.
    void ClearParentFigures(QTreeWidgetItem* row);
    void RemoveBar(QTreeWidgetItem* row);
    QProgressBar* Bar(QTreeWidgetItem* row) const;

    void SetUserIcon(ItemPtr user, bool online);
    // Expands or collapses every user row (users) or every folder row.
    void ExpandAll(bool users, bool expand);

    // Every parent row of this tree, users and folders.
    QList<QTreeWidgetItem*> ParentRows() const;

    // Paints a row of these trees, all of its cells, in the colour of a
    // status (TransferRow::SetForeground).
    static void Paint(QTreeWidgetItem* row, const QString& status);
    // Sets a cell's text unless it shows that already: every change is
    // one the view hears of.
    static void SetText(QTreeWidgetItem* row, int column, const QString& text);

private:
    // The row at a model index of the view, or null.
    QTreeWidgetItem* RowAt(const QModelIndex& index) const;
    ItemPtr FolderItemOf(const QTreeWidgetItem* folderRow) const;
    // The first file row at or below a row, or null.
    const QTreeWidgetItem* FirstFileRow(const QTreeWidgetItem* row) const;
    void Uncount(QTreeWidgetItem* fileRow);
    QTreeWidgetItem* MakeFolderRow(ItemPtr user, QTreeWidgetItem* userRow, ItemPtr folderItem,
                                   const QString& folderText, bool expand);

    // A row's share of the figures above it: its kind and its bytes.
    struct Counted
    {
        TransferStatus::Kind kind;
        TransferFigures::Sums sums;
    };
    struct ParentTally
    {
        TransferStatus::Counts counts;
        TransferFigures::Sums sums;
    };
    Counted Share(ItemPtr entry) const;
    void CountAbove(QTreeWidgetItem* fileRow, const Counted& counted, int sign);

    QTreeWidget* m_tree = nullptr;
    Names m_names;
    RowMirror m_rows;
    Type* m_entryType = nullptr;
    Type* m_statusType = nullptr;
    Type* m_userNodeType = nullptr;
    Type* m_folderNodeType = nullptr;
    Type* m_fileNodeType = nullptr;
    Type* m_folderItemType = nullptr;
    Type* m_positionType = nullptr;
    Type* m_speedType = nullptr;
    Type* m_sizeType = nullptr;
    Type* m_sizeHolderType = nullptr;
    Type* m_userType = nullptr;
    // Kinds of the few status items, looked up once each; keyed by the
    // item and checked by its sequence, so an item made anew at a freed
    // address is never taken for the old one.
    struct KnownStatus
    {
        quint64 sequence;
        TransferStatus::Kind kind;
    };
    mutable QHash<const void*, KnownStatus> m_statusKinds;
    // What each file row was last counted as, and the counts and sums of
    // the user and folder rows; rows leave both when they go.
    QHash<const QTreeWidgetItem*, Counted> m_counted;
    QHash<const QTreeWidgetItem*, ParentTally> m_parentCounts;
    mutable quint64 m_entriesVisited = 0;
};
