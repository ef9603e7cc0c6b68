#pragma once

#include <QStyledItemDelegate>

// Draws a column of names or texts from other users as PeerText::Line
// does: controls visible, direction isolated. Only the drawing changes: the
// rows keep the real text, by which they are sorted, found and acted on.
class PeerTextDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit PeerTextDelegate(QObject* parent = nullptr);

    QString displayText(const QVariant& value, const QLocale& locale) const override;
};
