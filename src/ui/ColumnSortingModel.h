#pragma once

#include <map>

// Per-column sorting rules of one tree: whether a column sorts as text or as
// numbers, and whether it sorts the other way round. Unmarked columns sort
// as text, not reversed. Marks are never taken back.
class ColumnSortingModel
{
public:
    struct ColumnSortingInfo
    {
        int sortKind = 0; // 0 text, 1 numeric
        bool reversed = false;
    };

    void SetColumnSortingNumeric(int column);
    void SetColumnSortingReversed(int column);
    bool IsSortingNumeric(int column) const;
    bool IsSortingReversed(int column) const;

private:
    ColumnSortingInfo GetColumnInfo(int column) const;
    ColumnSortingInfo& GetColumnInfoReference(int column);

    std::map<int, ColumnSortingInfo> m_columns;
};
