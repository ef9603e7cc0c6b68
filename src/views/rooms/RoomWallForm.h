#pragma once

#include <QHash>
#include <QString>
#include <QWidget>

#include "DataHandler.h"
#include "ItemPtr.h"

class QTreeWidgetItem;
class Ui_RoomWallForm;

// A room's wall: the messages its users posted to the room's ticker,
// highest position first, one row each in alternating colours with its
// writer, and a line to post one's own. It follows the room's ticker items,
// so a message shows once the server confirms it. A message that comes or
// goes moves only its own row: a wall of thousands is never built again
// for one message.
class RoomWallForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    RoomWallForm(QString room, QWidget* parent = nullptr);
    // Removes the room's "room_wall_form" item, so the next wall action
    // opens a new wall.
    ~RoomWallForm() override;

    // The rows as shown, top first: "text -writer", each bounded as a chat
    // line is.
    QStringList Shown() const;

    void OnNewTicker(ItemPtr ticker);
    void OnTickerGone(ItemPtr ticker);

public slots:
    void OnEnterPressed();

private:
    QTreeWidgetItem* MakeRow(ItemPtr ticker) const;

    QString m_room;
    Ui_RoomWallForm* ui;
    // Rows by their ticker's sequence, which no other item ever takes.
    QHash<quint64, QTreeWidgetItem*> m_rows;
};
