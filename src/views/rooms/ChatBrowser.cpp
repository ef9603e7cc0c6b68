#include "ChatBrowser.h"

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
