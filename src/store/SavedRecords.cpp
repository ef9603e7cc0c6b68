#include "SavedRecords.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>
#include <zlib.h>

namespace {
const quint32 None = 0xffffffffu;

// Writes little-endian fields through a raw cursor into a buffer sized
// beforehand; saving a large share writes millions of them.
class Writer
{
public:
    explicit Writer(char* at) : m_at(at) {}
    void U8(quint8 v) { *m_at++ = char(v); }
    void U32(quint32 v)
    {
        m_at[0] = char(v);
        m_at[1] = char(v >> 8);
        m_at[2] = char(v >> 16);
        m_at[3] = char(v >> 24);
        m_at += 4;
    }
    void Bytes(const char* data, size_t size)
    {
        U32(quint32(size));
        if (size)
            memcpy(m_at, data, size);
        m_at += size;
    }
    char* At() const { return m_at; }

private:
    char* m_at;
};

// The file position of each saved item, found from its sequence number: a
// flat table over the sequences when they lie close together (the usual
// case: most items of a long-lived store are saved ones), else a binary
// search, so a store with a wide spread of sequences costs no more memory
// than its saved items.
class SequenceIndex
{
public:
    explicit SequenceIndex(const std::vector<quint64>& sorted) : m_sorted(sorted)
    {
        if (sorted.empty())
            return;
        m_first = sorted.front();
        const quint64 span = sorted.back() - m_first + 1;
        if (span > 4 * quint64(sorted.size()) + 4096)
            return;
        m_table.assign(size_t(span), None);
        for (size_t i = 0; i < sorted.size(); ++i)
            m_table[size_t(sorted[i] - m_first)] = quint32(i);
    }

    quint32 Find(quint64 sequence) const
    {
        if (!m_table.empty()) {
            const quint64 at = sequence - m_first;
            return sequence >= m_first && at < m_table.size() ? m_table[size_t(at)] : None;
        }
        auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), sequence);
        return it != m_sorted.end() && *it == sequence ? quint32(it - m_sorted.begin()) : None;
    }

private:
    const std::vector<quint64>& m_sorted;
    quint64 m_first = 0;
    std::vector<quint32> m_table;
};
} // namespace

void SavedRecords::AddType(const std::string& name, bool valueless)
{
    m_types.emplace_back(name, valueless);
}

void SavedRecords::Reserve(size_t items)
{
    m_sequences.reserve(items);
    m_slots.reserve(items);
    m_kinds.reserve(items);
    m_valueEnds.reserve(items);
    m_partnerBegins.reserve(items);
    m_partners.reserve(items);
    m_values.reserve(items * 16);
}

void SavedRecords::BeginRun()
{
    m_runBegin = m_sequences.size();
}

void SavedRecords::EndRun()
{
    if (m_sequences.size() > m_runBegin)
        m_runs.emplace_back(m_runBegin, m_sequences.size());
}

void SavedRecords::Add(quint64 sequence, quint32 slot, Kind kind, const char* value, size_t size)
{
    m_partnerBegins.push_back(m_partners.size());
    m_sequences.push_back(sequence);
    m_slots.push_back(slot);
    m_kinds.push_back(kind);
    if (size)
        m_values.append(value, size);
    m_valueEnds.push_back(m_values.size());
}

void SavedRecords::BeginChanges()
{
    m_changesBegin = m_sequences.size();
}

void SavedRecords::AddChange(quint64 sequence, quint32 slot, Kind kind, const char* value, size_t size)
{
    m_sequences.push_back(sequence);
    m_slots.push_back(slot);
    m_kinds.push_back(kind);
    if (kind != Gone && size)
        m_values.append(value, size);
    m_valueEnds.push_back(m_values.size());
    m_partnerBegins.push_back(m_partners.size());
}

void SavedRecords::AddPair(quint64 a, quint64 b, bool made)
{
    m_pairs.push_back(Pair{std::min(a, b), std::max(a, b), made});
}

