#include "SearchParser.h"

namespace {
bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}
} // namespace

bool SearchParser::SetSearchText(const QString& text)
{
    const QString lower = text.toLower();
    const int size = lower.size();
    std::set<QString> included, includedParts, excluded;

    int i = 0;
    while (true) {
        while (i < size && IsBlank(lower[i]))
            ++i;
        if (i == size)
            break;

        const QChar marker = lower[i];
        const bool isMarked = marker == QLatin1Char('-') || marker == QLatin1Char('*');
        if (isMarked)
            ++i;

        QString word;
        if (i < size && lower[i] == QLatin1Char('"')) {
            const int close = lower.indexOf(QLatin1Char('"'), i + 1);
            if (close < 0)
                return false;
            word = lower.mid(i + 1, close - i - 1);
            i = close + 1;
            // Text glued to the closing quote makes a word that still holds
            // a quote.
            if (i < size && !IsBlank(lower[i]))
                return false;
        } else {
            const int start = i;
            while (i < size && !IsBlank(lower[i]))
                ++i;
            word = lower.mid(start, i - start);
            if (word.contains(QLatin1Char('"')))
                return false;
        }
        if (word.isEmpty())
            return false;

        if (!isMarked)
            included.insert(word);
        else if (marker == QLatin1Char('-'))
            excluded.insert(word);
        else
            includedParts.insert(word);
    }

    if (included.empty() && includedParts.empty())
        return false;
    m_included.swap(included);
    m_includedParts.swap(includedParts);
    m_excluded.swap(excluded);
    return true;
}
