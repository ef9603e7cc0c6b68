// Progress reports of running transfers as bars, times and speeds: the file
// row shows its own transfer, the folder and user rows the sums below them.
#include "TransfersForm.h"

#include <QTreeWidget>

#include "Data.h"

void TransfersForm::OnDownloadProgress(ItemPtr ip_download)
{
    Progressed(m_downloads, ip_download);
}

void TransfersForm::OnUploadProgress(ItemPtr ip_upload)
{
    Progressed(m_uploads, ip_upload);
}

void TransfersForm::Progressed(TransferTree& tree, ItemPtr entry)
{
    // Reports are queued from the transfer threads: the entry may have
    // lost its row, or its counters, since.
    QTreeWidgetItem* fileRow = tree.FileRow(entry);
    if (!fileRow || entry.IsRemoved())
        return;
    QTreeWidgetItem* folderRow = fileRow->parent();
    QTreeWidgetItem* userRow = folderRow->parent();
    // The rows above keep sums of their entries: the reporting one's new
    // position goes into them, the others' stand as last reported.
    tree.Recount(fileRow, entry);
    const qint64 position = tree.Position(entry);
    const qint64 size = tree.Size(entry);
    const qint64 speed = tree.Speed(entry);

    tree.ShowProgress(fileRow, position, TransferFigures::Percent(position, size),
                      TransferFigures::SecondsLeft(size - position, speed));

    // The speed goes to the deepest row the user can see.
    QTreeWidgetItem* speedRow = !userRow->isExpanded() ? userRow : !folderRow->isExpanded() ? folderRow : fileRow;
    speedRow->setText(TransferTree::SpeedColumn, TransferFigures::SpeedText(speed));

    // An open user row with one folder would repeat the folder's figures.
    if (!userRow->isExpanded() || userRow->childCount() > 1) {
        const TransferFigures::Sums sums = tree.Sums(userRow);
        if (sums.total == 0)
            return;
        tree.ShowProgress(userRow, sums.done, TransferFigures::Percent(sums.done, sums.total),
                          TransferFigures::SecondsLeft(sums.remaining, speed));
    }
    const TransferFigures::Sums sums = tree.Sums(folderRow);
    if (sums.total == 0)
        return;
    tree.ShowProgress(folderRow, sums.done, TransferFigures::Percent(sums.done, sums.total),
                      TransferFigures::SecondsLeft(sums.remaining, speed));
}

namespace {

void Hand(const TransferFigures::Sums& sums, qint64& done, qint64& remaining, qint64& total)
{
    done = sums.done;
    remaining = sums.remaining;
    total = sums.total;
}

} // namespace

void TransfersForm::GetDownloadsProgressStats(ItemSet& i_entries, qint64& o_done, qint64& o_remaining, qint64& o_total)
{
    Hand(m_downloads.Sums(i_entries), o_done, o_remaining, o_total);
}

void TransfersForm::GetUploadsProgressStats(ItemSet& i_entries, qint64& o_done, qint64& o_remaining, qint64& o_total)
{
    Hand(m_uploads.Sums(i_entries), o_done, o_remaining, o_total);
}
