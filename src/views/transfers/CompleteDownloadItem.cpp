#include "CompleteDownloadItem.h"

bool CompleteDownloadItem::operator<(const QTreeWidgetItem& other) const
{
    const auto* row = dynamic_cast<const CompleteDownloadItem*>(&other);
    return row ? m_completedMs < row->m_completedMs : QTreeWidgetItem::operator<(other);
}
