#include "RoomTabWidget.h"

RoomTabWidget::RoomTabWidget(QWidget* parent) : TabWidget(parent) {}
