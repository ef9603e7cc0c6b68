#pragma once

#include <QObject>
#include <QString>

class QMenu;

// The one menu of actions on a single user, offered by every view that lists
// users. The view makes a QMenu and this object on the stack, may add its
// own entries first, runs the menu and lets both go when it closes. The
// entries show the user's state as it is when the menu is built; each slot
// looks the user up again by name, since the menu's own event loop may take
// rows, items and pages away before an entry is chosen.
class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    UserMenuOptions(QMenu* menu, QString user, QObject* parent = nullptr);

public slots:
    void OnMessageUser();
    void OnSetUserGroups();
    void OnAddUser();
    void OnRemoveUser();
    void OnBrowseUser();
    void OnUploadToUser();
    void OnUserLog();
    void OnUnshareFilesFromUser();
    void OnReshareFilesWithUser();
    void OnIgnoreUser();
    void OnUnignoreUser();
    void OnAddUserMembership();
    void OnRemoveUserMembership();
    void OnAddUserOperatorship();
    void OnRemoveUserOperatorship();
    void OnUserNote();
    void OnGetUserInfo();
    void OnGiftPrivileges();
    void OnAddRemoveOnlineAlert();

private:
    void AddPrivateRooms(QMenu* menu);
    // The room an entry of the private-rooms submenu was made for.
    QString SenderRoom() const;

    QString m_user;
};
