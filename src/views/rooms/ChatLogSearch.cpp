#include "ChatLogSearch.h"

#include <QStringList>
#include <algorithm>

namespace {

// The document finds a no-break space where a space is asked for; so does
// this text, one character for one.
QString Searchable(QString text)
{
    return text.replace(QChar::Nbsp, QLatin1Char(' '));
}

bool CanMatch(const QString& what)
{
    return !what.isEmpty() && !what.contains(QLatin1Char('\n'));
}

} // namespace

void ChatLogSearch::SetLines(const QStringList& lines)
{
    m_text = Searchable(lines.join(QLatin1Char('\n')));
    m_lastWhat.clear();
}

void ChatLogSearch::AppendLine(const QString& line)
{
    // Like the document's own, a first line goes into the empty text.
    if (!m_text.isEmpty())
        m_text += QLatin1Char('\n');
    m_text += Searchable(line);
    // A first match stays first below new lines; none may now be one.
    if (m_lastFirst < 0)
        m_lastWhat.clear();
}

void ChatLogSearch::Clear()
{
    m_text.clear();
    m_lastWhat.clear();
}

int ChatLogSearch::First(const QString& what)
{
    if (!CanMatch(what))
        return -1;
    int first;
    // A longer word's first match can start no earlier than its beginning's.
    if (!m_lastWhat.isEmpty() && what.startsWith(m_lastWhat, Qt::CaseInsensitive))
        first = m_lastFirst < 0 ? -1 : Next(what, m_lastFirst);
    else
        first = Next(what, 0);
    m_lastWhat = what;
    m_lastFirst = first;
    return first;
}

int ChatLogSearch::Next(const QString& what, int from) const
{
    if (!CanMatch(what) || from > m_text.size())
        return -1;
    return m_text.indexOf(what, from, Qt::CaseInsensitive);
}

int ChatLogSearch::Previous(const QString& what, int at) const
{
    if (!CanMatch(what))
        return -1;
    // Started no later than where a match can still fit, and never from a
    // negative place, which would count from the end.
    at = std::min(at, m_text.size() - what.size());
    if (at < 0)
        return -1;
    return m_text.lastIndexOf(what, at, Qt::CaseInsensitive);
}
