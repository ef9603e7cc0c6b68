#pragma once

#include "Type.h"

// Declares the item types of the store, their relations and what the data
// file keeps, in the terms of the schema tables: a type is valued (items
// unique by value) or valueless and made on look-up or only by NewItem; a
// relation says how many items of the other type one item of each holds.
// The data file's rules are set only while a data saver exists, so the same
// declarations serve the program and tests without one.
namespace Schema {
// What the clean-up does with a type's items (Primacy in Type.h).
constexpr Primacy Root = 0;
constexpr Primacy Node = 1;
constexpr Primacy Attribute = 2;

enum Values
{
    Valued,
    Valueless
};
enum Creation
{
    OnLookUp,
    OnNewItem
};

// Throws TypeAlreadyExistsException for a name declared before.
Type* Declare(const char* name, Primacy primacy, Values values, Creation creation = OnLookUp);
// One a holds aHolds items of b; one b holds bHolds items of a.
void Relate(const char* a, const char* b, OneOrMany aHolds, OneOrMany bHolds);
// One owner holds ownerHolds items of owned; each of those belongs to one
// owner and is removed with it.
void Own(const char* owner, const char* owned, OneOrMany ownerHolds);
// The data file keeps every item of the type.
void Save(const char* type);
// The data file keeps items of the type while they are connected to an item
// of byType (any of the by-types declared for it).
void SaveWith(const char* type, const char* byType);
} // namespace Schema
