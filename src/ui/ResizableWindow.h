#pragma once

#include <QObject>

// What the size memory needs of a top-level window: its geometry, a way to
// restore it, and news of every move and resize. The window chooses whether
// it reports frame or client geometry, as long as it accepts the same values
// back.
class ResizableWindow : public QObject
{
    Q_OBJECT

public:
    explicit ResizableWindow(QObject* parent = nullptr) : QObject(parent) {}

public slots:
    virtual int GetX() = 0;
    virtual int GetY() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual void SetPosition(int x, int y) = 0;
    virtual void SetSize(int width, int height) = 0;

signals:
    void WindowMoved(int i_x, int i_y);
    void WindowResized(int i_width, int i_height);
};
