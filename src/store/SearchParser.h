#pragma once

#include <QString>
#include <set>

// The search-text language: words separated by spaces or tabs, a leading "-"
// excluding a word, a leading "*" asking for it as part of a name, and a
// double-quoted stretch standing for one word that may hold spaces.
class SearchParser
{
public:
    // False, keeping the words of the last accepted text, when the text is
    // malformed or holds neither a plain nor a part word.
    bool SetSearchText(const QString& text);

    const std::set<QString>& GetIncludedTokenSet() const { return m_included; }
    const std::set<QString>& GetIncludedPartTokenSet() const { return m_includedParts; }
    const std::set<QString>& GetExcludedTokenSet() const { return m_excluded; }

private:
    std::set<QString> m_included;
    std::set<QString> m_includedParts;
    std::set<QString> m_excluded;
};
