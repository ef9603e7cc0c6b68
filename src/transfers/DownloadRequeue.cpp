#include "DownloadRequeue.h"

#include "Data.h"
#include "EventHandler.h"

DownloadRequeue::DownloadRequeue(std::function<void(ItemPtr)> requeue, int perTurn)
    : m_requeue(std::move(requeue)), m_perTurn(perTurn)
{
    m_nextTurn.setSingleShot(true);
    m_nextTurn.setInterval(0);
    QObject::connect(&m_nextTurn, &QTimer::timeout, [this] { RunSlice(); });
}

void DownloadRequeue::Watch(const char* entryType)
{
    d.GetType(entryType)->AddItemRemovedHandler(
        new FunctionHandler<ItemPtr>(this, [this](ItemPtr entry) { m_waiting.remove(entry.GetItemPointer()); }));
}

void DownloadRequeue::Add(const ItemList& entries)
{
    const bool idle = m_waiting.isEmpty();
    for (const ItemPtr& entry : entries) {
        auto waiting = m_waiting.constFind(entry.GetItemPointer());
        if (waiting != m_waiting.constEnd() && waiting.value() == entry.Sequence())
            continue;
        m_waiting.insert(entry.GetItemPointer(), entry.Sequence());
        m_order.emplace_back(entry.GetItemPointer(), entry.Sequence());
    }
    if (idle)
        RunSlice();
}

void DownloadRequeue::RunSlice()
{
    Data::Batch batch(&d);
    for (int done = 0; done < m_perTurn && !m_order.empty();) {
        const std::pair<Item*, quint64> next = m_order.front();
        m_order.pop_front();
        auto waiting = m_waiting.find(next.first);
        if (waiting == m_waiting.end() || waiting.value() != next.second)
            continue;
        m_waiting.erase(waiting);
        m_requeue(ItemPtr(next.first));
        ++done;
    }
    if (!m_order.empty())
        m_nextTurn.start();
}
