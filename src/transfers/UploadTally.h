#pragma once

#include <QtGlobal>
#include <unordered_map>

#include "DataHandler.h"
#include "ItemPtr.h"

// What each user has queued for upload: the entries in "queued" and the
// sum of their files' sizes, kept up as statuses, entries and file sizes
// change, so that a per-user limit costs the same however long the user's
// queue is.
class UploadTally : public DataHandler
{
public:
    struct Queued
    {
        int files = 0;
        qint64 bytes = 0;
    };

    // The upload types must be declared; the shared files' sizes are
    // followed where their types are.
    UploadTally();

    Queued Of(ItemPtr user) const;

private:
    // Counts the entry again as the store holds it now.
    void Recount(Item* entry);
    void Uncount(Item* entry);

    struct Counted
    {
        Item* user;
        qint64 bytes;
    };
    std::unordered_map<const Item*, Counted> m_entries;
    std::unordered_map<const Item*, Queued> m_users;
};
