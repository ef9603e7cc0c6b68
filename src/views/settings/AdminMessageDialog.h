#pragma once

#include <QDialog>
#include <deque>

#include "ui_AdminMessageDialog.h"

// The messages from the network's administrators, newest last, with the
// local time the newest arrived; with several, each says when it came.
// Markup in one is shown as formatting, but nothing it names is loaded.
// Deletes itself when closed.
//
// However many come, the window keeps the newest KeptMessages, each whole up
// to MessageCap characters, and no more than KeptCharacters in all, and says
// how many older ones it left out; a burst is laid out once.
class AdminMessageDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int KeptMessages = 30;
    // The server's operators write long notices, far beyond a chat line.
    static constexpr int MessageCap = 100000;
    // Every change lays the whole text out again (dropping the oldest moves
    // all the rest), so what is kept, markup included, stays short enough to
    // do so at once.
    static constexpr int KeptCharacters = 2 * MessageCap;

    AdminMessageDialog(QString text, QWidget* parent = nullptr);

    // A message that came after the first: shown at the end once this turn
    // of the event loop is over, with the messages that came with it.
    void AddMessage(const QString& text);

private:
    // A message as it came, no more of it than is shown.
    struct Message
    {
        QString time;
        QString text;
        int leftOut = 0;
    };
    static Message Arrived(const QString& text);

    void ShowPending();
    // Puts the message at the end of the text, stamped with its time or not,
    // and remembers how much of the text it takes.
    void Append(const Message& message, bool stamped);
    void DropOldest();
    void SayLeftOut();
    void SetTime(const QString& time);

    Ui_AdminMessageDialog ui;
    // The one message shown without a stamp, until another comes.
    Message m_first;
    // Each shown message, oldest first: the characters it takes in the
    // text, and its size as it came (markup included), which counts
    // towards KeptCharacters, summed.
    struct Shown
    {
        int length;
        int size;
    };
    std::deque<Shown> m_shown;
    int m_shownCharacters = 0;
    // Messages come but not yet shown, no more than the window keeps.
    std::deque<Message> m_pending;
    int m_pendingCharacters = 0;
    bool m_showPending = false;
    // Messages left out, and whether the first line says so.
    int m_leftOut = 0;
    bool m_noticeShown = false;
};
