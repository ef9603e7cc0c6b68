#include "WriteBacklog.h"

#include "PeerMessages.h"

void WriteBacklog::Queued(quint32 code, qint64 size)
{
    if (size <= 0)
        return;
    m_queued += size;
    const qint64 answerBytes = PeerMessages::IsAnswer(code) ? size : 0;
    m_answers.Add(answerBytes);
    m_entries.push_back(Entry{m_queued, code, answerBytes});
    ++m_waitingByCode[code];
}

void WriteBacklog::Clear()
{
    m_entries.clear();
    m_waitingByCode.clear();
    m_answers.Release();
}

void WriteBacklog::Drain(qint64 waiting)
{
    const qint64 passed = m_queued - waiting;
    while (!m_entries.empty() && m_entries.front().end <= passed) {
        auto count = m_waitingByCode.find(m_entries.front().code);
        if (--count.value() == 0)
            m_waitingByCode.erase(count);
        m_answers.Remove(m_entries.front().answerBytes);
        m_entries.pop_front();
        ++m_messagesPassed;
    }
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
