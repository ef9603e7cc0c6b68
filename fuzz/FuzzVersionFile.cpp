// The version file as the web host serves it: lines of a build number, a
// download base, a file name and release notes. Whatever the bytes, a file
// taken as valid names a positive build and a link.
#include "FuzzSupport.h"
#include "UpdateChecker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qint64 version = 0;
    QString link;
    QStringList description;
    if (UpdateChecker::ParseVersionFile(fuzz::Bytes(data, size), version, link, description)) {
        fuzz::Require(version > 0);
        fuzz::Require(!link.isEmpty());
        for (const QString& line : description)
            fuzz::Require(!line.contains('\n'));
    }
    return 0;
}
