#include "WriteBacklog.h"

#include <algorithm>

#include "PeerMessages.h"

void WriteBacklog::Queued(quint32 code, qint64 size)
{
    if (size <= 0)
        return;
    const bool answer = PeerMessages::IsAnswer(code);
    m_entries.push_back(Entry{m_queued, m_queued + size, code, answer});
    m_queued += size;
    if (answer) {
        m_answerBytes += size;
        m_answers.Add(size);
    }
    ++m_waitingByCode[code];
}

void WriteBacklog::Clear()
{
    m_entries.clear();
    m_waitingByCode.clear();
    m_answerBytes = 0;
    m_answers.Release();
}

void WriteBacklog::Drain(qint64 waiting)
{
    const qint64 passed = m_queued - waiting;
    while (!m_entries.empty() && m_entries.front().end <= passed) {
        const Entry& entry = m_entries.front();
        auto count = m_waitingByCode.find(entry.code);
        if (--count.value() == 0)
            m_waitingByCode.erase(count);
        if (entry.answer)
            m_answerBytes -= entry.end - entry.start;
        m_entries.pop_front();
    }
    // The message being written holds only what is left of it.
    const qint64 held =
        m_answerBytes -
        (!m_entries.empty() && m_entries.front().answer ? std::max<qint64>(0, passed - m_entries.front().start) : 0);
    m_answers.Remove(m_answers.Held() - held);
}

bool WriteBacklog::Fits(qint64 size, qint64 waiting)
{
    Drain(waiting);
    return Within(m_entries.empty() ? 0 : m_queued - m_entries.front().end, size);
}

bool WriteBacklog::Waits(quint32 code, qint64 waiting)
{
    Drain(waiting);
    return m_waitingByCode.contains(code);
}
