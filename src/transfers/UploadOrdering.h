#pragma once

#include <QtGlobal>
#include <functional>
#include <unordered_set>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "UploadLine.h"

// The order of the upload queue. Each upload entry has its arrival number
// ("upload_order") and its place, the number peers are told when they ask
// for their place in line. A pass that starts uploads renumbers the queued
// entries of online users from 0; those entries are kept in a line whose
// places are counted when asked for, so a pass costs what changed since the
// last one, not the length of the queue. Every other entry keeps its place
// in the store ("effective_upload_order"). The store's events tell which
// entries may have joined or left the queued entries of online users.
class UploadOrdering : public DataHandler
{
public:
    // The upload types and "is_online" must be declared.
    UploadOrdering();
    ~UploadOrdering() override;
    UploadOrdering(const UploadOrdering&) = delete;
    UploadOrdering& operator=(const UploadOrdering&) = delete;

    // The highest "group_download_priority" of the user's groups, never
    // below 0; 0 for a user not on the user list.
    static int GroupPriority(ItemPtr user);
    // True when a goes before b: higher group priority, then privileges
    // (between different users), then the smaller arrival number.
    static bool Precedes(ItemPtr a, ItemPtr b);

    bool HasPlace(ItemPtr entry) const;
    qint64 PlaceOf(ItemPtr entry) const;
    // Every entry that has a place, by ascending place; entries of equal
    // place stay in store order.
    ItemList Ordered() const;
    // Gives a new entry (one without a place) its place: after the entry at
    // the end of the order when it goes after it, else in its turn, every
    // place renumbered from 1.
    void Place(ItemPtr entry);
    // Places the entries anew, first, first + 1, ... in the order given.
    void Renumber(const ItemList& entries, qint64 first);

    // The renumbering of a pass that starts uploads: the queued entries of
    // online users that have a place, by place (equal places in store
    // order), numbered from 0. False, and nothing renumbered, when there is
    // none, or while ForEachUsersFirst runs.
    bool RenumberStartable();
    // After RenumberStartable: the first of each user's queued entries, in
    // order, until visit returns false. visit may remove the entry it is
    // given from the store, and change statuses.
    void ForEachUsersFirst(const std::function<bool(ItemPtr entry)>& visit);

private:
    struct Joining
    {
        qint64 place;
        quint64 sequence;
        Item* entry;
        Item* user;
    };
    bool IsStartable(ItemPtr entry) const;
    static void Store(ItemPtr entry, qint64 place);

    UploadLine m_line;
    // The entry at the end of the order as far as known; null when not.
    ItemPtr m_last;
    // What may have joined or left the line since the last renumbering.
    std::unordered_set<Item*> m_changedEntries;
    std::unordered_set<Item*> m_changedUsers;
    Type* m_entryType;
    Type* m_placeType;
    Type* m_statusType;
    Type* m_userType;
    Type* m_onlineType;
    // A pass started from inside a visit would move the line under the walk.
    bool m_walking = false;
};
