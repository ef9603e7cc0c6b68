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

// Search replies made into items under their search's request, within three
// bounds: one search keeps at most Limit() results, of which one user fills
// at most UserLimit() and one address AddressLimit(), so that a big sharer
// answering first, or one host answering under many names, leaves room for
// everyone after; what arrives past any is counted as left out, never
// stored. A wish-list search's tickets count as one search, as its results
// page gathers them all. A reply of more than PartSize results is stored a
// part a turn, so neither the store nor a page takes a large reply in one go.
//
// Used on the event-loop thread only.
class SearchResultIntake : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // A busy search whole (five hundred users with a hundred files each)
    // in some 75 MB; its page, grouped by user or flat, sorts in a few
    // hundredths of a second.
    static constexpr int DefaultLimit = 50000;
    // A fair part of that: twenty-five users fill a search only together,
    // and a big share shows its first folders.
    static constexpr int DefaultUserLimit = 2000;
    // A fifth: five users behind one NAT keep their whole shares, and a host
    // answering under made-up names needs five addresses to fill a search.
    static constexpr int DefaultAddressLimit = 10000;
    static constexpr int PartSize = 1000;

    // Needs the search types declared.
    explicit SearchResultIntake(QObject* parent = nullptr);

    void SetLimit(int results) { m_limit = results; }
    int Limit() const { return m_limit; }
    void SetUserLimit(int results) { m_userLimit = results; }
    int UserLimit() const { return m_userLimit; }
    void SetAddressLimit(int results) { m_addressLimit = results; }
    int AddressLimit() const { return m_addressLimit; }

    // Who sent a reply: the user of the connection it came on, and that
    // connection's address (PeerConnectionPolicy::AddressOf).
    struct Sender
    {
        QString user;
        QString address;
    };
    // How many records of the sender's reply to the ticket may still be
    // kept.
    quint32 Room(quint32 ticket, const Sender& sender);
    // A reply read with Room as its bound.
    void Take(const Sender& sender, PeerMessages::SearchReplyBody& reply);
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
        QHash<QString, qint64> storedByUser;
        QHash<QString, qint64> storedByAddress;
        qint64 leftOut = 0;

        void Add(const Sender& sender, qint64 results);
    };
    // What a search holds, stored and waiting to be stored: in all, of one
    // sender's user and of its address.
    struct Kept
    {
        qint64 all = 0;
        qint64 user = 0;
        qint64 address = 0;
    };
    // A reply whose files are stored a part at a time.
    struct Pending
    {
        ItemPtr request;
        Sender sender;
        // Null once the reply is gone from the store.
        ItemPtr results;
        std::vector<FileInfo> files;
        size_t next = 0;
    };

    // The request's tally, counted again when replies went meanwhile.
    Tally& Counted(ItemPtr request);
    // What the request holds, added to kept.
    void AddKept(ItemPtr request, const Sender& sender, Kept& kept);
    ItemList StorePart(Pending& reply);
    void ContinueLater();
    void Continue();
    void OnRequestRemoved(ItemPtr request);
    void OnResultsRemoved(ItemPtr results);

    int m_limit = DefaultLimit;
    int m_userLimit = DefaultUserLimit;
    int m_addressLimit = DefaultAddressLimit;
    QHash<Item*, Tally> m_tallies;
    // The address each stored reply came from, as the store knows only its
    // user.
    QHash<Item*, QString> m_addresses;
    std::deque<Pending> m_pending;
    bool m_continuationQueued = false;
};
