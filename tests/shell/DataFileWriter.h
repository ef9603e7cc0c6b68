#pragma once

#include <QMap>
#include <QString>

// Prepares a data file as an earlier run would have left it, with the
// project's own data saver. It uses the program's one store, so it runs
// while no main window exists; the store is empty again afterwards.
class DataFileWriter
{
public:
    // settings: key to text; sounds: event kind to sound file.
    static bool Write(const QString& prefix, const QMap<QString, QString>& settings,
                      const QMap<QString, QString>& sounds = QMap<QString, QString>());
};
