#pragma once

#include <QString>

#include "ItemPtr.h"

// The program's one logging call. Never fails; does nothing unless the
// setting "show_diagnostics" is "yes" and the diagnostics window exists.
// Level 1 is a main event, 2 and 3 detail (indented). Safe from any thread.
void Log(const QString& area, int level, const QString& text, ItemPtr item = ItemPtr());

// Whether Log records anything now, so that a busy path can skip building
// its text. Cheap; off another thread it answers yes and leaves the choice
// to Log.
bool IsLogging();
