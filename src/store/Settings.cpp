#include "Settings.h"

#include "Data.h"

namespace {
ItemPtr KeyItem(const char* keyType, const char* key, bool create)
{
    Type* type = d.HasType(keyType);
    if (!type || !d.HasType("global_value"))
        return ItemPtr();
    return create ? type->NewItem(key) : type->HasItem(key);
}

QString Read(const char* keyType, const char* key)
{
    return KeyItem(keyType, key, false)["global_value"].AsString();
}

void Write(const char* keyType, const char* key, const QString& value)
{
    ItemPtr keyItem = KeyItem(keyType, key, true);
    if (!keyItem)
        return;
    keyItem += d.GetType("global_value")->NewItem(value);
}

void Clear(const char* keyType, const char* key)
{
    ItemPtr keyItem = KeyItem(keyType, key, false);
    if (keyItem)
        keyItem.Disconnect("global_value");
}
} // namespace

void DeclareSettingTypes()
{
    Type* global = d.NewType("global", 0, false, true);
    Type* vglobal = d.NewType("vglobal", 0, false, true);
    Type* value = d.NewType("global_value", 2, false, true);
    global->RelateToType(value, many, one, false);
    vglobal->RelateToType(value, many, one, false);
}

QString GetSetting(const char* key)
{
    return Read("global", key);
}

void SetSetting(const char* key, const QString& value)
{
    Write("global", key, value);
}

bool IsSettingOn(const char* key)
{
    return GetSetting(key) == QLatin1String("yes");
}

void RemoveSetting(const char* key)
{
    Clear("global", key);
}

ItemPtr GetSettingItem(const char* key)
{
    return KeyItem("global", key, true);
}

QString GetRuntimeSetting(const char* key)
{
    return Read("vglobal", key);
}

void SetRuntimeSetting(const char* key, const QString& value)
{
    Write("vglobal", key, value);
}

bool IsRuntimeSettingOn(const char* key)
{
    return GetRuntimeSetting(key) == QLatin1String("yes");
}

void RemoveRuntimeSetting(const char* key)
{
    Clear("vglobal", key);
}

ItemPtr GetRuntimeSettingItem(const char* key)
{
    return KeyItem("vglobal", key, true);
}
