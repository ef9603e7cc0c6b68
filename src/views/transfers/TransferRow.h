#pragma once

#include <QBrush>
#include <QString>
#include <QTreeWidgetItem>

class QColor;

// A row of the transfers page's trees, a plain tree row to the view. A
// folder download brings hundreds of thousands of them: a plain row keeps
// each cell's text in a heap block of its own and a colour per cell, where
// these keep their texts in place and one colour for the whole row.
class TransferRow : public QTreeWidgetItem
{
public:
    // The columns of both trees.
    static constexpr int Columns = 9;

    TransferRow() { SpanColumns(); }
    explicit TransferRow(QTreeWidget* tree) : QTreeWidgetItem(tree) { SpanColumns(); }
    explicit TransferRow(QTreeWidgetItem* parent) : QTreeWidgetItem(parent) { SpanColumns(); }

    QVariant data(int column, int role) const override;
    // A foreground set on any column colours the whole row.
    void setData(int column, int role, const QVariant& value) override;

    // The status colour, set as one repaint of the row: parent rows change
    // colour with every file of a folder download. False when the row shows
    // this brush already.
    bool SetForeground(const QBrush& brush);

    // One brush for every row of a colour.
    static QBrush BrushOf(const QColor& color);

private:
    // The view hears of a change to a row across the row's own columns:
    // all of them, though the texts are kept here.
    void SpanColumns();

    QString m_texts[Columns];
    QBrush m_foreground;
};
