// The user-list import of another client's file: a damaged file adds
// nobody; a whole one adds every named user.
#include "ConfigurationImporter.h"
#include "Data.h"
#include "FuzzSupport.h"
#include "StoreFixture.h"

#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    static QTemporaryDir dir;
    static StoreFixture* store = [] {
        auto* fixture = new StoreFixture;
        fixture->Start();
        return fixture;
    }();
    const QString path = dir.filePath("users.cfg");
    {
        QFile file(path);
        fuzz::Require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    Type* users = d.GetType("user");
    const size_t before = users->Count();
    if (!ConfigurationImporter::ImportUserList(path))
        fuzz::Require(users->Count() == before);
    if (users->Count() > 10000) {
        store->Stop();
        d.Reset();
        store->Start();
    }
    return 0;
}
