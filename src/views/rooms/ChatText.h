#pragma once

#include <QString>

#include "ChatActivity.h"

class ChatLogViewer;
class QTextEdit;

// The chat text that the room pages and the private chats share: the HTML of
// chat and status lines, the cap on a room's view, and the log files with
// their names and line formats, which the chat-log viewer reads back.
//
// Text from other users is never markup here: names and messages are
// escaped, and only addresses written in plain "http(s)://" become links.
class ChatText
{
public:
    enum class Log
    {
        Room,
        User
    };

    // Stamps of chats and logs; short stamps and connection notices.
    static const char* const LongTimeFormat;
    static const char* const ShortTimeFormat;
    // A room's view holds about this many characters of HTML; each overflow
    // drops a little more than the oldest ViewCut of them.
    static constexpr int ViewCap = 250000;
    static constexpr int ViewCut = 50000;

    // Whether a text, trimmed, asks for an action line ("/me " and more).
    static bool IsAction(const QString& text);
    // An action line's text: the user's name, a space and what follows the
    // "/me ", trimmed.
    static QString ActionText(const QString& user, const QString& text);

    // The start of showing a line said by user on a chat page (one with
    // AddStatusMessage and LogChat): an action line is shown and logged
    // here, and true returned; a chat line gets the stamp that starts the
    // chat, if it starts it, and false is returned.
    template <class Page>
    static bool ShowActionOrStamp(Page& page, ChatActivity& activity, const QString& user, const QString& text)
    {
        if (IsAction(text)) {
            const QString action = ActionText(user, text);
            page.AddStatusMessage(action);
            page.LogChat(ActionLogLine(action));
            return true;
        }
        const QString started = activity.ChatLine();
        if (!started.isEmpty())
            page.AddStatusMessage(started);
        return false;
    }

    // A chat line, stamped as the setting "chat_timestamps" says, with the
    // user's name coloured and links made.
    static QString ChatLineHtml(const QString& user, const QString& text);
    // A status line (notices, activity stamps, action lines), in the status
    // colour, with links made.
    static QString StatusLineHtml(const QString& text);
    // Appends a line to a room's view, dropping the oldest lines first when
    // the view holds more than ViewCap characters of HTML.
    static void AppendCapped(QTextEdit* view, const QString& lineHtml);

    // The log lines of a chat line and of an action line, stamped now. A
    // line break in a field becomes a space, so one entry is one line.
    static QString ChatLogLine(const QString& user, const QString& text);
    static QString ActionLogLine(const QString& action);

    // The folder of a kind of log, ending in "/".
    static QString LogFolder(Log kind);
    // The file name of a room's or user's log inside its folder: the name
    // and ".log" for every name that can be one; a name holding "/" or NUL
    // gets a name of its own that no other name maps to and that ends in
    // ".txt", so it stays inside the folder and meets no other log.
    static QString LogFileName(const QString& name);
    static QString LogPath(Log kind, const QString& name);

    // Appends one line to the room's or user's log when that log is on
    // ("log_room_chat" or "log_private_chat"), creating folders and file as
    // needed, and hands it to the log's open viewer. A file that cannot be
    // written is skipped without a word; the viewer still gets the line.
    static void LogChat(Log kind, const QString& name, const QString& line);
    // The open viewer of a room's or user's log, or null.
    static ChatLogViewer* OpenViewer(Log kind, const QString& name);
};
