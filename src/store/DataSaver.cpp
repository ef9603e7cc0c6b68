#include "DataSaver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <unordered_map>
#include <zlib.h>

#include "Data.h"
#include "Log.h"

DataSaver* dataSaver = nullptr;

namespace {
const char Magic[4] = {'Q', 'V', 'D', 'F'};
const quint32 FormatVersion = 1;
enum ItemKind : quint8
{
    Valued = 0,
    Valueless = 1,
    GlobalNull = 2
};

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

// Reads the same fields back, never past the end.
class Reader
{
public:
    Reader(const char* at, const char* end) : m_at(at), m_end(end) {}
    size_t Remaining() const { return size_t(m_end - m_at); }
    bool U8(quint8& v)
    {
        if (m_at == m_end)
            return false;
        v = quint8(*m_at++);
        return true;
    }
    bool U32(quint32& v)
    {
        if (Remaining() < 4)
            return false;
        const auto* b = reinterpret_cast<const unsigned char*>(m_at);
        v = quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
        m_at += 4;
        return true;
    }
    // A counted byte string, left in place in the file's bytes.
    bool Bytes(const char*& data, quint32& size)
    {
        if (!U32(size) || size > Remaining())
            return false;
        data = m_at;
        m_at += size;
        return true;
    }

private:
    const char* m_at;
    const char* m_end;
};

struct ParsedItem
{
    quint32 type;
    quint8 kind;
    quint32 size;
    const char* value; // points into the file's bytes
};

struct ParsedFile
{
    std::vector<std::pair<std::string, bool>> types;
    std::vector<ParsedItem> items;
    std::vector<std::pair<quint32, quint32>> connections;
};

bool Parse(const QByteArray& bytes, ParsedFile& file)
{
    if (bytes.size() < 12 || memcmp(bytes.constData(), Magic, 4) != 0)
        return false;
    const int bodySize = bytes.size() - 4;
    Reader tail(bytes.constData() + bodySize, bytes.constData() + bytes.size());
    quint32 storedCrc = 0;
    tail.U32(storedCrc);
    const quint32 crc = quint32(crc32(0L, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bodySize)));
    if (crc != storedCrc)
        return false;

    Reader in(bytes.constData() + 4, bytes.constData() + bodySize);
    quint32 version = 0, typeCount = 0;
    if (!in.U32(version) || version != FormatVersion || !in.U32(typeCount))
        return false;
    // Every count is checked against what remains, so a damaged count can
    // never make us reserve more than the file could describe.
    if (typeCount > in.Remaining() / 5)
        return false;
    file.types.reserve(typeCount);
    for (quint32 i = 0; i < typeCount; ++i) {
        const char* name = nullptr;
        quint32 size = 0;
        quint8 isNull = 0;
        if (!in.Bytes(name, size) || !in.U8(isNull))
            return false;
        file.types.emplace_back(std::string(name, size), isNull != 0);
    }
    quint32 itemCount = 0;
    if (!in.U32(itemCount) || itemCount > in.Remaining() / 5)
        return false;
    file.items.resize(itemCount);
    for (quint32 i = 0; i < itemCount; ++i) {
        ParsedItem& item = file.items[i];
        if (!in.U32(item.type) || item.type >= typeCount || !in.U8(item.kind))
            return false;
        const bool isNull = file.types[item.type].second;
        item.size = 0;
        item.value = nullptr;
        if (item.kind == Valued) {
            if (isNull || !in.Bytes(item.value, item.size))
                return false;
        } else if (item.kind > GlobalNull || !isNull) {
            return false;
        }
    }
    quint32 connectionCount = 0;
    if (!in.U32(connectionCount) || connectionCount > in.Remaining() / 8)
        return false;
    file.connections.resize(connectionCount);
    for (auto& c : file.connections) {
        if (!in.U32(c.first) || !in.U32(c.second) || c.first >= itemCount || c.second >= itemCount)
            return false;
    }
    return in.Remaining() == 0;
}

