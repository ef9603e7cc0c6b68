#include "InertTextDocument.h"

#include <QImage>
#include <QVariant>

InertTextDocument::InertTextDocument(QObject* parent) : QTextDocument(parent) {}

QVariant InertTextDocument::loadResource(int type, const QUrl&)
{
    return NoResource(type);
}

QVariant InertTextDocument::NoResource(int type)
{
    // A missing picture would make the toolkit's image handler read the
    // named file itself, so a picture gets a blank point instead.
    if (type == QTextDocument::ImageResource) {
        QImage blank(1, 1, QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        return blank;
    }
    return QVariant();
}
