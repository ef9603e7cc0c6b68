#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>

// Answers the modal dialogs that a start-up opens, the way a user would, so
// that a test never blocks in one. Each dialog met is recorded and answered
// by the next action in line; one met with no action left is cancelled, so
// the recorded titles show it. Polling stops by itself after a minute.
class DialogAnswerer : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void(QWidget*)>;

    explicit DialogAnswerer(QObject* parent = nullptr);

    DialogAnswerer& Then(Action action);

    static Action Press(QMessageBox::StandardButton button);
    // Fills the user name and password dialog and presses OK.
    static Action EnterAccount(const QString& username, const QString& password);
    static Action Cancel();

    const QStringList& Titles() const { return m_titles; }
    // The text of each message box met, empty for other dialogs.
    const QStringList& Texts() const { return m_texts; }
    // The fields of the user name dialog as it opened.
    const QStringList& ShownAccount() const { return m_shownAccount; }

private:
    void Tick();

    QTimer m_timer;
    int m_ticksLeft;
    QList<Action> m_actions;
    QPointer<QWidget> m_last;
    QStringList m_titles;
    QStringList m_texts;
    QStringList m_shownAccount;
};
