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

SearchTabRelease::SearchTabRelease(QObject* parent) : QObject(parent), m_replies(RemoveReplyStep)
{
    m_slices.setSingleShot(true);
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, [this] { Next(m_sliceSize); });
}

SearchTabRelease::~SearchTabRelease()
{
    Release(INT_MAX, true);
}

void SearchTabRelease::Add(RowMirror::Taken rows, const ItemSet& replies)
{
    m_rows.push_back(std::move(rows));
    m_replies.Add(replies);
    // The turn of the close has taken the rows out of the tree already.
    Next(std::min(m_sliceSize, int(SliceFloor)));
}

void SearchTabRelease::Next(int most)
{
    Release(most, false);
    if (IsRunning())
        m_slices.start();
}

void SearchTabRelease::Release(int most, bool whole)
{
    TurnSlice slice(whole ? INT_MAX : SliceFloor, most);
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
    m_replies.RemoveSome(slice);
}
