#include "DataSaver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <unordered_map>
#include <zlib.h>

#include "Data.h"
#include "Log.h"
#include "MemStream.h"

DataSaver* dataSaver = nullptr;

namespace
{
const char Magic[4] = {'Q', 'V', 'D', 'F'};
const quint32 FormatVersion = 1;
enum ItemKind : quint8
{
    Valued = 0,
    Valueless = 1,
    GlobalNull = 2
};

// Appends little-endian fields straight into one buffer; saving a large
// share writes millions of them.
class Writer
{
public:
    explicit Writer(QByteArray& out) : m_out(out) {}
    void U8(quint8 v) { m_out.append(char(v)); }
    void U32(quint32 v)
    {
        char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        m_out.append(b, 4);
    }
    void Bytes(const std::string& s)
    {
        U32(quint32(s.size()));
        m_out.append(s.data(), int(s.size()));
    }

private:
    QByteArray& m_out;
};

struct ParsedItem
{
    quint32 type;
    quint8 kind;
    std::string value;
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
    MemStream tail(bytes.constData() + bodySize, 4);
    quint32 storedCrc = 0;
    tail.Read(storedCrc);
    const quint32 crc = quint32(crc32(0L, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bodySize)));
    if (crc != storedCrc)
        return false;

    MemStream in(bytes.constData() + 4, static_cast<unsigned long>(bodySize - 4));
    quint32 version = 0, typeCount = 0;
    if (!in.Read(version) || version != FormatVersion || !in.Read(typeCount))
        return false;
    // Every count is checked against what remains, so a damaged count can
    // never make us reserve more than the file could describe.
    if (typeCount > in.Remaining() / 5)
        return false;
    file.types.reserve(typeCount);
    for (quint32 i = 0; i < typeCount; ++i) {
        std::string name;
        quint8 isNull = 0;
        if (!in.Read(name) || !in.Read(isNull))
            return false;
        file.types.emplace_back(std::move(name), isNull != 0);
    }
    quint32 itemCount = 0;
    if (!in.Read(itemCount) || itemCount > in.Remaining() / 5)
        return false;
    file.items.resize(itemCount);
    for (quint32 i = 0; i < itemCount; ++i) {
        ParsedItem& item = file.items[i];
        if (!in.Read(item.type) || item.type >= typeCount || !in.Read(item.kind))
            return false;
        const bool isNull = file.types[item.type].second;
        if (item.kind == Valued) {
            if (isNull || !in.Read(item.value))
                return false;
        } else if (item.kind > GlobalNull || !isNull) {
            return false;
        }
    }
    quint32 connectionCount = 0;
    if (!in.Read(connectionCount) || connectionCount > in.Remaining() / 8)
        return false;
    file.connections.resize(connectionCount);
    for (auto& c : file.connections) {
        if (!in.Read(c.first) || !in.Read(c.second) || c.first >= itemCount || c.second >= itemCount)
            return false;
    }
    return in.Remaining() == 0;
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
{
    dataSaver = this;
}

DataSaver::~DataSaver()
{
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
    // Which items are saved.
    std::vector<Item*> items;
    std::unordered_map<const Item*, quint32> index;
    auto take = [&](Item* item) {
        if (index.emplace(item, 0).second)
            items.push_back(item);
    };
    for (const std::string& name : m_savedTypes)
        if (Type* type = d.HasType(name))
            for (const ItemPtr& item : type->GetItems())
                take(item.GetItemPointer());
    for (const auto& rule : m_savedByConnection) {
        Type* type = d.HasType(rule.first);
        Type* by = d.HasType(rule.second);
        if (!type || !by)
            continue;
        for (const ItemPtr& item : type->GetItems())
            if (item[by])
                take(item.GetItemPointer());
    }
    // Store order, so that the order of items survives a save and a load.
    std::sort(items.begin(), items.end(), ItemSequenceLess());

    std::vector<Type*> types;
    std::unordered_map<const Type*, quint32> typeIndex;
    for (quint32 i = 0; i < items.size(); ++i) {
        index[items[i]] = i;
        if (typeIndex.emplace(items[i]->m_type, quint32(types.size())).second)
            types.push_back(items[i]->m_type);
    }

    QByteArray out;
    out.reserve(int(items.size()) * 24 + 1024);
    Writer w(out);
    out.append(Magic, 4);
    w.U32(FormatVersion);
    w.U32(quint32(types.size()));
    for (Type* t : types) {
        w.Bytes(t->GetName());
        w.U8(t->IsNull() ? 1 : 0);
    }
    w.U32(quint32(items.size()));
    for (Item* item : items) {
        w.U32(typeIndex[item->m_type]);
        if (!item->m_type->IsNull()) {
            w.U8(Valued);
            w.Bytes(item->m_value);
        } else {
            w.U8(item->m_type->IsGlobalNullItem(item) ? GlobalNull : Valueless);
        }
    }
    const int countAt = out.size();
    w.U32(0);
    quint32 connections = 0;
    for (quint32 i = 0; i < items.size(); ++i) {
        for (const ConnectionGroup& group : items[i]->m_groups) {
            group.ForEach([&](Item* other) {
                auto it = index.find(other);
                if (it != index.end() && it->second > i) {
                    w.U32(i);
                    w.U32(it->second);
                    ++connections;
                }
            });
        }
    }
    for (int b = 0; b < 4; ++b)
        out[countAt + b] = char(connections >> (8 * b));
    w.U32(quint32(crc32(0L, reinterpret_cast<const Bytef*>(out.constData()), uInt(out.size()))));
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
    std::vector<ItemPtr> items(file.items.size());
    for (size_t i = 0; i < file.items.size(); ++i) {
        const ParsedItem& p = file.items[i];
        Type* type = types[p.type];
        if (!type)
            continue;
        if (p.kind == Valued)
            items[i] = type->NewItem(Value(p.value));
        else if (p.kind == GlobalNull)
            items[i] = type->GetGlobalNullItem();
        else
            items[i] = type->NewItem();
    }
    for (const auto& c : file.connections) {
        ItemPtr a = items[c.first];
        ItemPtr b = items[c.second];
        if (a && b && a.GetType()->IsRelatedTo(b.GetType()))
            a.Connect(b);
    }
    return true;
}

void DataSaver::Load(const QString& prefix)
{
    const auto files = DataFiles(prefix);
    if (files.empty()) {
        NotifyLoaded(true);
        return;
    }
    for (const auto& file : files) {
        QFile f(file.second);
        QByteArray bytes;
        if (f.open(QIODevice::ReadOnly))
            bytes = f.readAll();
        f.close();
        if (Apply(bytes)) {
            Log("Configuration Data", 1, QString("Loaded %1").arg(file.second), ItemPtr());
            NotifyLoaded(false);
            return;
        }
        // Set aside so that rotation never lets it crowd out good files.
        const QString target = UnreadableName(file.second);
        QFile::rename(file.second, target);
        Log("Configuration Data", 1, QString("Could not read %1; kept as %2").arg(file.second, target), ItemPtr());
    }
    throw DataLoadFailure();
}

void DataSaver::Save(const QString& prefix)
{
    const QByteArray bytes = Serialize();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QFileInfo info(prefix);
    if (!QDir().mkpath(info.absolutePath()))
        throw DataSaveFailure();

    qint64 stamp = now;
    while (QFile::exists(prefix + "." + QString::number(stamp)))
        ++stamp;
    // QSaveFile writes beside the target and renames only after a complete,
    // flushed write, so no half file ever carries a data-file name. Old
    // files are rotated away only once the new one is fully written.
    QSaveFile out(prefix + "." + QString::number(stamp));
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush())
        throw DataSaveFailure();
    int kept = 0;
    for (const auto& file : DataFiles(prefix)) {
        if (file.first > now || kept >= 2)
            QFile::remove(file.second);
        else
            ++kept;
    }
    if (!out.commit())
        throw DataSaveFailure();
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
    if (!noData)
        return;
    for (DataLoadedEventHandler* h : handlers)
        if (std::find(m_handlers.begin(), m_handlers.end(), h) != m_handlers.end())
            h->NoData();
}
