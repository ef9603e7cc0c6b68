#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <deque>
#include <vector>

#include "DataHandler.h"
#include "FileInfo.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "PeerMessages.h"

class Item;

// Search replies made into items under their search's request, within a
// bound: one search keeps at most Limit() results, and what arrives past it
// is counted as left out, never stored. A wish-list search's tickets count
// as one search, as its results page gathers them all. A reply of more than
// PartSize results is stored a part a turn, so neither the store nor a page
// takes a large reply in one go.
//
// Used on the event-loop thread only.
class SearchResultIntake : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // Several times what an honest search brings (a hundred users, a few
    // thousand files), while a page of this many rows still sorts well
    // within a tenth of a second; half as many again in one folder take as
    // long as that.
    static constexpr int DefaultLimit = 10000;
    static constexpr int PartSize = 1000;

    // Needs the search types declared.
    explicit SearchResultIntake(QObject* parent = nullptr);

    void SetLimit(int results) { m_limit = results; }
    int Limit() const { return m_limit; }

    // How many records of a reply to the ticket may still be kept.
    quint32 Room(quint32 ticket);
    // A reply read with Room as its bound, from the user of the connection
    // it came on.
    void Take(const QString& user, PeerMessages::SearchReplyBody& reply);
    // The results of a request left out for the bound so far.
    qint64 LeftOut(ItemPtr request) const;

signals:
    // An accepted reply, its first part stored under the item.
    void Results(ItemPtr searchResults);
    // A later part of the same reply, added under the same item.
    void MoreResults(ItemPtr searchResults, const ItemList& part);
    // More of the request's results were left out.
    void LeftOutCounted(ItemPtr request);

private:
    struct Tally
    {
        // The request's replies when stored was counted; another number
        // means views removed some since.
        int replies = 0;
        qint64 stored = 0;
        qint64 leftOut = 0;
    };
    // A reply whose files are stored a part at a time.
    struct Pending
    {
        ItemPtr request;
        // Null once the reply is gone from the store.
        ItemPtr results;
        std::vector<FileInfo> files;
        size_t next = 0;
    };

    // The request's tally, counted again when replies went meanwhile.
    Tally& Counted(ItemPtr request);
    // Results stored and waiting to be stored for the request.
    qint64 Kept(ItemPtr request);
    ItemList StorePart(Pending& reply);
    void ContinueLater();
    void Continue();
    void OnRequestRemoved(ItemPtr request);
    void OnResultsRemoved(ItemPtr results);

    int m_limit = DefaultLimit;
    QHash<Item*, Tally> m_tallies;
    std::deque<Pending> m_pending;
    bool m_continuationQueued = false;
};
