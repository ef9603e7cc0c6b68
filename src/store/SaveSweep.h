#pragma once

#include <QtGlobal>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "DataHandler.h"
#include "EventHandler.h"
#include "SavedRecords.h"
#include "SavedRule.h"

class Item;
class TurnSlice;
class Type;

// Takes what the data file keeps of the store into SavedRecords, a slice
// at a time: every item of a type saved whole, every item of a type saved
// by connection that is connected to one of its by-types, and the
// connections between them.
//
// A sweep that follows the store may span turns: what changes meanwhile is
// heard as it happens (items made or removed, connections made or cut, an
// item becoming saved or no longer saved), and whatever the sweep took
// before is taken again, so that the records are the store as it stands
// when the last slice ends. Items are kept by their sequence numbers; the
// sweep never touches one that was removed.
//
// Used on the event-loop thread, as the store is.
class SaveSweep : public DataHandler
{
public:
    // whole: the types saved whole; byConnection: (type, by-type) pairs.
    // With follow, it hears the store's changes until it is done or gone.
    SaveSweep(const std::vector<std::string>& whole,
              const std::vector<std::pair<std::string, std::string>>& byConnection, bool follow);

    // Takes some of the store within the slice; true once the records are
    // the store as it stands.
    bool Run(TurnSlice& slice);
    // The records, once Run said so.
    SavedRecords Take();

private:
    const SavedRule* RuleOf(const Type* type) const;
    SavedRecords::Kind KindOf(Item* item, const SavedRule& rule) const;
    // Steps of one item of the sweep, by the connections it lists.
    int TakeItem(Item* item);
    void TakeAgain(quint64 sequence, Item* item);
    void Follow();
    void OnAdded(ItemPtr item);
    void OnRemoved(ItemPtr item);
    void OnConnection(ConnectionInfo& connection, bool made);

    std::vector<SavedRule> m_rules;
    // The rule of each type by its registry number, -1 for none.
    std::vector<int> m_ruleOf;
    // Items made later than this are taken as changes.
    quint64 m_last;
    SavedRecords m_records;

    // The sweep: the rule whose items it walks, the item it takes next and
    // the one it took last, both kept right as items leave the list.
    size_t m_rule = 0;
    bool m_inRule = false;
    Item* m_next = nullptr;
    Item* m_previous = nullptr;

    // Items to take again, in the order heard, and the sequences of those
    // removed, which are never touched again.
    std::vector<std::pair<quint64, Item*>> m_changed;
    size_t m_changedTaken = 0;
    std::unordered_set<quint64> m_removed;
    bool m_following = false;
};
