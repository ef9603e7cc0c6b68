#pragma once

#include <QFile>
#include <atomic>
#include <functional>

// A file that runs an action once, on the thread that reads or writes it,
// when the bytes that went through it reach a mark: a disk that stalls
// there, or a stop that comes while a transfer runs, timed by the
// transfer's own progress rather than by the test's loop.
class TriggerFile : public QFile
{
public:
    TriggerFile(const QString& name, qint64 mark, std::function<void()> action);

    // An action that stands the thread still for ms, as a stalled disk (or
    // a descheduled thread) does.
    static std::function<void()> Stall(qint64 ms);
    bool Triggered() const { return m_triggered; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void Passed(qint64 bytes);

    const qint64 m_mark;
    const std::function<void()> m_action;
    // Only the thread that reads or writes counts.
    qint64 m_passed = 0;
    std::atomic<bool> m_triggered{false};
};
