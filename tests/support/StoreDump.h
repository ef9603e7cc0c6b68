#pragma once

#include <QStringList>

// The store as text, for tests that compare stores.
class StoreDump
{
public:
    // Every item with its type, value and links, each item named by its
    // place in store order and its links sorted, so that a store and its
    // load into a fresh store compare equal (a load makes an item's groups
    // in the order the file lists them).
    static QStringList Relative();
};
