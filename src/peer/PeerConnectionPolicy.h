#pragma once

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QtGlobal>
#include <unordered_map>
#include <vector>

class QObject;

// Which peer connections to keep when peers open more than the process can
// hold. It keeps the books of every connection peer messaging holds and
// names the ones to close; PeerMessenger closes them. The rules:
// - all of them together stay under a cap well below the open-files limit,
//   and at the cap the message connection idle longest is closed to make
//   room;
// - connections being opened (before their opening frame names them, or a
//   file connection before its token) are bounded in all, the address
//   holding the most giving up its oldest first; and those of an address
//   that stay silent past OpeningGrace are bounded per address, the one
//   silent longest going first, so that a crowd behind one address that
//   sends its openings at once is never turned away for it;
// - a message connection is active when a whole message arrives, when
//   ProgressBytes more of an unfinished one arrive, or when the system
//   takes a whole message of ours or ProgressBytes of one; one not active
//   within IdleTime is idle. A message at an honest pace keeps it; a
//   trickle does not, nor does what we merely queue for the peer;
// - a message connection whose peer takes none of what waits for it for
//   StallTime is stalled. A reader may pause (a user looking away, a
//   program that reads in bursts) and go on: while nobody waits for the
//   room it holds that costs only the memory the room already allows, so
//   it is kept as long as an idle connection. When others wait for that
//   room, PeerMessenger takes it back far sooner: once it has taken none
//   for longer than RoomStalled allows.
class PeerConnectionPolicy
{
public:
    // Descriptors kept beyond the peer connections at the least: the server,
    // the data file, shared and transferred files, network links, the
    // toolkit's own.
    static constexpr qint64 ReservedFiles = 256;
    static constexpr int MinConnections = 32;
    // The gateway library waits with select(), which cannot watch a
    // descriptor past 1,023: with the reserve beside them, peers leave the
    // numbers below that to the rest however high the limit is raised.
    static constexpr int MaxConnections = 1024 - ReservedFiles;
    static constexpr int MaxOpening = 256;
    // A client opens a message and a file connection or two at once; a NAT
    // in front of several clients a few more.
    static constexpr int MaxOpeningPerAddress = 8;
    // Milliseconds.
    static constexpr qint64 IdleTime = 300000;
    // How long a connection being opened may go without its opening before
    // it counts as silent: a peer sends it as soon as it is connected, and
    // a slow link or a busy loop here takes well under this to bring it.
    static constexpr qint64 OpeningGrace = 10000;
    static constexpr qint64 StallTime = IdleTime;
    // Acknowledgements this close together are one step of the peer's
    // system.
    static constexpr qint64 StepGap = 1000;

    struct Limits
    {
        int connections = MaxConnections;
        int opening = MaxOpening;
        int openingPerAddress = MaxOpeningPerAddress;
    };
    // Half the open-files limit, never more than all but ReservedFiles,
    // within [MinConnections, MaxConnections]; opening connections at most
    // half of that.
    static Limits ForOpenFiles(qint64 openFilesLimit);
    // For this process's current (soft) open-files limit.
    static Limits ForThisProcess();

    explicit PeerConnectionPolicy(Limits limits = ForThisProcess());

    // The text by which connections count as coming from one address: an
    // IPv4 peer reached through a dual-stack port counts as its IPv4 address.
    static QString AddressOf(const QHostAddress& address);

    const Limits& GetLimits() const { return m_limits; }
    void SetLimits(const Limits& limits) { m_limits = limits; }

