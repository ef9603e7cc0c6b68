#include "UrlRecorder.h"

#include <QDesktopServices>

namespace {
const char* const kSchemes[] = {"file", "http", "https"};
}

UrlRecorder::UrlRecorder(QObject* parent) : QObject(parent)
{
    for (const char* scheme : kSchemes)
        QDesktopServices::setUrlHandler(scheme, this, "Open");
}

UrlRecorder::~UrlRecorder()
{
    for (const char* scheme : kSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void UrlRecorder::Open(const QUrl& url)
{
    urls.append(url);
}
