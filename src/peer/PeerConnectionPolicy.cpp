#include "PeerConnectionPolicy.h"

#include <algorithm>
#include <sys/resource.h>
#include <utility>

PeerConnectionPolicy::Limits PeerConnectionPolicy::ForOpenFiles(qint64 openFilesLimit)
{
    const qint64 room = std::min(openFilesLimit / 2, openFilesLimit - ReservedFiles);
    Limits limits;
    limits.connections = int(std::clamp<qint64>(room, MinConnections, MaxConnections));
    limits.opening = std::min(MaxOpening, limits.connections / 2);
    return limits;
}

PeerConnectionPolicy::Limits PeerConnectionPolicy::ForThisProcess()
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY || files.rlim_cur > rlim_t(1) << 40)
        return ForOpenFiles(qint64(1) << 40);
    return ForOpenFiles(qint64(files.rlim_cur));
}

PeerConnectionPolicy::PeerConnectionPolicy(Limits limits) : m_limits(limits) {}

QString PeerConnectionPolicy::AddressOf(const QHostAddress& address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

void PeerConnectionPolicy::AddOpening(QObject* connection, const QString& address, qint64 now)
{
    Remove(connection);
    m_records[connection] = Record{Stage::Opening, address, now, m_sequence++};
    ++m_opening;
    ++m_openingByAddress[address];
}

void PeerConnectionPolicy::AddOutgoing(QObject* connection, qint64 now)
{
    Remove(connection);
    m_records[connection] = Record{Stage::Outgoing, QString(), now, m_sequence++};
}

void PeerConnectionPolicy::Named(QObject* connection, qint64 now)
{
    auto it = m_records.find(connection);
    if (it == m_records.end())
        it = m_records.emplace(connection, Record{Stage::Messages, QString(), now, m_sequence++}).first;
    LeaveOpening(it->second);
    it->second.stage = Stage::Messages;
    it->second.lastMessage = it->second.lastArrived = it->second.lastTaken = now;
}

const PeerConnectionPolicy::Record* PeerConnectionPolicy::MessageRecord(QObject* connection) const
{
    auto it = m_records.find(connection);
    return it != m_records.end() && it->second.stage == Stage::Messages ? &it->second : nullptr;
}

PeerConnectionPolicy::Record* PeerConnectionPolicy::MessageRecord(QObject* connection)
{
    return const_cast<Record*>(std::as_const(*this).MessageRecord(connection));
}

void PeerConnectionPolicy::MessagePassed(QObject* connection, qint64 now)
{
    if (Record* record = MessageRecord(connection)) {
        record->lastMessage = std::max(record->lastMessage, now);
        record->lastArrived = std::max(record->lastArrived, now);
    }
}

void PeerConnectionPolicy::ReadingResumed(QObject* connection, qint64 now)
{
    if (Record* record = MessageRecord(connection))
        record->lastArrived = std::max(record->lastArrived, now);
}

void PeerConnectionPolicy::Taken(QObject* connection, qint64 now, qint64 delivered, bool moreWait)
{
    Record* record = MessageRecord(connection);
    if (!record)
        return;
    if (now - record->lastTaken >= StepGap)
        record->stepBase = record->delivered;
    record->delivered = std::max(record->delivered, delivered);
    record->largestStep = std::max(record->largestStep, record->delivered - record->stepBase);
    record->lastMessage = std::max(record->lastMessage, now);
    record->lastTaken = std::max(record->lastTaken, now);
    // The system may tell of what it took before we tell of what we queued.
    if (moreWait && !record->writesWait)
        BeginWait(*record, now);
    record->writesWait = moreWait;
}

void PeerConnectionPolicy::Queued(QObject* connection, qint64 now)
{
    Record* record = MessageRecord(connection);
    if (record && !record->writesWait)
        BeginWait(*record, now);
}

void PeerConnectionPolicy::BeginWait(Record& record, qint64 now)
{
    record.writesWait = true;
    record.lastTaken = std::max(record.lastTaken, now);
    record.waitFrom = record.lastTaken;
    record.waitBase = record.stepBase = record.delivered;
    record.largestStep = 0;
}

void PeerConnectionPolicy::Remove(QObject* connection)
{
    auto it = m_records.find(connection);
    if (it == m_records.end())
        return;
    LeaveOpening(it->second);
    m_records.erase(it);
}

void PeerConnectionPolicy::LeaveOpening(const Record& record)
{
    if (record.stage != Stage::Opening)
        return;
    --m_opening;
    auto count = m_openingByAddress.find(record.address);
    if (count != m_openingByAddress.end() && --count.value() <= 0)
        m_openingByAddress.erase(count);
}

bool PeerConnectionPolicy::MayOpenFrom(const QString& address) const
{
    return m_openingByAddress.value(address) < m_limits.openingPerAddress;
}

QObject* PeerConnectionPolicy::LongestIdle() const
{
    QObject* found = nullptr;
    const Record* best = nullptr;
    for (const auto& entry : m_records) {
        const Record& record = entry.second;
        if (record.stage != Stage::Messages)
            continue;
        if (!best || record.lastMessage < best->lastMessage ||
            (record.lastMessage == best->lastMessage && record.sequence < best->sequence)) {
            best = &record;
            found = entry.first;
        }
    }
    return found;
}

QObject* PeerConnectionPolicy::OpeningToClose() const
{
    QObject* found = nullptr;
    const Record* best = nullptr;
    int bestCount = 0;
    for (const auto& entry : m_records) {
        const Record& record = entry.second;
        if (record.stage != Stage::Opening)
            continue;
        const int count = m_openingByAddress.value(record.address);
        if (!best || count > bestCount || (count == bestCount && record.sequence < best->sequence)) {
            best = &record;
            bestCount = count;
            found = entry.first;
        }
    }
    return found;
}

std::vector<QObject*> PeerConnectionPolicy::SilentBeyondBound(qint64 now, const QString& address) const
{
    typedef std::pair<quint64, QObject*> Silent;
    QHash<QString, std::vector<Silent>> byAddress;
    for (const auto& entry : m_records) {
        const Record& record = entry.second;
        if (record.stage == Stage::Opening && now - record.lastMessage >= OpeningGrace &&
            (address.isEmpty() || record.address == address))
            byAddress[record.address].emplace_back(record.sequence, entry.first);
    }
    std::vector<Silent> beyond;
    for (std::vector<Silent>& silent : byAddress) {
        if (int(silent.size()) <= m_limits.openingPerAddress)
            continue;
        std::sort(silent.begin(), silent.end());
        beyond.insert(beyond.end(), silent.begin(), silent.end() - m_limits.openingPerAddress);
    }
    std::sort(beyond.begin(), beyond.end());
    std::vector<QObject*> connections;
    for (const Silent& silent : beyond)
        connections.push_back(silent.second);
    return connections;
}

bool PeerConnectionPolicy::AddedBefore(QObject* a, QObject* b) const
{
    const auto first = m_records.find(a);
    const auto second = m_records.find(b);
    // One no longer held counts as added last.
    if (first == m_records.end())
        return false;
    return second == m_records.end() || first->second.sequence < second->second.sequence;
}

std::vector<QObject*> PeerConnectionPolicy::IdleAt(qint64 now) const
{
    std::vector<QObject*> idle;
    for (const auto& entry : m_records)
        if (entry.second.stage == Stage::Messages && now - entry.second.lastMessage >= IdleTime)
            idle.push_back(entry.first);
    return idle;
}

std::vector<QObject*> PeerConnectionPolicy::StalledAt(qint64 now) const
{
    std::vector<QObject*> stalled;
    for (const auto& entry : m_records)
        if (entry.second.stage == Stage::Messages && entry.second.writesWait &&
            now - entry.second.lastTaken >= StallTime)
            stalled.push_back(entry.first);
    return stalled;
}

qint64 PeerConnectionPolicy::SilentFor(QObject* connection, qint64 now) const
{
    const Record* record = MessageRecord(connection);
    return record ? now - record->lastArrived : 0;
}

qint64 PeerConnectionPolicy::NotTakingFor(QObject* connection, qint64 now) const
{
    const Record* record = MessageRecord(connection);
    return record && record->writesWait ? now - record->lastTaken : 0;
}

bool PeerConnectionPolicy::RoomStalled(QObject* connection, qint64 now, qint64 stall) const
{
    const Record* record = MessageRecord(connection);
    if (!record || !record->writesWait)
        return false;
    const qint64 taken = record->delivered - record->waitBase;
    const qint64 kept = record->lastTaken - record->waitFrom;
    // In floating point: a large step times a long wait leaves 64 bits.
    const double paced = taken > 0 && kept > 0
                             ? std::min(double(record->largestStep) * double(kept) / double(taken), double(StallTime))
                             : 0.0;
    return now - record->lastTaken >= stall + qint64(paced);
}