// The file position of each saved item, found from its sequence number. A
// flat table over the sequences when they lie close together (the usual
// case: most items of a long-lived store are saved ones), else a binary
// search, so a store with a wide spread of sequences costs no more memory
// than its saved items.
class SavedIndex
{
public:
    static constexpr quint32 None = 0xffffffffu;

    // lists: per type, (sequence, item) in store order; their merge is the
    // file's item order.
    template <class Lists>
    SavedIndex(const Lists& lists, size_t total)
    {
        if (total == 0)
            return;
        quint64 first = ~quint64(0), last = 0;
        for (const auto& l : lists) {
            if (!l.items.empty()) {
                first = std::min(first, l.items.front().sequence);
                last = std::max(last, l.items.back().sequence);
            }
        }
        m_first = first;
        const quint64 span = last - first + 1;
        if (span <= 4 * quint64(total) + 4096) {
            // Mark the saved sequences, then number them in order.
            m_table.assign(size_t(span), None);
            for (const auto& l : lists)
                for (const auto& s : l.items)
                    m_table[size_t(s.sequence - first)] = 0;
            quint32 n = 0;
            for (quint32& slot : m_table)
                if (slot == 0)
                    slot = n++;
        } else {
            m_sorted.reserve(total);
            for (const auto& l : lists)
                for (const auto& s : l.items)
                    m_sorted.push_back(s.sequence);
            std::sort(m_sorted.begin(), m_sorted.end());
        }
    }

    quint32 Find(const Item* item) const
    {
        const quint64 sequence = item->m_sequence;
        if (!m_table.empty()) {
            const quint64 at = sequence - m_first;
            return sequence >= m_first && at < m_table.size() ? m_table[size_t(at)] : None;
        }
        auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), sequence);
        return it != m_sorted.end() && *it == sequence ? quint32(it - m_sorted.begin()) : None;
    }

private:
    quint64 m_first = 0;
    std::vector<quint32> m_table;
    std::vector<quint64> m_sorted;
};

// Makes a rename in the folder durable, so the new name is on disk before
// any older file is deleted. Some file systems cannot; then the rename is
// as durable as they make it.
void SyncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

const char* const kUnknownSaveError = "the system gave no reason";

QString SaveError(const QSaveFile& file)
{
    return file.errorString().isEmpty() ? QString(kUnknownSaveError) : file.errorString();
}

QString UnreadableName(const QString& path)
{
    QString target = path + ".unreadable";
    for (int n = 2; QFile::exists(target) && n < 1000; ++n)
        target = path + ".unreadable." + QString::number(n);
    return target;
}
} // namespace

DataLoadedEventHandler::~DataLoadedEventHandler()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
}

DataSaver::DataSaver() : m_watch(m_savedTypes, m_savedByConnection), m_loop(new QObject)
{
    dataSaver = this;
}

DataSaver::~DataSaver()
{
    // Its report, still queued, goes with m_loop.
    if (m_writer.joinable())
        m_writer.join();
    if (dataSaver == this)
        dataSaver = nullptr;
}

void DataSaver::AddSavedType(const std::string& type)
{
    m_savedTypes.push_back(type);
}

void DataSaver::AddSavedByConnectionType(const std::string& type, const std::string& byType)
{
    m_savedByConnection.emplace_back(type, byType);
}

void DataSaver::AddDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    if (std::find(m_handlers.begin(), m_handlers.end(), handler) == m_handlers.end())
        m_handlers.push_back(handler);
}

void DataSaver::RemoveDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    m_handlers.erase(std::remove(m_handlers.begin(), m_handlers.end(), handler), m_handlers.end());
}

