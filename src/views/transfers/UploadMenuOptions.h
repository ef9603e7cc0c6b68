#pragma once

#include <QObject>

#include "ItemSet.h"
#include "common/KeptItems.h"

class QMenu;

// The upload entries of the uploads tree's context menu: open the file
// being sent or its folder on the local disk, and remove uploads. One
// object per menu, made for the "upload_entry" items of the selected rows
// and destroyed after the menu closes. Entries pruned while the menu
// stands open (the half-minute clearing) are passed over.
class UploadMenuOptions : public QObject
{
    Q_OBJECT

public:
    // With no entries nothing is added, not even a separator.
    UploadMenuOptions(QMenu* ip_menu, ItemSet i_entries, QObject* ip_parent = nullptr);

public slots:
    void OnOpenFile();
    void OnOpenFolder();
    void OnRemoveUploads();

private:
    KeptItems m_entries;
};
