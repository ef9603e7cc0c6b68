#pragma once

#include <QTreeWidget>

class QKeyEvent;

// A tree that tells its view about key presses before handling them itself.
class TreeWidget : public QTreeWidget
{
    Q_OBJECT

public:
    explicit TreeWidget(QWidget* parent = nullptr);

signals:
    void KeyPressed(QKeyEvent* ip_event);

protected:
    void keyPressEvent(QKeyEvent* ip_event) override;
};