std::vector<std::pair<qint64, QString>> DataSaver::DataFiles(const QString& prefix)
{
    std::vector<std::pair<qint64, QString>> files;
    const QFileInfo info(prefix);
    const QDir dir = info.absoluteDir();
    const QRegularExpression shape("^" + QRegularExpression::escape(info.fileName()) + "\\.([0-9]{1,18})$");
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const auto match = shape.match(name);
        if (match.hasMatch())
            files.emplace_back(match.captured(1).toLongLong(), dir.filePath(name));
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    return files;
}

QByteArray DataSaver::Serialize() const
{
    // A large store does not fit the caches, so every pass over its items
    // costs a memory fetch per item: the items are read in two passes only,
    // and everything else works on compact arrays.

    // Which items are saved: per type, all of them or those connected to
    // any of its by-types. A type's items are kept in store order.
    struct Saved
    {
        quint64 sequence;
        Item* item;
    };
    struct SavedType
    {
        Type* type;
        bool whole;
        std::vector<Type*> by;
        std::vector<Saved> items;
    };
    std::vector<SavedType> saved;
    auto entry = [&saved](Type* type) -> SavedType& {
        for (SavedType& s : saved)
            if (s.type == type)
                return s;
        saved.push_back(SavedType{type, false, {}, {}});
        return saved.back();
    };
    for (const std::string& name : m_savedTypes)
        if (Type* type = d.HasType(name))
            entry(type).whole = true;
    for (const auto& rule : m_savedByConnection) {
        Type* type = d.HasType(rule.first);
        Type* by = d.HasType(rule.second);
        if (type && by)
            entry(type).by.push_back(by);
    }
    size_t total = 0;
    size_t valueBytes = 0;
    for (SavedType& s : saved) {
        if (s.whole)
            s.items.reserve(s.type->Count());
        for (Item* item = s.type->First().GetItemPointer(); item; item = item->m_next) {
            bool take = s.whole;
            for (size_t b = 0; !take && b < s.by.size(); ++b) {
                const ConnectionGroup* group = item->FindGroup(s.by[b]);
                take = group && !group->Empty();
            }
            if (take) {
                s.items.push_back(Saved{item->m_sequence, item});
                valueBytes += item->m_value.size();
            }
        }
        total += s.items.size();
    }

    // Store order across the types, so that the order of items survives a
    // save and a load: a merge of the per-type lists.
    std::vector<Item*> items;
    std::vector<quint32> itemTypes; // index into saved
    items.reserve(total);
    itemTypes.reserve(total);
    {
        typedef std::pair<quint64, size_t> Head; // sequence, list
        std::vector<Head> heap;
        std::vector<size_t> next(saved.size(), 0);
        for (size_t l = 0; l < saved.size(); ++l)
            if (!saved[l].items.empty())
                heap.emplace_back(saved[l].items[0].sequence, l);
        std::make_heap(heap.begin(), heap.end(), std::greater<Head>());
        while (!heap.empty()) {
            std::pop_heap(heap.begin(), heap.end(), std::greater<Head>());
            const size_t l = heap.back().second;
            const std::vector<Saved>& list = saved[l].items;
            // Runs of one type are common: take them without the heap.
            const quint64 limit = heap.size() > 1 ? heap.front().first : ~quint64(0);
            size_t& at = next[l];
            do {
                items.push_back(list[at].item);
                itemTypes.push_back(quint32(l));
                ++at;
            } while (at < list.size() && list[at].sequence < limit);
            if (at < list.size()) {
                heap.back().first = list[at].sequence;
                std::push_heap(heap.begin(), heap.end(), std::greater<Head>());
            } else {
                heap.pop_back();
            }
        }
    }
    const SavedIndex index(saved, total);

    // Types in the order of their first item.
    std::vector<quint32> fileTypeOf(saved.size(), SavedIndex::None);
    std::vector<Type*> types;
    for (quint32 l : itemTypes) {
        if (fileTypeOf[l] == SavedIndex::None) {
            fileTypeOf[l] = quint32(types.size());
            types.push_back(saved[l].type);
        }
    }
    std::vector<Type*> savedTypes;
    for (const SavedType& s : saved)
        if (!s.items.empty())
            savedTypes.push_back(s.type);
    std::sort(savedTypes.begin(), savedTypes.end());

    size_t size = 4 + 4 + 4 + 4; // magic, version, type count, item count
    for (Type* t : types)
        size += 4 + t->GetName().size() + 1;
    size += total * (4 + 1) + valueBytes;
    for (const SavedType& s : saved)
        if (!s.type->IsNull())
            size += s.items.size() * 4;
    QByteArray out(int(size), Qt::Uninitialized);
    Writer w(out.data());
    for (char c : Magic)
        w.U8(quint8(c));
    w.U32(FormatVersion);
    w.U32(quint32(types.size()));
    for (Type* t : types) {
        w.Bytes(t->GetName().data(), t->GetName().size());
        w.U8(t->IsNull() ? 1 : 0);
    }
    w.U32(quint32(items.size()));

    // Items, and each connection once, from its earlier end, and only
    // between saved items.
    std::vector<quint32> connections;
    connections.reserve(items.size() * 2);
    for (quint32 i = 0; i < items.size(); ++i) {
        if (i + 8 < items.size())
            __builtin_prefetch(items[i + 8]);
        Item* item = items[i];
        const Type* type = saved[itemTypes[i]].type;
        w.U32(fileTypeOf[itemTypes[i]]);
        if (!type->IsNull()) {
            w.U8(Valued);
            w.Bytes(item->m_value.data(), item->m_value.size());
        } else {
            w.U8(type->IsGlobalNullItem(item) ? GlobalNull : Valueless);
        }
        for (const ConnectionGroup& group : item->m_groups) {
            if (!std::binary_search(savedTypes.begin(), savedTypes.end(), group.GetType()))
                continue;
            group.ForEach([&](Item* other) {
                const quint32 j = index.Find(other);
                if (j != SavedIndex::None && j > i) {
                    connections.push_back(i);
                    connections.push_back(j);
                }
            });
        }
    }
    Q_ASSERT(w.At() == out.constData() + size);

    out.resize(int(size + 4 + connections.size() * 4 + 4));
    w = Writer(out.data() + size);
    w.U32(quint32(connections.size() / 2));
    for (quint32 end : connections)
        w.U32(end);
    const int body = out.size() - 4;
    w.U32(quint32(crc32(0L, reinterpret_cast<const Bytef*>(out.constData()), uInt(body))));
    return out;
}

