#include "ChatBrowser.h"

#include <QTextDocument>

namespace {

// A document asks its view for a resource and, given none, would read a
// local file or a data address by itself; this one never does.
class ResourcelessDocument : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return QVariant(); }
};

} // namespace

ChatBrowser::ChatBrowser(QWidget* parent) : QTextBrowser(parent)
{
    setDocument(new ResourcelessDocument(this));
    // A view that only grows must not keep every change to undo it.
    document()->setUndoRedoEnabled(false);
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

QVariant ChatBrowser::loadResource(int, const QUrl&)
{
    return QVariant();
}
