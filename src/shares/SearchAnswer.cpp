#include "SearchAnswer.h"

#include <algorithm>

#include "PeerMessages.h"

bool SearchAnswer::Build(const Header& header, std::vector<Match> matches, MemStream& message)
{
    if (matches.empty())
        return false;
    // By remote path in byte order, the earlier file in the store first;
    // one record per path.
    std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
        const int byPath = a.file.Name().compare(b.file.Name());
        return byPath != 0 ? byPath < 0 : a.order < b.order;
    });
    matches.erase(std::unique(matches.begin(), matches.end(),
                              [](const Match& a, const Match& b) { return a.file.Name() == b.file.Name(); }),
                  matches.end());

    PeerMessages::SearchReplyBody reply;
    reply.user = PeerMessages::Utf8(header.user);
    reply.token = header.token;
    reply.files.reserve(matches.size());
    for (Match& match : matches)
        reply.files.push_back(std::move(match.file));
    reply.freeSlot = header.freeSlot != 0;
    reply.speed = header.uploadSpeed;
    reply.queued = header.queued;
    message = PeerMessages::WriteSearchReply(reply);
    return true;
}
