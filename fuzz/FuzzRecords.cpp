// The records peers and the server fill with their own bytes: a file's
// info, its attributes, a shared folder's files and a user's statistics.
// The first byte picks the reader, the rest is the record. Whatever reads
// must write back to bytes that read the same again.
#include "AttributeMap.h"
#include "FileInfo.h"
#include "FuzzSupport.h"
#include "MemStream.h"
#include "SharedFolderInfo.h"
#include "UserStats.h"

namespace {

// Reads one record; when that works, its written form must read back and
// write again unchanged.
template <typename Record>
void RoundTrip(const QByteArray& bytes)
{
    MemStream in(bytes);
    Record record;
    if (!record.Read(in))
        return;
    MemStream first;
    record.Write(first);
    MemStream again(first.GetBytes());
    Record copy;
    fuzz::Require(copy.Read(again));
    fuzz::Require(again.Remaining() == 0);
    MemStream second;
    copy.Write(second);
    fuzz::Require(second.GetBytes() == first.GetBytes());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes = fuzz::Bytes(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        RoundTrip<FileInfo>(bytes);
        break;
    case 1:
        RoundTrip<AttributeMap>(bytes);
        break;
    case 2:
        RoundTrip<SharedFolderInfo>(bytes);
        break;
    default:
        RoundTrip<UserStats>(bytes);
        break;
    }
    return 0;
}
