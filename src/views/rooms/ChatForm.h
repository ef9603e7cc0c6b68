#pragma once

#include <QPoint>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "ChatActivity.h"
#include "DataHandler.h"
#include "ItemPtr.h"

class QShowEvent;
class QTabWidget;
class Ui_ChatForm;

// One private chat with one other user: both sides' lines, the other user
// going away and coming back, activity stamps, the chat's log and an event
// per line. Made only by the private chats page, and gone when its tab is
// closed; the chat's log viewer opens as a tab of its own beside it and
// stays when the chat goes.
class ChatForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // tabControl: where the chat's log viewer opens.
    ChatForm(QString user, QTabWidget* tabControl, QWidget* parent = nullptr);
    ~ChatForm() override;

    QString User() const { return m_user; }

    // Shows, logs and announces a line said by user: the other user, or the
    // own name for the user's own lines.
    void AddChat(QString user, QString text);
    // Brings the page to the front with its input line focused.
    void Focus();

    void AddStatusMessage(QString text);
    void LogChat(QString line);

    void OnUserAway(ItemPtr user);
    void OnUserAvailable(ItemPtr user);

    // The status line of a line typed while out of the server; the line
    // stays in the input.
    static const char* const NotSentNotice;

    // The pop-up text of a chat line: its first 100 characters, with " ..."
    // when there were more.
    static QString PopupText(const QString& user, const QString& text);

public slots:
    void OnEnter();
    void CheckChatInactivity();
    void OnContextMenuRequested(QPoint i_point);
    void OnURLClicked(QUrl i_url);
    void OnActionTriggered(QWidget* i_widget, QString i_action);

protected:
    void showEvent(QShowEvent* event) override;

private:
    ItemPtr UserItem() const;
    void OpenChatLog();

    QString m_user;
    QTabWidget* m_tabControl;
    Ui_ChatForm* ui;
    ChatActivity m_activity;
};
