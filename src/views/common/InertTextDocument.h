#pragma once

#include <QTextDocument>

// A text document for markup that comes from the server or from peers: it
// lays out the text and its formatting but loads nothing the markup names.
// The toolkit's own document reads any local file, style sheet or embedded
// picture a tag points at, of whatever size; here every picture is an empty
// point and every other resource is missing.
class InertTextDocument : public QTextDocument
{
    Q_OBJECT

public:
    explicit InertTextDocument(QObject* parent = nullptr);

    // What such a document gives for any resource: a blank point for a
    // picture, nothing otherwise. Views that load resources themselves
    // answer the same.
    static QVariant NoResource(int type);

protected:
    QVariant loadResource(int type, const QUrl& name) override;
};
