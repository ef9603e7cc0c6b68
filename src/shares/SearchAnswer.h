#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "FileInfo.h"
#include "MemStream.h"

// The answer to another user's search, built from the matching files that
// were read out of the store. Needs nothing of the store, so a large
// answer is built and compressed off the event-loop thread; either way the
// bytes are the same.
class SearchAnswer
{
public:
    // One matching file: its record, named by its whole remote path, and
    // its place in the store's order, which decides between two files of
    // the same path.
    struct Match
    {
        FileInfo file;
        quint64 order;
    };
    struct Header
    {
        QString user;
        quint32 token = 0;
        quint8 freeSlot = 0;
        quint32 uploadSpeed = 0;
        quint32 queued = 0;
    };

    // The reply message (code 9): the records by remote path in byte
    // order, one per path. False when there is nothing to answer.
    static bool Build(const Header& header, std::vector<Match> matches, MemStream& message);
};
