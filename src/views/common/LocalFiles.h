#pragma once

#include <QString>

// Hands a local file or folder to the desktop's default program. Paths of
// the store use "\" between folders; every "\" becomes "/" first. An empty
// path (one the engine refused to build) opens nothing; a failure to open
// is the desktop's to show.
void OpenLocalPath(const QString& path);
