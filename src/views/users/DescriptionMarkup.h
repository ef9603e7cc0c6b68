#pragma once

#include <QString>
#include <QTextOption>

// Another user's description is markup, but the toolkit's rich text lays out
// whatever it is given: tables nested a thousand deep, a megabyte without a
// space. What reaches the document is rebuilt here from a few formatting
// elements, bounded in length and nesting; every character of text is
// escaped and its controls made visible, so no markup of the peer's own is
// passed on unread.
class DescriptionMarkup
{
public:
    // Characters of text shown; the rest is cut.
    static constexpr int MaxText = 20000;
    // Markup made for them, tags included; beyond it the rest is cut too.
    static constexpr int MaxMarkup = 200000;
    // Characters of the description read at all, markup included.
    static constexpr int MaxSource = 1000000;
    // Formatting elements open at once; deeper ones are shown flat.
    static constexpr int MaxDepth = 8;

    struct Result
    {
        QString html;           // ends with a plain notice when cut or flattened
        bool cut = false;       // text or markup beyond the bounds left out
        bool flattened = false; // elements beyond the depth left out
    };

    // The description as safe markup, line ends ("\r\n" or "\n") as breaks.
    static Result Sanitize(const QString& description);

    // The wrapping a document showing it needs: a word longer than the line
    // is broken, rather than laid out as one line the width of the word.
    static constexpr QTextOption::WrapMode Wrap = QTextOption::WrapAtWordBoundaryOrAnywhere;
};
