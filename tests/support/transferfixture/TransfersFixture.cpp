#include "TransfersFixture.h"

#include <QtTest>

#include "Data.h"
#include "TransferQueueManager.h"

namespace {
// The types that peer messaging and the shared-folders manager declare
// before the engine exists; only their names matter to the engine.
void DeclareNeighbourTypes()
{
    for (const char* type : {"file_size", "search_request_text"})
        if (!d.HasType(type))
            d.NewType(type, 2, false, true);
    if (!d.HasType("shared_file"))
        d.NewType("shared_file", 0, false, true);
}
} // namespace

TransfersFixture::~TransfersFixture()
{
    Stop();
}

void TransfersFixture::Start(const std::function<void()>& beforeEngine)
{
    Stop();
    Renew();
    QVERIFY(IsValid());
    store.Start();
    DeclareNeighbourTypes();
    if (beforeEngine)
        beforeEngine();
    engine = new TransferQueueManager;
}

void TransfersFixture::Stop()
{
    // While the engine is there, removing the items frees their heap values.
    if (engine)
        d.RemoveAllItems();
    delete engine;
    engine = nullptr;
    store.Stop();
    d.Reset();
}

QByteArray TransfersFixture::Pattern(qint64 size, quint32 seed)
{
    return TempTree::Pattern(size, seed * 2654435761u + 1);
}
