#include "ChatBrowser.h"

#include <QScrollBar>
#include <QTimer>

#include "common/InertTextDocument.h"

ChatBrowser::ChatBrowser(QWidget* parent) : QTextBrowser(parent)
{
    setDocument(new InertTextDocument(this));
    // A view that only grows must not keep every change to undo it.
    document()->setUndoRedoEnabled(false);
    // A word longer than the view is broken where it meets the edge rather
    // than laid out as one line as wide as itself.
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

QVariant ChatBrowser::loadResource(int type, const QUrl&)
{
    return InertTextDocument::NoResource(type);
}

void ChatBrowser::HoldLayoutThisTurn()
{
    if (!m_held.isNull())
        return;
    const QScrollBar* bar = verticalScrollBar();
    m_wasAtBottom = bar->value() >= bar->maximum();
    // The document lays out and tells its views only when the outermost
    // edit block ends.
    m_held = QTextCursor(document());
    m_held.beginEditBlock();
    QTimer::singleShot(0, this, &ChatBrowser::ReleaseLayout);
}

void ChatBrowser::ReleaseLayout()
{
    if (m_held.isNull())
        return;
    QTextCursor held = m_held;
    m_held = QTextCursor();
    held.endEditBlock();
    if (m_wasAtBottom)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}
