#pragma once

#include <QDateTime>
#include <atomic>
#include <limits>

// A date and time that one thread may set while another reads it, kept as
// milliseconds since the epoch in one atomic word. It is the heap object
// behind the transient "last_receipt_time" and
// "last_speed_measurement_time" items, whose values are its address.
class AtomicDateTime
{
public:
    AtomicDateTime();
    explicit AtomicDateTime(const QDateTime& time);

    // An invalid time reads back as a null QDateTime.
    void Set(const QDateTime& time);
    void SetCurrent();
    QDateTime Get() const;
    bool IsValid() const;

private:
    static constexpr qint64 Invalid = std::numeric_limits<qint64>::min();
    std::atomic<qint64> m_msecs;
};
