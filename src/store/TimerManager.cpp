#include "TimerManager.h"

TimerManager* timerManager = nullptr;

TimerManager::TimerManager(QObject* parent)
    : QTimer(parent), m_fiveMinuteTimer(new QTimer(this)), m_hourTimer(new QTimer(this))
{
    start(HalfMinuteInterval);
    m_fiveMinuteTimer->start(FiveMinuteInterval);
    m_hourTimer->start(HourInterval);
    timerManager = this;
}

TimerManager::~TimerManager()
{
    if (timerManager == this)
        timerManager = nullptr;
}
