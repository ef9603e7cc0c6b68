#pragma once

#include <QStringList>
#include <QVector>
#include <initializer_list>

class QTreeWidget;

// First widths of a tree's columns. The widths given suit the usual font;
// a larger one (the user may choose the application's font) would cut the
// figures, so a column grows until its sample, a text as wide as the column
// holds, and its title beside the sort mark are read whole. The size memory
// may replace these widths afterwards with the user's own.
class ColumnWidths
{
public:
    // widths[i] for column i; samples[i] may be empty (the width stands).
    static void Set(QTreeWidget* tree, const QVector<int>& widths, const QStringList& samples = QStringList());
    // The least width showing text and title of the column whole.
    static int Needed(const QTreeWidget* tree, int column, const QString& sample);
    // Figures read best with their last digits one above the other: these
    // columns show their texts at the right, unless a cell asks otherwise.
    // Done by the view, so rows carry nothing for it.
    static void AlignRight(QTreeWidget* tree, std::initializer_list<int> columns);
};
