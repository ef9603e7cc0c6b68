#pragma once

#include <QString>

// The text of a chat-log viewer as one string, lines joined by "\n" as the
// viewer's document holds them, so a character's index is its position in
// the document: finding a word scans flat memory instead of walking the
// document's blocks, and typing one more letter of it goes on from the
// match the word had before instead of from the top.
//
// Matches ignore case, as the viewer's finding does, and never span lines.
class ChatLogSearch
{
public:
    void SetLines(const QStringList& lines);
    void AppendLine(const QString& line);
    void Clear();
    const QString& Text() const { return m_text; }

    // The first match of what in the whole text, or -1.
    int First(const QString& what);
    // The first match starting at from or after, or -1.
    int Next(const QString& what, int from) const;
    // The last match starting at at or before, or -1.
    int Previous(const QString& what, int at) const;

private:
    QString m_text;
    // The last word First was asked for and its answer, while the text has
    // not changed in a way that could give another.
    QString m_lastWhat;
    int m_lastFirst = -1;
};
