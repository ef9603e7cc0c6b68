#include "ChatForm.h"

#include <QDesktopServices>
#include <QMenu>
#include <QTabWidget>

#include "ActionSetToolBar.h"
#include "ChatLogForm.h"
#include "ChatText.h"
#include "Data.h"
#include "EventToolBar.h"
#include "FocusHelpers.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "TimerManager.h"
#include "TransferNames.h"
#include "common/PeerText.h"
#include "ui_ChatForm.h"
#include "users/UserMenuOptions.h"

namespace {

const int kPopupLength = 100;

} // namespace

const char* const ChatForm::NotSentNotice = "Not sent: not connected to the server.";

ChatForm::ChatForm(QString user, QTabWidget* tabControl, QWidget* parent)
    : QWidget(parent), m_user(user), m_tabControl(tabControl), ui(new Ui_ChatForm)
{
    ui->setupUi(this);
    UserItem() += d.GetType("user_chat_widget")->GetItem(Value(this));
    RegisterWidgetForTabFocus(ui->chatEdit, 1);
    // A paste is taken whole, as long as one message can carry it.
    ui->chatEdit->setMaxLength(ChatText::InputLimit);

    if (timerManager)
        connect(timerManager, &QTimer::timeout, this, &ChatForm::CheckChatInactivity);
    if (actionBar) {
        actionBar->RegisterWidget(this, "user_chat");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatForm::OnActionTriggered);
    }

    // The warning this user was sent for an empty share starts the chat,
    // as a line of one's own.
    if (const ItemPtr warning = UserItem()[TransferNames::SentEmptyShareWarningMessage])
        AddChat(GetSetting("username"), warning.AsString());

    PathNode* away = new PathNode(UserItem());
    new PathNode(away, ServerNames::IsAway, 0);
    d.AddPathEventHandler(away, new EventHandler<ChatForm, ItemPtr>(this, &ChatForm::OnUserAway));
    PathNode* available = new PathNode(UserItem());
    new PathNode(available, ServerNames::IsAway, 5);
    d.AddPathEventHandler(available, new EventHandler<ChatForm, ItemPtr>(this, &ChatForm::OnUserAvailable));
    if (UserItem().IsConnected(ServerNames::IsAway))
        OnUserAway(UserItem());
}

ChatForm::~ChatForm()
{
    delete ui;
    if (Type* widgets = d.HasType("user_chat_widget")) {
        if (ItemPtr widget = widgets->HasItem(Value(this)))
            widget.Remove();
    }
}

ItemPtr ChatForm::UserItem() const
{
    return d.GetType(ServerNames::User)->GetItem(m_user);
}

QString ChatForm::PopupText(const QString& user, const QString& text)
{
    QString shown = text.left(kPopupLength);
    if (text.size() > kPopupLength)
        shown += QLatin1String(" ...");
    return QString("[%1] %2").arg(user, shown);
}

void ChatForm::AddChat(QString user, QString text)
{
    // A private chat keeps its text as sent, spaces and all.
    if (ChatText::ShowActionOrStamp(*this, m_activity, user, text))
        return;
    ChatText::AppendCapped(ui->chatView, ChatText::ChatLineHtml(user, text));
    LogChat(ChatText::ChatLogLine(user, text));
    if (eventToolBar)
        eventToolBar->AddEvent(PeerText::Title(m_user), ":/icons/chat_icon", ui->chatEdit, PopupText(user, text),
                               "private_chat", false);
}

void ChatForm::Focus()
{
    FocusWidgetAndParents(ui->chatEdit);
}

void ChatForm::AddStatusMessage(QString text)
{
    ChatText::AppendCapped(ui->chatView, ChatText::StatusLineHtml(text));
}

void ChatForm::LogChat(QString line)
{
    ChatText::LogChat(ChatText::Log::User, m_user, line);
}

void ChatForm::OnUserAway(ItemPtr)
{
    AddStatusMessage(ChatText::Shown(m_user, ChatText::NameCap) + QLatin1String(" is away."));
}

void ChatForm::OnUserAvailable(ItemPtr)
{
    AddStatusMessage(ChatText::Shown(m_user, ChatText::NameCap) + QLatin1String(" is available."));
}

void ChatForm::OnEnter()
{
    const QString text = ui->chatEdit->text();
    if (text.isEmpty())
        return;
    // Out of the server, a line would reach no one: say so, and keep it in
    // the input to send again once back.
    if (!gp_server || gp_server->GetState() != Server::StateLoggedIn) {
        AddStatusMessage(NotSentNotice);
        return;
    }
    AddChat(GetSetting("username"), text);
    gp_server->SendPrivateChat(m_user, text);
    ui->chatEdit->clear();
}

void ChatForm::CheckChatInactivity()
{
    const QString ended = m_activity.Check();
    if (!ended.isEmpty())
        AddStatusMessage(ended);
}

void ChatForm::OnContextMenuRequested(QPoint i_point)
{
    QMenu menu;
    UserMenuOptions options(&menu, m_user, nullptr);
    menu.exec(ui->chatView->viewport()->mapToGlobal(i_point));
}

void ChatForm::OnURLClicked(QUrl i_url)
{
    QDesktopServices::openUrl(i_url);
    ui->chatEdit->setFocus();
}

void ChatForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(ui->chatEdit);
}

void ChatForm::OnActionTriggered(QWidget* i_widget, QString i_action)
{
    if (i_widget == this && i_action == QLatin1String("user_chat_log"))
        OpenChatLog();
}

void ChatForm::OpenChatLog()
{
    const ItemPtr open = UserItem()["chat_log_form"];
    if (open && open.AsUInt64()) {
        FocusWidgetAndParents(open.AsObject<QWidget>());
        return;
    }
    // The tab control takes the viewer over: it stays when this chat goes.
    auto* viewer = new ChatLogForm(ChatText::LogPath(ChatText::Log::User, m_user), this);
    m_tabControl->addTab(viewer, QIcon(":/icons/note_icon"), PeerText::Title(m_user));
    UserItem() += d.GetType("chat_log_form")->GetItem(Value(static_cast<ChatLogViewer*>(viewer)));
    FocusWidgetAndParents(viewer);
}
