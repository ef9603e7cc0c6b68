#pragma once

#include <QTreeWidgetItem>

class ColumnSortingModel;

// A tree row that sorts by its tree's ColumnSortingModel: numeric columns
// compare the numbers made of their digits, reversed columns compare the
// other way round. Without a model every column compares as plain text.
class TreeWidgetItem : public QTreeWidgetItem
{
public:
    explicit TreeWidgetItem(QTreeWidget* parent);
    ~TreeWidgetItem() override;

    // The row does not own the model; the view keeps it for the tree's life.
    void SetSortingModel(ColumnSortingModel* model);

    bool operator<(const QTreeWidgetItem& other) const override;

    // The number a numeric column reads from a cell: every non-digit is
    // dropped ("1,234 KB" is 1234, "-1.5" is 15); no digits or more than a
    // signed 64-bit number holds read as 0.
    static qint64 CellNumber(const QString& text);

private:
    ColumnSortingModel* m_sortingModel = nullptr;
};
