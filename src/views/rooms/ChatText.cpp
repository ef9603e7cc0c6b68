#include "ChatText.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "ChatBrowser.h"
#include "ChatLogViewer.h"
#include "Data.h"
#include "GeneralFunctions.h"
#include "ServerMessages.h"
#include "ServerNames.h"
#include "Settings.h"
#include "common/PeerText.h"
#include "common/ViewClock.h"

const char* const ChatText::LongTimeFormat = "MMM d h:mm:ss ap";
const char* const ChatText::ShortTimeFormat = "h:mm:ss";
// A character of the input takes at most three bytes of UTF-8; a quarter of
// the frame leaves room for the name beside it.
const int ChatText::InputLimit = int(ServerMessages::MaxFrameLength / 4);

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

// At most cap characters of text and the number left out, controls drawn
// visibly.
QString Bounded(const QString& text, int cap)
{
    return PeerText::VisibleControls(PeerText::Bounded(text, cap));
}

// File names are at most this many bytes on the file systems logs live on.
const int kMaxFileNameBytes = 255;

} // namespace

QString ChatText::Shown(const QString& text, int cap)
{
    return PeerText::Isolated(Bounded(text, cap));
}

QString ChatText::ActionShown(const QString& user, const QString& text)
{
    return Shown(user, NameCap) + QLatin1Char(' ') + Shown(text.trimmed().mid(kActionPrefix.size()).trimmed());
}

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
    html += Coloured("color_chat_username", EscapeHTML(Shown(user, NameCap))) + QLatin1String("</font>] ") +
            EscapeHTML(Shown(text));
    return ConvertLinks(html);
}

QString ChatText::StatusLineHtml(const QString& text)
{
    // Names and messages in it were bounded as they were put in; the page's
    // own words around them are short.
    return ConvertLinks(QLatin1String("* <font color=\"") + GetSetting("color_chat_status") + QLatin1String("\">") +
                        EscapeHTML(Bounded(text, LineCap + 2 * NameCap)) + QLatin1String("</font>"));
}

void ChatText::AppendCapped(QTextEdit* view, const QString& lineHtml)
{
    if (auto* browser = qobject_cast<ChatBrowser*>(view))
        browser->HoldLayoutThisTurn();
    QTextDocument* document = view->document();
    // The document keeps its length: measuring costs nothing, however full.
    const int length = document->characterCount() - 1;
    if (length <= ViewCap) {
        view->append(lineHtml);
        return;
    }
    view->setUpdatesEnabled(false);
    // Whole lines from the top, up to and with the one holding the
    // character that leaves ViewCap - ViewCut after it. With none after
    // that one, the view held one huge line, and nothing old is kept.
    const QTextBlock last = document->findBlock(length - (ViewCap - ViewCut));
    const QTextBlock kept = last.next();
    // Removed by a cursor, not by clearing the view, which the layout held
    // for this turn would not survive.
    QTextCursor cursor(document);
    if (!last.isValid() || !kept.isValid())
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    else
        cursor.setPosition(kept.position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
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
    // ".." included, unless a separator or NUL could reach out of the
    // folder or cut the name short, a leading "." would hide the log, or it
    // is too long. Those names are percent-encoded ("%" too, so two names
    // never meet) and end otherwise than ".log", so no plain name's log
    // can be theirs.
    const QString plain = name + QLatin1String(".log");
    if (!name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) &&
        plain.toUtf8().size() <= kMaxFileNameBytes)
        return plain;
    QString encoded;
    encoded.reserve(name.size() + 8);
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c == QLatin1Char('%'))
            encoded += QLatin1String("%25");
        else if (c == QLatin1Char('/'))
            encoded += QLatin1String("%2F");
        else if (c == QChar(0))
            encoded += QLatin1String("%00");
        else if (c == QLatin1Char('.') && i == 0)
            encoded += QLatin1String("%2E");
        else
            encoded += c;
    }
    const QLatin1String ending(".txt");
    if ((encoded + ending).toUtf8().size() <= kMaxFileNameBytes)
        return encoded + ending;
    // Too long: as much of it as fits, then "%H" and a digest of the whole
    // name. Encoding never writes "%H", so these meet none of the above.
    const QString digest =
        QLatin1String("%H") +
        QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex()) + ending;
    int budget = kMaxFileNameBytes - digest.size();
    int kept = 0;
    while (kept < encoded.size()) {
        const int width = encoded.at(kept).isHighSurrogate() && kept + 1 < encoded.size() ? 2 : 1;
        const int bytes = encoded.midRef(kept, width).toUtf8().size();
        if (bytes > budget)
            break;
        budget -= bytes;
        kept += width;
    }
    return encoded.left(kept) + digest;
}

QString ChatText::LogPath(Log kind, const QString& name)
{
    const QString path = LogFolder(kind) + LogFileName(name);
    // Only a name starting with "." had a hidden log of its own before.
    if (name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0))) {
        const QString hidden = LogFolder(kind) + name + QLatin1String(".log");
        if (hidden != path && QFile::exists(hidden) && !QFile::exists(path))
            QFile::rename(hidden, path);
    }
    return path;
}

void ChatText::LogChat(Log kind, const QString& name, const QString& line)
{
    if (!IsSettingOn(kind == Log::Room ? "log_room_chat" : "log_private_chat"))
        return;
    QFile file(LogPath(kind, name));
    // The folders are made when the file cannot be opened without them, not
    // asked after for every line of a busy room.
    bool open = file.open(QIODevice::WriteOnly | QIODevice::Append);
    if (!open && QDir().mkpath(LogFolder(kind)))
        open = file.open(QIODevice::WriteOnly | QIODevice::Append);
    if (open) {
        file.write(line.toUtf8().append('\n'));
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
