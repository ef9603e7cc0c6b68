#pragma once

#include <QString>
#include <QStringList>

#include "ItemPtr.h"
#include "StoreFixture.h"
#include "TempTree.h"

class DNetManager;
class PeerMessenger;
class SharedFoldersManager;

// The store and the engines the shared-folders manager is built on, in the
// order the main window makes them, over a temporary folder for trees.
class SharesFixture : public TempTree
{
public:
    SharesFixture();
    ~SharesFixture();

    // A fresh store with the neighbouring types and a new manager.
    void Start();
    // Deletes the manager and the engines and empties the store; the
    // temporary folder stays.
    void Stop();

    // RescanShares, then the wait for its report; false when none came.
    bool Rescan() const;

    // Writes a file of size bytes, making its folders.
    QString WriteFile(const QString& relative, int size = 0) const;

    // "folder/name" of every shared file, sorted.
    static QStringList SharedPaths();
    // The values of every item of a type, sorted.
    static QStringList Values(const char* type);
    // The search tokens of a file, sorted.
    static QStringList Tokens(ItemPtr file);

    SharedFoldersManager* manager = nullptr;

private:
    StoreFixture m_store;
    PeerMessenger* m_peer = nullptr;
    DNetManager* m_dnet = nullptr;
};
