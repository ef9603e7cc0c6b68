#include "SaveSweep.h"

#include <algorithm>

#include "Data.h"
#include "TurnSlice.h"

SaveSweep::SaveSweep(const std::vector<std::string>& whole,
                     const std::vector<std::pair<std::string, std::string>>& byConnection, bool follow)
    : m_last(d.LastSequence())
{
    m_rules = SavedRule::Of(whole, byConnection);
    size_t items = 0;
    for (const SavedRule& rule : m_rules)
        items += rule.type->Count();
    m_records.Reserve(items);
    for (size_t r = 0; r < m_rules.size(); ++r) {
        const size_t index = m_rules[r].type->RegistryIndex();
        if (m_ruleOf.size() <= index)
            m_ruleOf.resize(index + 1, -1);
        m_ruleOf[index] = int(r);
        m_records.AddType(m_rules[r].type->GetName(), m_rules[r].type->IsNull());
    }
    if (follow)
        Follow();
}

const SavedRule* SaveSweep::RuleOf(const Type* type) const
{
    const size_t index = type->RegistryIndex();
    return index < m_ruleOf.size() && m_ruleOf[index] >= 0 ? &m_rules[size_t(m_ruleOf[index])] : nullptr;
}

SavedRecords::Kind SaveSweep::KindOf(Item* item, const SavedRule& rule) const
{
    if (!rule.type->IsNull())
        return SavedRecords::Valued;
    return rule.type->IsGlobalNullItem(item) ? SavedRecords::GlobalNull : SavedRecords::Valueless;
}

bool SaveSweep::Run(TurnSlice& slice)
{
    for (; m_rule < m_rules.size(); ++m_rule) {
        const SavedRule& rule = m_rules[m_rule];
        if (!m_inRule) {
            m_records.BeginRun();
            m_next = rule.type->First().GetItemPointer();
            m_previous = nullptr;
            m_inRule = true;
        }
        // Items made since the sweep began are heard of as they come.
        while (m_next && m_next->m_sequence <= m_last) {
            if (!slice.More())
                return false;
            Item* item = m_next;
            m_previous = item;
            m_next = item->m_next;
            slice.Step(TakeItem(item));
        }
        m_records.EndRun();
        m_inRule = false;
        m_next = m_previous = nullptr;
        if (m_rule + 1 == m_rules.size())
            m_records.BeginChanges();
    }
    if (m_rules.empty())
        m_records.BeginChanges();
    while (m_changedTaken < m_changed.size()) {
        if (!slice.More())
            return false;
        const std::pair<quint64, Item*> changed = m_changed[m_changedTaken++];
        TakeAgain(changed.first, changed.second);
        slice.Step();
    }
    RemoveDataHandlers();
    m_following = false;
    m_changed.clear();
    m_removed.clear();
    return true;
}

SavedRecords SaveSweep::Take()
{
    return std::move(m_records);
}

int SaveSweep::TakeItem(Item* item)
{
    const SavedRule& rule = m_rules[m_rule];
    if (!rule.Keeps(item))
        return 1;
    const quint64 sequence = item->m_sequence;
    m_records.Add(sequence, quint32(m_rule), KindOf(item, rule), item->m_value.data(), item->m_value.size());
    // Each connection is listed from its earlier end; the later one's
    // type may save nothing, which the file's layout finds out.
    size_t visited = 0;
    for (const ConnectionGroup& group : item->m_groups) {
        if (!RuleOf(group.GetType()))
            continue;
        visited += group.Size();
        group.ForEach([&](Item* other) {
            if (other->m_sequence > sequence)
                m_records.AddPartner(other->m_sequence);
        });
    }
    return 1 + int(std::min<size_t>(visited / 8, 1 << 20));
}

void SaveSweep::TakeAgain(quint64 sequence, Item* item)
{
    const SavedRule* rule = item && !m_removed.count(sequence) ? RuleOf(item->GetType()) : nullptr;
    if (!rule || !rule->Keeps(item)) {
        m_records.AddChange(sequence, 0, SavedRecords::Gone, nullptr, 0);
        return;
    }
    m_records.AddChange(sequence, quint32(rule - m_rules.data()), KindOf(item, *rule), item->m_value.data(),
                        item->m_value.size());
    // An item saved only now may have had connections since before the
    // sweep that nobody listed, as it was not saved when its turn came.
    if (sequence > m_last)
        return;
    for (const ConnectionGroup& group : item->m_groups)
        if (RuleOf(group.GetType()))
            group.ForEach([&](Item* other) { m_records.AddPair(sequence, other->m_sequence, true); });
}

void SaveSweep::Follow()
{
    m_following = true;
    for (const SavedRule& rule : m_rules) {
        if (rule.whole)
            rule.type->AddItemAddedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr item) { OnAdded(item); }));
        rule.type->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr item) { OnRemoved(item); }));
        rule.type->AddConnectedHandler(
            new FunctionHandler<ConnectionInfo&>(this, [this](ConnectionInfo& c) { OnConnection(c, true); }));
        rule.type->AddDisconnectedHandler(
            new FunctionHandler<ConnectionInfo&>(this, [this](ConnectionInfo& c) { OnConnection(c, false); }));
    }
}

void SaveSweep::OnAdded(ItemPtr item)
{
    Item* added = item.GetItemPointer();
    if (added->m_sequence > m_last)
        m_changed.emplace_back(added->m_sequence, added);
}

void SaveSweep::OnRemoved(ItemPtr item)
{
    Item* removed = item.GetItemPointer();
    m_removed.insert(removed->m_sequence);
    m_changed.emplace_back(removed->m_sequence, nullptr);
    // It has left its type's list already: the neighbours of the sweep's
    // place are found from the one that stays.
    if (removed == m_next)
        m_next = m_previous ? m_previous->m_next : m_rules[m_rule].type->First().GetItemPointer();
    if (removed == m_previous)
        m_previous = m_next ? m_next->m_prev : nullptr;
}

void SaveSweep::OnConnection(ConnectionInfo& connection, bool made)
{
    Item* a = connection.item1.GetItemPointer();
    Item* b = connection.item2.GetItemPointer();
    // Heard from both ends when both types are saved: told once.
    if (a->m_sequence < b->m_sequence && RuleOf(b->GetType()))
        m_records.AddPair(a->m_sequence, b->m_sequence, made);
    const SavedRule* rule = RuleOf(a->GetType());
    if (!rule || rule->whole || a->m_removed ||
        std::find(rule->by.begin(), rule->by.end(), b->GetType()) == rule->by.end())
        return;
    // Saved or no longer saved, perhaps: the first of its by-type items
    // came or the last went.
    const ConnectionGroup* group = a->FindGroup(b->GetType());
    const size_t held = group ? group->Size() : 0;
    if (made ? held == 1 : held == 0)
        m_changed.emplace_back(a->m_sequence, a);
}
