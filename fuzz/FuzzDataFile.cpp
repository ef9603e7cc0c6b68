// The data file loader over the program's own types: any bytes either load
// whole or leave the store as it was, and what loaded saves to a file that
// loads.
#include "Data.h"
#include "DataSaver.h"
#include "FuzzSupport.h"
#include "StoreFixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    static StoreFixture* store = [] {
        auto* fixture = new StoreFixture;
        fixture->Start();
        return fixture;
    }();
    const size_t before = d.ItemCount();
    if (!store->saver->Apply(fuzz::Bytes(data, size))) {
        fuzz::Require(d.ItemCount() == before);
        return 0;
    }
    // Whatever loaded saves to a file that loads.
    fuzz::Require(store->saver->Apply(store->saver->Serialize()));
    // The next input starts from the same store.
    store->Stop();
    d.Reset();
    store->Start();
    return 0;
}
