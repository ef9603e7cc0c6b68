#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "FileInfo.h"
#include "MemStream.h"
#include "SearchAnswer.h"

// Builds and compresses the answers of large searches, and share lists, on
// a thread of its own. Work comes in and goes out through queues under a standard mutex,
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
        // When set, the answer is this share list instead of a search reply;
        // it is freed on the builder's thread too.
        std::unique_ptr<FileInfoMap> shareList;
    };
    struct Done
    {
        QString user;
        QString text;
        MemStream message;
        bool answered;
        bool shareList = false;
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
