#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <deque>
#include <vector>

#include "DataHandler.h"
#include "FileInfo.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "PeerMessages.h"

class Item;

// Search replies made into items under their search's request, within
// three bounds: one search keeps at most Limit() results, and once others
// need the places one user keeps UserLimit() and one address
// AddressLimit() of them. A reply fills free places whoever sent it, so a
// big sharer alone in a search is shown whole; when the search is full, a
// later answerer still under its shares takes places back from those over
// theirs, most over first, their newest results first (those still waiting
// to be stored before any shown). So a big sharer answering first, or one
// host answering under many names, leaves room for everyone after. What no
// place is found for, and what is given back, is counted as left out. A
// wish-list search's tickets count as one search, as its results page
// gathers them all. A reply of more than PartSize results is stored a part
// a turn, so neither the store nor a page takes a large reply in one go.
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
    // A fair part of that: in a full search, twenty-five users each keep
    // this much, and a big share keeps its first folders.
    static constexpr int DefaultUserLimit = 2000;
    // A fifth: five users behind one NAT keep their whole shares, and a host
    // answering under made-up names keeps a fifth of a full search.
    static constexpr int DefaultAddressLimit = 10000;
    static constexpr int PartSize = 1000;
    // The fewest places a sender over its shares gives up before another as
    // far over gives any.
    static constexpr int GiveUpStep = 100;

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
    // kept: the free places, or, up to the sender's shares, those it may
    // take back from others.
    quint32 Room(quint32 ticket, const Sender& sender);
    // A reply read with Room as its bound; places it takes back are given
    // up by their holders first.
    void Take(const Sender& sender, PeerMessages::SearchReplyBody& reply);
    // The results of a request left out for the bounds so far, those given
    // up included.
    qint64 LeftOut(ItemPtr request) const;

signals:
    // An accepted reply, its first part stored under the item.
    void Results(ItemPtr searchResults);
    // A later part of the same reply, added under the same item.
    void MoreResults(ItemPtr searchResults, const ItemList& part);
    // Results of the reply given up to a later answerer: still in the store
    // while this is heard, removed right after (with the reply, when none
    // of it is left).
    void GivingUp(ItemPtr searchResults, const ItemList& results);
    // More of the request's results were left out.
    void LeftOutCounted(ItemPtr request);

private:
    // A sender as a key: its user and its address.
    typedef QPair<QString, QString> Key;
    struct Tally
    {
        // The request's replies when stored was counted; another number
        // means views removed some since.
        int replies = 0;
        qint64 stored = 0;
        QHash<QString, qint64> storedByUser;
        QHash<QString, qint64> storedByAddress;
        QHash<Key, qint64> storedBySender;
        qint64 leftOut = 0;

        void Add(const Key& sender, qint64 results);
    };
    // What a search holds, stored and waiting to be stored: in all, of one
    // sender's user and of its address.
    struct Kept
    {
        qint64 all = 0;
        qint64 user = 0;
        qint64 address = 0;
    };
    // The same of each user, each address and each sender, for taking
    // places back.
    struct Held
    {
        qint64 all = 0;
        QHash<QString, qint64> byUser;
        QHash<QString, qint64> byAddress;
        QHash<Key, qint64> bySender;

        void Add(const Key& sender, qint64 results);
    };
    // Places a sender gives up to a claimant.
    struct Claim
    {
        Key sender;
        qint64 places = 0;
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
    static Key KeyOf(const Sender& sender) { return {sender.user, sender.address}; }
    // The request and, for a wish-list search, its other tickets; empty
    // when the ticket is unknown or stopped.
    static ItemSet Search(quint32 ticket);
    // The request's tally, counted again when replies went meanwhile.
    Tally& Counted(ItemPtr request);
    Kept KeptFor(const ItemSet& search, const Sender& sender);
    Held HeldBy(const ItemSet& search);
    // How far the sender's user or address is over its share.
    qint64 Excess(const Held& held, const Key& sender) const;
    // The places for up to wanted of the claimant's records: the free ones,
    // or as many as its shares allow with places taken back, which are
    // added to claims when given.
    qint64 Places(const ItemSet& search, const Sender& claimant, qint64 wanted, std::vector<Claim>* claims);
    // Up to wanted places taken back for the claimant from the senders
    // most over their shares (of its own address alone when ownAddress),
    // never from its own user nor below a share; the places found, given
    // up in held.
    qint64 Reclaim(Held& held, const Sender& claimant, qint64 wanted, bool ownAddress,
                   std::vector<Claim>* claims) const;
    // Gives the claimed places up: the claimed senders' newest results,
    // those waiting first.
    void GiveUp(const ItemSet& search, const std::vector<Claim>& claims, QList<quint32>& touched);
    // Counts results of the request as left out; its ticket is added to
    // touched, whose pages are told once the reply is taken.
    void CountLeftOut(ItemPtr request, qint64 results, QList<quint32>& touched);
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
