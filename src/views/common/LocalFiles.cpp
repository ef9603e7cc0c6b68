#include "LocalFiles.h"

#include <QDesktopServices>
#include <QUrl>

void OpenLocalPath(const QString& path)
{
    if (path.isEmpty())
        return;
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString(path).replace('\\', '/')));
}
