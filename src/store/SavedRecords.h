#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <string>
#include <utility>
#include <vector>

// What a save takes of the store for the data file (layout in
// docs/data-file.md): the saved items and their connections, by the items'
// sequence numbers, with the values' bytes. It holds nothing of the store,
// so the file is laid out and written on any thread once it is complete.
//
// The items come in runs, each in ascending sequence and no item in two;
// items taken again after the runs (changed while a save spanned turns)
// come as changes, the last of an item standing for it. A run's item lists
// the later items it is connected to; connections made or cut after an
// item was taken come as pair events, the last of a pair standing for it.
class SavedRecords
{
public:
    static constexpr char Magic[4] = {'Q', 'V', 'D', 'F'};
    static constexpr quint32 FormatVersion = 1;
    // The item kinds of the file, and one for an item not in the file after
    // all: removed, or no longer saved.
    enum Kind : quint8
    {
        Valued = 0,
        Valueless = 1,
        GlobalNull = 2,
        Gone = 3
    };

    // The saved types, by slot.
    void AddType(const std::string& name, bool valueless);
    // Room for about this many items, and as many connections and value
    // bytes a few times over.
    void Reserve(size_t items);

    void BeginRun();
    void EndRun();
    // An item of a run; its later connections follow with AddPartner.
    void Add(quint64 sequence, quint32 slot, Kind kind, const char* value, size_t size);
    void AddPartner(quint64 sequence) { m_partners.push_back(sequence); }
    // From now on items come as changes.
    void BeginChanges();
    // An item taken again, or gone (slot and value unused).
    void AddChange(quint64 sequence, quint32 slot, Kind kind, const char* value, size_t size);
    // A connection made or cut, in the order they happened.
    void AddPair(quint64 a, quint64 b, bool made);

    size_t Items() const { return m_sequences.size(); }

    // The data file's bytes.
    QByteArray Assemble() const;

private:
    struct Pair
    {
        quint64 low;
        quint64 high;
        bool made;
    };

    std::vector<std::pair<std::string, bool>> m_types;
    // Per item: its sequence, slot, kind, where its value ends and where
    // its partners begin in the two pools.
    std::vector<quint64> m_sequences;
    std::vector<quint32> m_slots;
    std::vector<Kind> m_kinds;
    std::vector<size_t> m_valueEnds;
    std::vector<size_t> m_partnerBegins;
    std::string m_values;
    std::vector<quint64> m_partners;
    std::vector<std::pair<size_t, size_t>> m_runs;
    size_t m_runBegin = 0;
    size_t m_changesBegin = SIZE_MAX;
    std::vector<Pair> m_pairs;
};
