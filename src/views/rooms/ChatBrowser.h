#pragma once

#include <QTextBrowser>

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
};
