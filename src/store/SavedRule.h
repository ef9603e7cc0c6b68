#pragma once

#include <string>
#include <utility>
#include <vector>

class Item;
class Type;

// Which items of one type the data file keeps: all of them (saved whole),
// or those connected to an item of any of its by-types.
struct SavedRule
{
    Type* type = nullptr;
    bool whole = false;
    std::vector<Type*> by;

    bool Keeps(Item* item) const;

    // The rules of the data saver's registrations for the types declared
    // now, in the order the types were first registered; a by-type that is
    // not declared keeps nothing.
    static std::vector<SavedRule> Of(const std::vector<std::string>& whole,
                                     const std::vector<std::pair<std::string, std::string>>& byConnection);
};
