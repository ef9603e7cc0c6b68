#include "DescriptionMarkup.h"

#include <QCoreApplication>
#include <QHash>
#include <QVector>

#include <cctype>

#include "common/PeerText.h"

namespace {

// A tag longer than this is no tag: its "<" is text. Bounds the look-ahead
// for a ">" that never comes.
const int kMaxTagLength = 1024;
const int kMaxEntityLength = 12;

// Where ch is within the next span characters from at, or -1: every
// look-ahead is bounded, so a text of many "<" or "&" is read in one pass.
int FindWithin(const QString& text, QChar ch, int at, int span)
{
    const int limit = qMin(text.size(), at + span);
    for (int i = at; i < limit; ++i) {
        if (text[i] == ch)
            return i;
    }
    return -1;
}

bool IsKept(const QString& name)
{
    static const QStringList kept = {"b", "i", "u", "s", "em", "strong", "br", "p", "ul", "ol", "li", "font"};
    return kept.contains(name);
}

// Elements whose content is no text to read.
bool DropsContent(const QString& name)
{
    return name == "script" || name == "style" || name == "head" || name == "title";
}

// Dropped elements that stood for a block: their text is kept apart from
// the text around it by a break.
bool BreaksLine(const QString& name)
{
    static const QStringList blocks = {"div", "table",      "tr",  "h1",     "h2", "h3", "h4",      "h5",
                                       "h6",  "blockquote", "pre", "center", "dd", "dt", "address", "hr"};
    return blocks.contains(name);
}

// A dropped table cell's text is kept apart from the next cell's by a
// space.
bool IsCell(const QString& name)
{
    return name == "td" || name == "th";
}

bool IsColor(const QString& value)
{
    if (value.startsWith('#')) {
        if (value.size() != 4 && value.size() != 7)
            return false;
        for (int i = 1; i < value.size(); ++i) {
            if (!isxdigit(static_cast<unsigned char>(value[i].toLatin1())))
                return false;
        }
        return true;
    }
    if (value.isEmpty() || value.size() > 20)
        return false;
    for (QChar c : value) {
        if (c.unicode() > 0x7f || !c.isLetter())
            return false;
    }
    return true;
}

bool IsFontSize(const QString& value)
{
    QString digits = value;
    if (digits.startsWith('+') || digits.startsWith('-'))
        digits.remove(0, 1);
    return digits.size() == 1 && digits[0] >= '1' && digits[0] <= '7';
}

struct Tag
{
    QString name;
    bool closing = false;
    QHash<QString, QString> attributes;
};

// Reads the tag at text[at] == '<'; its end, one past the '>', or -1 when
// it is no tag.
int ReadTag(const QString& text, int at, Tag& tag)
{
    const int limit = qMin(text.size(), at + kMaxTagLength);
    int i = at + 1;
    if (i < limit && text[i] == '/') {
        tag.closing = true;
        ++i;
    }
    const int nameStart = i;
    while (i < limit && text[i].unicode() < 0x80 && text[i].isLetterOrNumber())
        ++i;
    if (i == nameStart || !text[nameStart].isLetter())
        return -1;
    tag.name = text.mid(nameStart, i - nameStart).toLower();
    while (i < limit) {
        const QChar c = text[i];
        if (c == '>')
            return i + 1;
        if (c.isSpace() || c == '/') {
            ++i;
            continue;
        }
        const int keyStart = i;
        while (i < limit && !text[i].isSpace() && text[i] != '=' && text[i] != '>')
            ++i;
        const QString key = text.mid(keyStart, i - keyStart).toLower();
        while (i < limit && text[i].isSpace())
            ++i;
        QString value;
        if (i < limit && text[i] == '=') {
            ++i;
            while (i < limit && text[i].isSpace())
                ++i;
            if (i < limit && (text[i] == '"' || text[i] == '\'')) {
                const QChar quote = text[i++];
                const int valueStart = i;
                while (i < limit && text[i] != quote)
                    ++i;
                if (i == limit)
                    return -1;
                value = text.mid(valueStart, i - valueStart);
                ++i;
            } else {
                const int valueStart = i;
                while (i < limit && !text[i].isSpace() && text[i] != '>')
                    ++i;
                value = text.mid(valueStart, i - valueStart);
            }
        }
        tag.attributes.insert(key, value.trimmed());
    }
    return -1;
}

// The character an entity at text[at] == '&' stands for and its end, or
// -1 when it is none this reader knows: the '&' is then text.
int ReadEntity(const QString& text, int at, QString& decoded)
{
    const int end = FindWithin(text, ';', at + 1, kMaxEntityLength);
    if (end < 0)
        return -1;
    const QString name = text.mid(at + 1, end - at - 1);
    static const QHash<QString, QString> named = {{"amp", "&"},   {"lt", "<"},   {"gt", ">"},
                                                  {"quot", "\""}, {"apos", "'"}, {"nbsp", QString(QChar(0xa0))}};
    if (named.contains(name)) {
        decoded = named.value(name);
        return end + 1;
    }
    if (!name.startsWith('#') || name.size() < 2)
        return -1;
    bool ok = false;
    const uint code = name[1] == 'x' || name[1] == 'X' ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
    if (!ok)
        return -1;
    // Nothing a number can name is a way past the escaping: a zero or a
    // half of a surrogate pair is a replacement character.
    if (code == 0 || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        decoded = QString(QChar(QChar::ReplacementCharacter));
    else
        decoded = QString::fromUcs4(&code, 1);
    return end + 1;
}

class Builder
{
public:
    DescriptionMarkup::Result result;

    bool Full() const { return result.cut; }

    void Text(const QString& text)
    {
        if (text.isEmpty() || Full())
            return;
        QString shown = text;
        const int room = DescriptionMarkup::MaxText - m_textLength;
        if (shown.size() > room) {
            int keep = room;
            // Never half a character.
            if (keep > 0 && shown.at(keep - 1).isHighSurrogate())
                --keep;
            shown.truncate(keep);
            result.cut = true;
        }
        m_textLength += shown.size();
        QString html = PeerText::VisibleControls(shown, true).toHtmlEscaped();
        html.replace('\n', "<br>");
        if (!Append(html))
            return;
        m_atBreak = html.endsWith("<br>");
    }

    void Break()
    {
        if (!result.html.isEmpty() && !m_atBreak && Append("<br>"))
            m_atBreak = true;
    }

    void Open(const Tag& tag)
    {
        if (tag.name == "br") {
            if (Append("<br>"))
                m_atBreak = true;
            return;
        }
        if (tag.name == "p") {
            CloseThrough("p");
        } else if (tag.name == "li") {
            const int list = LastList();
            if (list < 0) {
                // An item outside a list is a line of its own.
                Break();
                return;
            }
            const int item = m_open.lastIndexOf("li");
            if (item > list)
                CloseThrough("li");
        }
        if (m_open.size() >= DescriptionMarkup::MaxDepth) {
            result.flattened = true;
            ++m_skipped[tag.name];
            return;
        }
        QString html = "<" + tag.name;
        if (tag.name == "font") {
            const QString color = tag.attributes.value("color");
            if (IsColor(color))
                html += " color=\"" + color + "\"";
            const QString size = tag.attributes.value("size");
            if (IsFontSize(size))
                html += " size=\"" + size + "\"";
        }
        html += ">";
        if (Append(html)) {
            m_open.push_back(tag.name);
            m_atBreak = false;
        }
    }

    void Close(const QString& name)
    {
        if (m_skipped.value(name) > 0) {
            --m_skipped[name];
            return;
        }
        if (m_open.contains(name))
            CloseThrough(name);
    }

    void CloseAll()
    {
        while (!m_open.isEmpty())
            result.html += "</" + m_open.takeLast() + ">";
    }

    void Cut() { result.cut = true; }

private:
    QVector<QString> m_open;
    QHash<QString, int> m_skipped;
    int m_textLength = 0;
    bool m_atBreak = false;

    // The closing tags of the open elements, at most MaxDepth of them, may
    // still follow once this refuses.
    bool Append(const QString& html)
    {
        if (result.html.size() + html.size() > DescriptionMarkup::MaxMarkup) {
            result.cut = true;
            return false;
        }
        result.html += html;
        return true;
    }

    int LastList() const { return qMax(m_open.lastIndexOf("ul"), m_open.lastIndexOf("ol")); }

    void CloseThrough(const QString& name)
    {
        const int at = m_open.lastIndexOf(name);
        if (at < 0)
            return;
        while (m_open.size() > at)
            result.html += "</" + m_open.takeLast() + ">";
    }
};

} // namespace

DescriptionMarkup::Result DescriptionMarkup::Sanitize(const QString& description)
{
    Builder out;
    QString source = description.left(MaxSource);
    // Marked once the reading is done: marking it stops the reading.
    const bool sourceCut = source.size() < description.size();
    if (sourceCut && source.at(source.size() - 1).isHighSurrogate())
        source.chop(1);
    source.replace("\r\n", "\n");

    QString text;
    int i = 0;
    const int size = source.size();
    while (i < size && !out.Full()) {
        const QChar c = source[i];
        if (c == '&') {
            QString decoded;
            const int end = ReadEntity(source, i, decoded);
            text += end < 0 ? QString(c) : decoded;
            i = end < 0 ? i + 1 : end;
            continue;
        }
        if (c != '<') {
            text += c;
            ++i;
            // Text past the bound is never shown: no need to read on.
            if (text.size() > MaxText) {
                out.Text(text);
                text.clear();
            }
            continue;
        }
        // A comment or a declaration shows nothing; an unended comment hides
        // the rest, as it would in any reader of markup.
        if (source.midRef(i, 4) == QLatin1String("<!--")) {
            out.Text(text);
            text.clear();
            const int end = source.indexOf("-->", i + 4);
            i = end < 0 ? size : end + 3;
            continue;
        }
        if (i + 1 < size && (source[i + 1] == '!' || source[i + 1] == '?')) {
            const int end = FindWithin(source, '>', i, kMaxTagLength);
            if (end >= 0) {
                out.Text(text);
                text.clear();
                i = end + 1;
                continue;
            }
        }
        Tag tag;
        const int end = ReadTag(source, i, tag);
        if (end < 0) {
            text += c;
            ++i;
            continue;
        }
        out.Text(text);
        text.clear();
        i = end;
        if (DropsContent(tag.name)) {
            if (!tag.closing) {
                const int close = source.indexOf("</" + tag.name, i, Qt::CaseInsensitive);
                const int after = close < 0 ? -1 : source.indexOf('>', close);
                i = after < 0 ? size : after + 1;
            }
        } else if (IsKept(tag.name)) {
            if (tag.closing)
                out.Close(tag.name);
            else
                out.Open(tag);
        } else if (BreaksLine(tag.name)) {
            out.Break();
        } else if (IsCell(tag.name) && tag.closing) {
            text += ' ';
        }
    }
    out.Text(text);
    out.CloseAll();
    if (sourceCut)
        out.Cut();

    Result result = out.result;
    QStringList notices;
    if (result.cut)
        notices << QCoreApplication::translate("DescriptionMarkup",
                                               "The description is longer than shown here: the rest is left out.");
    if (result.flattened)
        notices << QCoreApplication::translate("DescriptionMarkup",
                                               "Formatting nested deeper than %1 levels is shown plain.")
                       .arg(MaxDepth);
    for (const QString& notice : notices)
        result.html += "<p>" + notice.toHtmlEscaped() + "</p>";
    return result;
}
