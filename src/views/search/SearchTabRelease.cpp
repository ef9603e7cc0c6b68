#include "SearchTabRelease.h"

#include <algorithm>

#include "Data.h"
#include "PeerNames.h"
#include "TurnSlice.h"

namespace {

// A reply's results go one a step, each with the values only it held, then
// the reply with its own.
void RemoveReplyStep(ItemPtr reply)
{
    if (const ItemPtr result = reply[PeerNames::SearchResult])
        result.RemoveWithLoneValues({PeerNames::SearchResultFileName, PeerNames::SearchResultFileFolder,
                                     PeerNames::FileSize, PeerNames::Bitrate, PeerNames::LengthSeconds,
                                     PeerNames::BitrateMode});
    else
        reply.RemoveWithLoneValues({PeerNames::SearchResultsUserAvailable, PeerNames::SearchResultsUserSpeed,
                                    PeerNames::SearchResultsUploadsInQueue});
}

} // namespace

SearchTabRelease::SearchTabRelease(QObject* parent)
    : QObject(parent), m_replies(RemoveReplyStep),
      m_job(SliceFloor, [this](TurnSlice& slice) { return Release(slice); })
{
}

SearchTabRelease::~SearchTabRelease()
{
    m_job.Stop();
    TurnSlice whole = TurnSlice::Whole();
    ReleaseSome(whole);
}

void SearchTabRelease::Add(RowMirror::Taken rows, const ItemSet& replies)
{
    m_rows.push_back(std::move(rows));
    m_replies.Add(replies);
    m_closeTurn = true;
    m_job.Start();
    m_closeTurn = false;
}

bool SearchTabRelease::Release(TurnSlice& slice)
{
    if (!m_closeTurn)
        return ReleaseSome(slice);
    TurnSlice floor(SliceFloor, std::min(m_job.MostSteps(), int(SliceFloor)));
    const bool done = ReleaseSome(floor);
    slice.Step(floor.Steps());
    return done;
}

bool SearchTabRelease::ReleaseSome(TurnSlice& slice)
{
    Data::Batch batch(&d);
    // Rows first: the store's sweep, were it to run meanwhile, may take
    // their nodes, never a row.
    while (!m_rows.empty() && slice.More()) {
        if (m_rows.front().IsEmpty()) {
            m_rows.pop_front();
            continue;
        }
        m_rows.front().DeleteOne();
        slice.Step();
    }
    return m_replies.RemoveSome(slice) && m_rows.empty();
}
