#pragma once

#include <QApplication>

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
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUORVANE_TEST", "1");
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

} // namespace fuzz
