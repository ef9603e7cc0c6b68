#pragma once

#include <QKeySequence>
#include <QString>

// A tab, button or action text as the toolkit draws it: "&&" is drawn as an
// ampersand, a lone "&" marks the shortcut and is not drawn.
inline QString DrawnText(const QString& text)
{
    QString drawn;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        drawn += text[i];
    }
    return drawn;
}

// Whether the text, so drawn, shows the name whole and in its own
// direction run, and gives the tab or button no shortcut.
inline bool DrawsName(const QString& text, const QString& shownName)
{
    const QString drawn = DrawnText(text);
    return QKeySequence::mnemonic(text).isEmpty() && drawn.contains(QChar(0x2068) + shownName + QChar(0x2069));
}
