#pragma once

#include <QString>

class ItemPtr;

// Settings are items: one "global" item per key (one "vglobal" item per
// key for settings never saved), connected to the shared "global_value"
// item that holds the text. All helpers are harmless before the types are
// declared: reads give "" and writes do nothing.

// Declares "global", "vglobal" and "global_value" and their relations.
void DeclareSettingTypes();

QString GetSetting(const char* key);
// Writing the text a key already holds raises no event.
void SetSetting(const char* key, const QString& value);
// A switch is on only when its text is exactly "yes".
bool IsSettingOn(const char* key);
// Leaves the key without a value.
void RemoveSetting(const char* key);
ItemPtr GetSettingItem(const char* key);

QString GetRuntimeSetting(const char* key);
void SetRuntimeSetting(const char* key, const QString& value);
bool IsRuntimeSettingOn(const char* key);
void RemoveRuntimeSetting(const char* key);
ItemPtr GetRuntimeSettingItem(const char* key);
