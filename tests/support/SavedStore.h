#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <string>
#include <utility>
#include <vector>

#include "ItemPtr.h"

class DataSaver;

// What the tests of saving share: a store of downloads with names, pause
// marks and tags, contacts with tags and tag colours, and searches that
// hold tags but are not saved, with the data saver's rules for it; and the
// store as text, to compare stores.
class SavedStore
{
public:
    static const std::vector<std::string> Whole;
    static const std::vector<std::pair<std::string, std::string>> ByConnection;

    // A fresh store with the settings' types and these.
    static void Declare();
    static void Register(DataSaver& saver);
    // A download with its name.
    static ItemPtr Entry(const QString& name);

    // Every item with its type, value and links, each item named by its
    // place in store order and its links sorted, so that a store and its
    // load into a fresh store compare equal (a load makes an item's groups
    // in the order the file lists them).
    static QStringList Dump();
    // What a data file's bytes load into a fresh store of these types, as
    // Dump tells it; the store that was is gone.
    static QStringList Loaded(const QByteArray& bytes);
};
