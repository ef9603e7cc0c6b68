#pragma once

#include <QTimer>

// The program's periodic ticks. The object itself is the 30-second timer, so
// its timeout() is the half-minute tick; the five-minute and hourly timers
// are reached through the accessors. All three run from construction on.
class TimerManager : public QTimer
{
    Q_OBJECT

public:
    static constexpr int HalfMinuteInterval = 30000;
    static constexpr int FiveMinuteInterval = 300000;
    static constexpr int HourInterval = 3600000;

    explicit TimerManager(QObject* parent = nullptr);
    ~TimerManager() override;

    QTimer* HalfMinuteTimer() { return this; }
    QTimer* FiveMinuteTimer() const { return m_fiveMinuteTimer; }
    QTimer* HourTimer() const { return m_hourTimer; }

private:
    QTimer* m_fiveMinuteTimer;
    QTimer* m_hourTimer;
};

extern TimerManager* timerManager;
