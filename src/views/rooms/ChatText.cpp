#include "ChatText.h"

#include <QDir>
#include <QFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "ChatLogViewer.h"
#include "Data.h"
#include "GeneralFunctions.h"
#include "ServerNames.h"
#include "Settings.h"
#include "common/ViewClock.h"

const char* const ChatText::LongTimeFormat = "MMM d h:mm:ss ap";
const char* const ChatText::ShortTimeFormat = "h:mm:ss";

namespace {

const QLatin1String kActionPrefix("/me ");

QString Coloured(const char* colourSetting, const QString& html)
{
    return QLatin1String("[<font color=\"") + GetSetting(colourSetting) + QLatin1String("\">") + html;
}

QString OneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QString Now(const char* format)
{
    return ViewClock::Now().toString(QLatin1String(format));
}

} // namespace

bool ChatText::IsAction(const QString& text)
{
    return text.trimmed().startsWith(kActionPrefix);
}

QString ChatText::ActionText(const QString& user, const QString& text)
{
    return QString("%1 %2").arg(user, text.trimmed().mid(kActionPrefix.size()).trimmed());
}

QString ChatText::ChatLineHtml(const QString& user, const QString& text)
{
    QString html;
    const QString stamps = GetSetting("chat_timestamps");
    if (stamps == QLatin1String("per_message_short"))
        html = Coloured("color_chat_timestamp", Now(ShortTimeFormat)) + QLatin1String("</font>]");
    else if (stamps == QLatin1String("per_message_long"))
        html = Coloured("color_chat_timestamp", Now(LongTimeFormat)) + QLatin1String("</font>]");
    html += Coloured("color_chat_username", EscapeHTML(user)) + QLatin1String("</font>] ") + EscapeHTML(text);
    return ConvertLinks(html);
}

QString ChatText::StatusLineHtml(const QString& text)
{
    return ConvertLinks(QLatin1String("* <font color=\"") + GetSetting("color_chat_status") + QLatin1String("\">") +
                        EscapeHTML(text) + QLatin1String("</font>"));
}

void ChatText::AppendCapped(QTextEdit* view, const QString& lineHtml)
{
    const QString html = view->document()->toHtml();
    if (html.size() <= ViewCap) {
        view->append(lineHtml);
        return;
    }
    view->setUpdatesEnabled(false);
    // The document's HTML is its head, ending in the line that opens the
    // body, then one line per paragraph. The lines that end before the
    // first break after the cut are dropped: whole paragraphs, taken from
    // the document itself rather than by parsing again all that is kept.
    // With no break after the cut it fell inside the last paragraph, tags
    // and all, and nothing old can be kept.
    const int lineEnd = html.indexOf(QLatin1Char('\n'), ViewCut);
    const int body = html.lastIndexOf(QLatin1String("<body"), ViewCut);
    if (lineEnd < 0 || body < 0) {
        view->clear();
    } else {
        const int headLines = html.leftRef(body).count(QLatin1Char('\n')) + 1;
        const int paragraphs = html.leftRef(lineEnd + 1).count(QLatin1Char('\n')) - headLines;
        QTextCursor cursor(view->document());
        cursor.movePosition(QTextCursor::Start);
        if (paragraphs > 0) {
            if (cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, paragraphs))
                cursor.removeSelectedText();
            else
                view->clear();
        }
    }
    view->append(lineHtml);
    view->setUpdatesEnabled(true);
}

QString ChatText::ChatLogLine(const QString& user, const QString& text)
{
    return QString("[%1][%2] %3").arg(Now(LongTimeFormat), OneLine(user), OneLine(text));
}

QString ChatText::ActionLogLine(const QString& action)
{
    return QString("[%1] * %2").arg(Now(LongTimeFormat), OneLine(action));
}

QString ChatText::LogFolder(Log kind)
{
    return QDir::homePath() + (kind == Log::Room ? QLatin1String("/Quorvane Chat Logs/Rooms/")
                                                 : QLatin1String("/Quorvane Chat Logs/Users/"));
}

QString ChatText::LogFileName(const QString& name)
{
    // With ".log" after it, any name is one harmless file name, "." and
    // ".." included; only a separator or NUL could reach out of the folder
    // or cut the name short. Those names are percent-encoded ("%" too, so
    // two names never meet) and end otherwise than ".log", so no plain
    // name's log can be theirs.
    if (!name.contains(QLatin1Char('/')) && !name.contains(QChar(0)))
        return name + QLatin1String(".log");
    QString encoded;
    encoded.reserve(name.size() + 8);
    for (const QChar c : name) {
        if (c == QLatin1Char('%'))
            encoded += QLatin1String("%25");
        else if (c == QLatin1Char('/'))
            encoded += QLatin1String("%2F");
        else if (c == QChar(0))
            encoded += QLatin1String("%00");
        else
            encoded += c;
    }
    return encoded + QLatin1String(".txt");
}

QString ChatText::LogPath(Log kind, const QString& name)
{
    return LogFolder(kind) + LogFileName(name);
}

void ChatText::LogChat(Log kind, const QString& name, const QString& line)
{
    if (!IsSettingOn(kind == Log::Room ? "log_room_chat" : "log_private_chat"))
        return;
    const QString folder = LogFolder(kind);
    QDir().mkpath(folder);
    QFile file(folder + LogFileName(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(line.toUtf8());
        file.write("\n", 1);
        file.close();
    }
    if (ChatLogViewer* viewer = OpenViewer(kind, name))
        viewer->AddLine(line);
}

ChatLogViewer* ChatText::OpenViewer(Log kind, const QString& name)
{
    Type* owners = d.HasType(kind == Log::Room ? ServerNames::Room : ServerNames::User);
    if (!owners || !d.HasType("chat_log_form"))
        return nullptr;
    const ItemPtr form = owners->HasItem(name)["chat_log_form"];
    return form && form.AsUInt64() ? form.AsObject<ChatLogViewer>() : nullptr;
}
