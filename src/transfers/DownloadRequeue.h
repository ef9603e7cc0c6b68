#pragma once

#include <QHash>
#include <QTimer>
#include <deque>
#include <functional>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"

class Item;

// Downloads to be asked for again, a bounded number per turn of the event
// loop: a user with thousands of downloads comes online at login, and each
// one costs a look at the disk and a message. They go in the order given,
// each once however often it is added while it waits; one removed meanwhile
// is passed over.
class DownloadRequeue : public DataHandler
{
public:
    // requeue is called for each entry when its turn comes.
    DownloadRequeue(std::function<void(ItemPtr)> requeue, int perTurn);

    // Follows removals of the entries' type; once that type exists.
    void Watch(const char* entryType);
    // Queues the entries behind those waiting; when none was waiting, the
    // first of them go at once, so a few go as before, in the same turn.
    void Add(const ItemList& entries);
    int Waiting() const { return m_waiting.size(); }

private:
    void RunSlice();

    std::function<void(ItemPtr)> m_requeue;
    int m_perTurn;
    // The entries in their order with the sequence each had when added; an
    // entry still waiting is in m_waiting with that same sequence, so an
    // entry made anew at a removed one's address is never taken for it.
    std::deque<std::pair<Item*, quint64>> m_order;
    QHash<const Item*, quint64> m_waiting;
    QTimer m_nextTurn;
};
