#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

#include "DataHandler.h"
#include "ItemPtr.h"

class ChatForm;
class Ui_ChatsForm;

// The private chats page: a tab per user with whom a chat is open, and the
// chat-log viewers those chats open beside them. A chat's tab is made when
// the user writes or is written to, and its icon says whether the user is
// online.
class ChatsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit ChatsForm(QWidget* parent = nullptr);
    ~ChatsForm() override;

    // Follows users going online and offline; after the data file is
    // loaded.
    void Init();

    // The user's chat page, its tab made (at the end, not shown) when there
    // is none; the server is asked to report the user's status from then
    // on. Never null.
    ChatForm* GetChatForm(QString user);
    // The user's chat page, brought to the front with its input focused.
    void OpenChatForm(QString user);

    void OnUserOnline(ItemPtr user);
    void OnUserOffline(ItemPtr user);

public slots:
    void OnChatTabClosed(int i_index);

private:
    void SetTabIcon(ItemPtr user, const QIcon& icon);

    Ui_ChatsForm* ui;
    // Read once and shared by every tab: a burst of strangers makes a tab
    // each.
    QIcon m_onlineIcon;
    QIcon m_offlineIcon;
};

// The one private chats page, set by its constructor.
extern ChatsForm* chatsForm;