bool DataSaver::Apply(const QByteArray& bytes)
{
    ParsedFile file;
    if (!Parse(bytes, file))
        return false;
    // Keep items that handlers remove during the load readable until the end.
    Data::Batch batch(&d);
    std::vector<Type*> types;
    for (const auto& t : file.types) {
        Type* type = d.HasType(t.first);
        types.push_back(type && type->IsNull() == t.second ? type : nullptr);
    }
    std::vector<size_t> perType(types.size(), 0);
    for (const ParsedItem& p : file.items)
        ++perType[p.type];
    for (size_t t = 0; t < types.size(); ++t)
        if (types[t] && !types[t]->IsNull())
            types[t]->Reserve(types[t]->Count() + perType[t]);
    // What nobody observes is made without the event machinery: a large
    // share loads several times faster. Observed items and connections
    // raise their events in file order, as ever.
    std::vector<Item*> items(file.items.size(), nullptr);
    for (size_t i = 0; i < file.items.size(); ++i) {
        const ParsedItem& p = file.items[i];
        Type* type = types[p.type];
        if (!type)
            continue;
        if (p.kind == Valued)
            items[i] = type->LoadItem(std::string_view(p.value, p.size)).GetItemPointer();
        else if (p.kind == GlobalNull)
            items[i] = type->GetGlobalNullItem().GetItemPointer();
        else
            items[i] = type->LoadItem().GetItemPointer();
    }
    // Per pair of the file's types: 0 unknown, 1 unrelated, 2 observed,
    // 3 neither.
    std::vector<quint8> pairs(types.size() * types.size(), 0);
    quint64 generation = d.HandlerGeneration();
    for (const auto& c : file.connections) {
        // A handler that registers others mid-load is heard from then on.
        if (d.HandlerGeneration() != generation) {
            std::fill(pairs.begin(), pairs.end(), 0);
            generation = d.HandlerGeneration();
        }
        // Relations are checked on the file's types, without touching the
        // items themselves.
        const size_t ta = file.items[c.first].type;
        const size_t tb = file.items[c.second].type;
        quint8& kind = pairs[ta * types.size() + tb];
        if (kind == 0) {
            Type* a = types[ta];
            Type* b = types[tb];
            kind = !a || !b || !a->IsRelatedTo(b) ? 1 : d.IsConnectionObserved(a, b) ? 2 : 3;
        }
        if (kind == 2)
            ItemPtr(items[c.first]).Connect(items[c.second]);
        else if (kind == 3)
            d.ConnectUnobserved(items[c.first], items[c.second]);
    }
    return true;
}

