#pragma once

#include <QString>

#include "ItemPtr.h"

// The program's one logging call. Never fails; does nothing unless the
// setting "show_diagnostics" is "yes" and the diagnostics window exists.
// Level 1 is a main event, 2 and 3 detail (indented). Safe from any thread.
void Log(const QString& area, int level, const QString& text, ItemPtr item = ItemPtr());
