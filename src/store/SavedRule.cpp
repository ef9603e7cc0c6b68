#include "SavedRule.h"

#include "Data.h"

bool SavedRule::Keeps(Item* item) const
{
    if (whole)
        return true;
    for (Type* type : by) {
        const ConnectionGroup* group = item->FindGroup(type);
        if (group && !group->Empty())
            return true;
    }
    return false;
}

std::vector<SavedRule> SavedRule::Of(const std::vector<std::string>& whole,
                                     const std::vector<std::pair<std::string, std::string>>& byConnection)
{
    std::vector<SavedRule> rules;
    const auto rule = [&rules](Type* type) -> SavedRule& {
        for (SavedRule& r : rules)
            if (r.type == type)
                return r;
        rules.push_back(SavedRule{type, false, {}});
        return rules.back();
    };
    for (const std::string& name : whole)
        if (Type* type = d.HasType(name))
            rule(type).whole = true;
    for (const auto& pair : byConnection) {
        Type* type = d.HasType(pair.first);
        Type* by = d.HasType(pair.second);
        if (type && by)
            rule(type).by.push_back(by);
    }
    return rules;
}
