#include "FilterParser.h"

#include <QRegularExpression>

#include <limits>

namespace {
// The number after a keyword such as "mbr:", when the word starts with one
// of the keyword's spellings.
bool NumberAfter(const QString& word, const char* longForm, const char* shortForm, qint64& number)
{
    QString digits;
    if (word.startsWith(QLatin1String(longForm)))
        digits = word.mid(static_cast<int>(qstrlen(longForm)));
    else if (word.startsWith(QLatin1String(shortForm)))
        digits = word.mid(static_cast<int>(qstrlen(shortForm)));
    else
        return false;
    bool ok = false;
    number = digits.toLongLong(&ok);
    return ok;
}

bool IsKeyword(const QString& word)
{
    static const char* const prefixes[] = {"minbitrate:", "mbr:", "minfilesize:", "mfs:", "minfilesinfolder:", "mfif:"};
    for (const char* prefix : prefixes) {
        if (word.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

int ClampToInt(qint64 n)
{
    return static_cast<int>(qBound<qint64>(std::numeric_limits<int>::min(), n, std::numeric_limits<int>::max()));
}
} // namespace

void FilterParser::Parse(const QString& text)
{
    *this = FilterParser();
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = text.toLower().split(blanks, Qt::SkipEmptyParts);
    for (const QString& word : words) {
        qint64 number = 0;
        if (word == QLatin1String("isvbr"))
            m_isVbr = true;
        else if (word == QLatin1String("iscbr"))
            m_isCbr = true;
        else if (NumberAfter(word, "minbitrate:", "mbr:", number)) {
            m_minBitrate = ClampToInt(number);
            m_hasMinBitrate = true;
        } else if (NumberAfter(word, "minfilesize:", "mfs:", number)) {
            const qint64 unit = 1000000;
            const qint64 limit = std::numeric_limits<qint64>::max() / unit;
            m_minFileSize = qBound(-limit, number, limit) * unit;
            m_hasMinFileSize = true;
        } else if (NumberAfter(word, "minfilesinfolder:", "mfif:", number))
            m_minFilesInFolder = ClampToInt(number);
        else if (IsKeyword(word)) {
            // A condition without a usable number (often one still being
            // typed) filters nothing rather than hiding every row.
        } else if (word.startsWith(QLatin1Char('-'))) {
            // A lone "-" would exclude every text.
            if (word.size() > 1)
                m_excluded << word.mid(1);
        } else
            m_included << word;
    }
}

bool FilterParser::HasAttributes() const
{
    return m_isVbr || m_isCbr || m_hasMinBitrate || m_hasMinFileSize;
}

void FilterParser::CopyConditionsFrom(const FilterParser& other)
{
    m_minBitrate = other.m_minBitrate;
    m_hasMinBitrate = other.m_hasMinBitrate;
    m_isVbr = other.m_isVbr;
    m_isCbr = other.m_isCbr;
    m_minFileSize = other.m_minFileSize;
    m_hasMinFileSize = other.m_hasMinFileSize;
    m_minFilesInFolder = other.m_minFilesInFolder;
}

FilterParser::FileAttributes FilterParser::AttributesOf(ItemPtr result)
{
    FileAttributes file;
    file.size = result["file_size"].AsInt64();
    file.bitrate = result["bitrate"].AsInt();
    const QString mode = result["bitrate_mode"].AsString();
    file.vbr = mode == QLatin1String("vbr");
    file.cbr = mode == QLatin1String("cbr");
    return file;
}

bool FilterParser::AttributesMatch(const FileAttributes& file) const
{
    if (m_isVbr && !file.vbr)
        return false;
    if (m_isCbr && !file.cbr)
        return false;
    if (m_hasMinBitrate && file.bitrate < m_minBitrate)
        return false;
    if (m_hasMinFileSize && file.size < m_minFileSize)
        return false;
    return true;
}

bool FilterParser::AttributesMatch(ItemPtr result) const
{
    // A filter without conditions reads nothing of the file.
    return !HasAttributes() || AttributesMatch(AttributesOf(result));
}

int FilterParser::IsMatching(const QString& text, FilterParser* remainder, ItemPtr result) const
{
    // Copies, as the remainder may be this very filter.
    const QStringList included = m_included;
    const QStringList excluded = m_excluded;
    if (remainder) {
        remainder->CopyConditionsFrom(*this);
        remainder->m_included.clear();
        remainder->m_excluded.clear();
    }

    if (!result.IsNull() && !AttributesMatch(result))
        return Rejected;

    for (const QString& word : excluded) {
        if (text.contains(word, Qt::CaseInsensitive))
            return Rejected;
    }
    if (remainder)
        remainder->m_excluded = excluded;

    int outcome = Matching;
    for (const QString& word : included) {
        if (text.contains(word, Qt::CaseInsensitive))
            continue;
        if (!remainder)
            return MissingWord;
        remainder->m_included << word;
        outcome = MissingWord;
    }
    return outcome;
}