QByteArray SavedRecords::Assemble() const
{
    const size_t count = m_sequences.size();
    const size_t changesBegin = std::min(m_changesBegin, count);
    const auto partnerEnd = [&](size_t r) { return r + 1 < count ? m_partnerBegins[r + 1] : m_partners.size(); };

    // The last change of each item, in sequence order.
    std::vector<size_t> changes(count - changesBegin);
    std::iota(changes.begin(), changes.end(), changesBegin);
    std::stable_sort(changes.begin(), changes.end(),
                     [&](size_t a, size_t b) { return m_sequences[a] < m_sequences[b]; });
    {
        size_t kept = 0;
        for (size_t i = 0; i < changes.size(); ++i)
            if (i + 1 == changes.size() || m_sequences[changes[i + 1]] != m_sequences[changes[i]])
                changes[kept++] = changes[i];
        changes.resize(kept);
    }

    // Store order across the runs, so that the order of items survives a
    // save and a load: a merge of the runs, a change standing for the
    // item it took again.
    std::vector<size_t> order;
    std::vector<quint64> sequences;
    order.reserve(count);
    sequences.reserve(count);
    size_t nextChange = 0;
    const auto take = [&](size_t r) {
        const quint64 sequence = m_sequences[r];
        while (nextChange < changes.size() && m_sequences[changes[nextChange]] < sequence) {
            const size_t c = changes[nextChange++];
            if (m_kinds[c] != Gone) {
                order.push_back(c);
                sequences.push_back(m_sequences[c]);
            }
        }
        if (nextChange < changes.size() && m_sequences[changes[nextChange]] == sequence)
            r = changes[nextChange++];
        if (m_kinds[r] != Gone) {
            order.push_back(r);
            sequences.push_back(sequence);
        }
    };
    {
        typedef std::pair<quint64, size_t> Head; // sequence, run
        std::vector<Head> heap;
        std::vector<size_t> next(m_runs.size());
        for (size_t l = 0; l < m_runs.size(); ++l) {
            next[l] = m_runs[l].first;
            heap.emplace_back(m_sequences[next[l]], l);
        }
        std::make_heap(heap.begin(), heap.end(), std::greater<Head>());
        while (!heap.empty()) {
            std::pop_heap(heap.begin(), heap.end(), std::greater<Head>());
            const size_t l = heap.back().second;
            // Runs of one type are common: take them without the heap.
            const quint64 limit = heap.size() > 1 ? heap.front().first : ~quint64(0);
            size_t& at = next[l];
            do
                take(at++);
            while (at < m_runs[l].second && m_sequences[at] < limit);
            if (at < m_runs[l].second) {
                heap.back().first = m_sequences[at];
                std::push_heap(heap.begin(), heap.end(), std::greater<Head>());
            } else {
                heap.pop_back();
            }
        }
        for (; nextChange < changes.size(); ++nextChange) {
            const size_t c = changes[nextChange];
            if (m_kinds[c] != Gone) {
                order.push_back(c);
                sequences.push_back(m_sequences[c]);
            }
        }
    }
    const SequenceIndex index(sequences);

    // Types in the order of their first item.
    std::vector<quint32> fileTypeOf(m_types.size(), None);
    std::vector<quint32> types;
    size_t size = 4 + 4 + 4 + 4; // magic, version, type count, item count
    for (size_t r : order) {
        const quint32 slot = m_slots[r];
        if (fileTypeOf[slot] == None) {
            fileTypeOf[slot] = quint32(types.size());
            types.push_back(slot);
            size += 4 + m_types[slot].first.size() + 1;
        }
        size += 4 + 1;
        if (m_kinds[r] == Valued)
            size += 4 + (m_valueEnds[r] - (r ? m_valueEnds[r - 1] : 0));
    }

    QByteArray out(int(size), Qt::Uninitialized);
    Writer w(out.data());
    for (char c : Magic)
        w.U8(quint8(c));
    w.U32(FormatVersion);
    w.U32(quint32(types.size()));
    for (quint32 slot : types) {
        w.Bytes(m_types[slot].first.data(), m_types[slot].first.size());
        w.U8(m_types[slot].second ? 1 : 0);
    }
    w.U32(quint32(order.size()));
    for (size_t r : order) {
        w.U32(fileTypeOf[m_slots[r]]);
        w.U8(m_kinds[r]);
        if (m_kinds[r] == Valued) {
            const size_t begin = r ? m_valueEnds[r - 1] : 0;
            w.Bytes(m_values.data() + begin, m_valueEnds[r] - begin);
        }
    }
    Q_ASSERT(w.At() == out.constData() + size);

    // The pairs' last events, by pair.
    std::vector<Pair> pairs = m_pairs;
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const Pair& a, const Pair& b) { return a.low < b.low || (a.low == b.low && a.high < b.high); });
    {
        size_t kept = 0;
        for (size_t i = 0; i < pairs.size(); ++i)
            if (i + 1 == pairs.size() || pairs[i + 1].low != pairs[i].low || pairs[i + 1].high != pairs[i].high)
                pairs[kept++] = pairs[i];
        pairs.resize(kept);
    }
    std::vector<char> listed(pairs.size(), 0);
    const auto findPair = [&](quint64 low, quint64 high) {
        auto it =
            std::lower_bound(pairs.begin(), pairs.end(), Pair{low, high, false}, [](const Pair& a, const Pair& b) {
                return a.low < b.low || (a.low == b.low && a.high < b.high);
            });
        return it != pairs.end() && it->low == low && it->high == high ? size_t(it - pairs.begin()) : SIZE_MAX;
    };

    // Each connection once, from its earlier end, and only between saved
    // items.
    std::vector<quint32> connections;
    connections.reserve(order.size() * 2);
    for (quint32 i = 0; i < order.size(); ++i) {
        const size_t r = order[i];
        if (r >= changesBegin)
            continue;
        for (size_t p = m_partnerBegins[r]; p < partnerEnd(r); ++p) {
            const quint32 j = index.Find(m_partners[p]);
            if (j == None)
                continue;
            if (!pairs.empty()) {
                const size_t event = findPair(m_sequences[r], m_partners[p]);
                if (event != SIZE_MAX) {
                    if (!pairs[event].made)
                        continue;
                    listed[event] = 1;
                }
            }
            connections.push_back(i);
            connections.push_back(j);
        }
    }
    for (size_t k = 0; k < pairs.size(); ++k) {
        if (!pairs[k].made || listed[k])
            continue;
        const quint32 i = index.Find(pairs[k].low);
        const quint32 j = index.Find(pairs[k].high);
        if (i != None && j != None) {
            connections.push_back(i);
            connections.push_back(j);
        }
    }

    out.resize(int(size + 4 + connections.size() * 4 + 4));
    w = Writer(out.data() + size);
    w.U32(quint32(connections.size() / 2));
    for (quint32 end : connections)
        w.U32(end);
    const int body = out.size() - 4;
    w.U32(quint32(crc32(0L, reinterpret_cast<const Bytef*>(out.constData()), uInt(body))));
    return out;
}
