#include "StartFailure.h"

#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace StartFailure {

bool ShownToUser(const QString& platformName)
{
    return !platformName.isEmpty() && platformName != "offscreen" && !platformName.startsWith("minimal");
}

void Tell(const QString& reason, bool shown)
{
    std::fprintf(stderr, "%s\n", qPrintable(reason));
    if (shown)
        QMessageBox::critical(nullptr, QMessageBox::tr("QuorvaneQt cannot start"), reason, QMessageBox::Ok);
}

void Tell(const QString& reason)
{
    Tell(reason, ShownToUser(QGuiApplication::platformName()));
}

} // namespace StartFailure
