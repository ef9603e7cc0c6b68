#pragma once

#include <QSet>
#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "SlicedJob.h"

class Item;
class TurnSlice;

// Requests about queued downloads, sent a slice per turn of the event loop
// within the turn's budget: a user's downloads asked for again (queue
// requests) or asked for their place in line, each batch in the order of
// the downloads' order numbers, and the half-minute round that finds the
// users of the queued downloads and decides who is asked what. A user with
// 200,000 downloads then costs no turn more than its share.
//
// Batches go in the order they come, a round's own behind it. A download
// waiting in a batch of one kind is asked once however often it is added
// meanwhile; one removed meanwhile is passed over, and one without an
// order number is never asked.
class DownloadRequests : public DataHandler
{
public:
    enum Kind
    {
        QueueRequest,
        PlaceInLineRequest
    };
    // Asks for one download; the users a round found, in store order, and
    // the time the round began.
    using Ask = std::function<void(Kind kind, ItemPtr entry)>;
    using Decide = std::function<void(const std::vector<QString>& users, qint64 nowMs)>;

    DownloadRequests(Ask ask, Decide decide);

    // Follows removals of the entries' type; once that type exists.
    void Watch(const char* entryType);
    // The entries of kind, asked behind those waiting. A request of each
    // goes out at once when nothing was waiting.
    void Add(Kind kind, const ItemSet& entries);
    // A round over the users of these queued downloads.
    void StartRound(const ItemSet& queued, qint64 nowMs);
    // Whether a round has yet to decide.
    bool RoundUnderWay() const;
    // Requests and users yet to be seen to.
    int Waiting() const;
    // The slices of the work, for tests to count and to cut small.
    SlicedJob& Job() { return m_job; }

private:
    struct Keyed
    {
        qint64 order;
        quint64 sequence;
        Item* entry;
    };
    struct Batch
    {
        bool round = false;
        Kind kind = QueueRequest;
        qint64 nowMs = 0;
        // The entries as given, until each is keyed; those removed since
        // are never looked at.
        ItemList given;
        QSet<const Item*> gone;
        size_t at = 0;
        bool keyedAll = false;
        std::vector<Keyed> keyed;
        // A round's users, by their sequence.
        std::map<quint64, QString> users;
    };

    void Append(Batch batch);
    bool RunSlice(TurnSlice& slice);
    // Keys (or, for a round, takes the users of) the given entries; true
    // once all are.
    bool KeyGiven(Batch& batch, TurnSlice& slice);
    void OnEntryRemoved(ItemPtr entry);

    Ask m_ask;
    Decide m_decide;
    std::deque<Batch> m_batches;
    // Per kind, the entries waiting in a batch with the sequence each had
    // when keyed, so an entry made anew where a removed one was is never
    // taken for it.
    QHash<const Item*, quint64> m_waiting[2];
    SlicedJob m_job;
};
