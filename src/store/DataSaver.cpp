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
#include "SaveSweep.h"
#include "SavedRecords.h"
#include "TurnSlice.h"

DataSaver* dataSaver = nullptr;

namespace {
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
    if (bytes.size() < 12 || memcmp(bytes.constData(), SavedRecords::Magic, 4) != 0)
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
    if (!in.U32(version) || version != SavedRecords::FormatVersion || !in.U32(typeCount))
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
        if (item.kind == SavedRecords::Valued) {
            if (isNull || !in.Bytes(item.value, item.size))
                return false;
        } else if (item.kind > SavedRecords::GlobalNull || !isNull) {
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

// Items a save takes of the store before it looks at the turn's budget, so
// that a small store is saved in the turn that asks.
const int TakenAtOnce = 4096;

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

DataSaver::DataSaver()
    : m_watch(m_savedTypes, m_savedByConnection),
      m_taking(TakenAtOnce, [this](TurnSlice& slice) { return TakeSlice(slice); }), m_loop(new QObject)
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
    SaveSweep sweep(m_savedTypes, m_savedByConnection, false);
    TurnSlice whole = TurnSlice::Whole();
    sweep.Run(whole);
    return sweep.Take().Assemble();
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
        if (p.kind == SavedRecords::Valued)
            items[i] = type->LoadItem(std::string_view(p.value, p.size)).GetItemPointer();
        else if (p.kind == SavedRecords::GlobalNull)
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
    StopTaking();
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
    // This save takes the whole store as it stands: a half-minute save
    // being taken has nothing more to write.
    StopTaking();
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
    // What changes while the store is taken goes into that save.
    if (m_taking.IsRunning())
        return true;
    if (m_writer.joinable()) {
        // Saved once the running write ends, rather than a tick later.
        m_queuedPrefix = prefix;
        return true;
    }
    if (!HasUnsavedChanges())
        return false;
    // The store belongs to this thread: it is taken here, and only the
    // records cross to the worker.
    m_sweep = std::make_unique<SaveSweep>(m_savedTypes, m_savedByConnection, true);
    m_takingPrefix = prefix;
    m_taking.Start();
    return true;
}

bool DataSaver::TakeSlice(TurnSlice& slice)
{
    if (!m_sweep->Run(slice))
        return false;
    SavedRecords records = m_sweep->Take();
    m_sweep.reset();
    // The records are the store as it stands: what changes from here on is
    // the next save's.
    m_watch.Saved();
    StartWrite(m_takingPrefix, std::move(records));
    return true;
}

void DataSaver::StartWrite(const QString& prefix, SavedRecords records)
{
    EndWrite(true);
    m_writeDone = false;
    m_writer =
        std::thread([this, prefix, records = std::move(records), unopened = m_unopened, beforeCommit = m_beforeCommit] {
            m_writeOk = Write(prefix, records.Assemble(), unopened, beforeCommit).isEmpty();
            m_writeDone = true;
            QMetaObject::invokeMethod(
                m_loop.get(), [this] { EndWrite(false); }, Qt::QueuedConnection);
        });
}

void DataSaver::StopTaking()
{
    m_taking.Stop();
    m_sweep.reset();
}

void DataSaver::HoldChanges(bool held)
{
    m_held = held;
    // What it took stays unsaved: the watch still counts it as changed.
    if (held)
        StopTaking();
}

bool DataSaver::HasUnsavedChanges()
{
    m_watch.Update();
    return m_watch.Changed();
}

void DataSaver::WaitForSave()
{
    if (m_taking.IsRunning()) {
        m_taking.Stop();
        TurnSlice whole = TurnSlice::Whole();
        TakeSlice(whole);
    }
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
