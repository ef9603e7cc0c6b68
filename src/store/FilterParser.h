#pragma once

#include "ItemPtr.h"

#include <QString>
#include <QStringList>

// The result-filter language of the results pages and share browsers:
// required words, excluded words (leading "-"), "isvbr", "iscbr",
// "minbitrate:"/"mbr:" n, "minfilesize:"/"mfs:" n (n times 1,000,000 bytes)
// and "minfilesinfolder:"/"mfif:" n.
class FilterParser
{
public:
    enum Match
    {
        Matching = 0,
        MissingWord = 1,
        Rejected = 2
    };

    // What the attribute conditions read of a file, taken from its result
    // once so that a view testing many files reads no item per test.
    struct FileAttributes
    {
        qint64 size = 0;
        int bitrate = 0;
        bool vbr = false;
        bool cbr = false;
    };

    FilterParser() = default;

    static FileAttributes AttributesOf(ItemPtr result);

    // Replaces the whole filter by the one the text describes.
    void Parse(const QString& text);

    // Whether a bitrate, size, vbr or cbr condition is set.
    bool HasAttributes() const;
    int MinFilesInFolder() const { return m_minFilesInFolder; }

    // Rejected when a given result fails an attribute condition or the text
    // holds an excluded word; MissingWord when a required word is not in the
    // text. A remainder receives the conditions, the minimum files in a
    // folder and, unless an excluded word was found, the excluded words and
    // the required words still missing, so a folder name can satisfy words
    // for the files below it. The remainder may be this filter itself.
    int IsMatching(const QString& text, FilterParser* remainder, ItemPtr result) const;

    // Whether a file meets the attribute conditions (always, with none).
    bool AttributesMatch(const FileAttributes& file) const;

    const QStringList& GetIncludedWords() const { return m_included; }
    const QStringList& GetExcludedWords() const { return m_excluded; }
    int MinBitrate() const { return m_minBitrate; }
    qint64 MinFileSize() const { return m_minFileSize; }
    bool IsVbr() const { return m_isVbr; }
    bool IsCbr() const { return m_isCbr; }

private:
    bool AttributesMatch(ItemPtr result) const;
    void CopyConditionsFrom(const FilterParser& other);

    QStringList m_included;
    QStringList m_excluded;
    int m_minBitrate = 0;
    bool m_hasMinBitrate = false;
    bool m_isVbr = false;
    bool m_isCbr = false;
    qint64 m_minFileSize = 0;
    bool m_hasMinFileSize = false;
    int m_minFilesInFolder = 0;
};
