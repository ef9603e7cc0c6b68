#pragma once

#include <QtGlobal>
#include <vector>

#include "ItemPtr.h"
#include "ItemSet.h"

// The order of the upload queue. Each upload entry has its arrival number
// ("upload_order") and its place ("effective_upload_order"), the number
// peers are told when they ask for their place in line.
class UploadOrdering
{
public:
    // The highest "group_download_priority" of the user's groups, never
    // below 0; 0 for a user not on the user list.
    static int GroupPriority(ItemPtr user);
    // True when a goes before b: higher group priority, then privileges
    // (between different users), then the smaller arrival number.
    static bool Precedes(ItemPtr a, ItemPtr b);

    // Every entry that has a place, by ascending place; entries of equal
    // place stay in store order.
    static ItemList Ordered();
    // Gives a new entry (one without a place) its place. last is the entry
    // at the end of the order as far as the caller knows (null when it does
    // not know) and is updated.
    static void Place(ItemPtr entry, ItemPtr& last);

    struct Candidate
    {
        ItemPtr entry;
        ItemPtr user;
        qint64 place;
    };
    // Queued entries of online users that have a place, by ascending place,
    // equal places in store order: the order in which uploads start.
    static std::vector<Candidate> StartCandidates();

    static bool HasPlace(ItemPtr entry);
    static qint64 PlaceOf(ItemPtr entry);
    // Leaves an entry that already holds the number alone.
    static void SetPlace(ItemPtr entry, qint64 place);
};
