#include "SavedStore.h"

#include <algorithm>

#include "Data.h"
#include "DataSaver.h"
#include "Settings.h"

const std::vector<std::string> SavedStore::Whole = {"download_entry", "contact", "global"};
const std::vector<std::pair<std::string, std::string>> SavedStore::ByConnection = {
    {"global_value", "global"}, {"file_name", "download_entry"}, {"paused", "download_entry"},
    {"tag", "contact"},         {"tag", "download_entry"},       {"tag_colour", "tag"}};

void SavedStore::Declare()
{
    d.Reset();
    DeclareSettingTypes();
    Type* entry = d.NewType("download_entry", 0, true, false);
    Type* name = d.NewType("file_name", 2, false, true);
    entry->RelateToType(name, many, one, false);
    Type* paused = d.NewType("paused", 2, true, false);
    entry->RelateToType(paused, many, one, false);
    Type* contact = d.NewType("contact", 0, false, true);
    Type* tag = d.NewType("tag", 2, false, true);
    contact->RelateToType(tag, many, many, false);
    entry->RelateToType(tag, many, many, false);
    Type* colour = d.NewType("tag_colour", 2, false, true);
    tag->RelateToType(colour, many, one, false);
    Type* search = d.NewType("search", 0, false, true);
    search->RelateToType(tag, many, many, false);
}

void SavedStore::Register(DataSaver& saver)
{
    for (const std::string& type : Whole)
        saver.AddSavedType(type);
    for (const auto& rule : ByConnection)
        saver.AddSavedByConnectionType(rule.first, rule.second);
}

ItemPtr SavedStore::Entry(const QString& name)
{
    ItemPtr entry = d.GetType("download_entry")->NewItem();
    entry += d.GetType("file_name")->GetItem(Value(name));
    return entry;
}

QStringList SavedStore::Dump()
{
    std::vector<quint64> order;
    for (Type* type : d.GetTypes())
        for (const ItemPtr& item : type->GetItems())
            order.push_back(item.Sequence());
    std::sort(order.begin(), order.end());
    auto place = [&](quint64 sequence) {
        return QString::number(std::lower_bound(order.begin(), order.end(), sequence) - order.begin());
    };
    QStringList out;
    for (Type* type : d.GetTypes()) {
        for (const ItemPtr& item : type->GetItems()) {
            QStringList links;
            for (const ConnectionGroup& group : item.GetItemPointer()->m_groups)
                group.ForEach([&](Item* other) { links << place(other->m_sequence); });
            links.sort();
            out << QString("%1 #%2 [%3] -> %4")
                       .arg(QString::fromStdString(type->GetName()), place(item.Sequence()), item.AsString(),
                            links.join(','));
        }
    }
    return out;
}

QStringList SavedStore::Loaded(const QByteArray& bytes)
{
    Declare();
    // Applying a file needs no saver's registrations: one of its own.
    DataSaver* current = dataSaver;
    QStringList loaded;
    {
        DataSaver saver;
        loaded = saver.Apply(bytes) ? Dump() : QStringList{"unreadable"};
    }
    dataSaver = current;
    return loaded;
}
