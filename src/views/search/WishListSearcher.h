#pragma once

#include <QObject>
#include <QTimer>

// Repeats the enabled wish-list searches through the server, one per period
// in alphabetical turn; the server says how long a period is. Idle until
// the server's first word on it, then searching for the rest of the run,
// connected or not. The turn and the period are kept in the run-time
// settings "wish_list_search_index" and "wish_list_wait".
class WishListSearcher : public QObject
{
    Q_OBJECT

public:
    // The longest period a timer holds: its milliseconds are a signed
    // 32-bit number.
    static constexpr uint MaxPeriodSeconds = 2147483;

    explicit WishListSearcher(QObject* parent = nullptr);
    ~WishListSearcher() override;

    // The period in milliseconds, and whether it runs.
    int Period() const { return m_timer.interval(); }
    bool IsRunning() const { return m_timer.isActive(); }

public slots:
    void OnWishListWait(uint seconds);
    void OnSearchTimerTimeout();

private:
    QTimer m_timer;
};

extern WishListSearcher* wishListSearcher;
