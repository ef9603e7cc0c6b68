#pragma once

#include <functional>

// The whole program as main() runs it: the single-instance application
// object, the style, the main window with its start-up, the event loop and
// the teardown. started, when given, runs once the application object exists
// and before the main window is built; a test build hooks its driver in there.
// Returns the process's exit status.
int RunProgram(int& argc, char** argv, const std::function<void()>& started = nullptr);

// Raises the soft limit on open files to the hard one, so that peer
// connections, files and the server share all the system allows the
// process; returns the soft limit now in force (-1 when it cannot be read).
long long RaiseOpenFilesLimit();
