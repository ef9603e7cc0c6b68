#include "TriggerFile.h"

#include <QThread>
#include <utility>

TriggerFile::TriggerFile(const QString& name, qint64 mark, std::function<void()> action)
    : QFile(name), m_mark(mark), m_action(std::move(action))
{
}

std::function<void()> TriggerFile::Stall(qint64 ms)
{
    return [ms] { QThread::msleep(static_cast<unsigned long>(ms)); };
}

qint64 TriggerFile::readData(char* data, qint64 maxSize)
{
    const qint64 read = QFile::readData(data, maxSize);
    Passed(read);
    return read;
}

qint64 TriggerFile::writeData(const char* data, qint64 size)
{
    const qint64 written = QFile::writeData(data, size);
    Passed(written);
    return written;
}

void TriggerFile::Passed(qint64 bytes)
{
    if (bytes <= 0 || m_triggered)
        return;
    m_passed += bytes;
    if (m_passed < m_mark)
        return;
    m_triggered = true;
    m_action();
}
