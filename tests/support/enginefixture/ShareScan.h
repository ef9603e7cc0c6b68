#pragma once

#include <QString>
#include <QTest>

#include "ItemPtr.h"
#include "SharedFoldersManager.h"

// Shares a folder and waits, at most timeoutMs, for its first scan to be in
// the store: what the user sees once the Options row stops saying it is
// scanning. Null when the scan did not end in time.
inline ItemPtr ShareScanned(SharedFoldersManager* manager, const QString& path, int timeoutMs = 30000)
{
    ItemPtr folder = manager->AddSharedFolder(path);
    if (!QTest::qWaitFor([&] { return !manager->IsScanningNewFolder(path); }, timeoutMs))
        return ItemPtr();
    return folder;
}
