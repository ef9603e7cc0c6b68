#pragma once

#include <QDateTime>
#include <QString>

// Whether a chat is active: a chat line makes it so, five quiet minutes end
// it. Under the setting "chat_timestamps" "activity_based" the page shows
// the status lines these return; under any other value they return nothing
// while the state changes all the same. Action lines are not chat lines.
class ChatActivity
{
public:
    static constexpr qint64 QuietLimit = 299999;

    ChatActivity();

    // A chat line arrived now. Returns "Chat started" and the time when this
    // line starts the chat and stamps are activity-based, else "".
    QString ChatLine();
    // The half-minute check. Returns "Chat ended" and the time of the last
    // line when more than QuietLimit ms have passed since it and stamps are
    // activity-based, else "".
    QString Check();

    bool IsActive() const { return m_active; }
    QDateTime LastLine() const { return m_lastLine; }

private:
    bool m_active = false;
    QDateTime m_lastLine;
};
