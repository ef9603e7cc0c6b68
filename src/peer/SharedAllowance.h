#pragma once

#include <QtGlobal>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>

// Bytes that all peer connections together may hold for one purpose, on top
// of what each may hold by itself: bounds that hold per connection still
// multiply by the number of connections a crowd of peers can open.
//
// Each holder has a Share. What a share holds is given back when it is set
// lower and whole when the share goes, so nothing a connection held can
// outlive it. A share may also wait, in turn, for bytes that do not fit yet.
class SharedAllowance
{
public:
    class Share
    {
    public:
        // Holds nothing and counts against nothing: every claim is granted.
        Share() = default;
        explicit Share(std::shared_ptr<SharedAllowance> allowance);
        Share(Share&& other) noexcept;
        Share& operator=(Share&& other) noexcept;
        Share(const Share&) = delete;
        Share& operator=(const Share&) = delete;
        ~Share();

        qint64 Held() const;
        // Holds size more bytes, fitting or not: the caller has decided.
        void Add(qint64 size);
        // Gives size of the bytes it holds back.
        void Remove(qint64 size);
        // Holds exactly size bytes: true when that is so now. Otherwise it
        // holds nothing and waits behind those that waited first; granted()
        // is called once it holds size. Claiming again while waiting keeps
        // its place.
        bool Claim(qint64 size, std::function<void()> granted);
        // Holds nothing and waits no more.
        void Release();

    private:
        std::shared_ptr<SharedAllowance> m_allowance;
        quint64 m_id = 0;
    };

    explicit SharedAllowance(qint64 total) : m_total(total) {}

    qint64 Total() const { return m_total; }
    qint64 Used() const { return m_used; }
    int Waiting() const { return int(m_waiting.size()); }
    // Whether size more bytes fit now, nobody waiting before them.
    bool Fits(qint64 size) const { return m_waiting.empty() && m_used + size <= m_total; }

private:
    struct Waiter
    {
        quint64 id;
        qint64 size;
        std::function<void()> granted;
    };

    qint64 Held(quint64 id) const;
    void Change(quint64 id, qint64 delta);
    void StopWaiting(quint64 id);
    // Grants what now fits to those waiting, first come first served.
    void Serve();

    qint64 m_total;
    qint64 m_used = 0;
    quint64 m_lastId = 0;
    std::unordered_map<quint64, qint64> m_held;
    std::deque<Waiter> m_waiting;
};
