#pragma once

#include <QByteArray>
#include <functional>

#include "StoreFixture.h"
#include "TempTree.h"

class TransferQueueManager;

// The store and the engines the transfer engine is built on, made in the
// order the main window makes them, with a temporary folder for files.
class TransfersFixture : public TempTree
{
public:
    TransfersFixture() = default;
    ~TransfersFixture();
    TransfersFixture(const TransfersFixture&) = delete;
    TransfersFixture& operator=(const TransfersFixture&) = delete;

    // A fresh store with the neighbouring types, a new engine and an empty
    // temporary folder; beforeEngine runs just before the engine is made.
    void Start(const std::function<void()>& beforeEngine = nullptr);
    // Deletes the engine and its neighbours and empties the store.
    void Stop();

    // Bytes that differ from chunk to chunk, so misplaced chunks show.
    static QByteArray Pattern(qint64 size, quint32 seed = 1);

    StoreFixture store;
    TransferQueueManager* engine = nullptr;
};
