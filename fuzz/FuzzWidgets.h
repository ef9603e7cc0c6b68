#pragma once

#include <QApplication>

#include "FuzzSupport.h"

// What the targets that lay out text or show widgets share: one widgets
// application on the offscreen platform for the process.
//
// The font library allocates its configuration once, when the first text
// is laid out, and keeps it beyond any pointer LeakSanitizer can see; every
// other leak still ends the run. (One translation unit per target includes
// this header.)
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace fuzz {

inline void EnsureWidgetsApplication()
{
    EnsureApplication<QApplication>();
}

} // namespace fuzz