void DataSaver::Load(const QString& prefix)
{
    m_unopened.clear();
    m_setAside.clear();
    m_loadedSaveTime = 0;
    const auto files = DataFiles(prefix);
    if (files.empty()) {
        NotifyLoaded(true);
        return;
    }
    for (const auto& file : files) {
        QFile f(file.second);
        if (!f.open(QIODevice::ReadOnly)) {
            // Permissions, a busy or an unmounted disk: nothing says the
            // file is damaged, so it stays as it is, and no rotation of this
            // run removes it.
            m_unopened.push_back(file.second);
            Log("Configuration Data", 1,
                QString("Could not open %1 (%2); left as it is").arg(file.second, f.errorString()), ItemPtr());
            continue;
        }
        const QByteArray bytes = f.readAll();
        f.close();
        if (Apply(bytes)) {
            Log("Configuration Data", 1, QString("Loaded %1").arg(file.second), ItemPtr());
            m_loadedSaveTime = file.first;
            NotifyLoaded(false);
            return;
        }
        // Set aside so that rotation never lets it crowd out good files.
        const QString target = UnreadableName(file.second);
        QFile::rename(file.second, target);
        m_setAside.emplace_back(file.second, target);
        Log("Configuration Data", 1, QString("Could not read %1; kept as %2").arg(file.second, target), ItemPtr());
    }
    throw DataLoadFailure();
}

void DataSaver::Save(const QString& prefix)
{
    WaitForSave();
    const QByteArray bytes = Serialize();
    m_watch.Saved();
    const QString failure = Write(prefix, bytes, m_unopened, m_beforeCommit);
    if (!failure.isEmpty()) {
        m_watch.Unsaved();
        throw DataSaveFailure(failure);
    }
}

bool DataSaver::SaveChanges(const QString& prefix)
{
    EndWrite(false);
    if (m_held)
        return false;
    if (m_writer.joinable()) {
        // Saved once the running write ends, rather than a tick later.
        m_queuedPrefix = prefix;
        return true;
    }
    if (!HasUnsavedChanges())
        return false;
    // The store belongs to this thread: it is encoded here, and only the
    // bytes cross to the worker.
    const QByteArray bytes = Serialize();
    m_watch.Saved();
    m_writeDone = false;
    m_writer = std::thread([this, prefix, bytes, unopened = m_unopened, beforeCommit = m_beforeCommit] {
        m_writeOk = Write(prefix, bytes, unopened, beforeCommit).isEmpty();
        m_writeDone = true;
        QMetaObject::invokeMethod(
            m_loop.get(), [this] { EndWrite(false); }, Qt::QueuedConnection);
    });
    return true;
}

bool DataSaver::HasUnsavedChanges()
{
    m_watch.Update();
    return m_watch.Changed();
}

void DataSaver::WaitForSave()
{
    EndWrite(true);
}

