#include "PeerText.h"

namespace {
const QChar kFirstStrongIsolate(0x2068);
const QChar kPopDirectionalIsolate(0x2069);

bool OpensIsolate(QChar c)
{
    const ushort u = c.unicode();
    return u == 0x2066 || u == 0x2067 || u == 0x2068;
}
} // namespace

namespace PeerText {
int ShownLength(const QString& text, int cap)
{
    if (text.size() <= cap) {
        return text.size();
    }
    return text.at(cap - 1).isHighSurrogate() ? cap - 1 : cap;
}

QString LeftOutNotice(int leftOut)
{
    return QString(" %1 (%2 more characters not shown)").arg(QChar(0x2026)).arg(leftOut);
}

QString Breakable(const QString& text, int longest, bool markup)
{
    const QChar kBreak(0x200b);
    QString out;
    out.reserve(text.size() + text.size() / longest + 1);
    int run = 0;
    bool inTag = false;
    bool inReference = false;
    for (QChar c : text) {
        if (markup && (inTag || c == '<')) {
            inTag = c != '>';
            run = 0;
            out += c;
            continue;
        }
        // A break inside a character reference ("&amp;") would show it as text.
        const bool withinReference = inReference;
        if (markup && c == '&')
            inReference = true;
        else if (inReference && !c.isLetterOrNumber() && c != '#')
            inReference = false;
        if (c.isSpace() || c == kBreak) {
            run = 0;
        } else if (++run > longest && !withinReference && !c.isLowSurrogate() && !c.isMark()) {
            out += kBreak;
            run = 1;
        }
        out += c;
    }
    return out;
}

QString Bounded(const QString& text, int cap)
{
    const int kept = ShownLength(text, cap);
    return kept == text.size() ? text : text.left(kept) + LeftOutNotice(text.size() - kept);
}

QString VisibleControls(const QString& text, bool keepLineBreaks)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\n' && keepLineBreaks) {
            out += c;
        } else if (u < 0x20) {
            out += QChar(0x2400 + u);
        } else if (u == 0x7f) {
            out += QChar(0x2421);
        } else {
            out += c;
        }
    }
    return out;
}

QString Isolated(const QString& text)
{
    QString out;
    out.reserve(text.size() + 4);
    out += kFirstStrongIsolate;
    int open = 0;
    for (QChar c : text) {
        if (OpensIsolate(c)) {
            ++open;
        } else if (c == kPopDirectionalIsolate) {
            // A closing isolate with none of the text's own open would end
            // ours and let the rest of the text loose.
            if (open == 0) {
                continue;
            }
            --open;
        }
        out += c;
    }
    out += QString(open, kPopDirectionalIsolate);
    out += kPopDirectionalIsolate;
    return out;
}

QString Line(const QString& text)
{
    return Isolated(VisibleControls(text));
}

QString Title(const QString& text)
{
    return Line(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString Html(const QString& text, bool keepLineBreaks)
{
    QString html = Isolated(VisibleControls(text, keepLineBreaks)).toHtmlEscaped();
    if (keepLineBreaks) {
        html.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    }
    return html;
}
} // namespace PeerText
