#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <mutex>
#include <vector>

#include "MemStream.h"
#include "SearchAnswer.h"

// Builds and compresses the answers of large searches on a thread of its
// own. Work comes in and goes out through queues under a standard mutex,
// never as data carried by Qt's events, whose locks ThreadSanitizer
// (scripts/tsan) cannot see.
class SearchAnswerBuilder : public QObject
{
    Q_OBJECT

public:
    struct Job
    {
        SearchAnswer::Header header;
        std::vector<SearchAnswer::Match> matches;
        QString user;
        QString text;
    };
    struct Done
    {
        QString user;
        QString text;
        MemStream message;
        bool answered;
    };

    // Each finished answer calls the receiver's slot, queued.
    SearchAnswerBuilder(QObject* receiver, const char* doneSlot);

    // From the receiver's thread; the job is built on this object's.
    void Add(Job job);
    // The finished answers so far, oldest first.
    std::vector<Done> TakeDone();

public slots:
    void BuildWaiting();

private:
    QObject* m_receiver;
    const char* m_doneSlot;
    std::mutex m_mutex;
    std::deque<Job> m_waiting;
    std::deque<Done> m_done;
};
