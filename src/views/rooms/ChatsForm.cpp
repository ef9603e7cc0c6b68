#include "ChatsForm.h"

#include "ChatForm.h"
#include "Data.h"
#include "FocusHelpers.h"
#include "Server.h"
#include "ServerNames.h"
#include "common/PeerText.h"
#include "ui_ChatsForm.h"

ChatsForm* chatsForm = nullptr;

namespace {

// The chat page named by the user's item, or null.
ChatForm* PageOf(ItemPtr user)
{
    const ItemPtr widget = user["user_chat_widget"];
    return widget && widget.AsUInt64() ? widget.AsObject<ChatForm>() : nullptr;
}

} // namespace

ChatsForm::ChatsForm(QWidget* parent)
    : QWidget(parent), ui(new Ui_ChatsForm), m_onlineIcon(":/icons/online_icon"), m_offlineIcon(":/icons/offline_icon")
{
    ui->setupUi(this);
    chatsForm = this;
    layout()->setContentsMargins(0, 0, 0, 0);
}

ChatsForm::~ChatsForm()
{
    // Views that open chats ask for the page through the global: it must
    // not name a page that is gone.
    if (chatsForm == this)
        chatsForm = nullptr;
    delete ui;
}

void ChatsForm::Init()
{
    PathNode* online = new PathNode(&d, ServerNames::User);
    new PathNode(online, ServerNames::IsOnline, 0);
    d.AddPathEventHandler(online, new EventHandler<ChatsForm, ItemPtr>(this, &ChatsForm::OnUserOnline));
    PathNode* offline = new PathNode(&d, ServerNames::User);
    new PathNode(offline, ServerNames::IsOnline, 5);
    d.AddPathEventHandler(offline, new EventHandler<ChatsForm, ItemPtr>(this, &ChatsForm::OnUserOffline));
}

ChatForm* ChatsForm::GetChatForm(QString user)
{
    const ItemPtr item = d.GetType(ServerNames::User)->GetItem(user);
    if (ChatForm* page = PageOf(item))
        return page;
    // The page connects its own item as it is made.
    auto* page = new ChatForm(user, ui->chatTabControl, this);
    ui->chatTabControl->addTab(page, item.IsConnected(ServerNames::IsOnline) ? m_onlineIcon : m_offlineIcon,
                               PeerText::Title(user));
    if (gp_server)
        gp_server->TrackUser(user);
    return page;
}

void ChatsForm::OpenChatForm(QString user)
{
    FocusWidgetAndParents(GetChatForm(user));
}

void ChatsForm::SetTabIcon(ItemPtr user, const QIcon& icon)
{
    // Looked up by page each time: tabs move.
    if (ChatForm* page = PageOf(user)) {
        const int index = ui->chatTabControl->indexOf(page);
        if (index >= 0)
            ui->chatTabControl->setTabIcon(index, icon);
    }
}

void ChatsForm::OnUserOnline(ItemPtr user)
{
    SetTabIcon(user, m_onlineIcon);
}

void ChatsForm::OnUserOffline(ItemPtr user)
{
    SetTabIcon(user, m_offlineIcon);
}

void ChatsForm::OnChatTabClosed(int i_index)
{
    // A chat page forgets its item as it goes, a chat-log viewer its own.
    delete ui->chatTabControl->widget(i_index);
}
