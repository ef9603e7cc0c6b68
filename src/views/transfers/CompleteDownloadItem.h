#pragma once

#include <QTreeWidgetItem>
#include <limits>

// A row of the completed-downloads list. It keeps the time of completion
// it was made with, so ordering rows reads no text and no store item.
class CompleteDownloadItem : public QTreeWidgetItem
{
public:
    // A time that could not be read counts as earlier than every other.
    static constexpr qint64 NoTime = std::numeric_limits<qint64>::min();

    explicit CompleteDownloadItem(qint64 i_completedMs) : m_completedMs(i_completedMs) {}

    qint64 CompletedMs() const { return m_completedMs; }

    // Earlier completion first, whatever the column.
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    qint64 m_completedMs;
};
