#include "SavedChangeWatch.h"

#include <algorithm>

#include "Data.h"

SavedChangeWatch::SavedChangeWatch(const std::vector<std::string>& whole,
                                   const std::vector<std::pair<std::string, std::string>>& byConnection)
    : m_whole(whole), m_byConnection(byConnection)
{
}

void SavedChangeWatch::Restart()
{
    RemoveDataHandlers();
    m_rules.clear();
    m_listening = true;
    Update();
    m_changed = false;
}

void SavedChangeWatch::Update()
{
    if (!m_listening)
        return;
    // The rules as the writer applies them.
    std::unordered_map<const Type*, SavedRule> rules;
    for (const SavedRule& rule : SavedRule::Of(m_whole, m_byConnection))
        rules[rule.type] = rule;
    for (auto& entry : rules) {
        const auto old = m_rules.find(entry.first);
        if (old == m_rules.end()) {
            Listen(const_cast<Type*>(entry.first), entry.second.whole);
        } else {
            if (entry.second.whole && !old->second.whole)
                Listen(const_cast<Type*>(entry.first), true);
            if (old->second.whole == entry.second.whole && old->second.by == entry.second.by)
                continue;
        }
        if (entry.first->Count() > 0)
            m_changed = true;
    }
    m_rules.swap(rules);
}

void SavedChangeWatch::Listen(Type* type, bool whole)
{
    // A type that turns whole later is passed here again for its items.
    if (m_rules.find(type) == m_rules.end()) {
        type->AddConnectedHandler(
            new FunctionHandler<ConnectionInfo&>(this, [this](ConnectionInfo& c) { OnConnection(c); }));
        type->AddDisconnectedHandler(
            new FunctionHandler<ConnectionInfo&>(this, [this](ConnectionInfo& c) { OnConnection(c); }));
    }
    if (whole) {
        type->AddItemAddedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr item) { OnItem(item); }));
        type->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr item) { OnItem(item); }));
    }
}

const SavedRule* SavedChangeWatch::RuleOf(const Type* type) const
{
    const auto found = m_rules.find(type);
    return found == m_rules.end() ? nullptr : &found->second;
}

void SavedChangeWatch::OnItem(ItemPtr item)
{
    // Only types saved whole hear of their items: every one is in the file.
    const SavedRule* rule = RuleOf(item.GetType());
    if (rule && rule->whole)
        m_changed = true;
}

void SavedChangeWatch::OnConnection(ConnectionInfo& connection)
{
    // Heard from both ends' types; the first that counts is enough, and a
    // large scan costs one test per connection from then on.
    if (m_changed)
        return;
    Item* a = connection.item1.GetItemPointer();
    Item* b = connection.item2.GetItemPointer();
    const SavedRule* ruleA = RuleOf(a->GetType());
    const SavedRule* ruleB = RuleOf(b->GetType());
    const auto decides = [](const SavedRule* rule, Type* by) {
        return rule && std::find(rule->by.begin(), rule->by.end(), by) != rule->by.end();
    };
    if (decides(ruleA, b->GetType()) || decides(ruleB, a->GetType()) ||
        (ruleA && ruleB && ruleA->Keeps(a) && ruleB->Keeps(b)))
        m_changed = true;
}
