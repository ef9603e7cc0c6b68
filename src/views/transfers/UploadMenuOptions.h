#pragma once

#include <QObject>

#include "TransferTree.h"
#include "common/KeptItems.h"

class QMenu;

// The upload entries of the uploads tree's context menu: open the file
// being sent or its folder on the local disk, and remove uploads. One
// object per menu, made for the selected rows of the uploads tree and
// destroyed after the menu closes. Remove acts on every upload below the
// rows still selected when it is chosen (the page does that work, as for
// the Delete key); the first upload, pruned while the menu stands open
// (the half-minute clearing), is opened no more.
class UploadMenuOptions : public QObject
{
    Q_OBJECT

public:
    // With no entry selected nothing is added, not even a separator.
    UploadMenuOptions(QMenu* ip_menu, const TransferTree::MenuSelection& i_selection, QObject* ip_parent = nullptr);

signals:
    // Remove every upload below the selected rows.
    void RemoveChosen();

public slots:
    void OnOpenFile();
    void OnOpenFolder();
    void OnRemoveUploads();

private:
    KeptItems m_first;
};