    // A connection being opened: accepted from address, or our answer to a
    // relayed request to it.
    void AddOpening(QObject* connection, const QString& address, qint64 now);
    // Our own direct attempt: it counts against the cap, but it is never
    // the one closed to make room.
    void AddOutgoing(QObject* connection, qint64 now);
    // Now a message connection: its idle time starts.
    void Named(QObject* connection, qint64 now);
    // A whole message arrived, or ProgressBytes more of one.
    void MessagePassed(QObject* connection, qint64 now);
    // Reading resumes after a wait for room: the peer's silence counts from
    // now.
    void ReadingResumed(QObject* connection, qint64 now);
    // The system took our bytes (a whole message or ProgressBytes), the
    // peer delivered bytes in all as the system counts them; whether more
    // still wait.
    void Taken(QObject* connection, qint64 now, qint64 delivered, bool moreWait);
    // We handed the connection bytes and some wait: the peer's not taking
    // them counts from now, unless it already did.
    void Queued(QObject* connection, qint64 now);
    void Remove(QObject* connection);

    // Whether fewer than openingPerAddress are being opened with address,
    // silent or not: how many of our own answers to relayed requests may
    // be on their way to one address.
    bool MayOpenFrom(const QString& address) const;
    bool IsFull() const { return int(m_records.size()) >= m_limits.connections; }
    bool OpeningIsFull() const { return m_opening >= m_limits.opening; }
    // What to close when full: the message connection whose last whole
    // message is oldest (the first named on a tie); null when none is.
    QObject* LongestIdle() const;
    // What to close when the opening ones are at their bound: the oldest of
    // the address with the most being opened (of those, the one whose
    // oldest is oldest); null when none is being opened.
    QObject* OpeningToClose() const;
    // The connections silent at now beyond openingPerAddress of one address
    // (of every address when empty), those silent longest first.
    std::vector<QObject*> SilentBeyondBound(qint64 now, const QString& address = QString()) const;
    // Whether a was added before b: the order in which peers opened them,
    // whatever order their openings are read in.
    bool AddedBefore(QObject* a, QObject* b) const;
    // The message connections idle at now.
    std::vector<QObject*> IdleAt(qint64 now) const;
    // The message connections stalled at now (StallTime).
    std::vector<QObject*> StalledAt(qint64 now) const;
    // How long a message connection has passed nothing of the peer's, and
    // has taken none of ours while some wait (0 when none wait).
    qint64 SilentFor(QObject* connection, qint64 now) const;
    qint64 NotTakingFor(QObject* connection, qint64 now) const;
    // Whether it has taken none of what waits for longer than stall and
    // the time its pace explains. A peer's system takes what its reader
    // freed in steps (a window's worth at a time, often some hundred KiB),
    // so a slow reader that keeps up shows nothing between them: it may
    // take none for as long as its largest step since the bytes began to
    // wait lasted at the pace it has kept since (at most StallTime more).
    bool RoomStalled(QObject* connection, qint64 now, qint64 stall) const;

    int Count() const { return int(m_records.size()); }
    int OpeningCount() const { return m_opening; }

private:
    enum class Stage
    {
        Opening,
        Outgoing,
        Messages
    };
    struct Record
    {
        Stage stage;
        QString address;
        // Its last activity, a whole message or progress (see above).
        qint64 lastMessage;
        // Breaks ties in arrival order.
        quint64 sequence;
        // Since when the peer has sent nothing, and has taken none of ours.
        qint64 lastArrived = 0;
        qint64 lastTaken = 0;
        bool writesWait = false;
        // What the peer has taken in all, as last seen; when and from
        // where the bytes waiting now began to wait; where the step of
        // its system now seen began, and the largest such step since.
        qint64 delivered = 0;
        qint64 waitFrom = 0;
        qint64 waitBase = 0;
        qint64 stepBase = 0;
        qint64 largestStep = 0;
    };
    // The record of a message connection; null for any other.
    const Record* MessageRecord(QObject* connection) const;
    Record* MessageRecord(QObject* connection);
    // Bytes wait for the peer from now: its pace is counted from here.
    static void BeginWait(Record& record, qint64 now);
    // Takes it off the opening counts; the caller sets its new stage.
    void LeaveOpening(const Record& record);

    Limits m_limits;
    std::unordered_map<QObject*, Record> m_records;
    QHash<QString, int> m_openingByAddress;
    int m_opening = 0;
    quint64 m_sequence = 0;
};
