#pragma once

#include <QTextBrowser>
#include <QTextCursor>

// The rich-text view of words from other users (room chat, walls): it
// follows no link by itself, leaving a click to its page, loads no
// resource that anything in its text might name, file or otherwise, and
// breaks a word too long for it.
class ChatBrowser : public QTextBrowser
{
    Q_OBJECT

public:
    explicit ChatBrowser(QWidget* parent = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;

    // Holds the layout of what is added until this turn of the event loop
    // ends, so that a burst of lines is laid out once rather than once per
    // line. The text is in the document at once; a view that was at its
    // bottom follows the new lines there.
    void HoldLayoutThisTurn();

private:
    void ReleaseLayout();

    // The cursor whose edit block holds the layout; null when none does.
    QTextCursor m_held;
    bool m_wasAtBottom = false;
};
