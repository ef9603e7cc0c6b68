#include "ColumnSortingModel.h"

void ColumnSortingModel::SetColumnSortingNumeric(int column)
{
    GetColumnInfoReference(column).sortKind = 1;
}

void ColumnSortingModel::SetColumnSortingReversed(int column)
{
    GetColumnInfoReference(column).reversed = true;
}

bool ColumnSortingModel::IsSortingNumeric(int column) const
{
    return GetColumnInfo(column).sortKind == 1;
}

bool ColumnSortingModel::IsSortingReversed(int column) const
{
    return GetColumnInfo(column).reversed;
}

ColumnSortingModel::ColumnSortingInfo ColumnSortingModel::GetColumnInfo(int column) const
{
    const auto found = m_columns.find(column);
    return found == m_columns.end() ? ColumnSortingInfo() : found->second;
}

ColumnSortingModel::ColumnSortingInfo& ColumnSortingModel::GetColumnInfoReference(int column)
{
    return m_columns[column];
}
