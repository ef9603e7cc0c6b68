#include "UploadMenuOptions.h"

#include <QMenu>

#include "ShareNames.h"
#include "common/LocalFiles.h"

UploadMenuOptions::UploadMenuOptions(QMenu* ip_menu, const TransferTree::MenuSelection& i_selection, QObject* ip_parent)
    : QObject(ip_parent)
{
    if (!i_selection.first)
        return;
    m_first.Add(i_selection.first);
    if (!ip_menu->isEmpty())
        ip_menu->addSeparator();
    const bool several = i_selection.several;
    if (!several)
        ip_menu->addAction(QIcon(":/icons/play_icon"), tr("Open File"), this, &UploadMenuOptions::OnOpenFile);
    ip_menu->addAction(QIcon(":/icons/folder_icon"), tr("Open Folder"), this, &UploadMenuOptions::OnOpenFolder);
    ip_menu->addSeparator();
    ip_menu->addAction(QIcon(":/icons/transfer_icon"), several ? tr("Remove uploads") : tr("Remove upload"), this,
                       &UploadMenuOptions::OnRemoveUploads);
}

void UploadMenuOptions::OnOpenFile()
{
    const ItemPtr file = m_first.First()[ShareNames::SharedFile];
    const QString folder = file[ShareNames::SharedFileFolder].AsString();
    if (!folder.isEmpty())
        OpenLocalPath(folder + '/' + file[ShareNames::SharedFileName].AsString());
}

void UploadMenuOptions::OnOpenFolder()
{
    OpenLocalPath(m_first.First()[ShareNames::SharedFile][ShareNames::SharedFileFolder].AsString());
}

void UploadMenuOptions::OnRemoveUploads()
{
    emit RemoveChosen();
}
