#pragma once

#include <QString>

#include "ChatActivity.h"
#include "common/PeerText.h"

class ChatLogViewer;
class QTextEdit;

// The chat text that the room pages and the private chats share: the HTML of
// chat and status lines, the cap on a chat view, and the log files with
// their names and line formats, which the chat-log viewer reads back.
//
// Text from other users is never markup here: names and messages are
// escaped, and only addresses written in plain "http(s)://" become links.
// What a view shows of them is bounded and isolated; the log keeps them
// whole.
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
    // A chat view holds about this many characters of text; each overflow
    // drops the oldest whole lines holding at least ViewCut of them. The
    // length is the document's own count, so a full view costs an append
    // no more than an empty one.
    static constexpr int ViewCap = 60000;
    static constexpr int ViewCut = 12000;
    // How much of a message or a name is shown (PeerText::Bounded).
    static constexpr int LineCap = PeerText::LineCap;
    static constexpr int NameCap = PeerText::NameCap;
    // The longest text the chat input lines take: what one message to the
    // server can carry whatever its characters.
    static const int InputLimit;

    // Whether a text, trimmed, asks for an action line ("/me " and more).
    static bool IsAction(const QString& text);
    // An action line's text: the user's name, a space and what follows the
    // "/me ", trimmed.
    static QString ActionText(const QString& user, const QString& text);

    // Text from others as a chat view shows it, plain (not yet escaped):
    // controls drawn visibly, at most cap characters with the number left
    // out said after them, its direction isolated from the text around it.
    static QString Shown(const QString& text, int cap = LineCap);
    // An action line as shown: the name and what follows the "/me ", each
    // as Shown.
    static QString ActionShown(const QString& user, const QString& text);

    // The start of showing a line said by user on a chat page (one with
    // AddStatusMessage and LogChat): an action line is shown and logged
    // here, and true returned; a chat line gets the stamp that starts the
    // chat, if it starts it, and false is returned.
    template <class Page>
    static bool ShowActionOrStamp(Page& page, ChatActivity& activity, const QString& user, const QString& text)
    {
        if (IsAction(text)) {
            page.AddStatusMessage(ActionShown(user, text));
            page.LogChat(ActionLogLine(ActionText(user, text)));
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
    // colour, with links made. The text is the page's own: any name or
    // words of others in it come as Shown; controls are drawn visibly and
    // the line bounded all the same.
    static QString StatusLineHtml(const QString& text);
    // Appends a line to a chat view, dropping the oldest whole lines first
    // when the view holds more than ViewCap characters. A ChatBrowser lays
    // out the lines of one turn of the event loop together.
    static void AppendCapped(QTextEdit* view, const QString& lineHtml);

    // The log lines of a chat line and of an action line, stamped now. A
    // line break in a field becomes a space, so one entry is one line.
    static QString ChatLogLine(const QString& user, const QString& text);
    static QString ActionLogLine(const QString& action);

    // The folder of a kind of log, ending in "/".
    static QString LogFolder(Log kind);
    // The file name of a room's or user's log inside its folder: the name
    // and ".log" for every name that can be one. A name holding "/" or NUL,
    // starting with "." (a hidden file) or too long for a file name gets a
    // visible name of its own, ending in ".txt", that no other name maps
    // to, so it stays inside the folder and meets no other log.
    static QString LogFileName(const QString& name);
    // The log's path. A log that an older version kept hidden, under the
    // name with ".log" after it, is first renamed to its visible name.
    static QString LogPath(Log kind, const QString& name);

    // Appends one line to the room's or user's log when that log is on
    // ("log_room_chat" or "log_private_chat"), creating folders and file as
    // needed, and hands it to the log's open viewer. A file that cannot be
    // written is skipped without a word; the viewer still gets the line.
    static void LogChat(Log kind, const QString& name, const QString& line);
    // The open viewer of a room's or user's log, or null.
    static ChatLogViewer* OpenViewer(Log kind, const QString& name);
};
