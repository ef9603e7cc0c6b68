#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "DataHandler.h"
#include "EventHandler.h"
#include "SavedRule.h"

class Item;
class Type;

// Tells whether what the data file keeps changed since it was last written
// or read: an item of a type saved whole made or removed, a connection
// written to the file, or one that decides whether an item is saved.
// Changes that no save would write (online states, view rows, connections
// to unsaved types) are not counted, so an idle client never saves.
// Listens from Restart on, never during a load: a load listened to runs
// through the slow observed path and would count as a change itself.
// Data::Reset drops its handlers with every other; Restart listens again.
class SavedChangeWatch : public DataHandler
{
public:
    // The data saver's rules, read again at every Restart and Update.
    SavedChangeWatch(const std::vector<std::string>& whole,
                     const std::vector<std::pair<std::string, std::string>>& byConnection);

    // Forgets what it heard: the store is as saved or loaded now.
    void Restart();
    // Listens to saved types declared or registered since; one that holds
    // items already counts as changed, since nobody heard them made.
    void Update();

    // True until the first Restart: nothing is known to be on disk.
    bool Changed() const { return m_changed; }
    // The store as it stands is being written; until the first Restart
    // nobody listens, so it still counts as changed.
    void Saved() { m_changed = !m_listening; }
    // A write failed: what it held is not on disk.
    void Unsaved() { m_changed = true; }

private:
    void Listen(Type* type, bool whole);
    const SavedRule* RuleOf(const Type* type) const;
    void OnItem(ItemPtr item);
    void OnConnection(ConnectionInfo& connection);

    const std::vector<std::string>& m_whole;
    const std::vector<std::pair<std::string, std::string>>& m_byConnection;
    std::unordered_map<const Type*, SavedRule> m_rules;
    bool m_changed = true;
    bool m_listening = false;
};
