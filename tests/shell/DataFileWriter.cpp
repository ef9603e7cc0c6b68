#include "DataFileWriter.h"

#include "Data.h"
#include "DataSaver.h"
#include "Settings.h"

bool DataFileWriter::Write(const QString& prefix, const QMap<QString, QString>& settings,
                           const QMap<QString, QString>& sounds)
{
    d.Reset();
    bool written = false;
    {
        DeclareSettingTypes();
        Type* sound = d.NewType("event_sound", 0, false, true);
        Type* soundFile = d.NewType("event_sound_file", 2, false, true);
        sound->RelateToType(soundFile, many, one, false);

        DataSaver saver;
        saver.AddSavedType("global");
        saver.AddSavedByConnectionType("global_value", "global");
        saver.AddSavedType("event_sound");
        saver.AddSavedType("event_sound_file");
        for (auto i = settings.begin(); i != settings.end(); ++i)
            SetSetting(i.key().toUtf8().constData(), i.value());
        for (auto i = sounds.begin(); i != sounds.end(); ++i)
            sound->NewItem(i.key()) += soundFile->NewItem(i.value());
        try {
            saver.Save(prefix);
            written = true;
        } catch (const DataSaveFailure&) {
        }
    }
    d.Reset();
    return written;
}
