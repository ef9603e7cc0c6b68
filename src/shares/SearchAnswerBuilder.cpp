#include "SearchAnswerBuilder.h"

#include <QMetaObject>
#include <utility>

#include "PeerMessages.h"

SearchAnswerBuilder::SearchAnswerBuilder(QObject* receiver, const char* doneSlot)
    : m_receiver(receiver), m_doneSlot(doneSlot)
{
}

void SearchAnswerBuilder::Add(Job job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back(std::move(job));
    }
    QMetaObject::invokeMethod(this, "BuildWaiting", Qt::QueuedConnection);
}

std::vector<SearchAnswerBuilder::Done> SearchAnswerBuilder::TakeDone()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Done> done(std::make_move_iterator(m_done.begin()), std::make_move_iterator(m_done.end()));
    m_done.clear();
    return done;
}

void SearchAnswerBuilder::BuildWaiting()
{
    for (;;) {
        Job job;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_waiting.empty())
                return;
            job = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        Done done{job.user, job.text, MemStream(), false, bool(job.shareList)};
        if (job.shareList) {
            done.message = PeerMessages::WriteShareList(*job.shareList, AttributeTranslationTable());
            done.answered = true;
            job.shareList.reset();
        } else
            done.answered = SearchAnswer::Build(job.header, std::move(job.matches), done.message);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done.push_back(std::move(done));
        }
        QMetaObject::invokeMethod(m_receiver, m_doneSlot, Qt::QueuedConnection);
    }
}
