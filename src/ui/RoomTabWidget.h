#pragma once

#include "TabWidget.h"

// The tab widget of the private-chats page; it behaves as a TabWidget.
class RoomTabWidget : public TabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* parent = nullptr);
};
