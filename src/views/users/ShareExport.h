#pragma once

#include <QString>
#include <QTemporaryFile>
#include <QXmlStreamWriter>
#include <utility>
#include <vector>

#include "ItemPtr.h"
#include "common/SteppedSort.h"

class QTreeWidget;
class QTreeWidgetItem;
class ShareFolderTree;
class TurnSlice;

// A browsed share written to an XML file a slice at a time: the root
// element "user" names the user; a "folder" element per node of the folder
// tree, in the tree's order, named by the node's text, holds the elements of
// its subfolders and then a "file" element per file of its folder, by name.
// Hidden nodes are written like the others. The file is written under a
// name of its own beside the one asked for, which it takes only once whole:
// a failed or abandoned export leaves no file, and never one that looks
// complete. (It is not synced to the disk first: that may hold the window
// for a long time on a busy disk.)
//
// The tree must not change while it is written: the browser ends its
// exports before it lets the tree go.
class ShareExport
{
public:
    ShareExport(const ShareFolderTree& tree, QTreeWidget* folderTree, const QString& user, const QString& fileName);

    // Starts the file; false when it cannot be written at all.
    bool Open();
    // Writes on until done (true, the file whole or failed) or the slice is
    // spent.
    bool WriteSome(TurnSlice& slice);
    // Why the file could not be written; empty when it was.
    const QString& Error() const { return m_error; }
    const QString& FileName() const { return m_fileName; }

private:
    struct Frame
    {
        QTreeWidgetItem* node;
        int nextChild;
    };

    void OpenFolder(QTreeWidgetItem* node);
    void WriteFile(ItemPtr file);
    bool Finish();

    const ShareFolderTree& m_tree;
    QTreeWidget* m_folderTree;
    QString m_user;
    QString m_fileName;
    QTemporaryFile m_file;
    QXmlStreamWriter m_writer;
    QString m_error;
    bool m_finished = false;
    int m_nextTopLevel = 0;
    std::vector<Frame> m_pending;
    // The files of the folder at the top once its subfolders are written.
    bool m_readingFiles = false;
    SteppedSort<std::pair<QString, ItemPtr>> m_files;
    size_t m_nextFile = 0;
};