void DataSaver::EndWrite(bool wait)
{
    // A report can arrive after WaitForSave took the write in, or while a
    // later write runs; it then has nothing to do.
    if (!m_writer.joinable() || (!wait && !m_writeDone))
        return;
    m_writer.join();
    QString queued;
    queued.swap(m_queuedPrefix);
    if (!m_writeOk) {
        m_watch.Unsaved();
        if (m_saveFailed)
            m_saveFailed();
    }
    // Save, the one caller that waits, writes the whole store itself next.
    if (!wait && !queued.isEmpty())
        SaveChanges(queued);
}

QString DataSaver::Write(const QString& prefix, const QByteArray& bytes, const QStringList& unopened,
                         const std::function<void()>& beforeCommit)
{
    const QFileInfo info(prefix);
    if (!QDir().mkpath(info.absolutePath()))
        return QString("the folder %1 cannot be made").arg(QDir::toNativeSeparators(info.absolutePath()));

    qint64 stamp = QDateTime::currentMSecsSinceEpoch();
    while (QFile::exists(prefix + "." + QString::number(stamp)))
        ++stamp;
    const QString path = prefix + "." + QString::number(stamp);
    // QSaveFile writes beside the target and renames only after a complete
    // write, synced here so that a power cut after the rename cannot leave
    // the name over missing bytes; no half file ever carries a data-file
    // name. Nothing is removed before the new file holds its name: until
    // then the older files are the only copies of the data.
    try {
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly))
            return SaveError(out);
        // A disk that fills up takes part of a write and fails only the
        // next, which then says why.
        for (qint64 written = 0; written < bytes.size();) {
            const qint64 taken = out.write(bytes.constData() + written, bytes.size() - written);
            if (taken <= 0)
                return SaveError(out);
            written += taken;
        }
        if (!out.flush())
            return SaveError(out);
        if (::fsync(out.handle()) != 0) {
            char buffer[256];
            return QString::fromLocal8Bit(strerror_r(errno, buffer, sizeof buffer));
        }
        if (beforeCommit)
            beforeCommit();
        if (!out.commit())
            return SaveError(out);
    } catch (const DataSaveFailure& failure) {
        return failure.reason.isEmpty() ? QString(kUnknownSaveError) : failure.reason;
    }
    SyncFolder(info.absolutePath());
    Rotate(prefix, stamp, unopened);
    return QString();
}

void DataSaver::Rotate(const QString& prefix, qint64 stamp, const QStringList& unopened)
{
    // Files dated after the new one (the clock was set back) would be taken
    // for newer data at the next load. A file this run could not open, or
    // that cannot be opened now, is left: nobody has seen what it holds.
    int kept = 0;
    for (const auto& file : DataFiles(prefix)) {
        if (file.first == stamp)
            continue;
        if (unopened.contains(file.second))
            continue;
        if (file.first <= stamp && kept < 2) {
            ++kept;
            continue;
        }
        QFile probe(file.second);
        if (!probe.open(QIODevice::ReadOnly)) {
            Log("Configuration Data", 1, QString("Could not open %1; not removed").arg(file.second), ItemPtr());
            continue;
        }
        probe.close();
        QFile::remove(file.second);
    }
}

void DataSaver::NotifyNoData()
{
    NotifyLoaded(true);
}

void DataSaver::NotifyLoaded(bool noData)
{
    // A copy: handlers may enter or leave while being told.
    const auto handlers = m_handlers;
    for (DataLoadedEventHandler* h : handlers)
        if (std::find(m_handlers.begin(), m_handlers.end(), h) != m_handlers.end())
            h->DataLoaded();
    if (noData)
        for (DataLoadedEventHandler* h : handlers)
            if (std::find(m_handlers.begin(), m_handlers.end(), h) != m_handlers.end())
                h->NoData();
    // What the handlers derive from the data they derive again at every
    // start, so only changes from here on count.
    m_watch.Restart();
}
