#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Takes the place of the desktop's handlers for files and web pages while
// it lives, and records every address it is handed instead of opening it.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    explicit UrlRecorder(QObject* parent = nullptr);
    ~UrlRecorder() override;

    QList<QUrl> urls;

public slots:
    void Open(const QUrl& url);
};
