#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

// Bytes that all peer connections together may hold for one purpose, on top
// of what each may hold by itself: bounds that hold per connection still
// multiply by the number of connections a crowd of peers can open.
//
// Each holder has a Share. What a share holds is given back when it is set
// lower and whole when the share goes, so nothing a connection held can
// outlive it. A share may also wait for bytes that do not fit yet.
//
// The room is shared by name and by address, not first come, first served:
// those waiting are served in the order of what their name and their
// address already hold, least first, then in the order they came; and room
// may be taken back from a holder so that the first in turn is served (see
// HolderToTakeBackFrom). A small claim that fits, of a holder that room can
// be taken back from, is granted whoever waits: should it stay, it is taken
// back as any other, so those waiting for more than is free lose nothing
// by it for long. A claim of a holder that cannot give back waits its turn.
class SharedAllowance
{
public:
    // Who holds a share: the peer's name and address (empty: none known),
    // and the holder whose shares go together (0: one that room is never
    // taken back from).
    struct Owner
    {
        QString name;
        QString address;
        quint64 holder = 0;
    };

    class Share
    {
    public:
        // Holds nothing and counts against nothing: every claim is granted.
        Share() = default;
        explicit Share(std::shared_ptr<SharedAllowance> allowance);
        Share(std::shared_ptr<SharedAllowance> allowance, const Owner& owner);
        Share(Share&& other) noexcept;
        Share& operator=(Share&& other) noexcept;
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;
        ~Share();

        qint64 Held() const;
        // Counts from now on for that owner; what it holds moves along.
        void SetOwner(const Owner& owner);
        // Holds size more bytes, fitting or not: the caller has decided.
        void Add(qint64 size);
        // Gives size of the bytes it holds back.
        void Remove(qint64 size);
        // Holds exactly size bytes: true when that is so now. Otherwise it
        // holds nothing and waits for its turn; granted() is called once it
        // holds size. Claiming again while waiting keeps its place. A claim
        // that yields keeps its turn, and room is taken back for it as for
        // any, but while it does not fit any claim that fits goes first.
        bool Claim(qint64 size, std::function<void()> granted, bool yields = false);
        // Holds nothing and waits no more.
        void Release();

    private:
        std::shared_ptr<SharedAllowance> m_allowance;
        quint64 m_id = 0;
    };

    // Claims of at most small bytes go ahead (none when 0).
    explicit SharedAllowance(qint64 total, qint64 small = 0) : m_total(total), m_small(small) {}

    qint64 Total() const { return m_total; }
    qint64 Used() const { return m_used; }
    int Waiting() const { return int(m_waiting.size()); }
    // Told each time a claim begins to wait.
    void OnWaiting(std::function<void()> told) { m_onWaiting = std::move(told); }
    // Whether a claim of size bytes by that owner would be granted now.
    bool Admits(const Owner& owner, qint64 size) const;
    // What the owner's name or address holds, whichever is more: the
    // earlier in turn, the less.
    qint64 Standing(const Owner& owner) const;
    // What the first in turn lacks; 0 when none waits.
    qint64 Shortfall() const;
    // The room divided among the names holding or waiting for it.
    qint64 FairPart() const;
    qint64 HeldByName(const QString& name) const { return m_byName.value(name); }
    // When the first in turn does not fit: the holder to take room back
    // from. Any holder that stalled(holder) says has moved nothing for a
    // while may be asked; with overPart, so may one whose name or address
    // holds more than its fair part through more than one holder, while the
    // first in turn holds less than that and is of neither. Of those, the
    // one whose name or address holds most, the newest on a tie. 0: none.
    quint64 HolderToTakeBackFrom(const std::function<bool(quint64 holder)>& stalled, bool overPart) const;

private:
    struct Waiter
    {
        quint64 id;
        qint64 size;
        std::function<void()> granted;
        bool yields = false;
    };

    qint64 Held(quint64 id) const;
    // Changes what id holds and serves those waiting when it gave back.
    void Change(quint64 id, qint64 delta);
    // Changes what id, its name and its address hold, serving no one.
    void Book(quint64 id, qint64 delta);
    void SetOwner(quint64 id, const Owner& owner);
    void Forget(quint64 id);
    void StopWaiting(quint64 id);
    // Whether a claim of the owner's goes ahead of those waiting when it fits.
    bool GoesAhead(const Owner& owner, qint64 size) const
    {
        return m_small > 0 && size <= m_small && owner.holder != 0;
    }
    // The waiter whose turn it is, by standing then arrival; null or -1 if
    // none waits.
    int FirstIndex() const;
    const Waiter* First() const;
    // Whether a claim of that owner made now would go before every waiter.
    bool FirstInTurn(const Owner& owner) const;
    // Whether the first in turn yields and does not fit: then any claim
    // that fits goes first.
    bool FirstYields() const;
    // The waiter to grant now: the first in turn when it fits, else the
    // first in turn of those that fit and go ahead; -1 if none.
    int NextToServe() const;
    // Grants what now fits to those waiting, in turn.
    void Serve();

    qint64 m_total;
    qint64 m_small;
    qint64 m_used = 0;
    quint64 m_lastId = 0;
    std::unordered_map<quint64, qint64> m_held;
    std::unordered_map<quint64, Owner> m_owners;
    QHash<QString, qint64> m_byName;
    QHash<QString, qint64> m_byAddress;
    // In the order they came.
    std::vector<Waiter> m_waiting;
    std::function<void()> m_onWaiting;
};
