#include "UploadTally.h"

#include "Data.h"
#include "ServerNames.h"
#include "ShareNames.h"
#include "TransferNames.h"
#include "UploadQueuePolicy.h"

UploadTally::UploadTally()
{
    Type* entries = d.GetType(TransferNames::UploadEntry);
    const auto entryChanged = [this](ConnectionInfo& connection) { Recount(connection.item1.GetItemPointer()); };
    for (const char* type : {TransferNames::UploadEntryStatus, ServerNames::User, ShareNames::SharedFile})
        d.AddConnectionEventHandler(entries, d.GetType(type), new FunctionHandler<ConnectionInfo&>(this, entryChanged));
    entries->AddItemRemovedHandler(
        new FunctionHandler<ItemPtr>(this, [this](ItemPtr entry) { Uncount(entry.GetItemPointer()); }));
    // A rescan may find a queued file grown or shrunk.
    Type* files = d.HasType(ShareNames::SharedFile);
    Type* sizes = d.HasType(ShareNames::SharedFileSize);
    if (files && sizes && files->IsRelatedTo(sizes))
        d.AddConnectionEventHandler(files, sizes, new FunctionHandler<ConnectionInfo&>(this, [this](ConnectionInfo& c) {
                                        for (const ItemPtr& entry : c.item1.GetItems(TransferNames::UploadEntry))
                                            Recount(entry.GetItemPointer());
                                    }));
}

UploadTally::Queued UploadTally::Of(ItemPtr user) const
{
    const auto found = m_users.find(user.GetItemPointer());
    return found == m_users.end() ? Queued() : found->second;
}

void UploadTally::Recount(Item* item)
{
    Uncount(item);
    const ItemPtr entry(item);
    const ItemPtr user = entry[ServerNames::User];
    if (!user || entry[TransferNames::UploadEntryStatus].AsStdString() != TransferNames::Queued)
        return;
    const qint64 bytes = UploadQueuePolicy::SharedFileSize(entry[ShareNames::SharedFile]);
    m_entries.emplace(item, Counted{user.GetItemPointer(), bytes});
    Queued& queued = m_users[user.GetItemPointer()];
    ++queued.files;
    queued.bytes += bytes;
}

void UploadTally::Uncount(Item* entry)
{
    const auto found = m_entries.find(entry);
    if (found == m_entries.end())
        return;
    const auto user = m_users.find(found->second.user);
    user->second.bytes -= found->second.bytes;
    if (--user->second.files == 0)
        m_users.erase(user);
    m_entries.erase(found);
}
