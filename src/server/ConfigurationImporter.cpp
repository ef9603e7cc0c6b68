#include "ConfigurationImporter.h"

#include <QFile>
#include <QStringList>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "ServerNames.h"

namespace {
bool ReadU32(QFile& file, quint32& value)
{
    unsigned char bytes[4];
    if (file.read(reinterpret_cast<char*>(bytes), 4) != 4)
        return false;
    value = quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 | quint32(bytes[3]) << 24;
    return true;
}
} // namespace

bool ConfigurationImporter::ImportUserList(QString path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Log("Configuration Data", 1, QString("User list %1 could not be opened").arg(path));
        return false;
    }

    quint32 count = 0;
    if (!ReadU32(file, count) || count > MaxUserListValue) {
        Log("Configuration Data", 1, QString("User list %1 has no valid name count").arg(path));
        return false;
    }
    QStringList names;
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        if (!ReadU32(file, length) || length > MaxUserListValue) {
            Log("Configuration Data", 1, QString("User list %1 is damaged at name %2").arg(path).arg(i + 1));
            return false;
        }
        const QByteArray bytes = file.read(length);
        if (quint32(bytes.size()) != length) {
            Log("Configuration Data", 1, QString("User list %1 ends early at name %2").arg(path).arg(i + 1));
            return false;
        }
        names.append(ToQString(std::string(bytes.constData(), size_t(bytes.size()))));
    }

    Type* users = d.GetType(ServerNames::User);
    for (const QString& name : names) {
        // A user without a name cannot be listed, searched or messaged.
        if (name.isEmpty())
            continue;
        users->GetItem(name).NewItem(ServerNames::InUserList);
    }
    Log("Configuration Data", 1, QString("Imported %1 users from %2").arg(names.size()).arg(path));
    return true;
}
