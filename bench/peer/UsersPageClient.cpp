#include "UsersPageClient.h"

#include <QRandomGenerator>

#include "Settings.h"
#include "users/UserListForm.h"

bool UsersPageClient::Start(int pictureBytes)
{
    m_page = new UserListForm;
    fixture.AddPage(m_page, "Users");
    m_page->Init();
    if (!fixture.Start("me"))
        return false;
    QByteArray picture(pictureBytes, Qt::Uninitialized);
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32*>(picture.data()), pictureBytes / 4);
    SetSetting("user_picture_file", fixture.WriteFile("me.jpg", picture));
    return true;
}
