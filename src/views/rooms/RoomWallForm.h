#pragma once

#include <QString>
#include <QWidget>

#include "DataHandler.h"
#include "ItemPtr.h"

class Ui_RoomWallForm;

// A room's wall: the messages its users posted to the room's ticker,
// highest position first, with a line to post one's own. It follows the
// room's ticker items, so a message shows once the server confirms it.
class RoomWallForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    RoomWallForm(QString room, QWidget* parent = nullptr);
    // Removes the room's "room_wall_form" item, so the next wall action
    // opens a new wall.
    ~RoomWallForm() override;

    // The wall as HTML: a table of the room's messages in rows of
    // alternating colour, each with its writer. Writers' names and texts
    // are plain text, escaped.
    static QString WallHtml(const QString& room);

    void UpdateText();
    void OnNewTicker(ItemPtr ticker);
    void OnTickerGone(ItemPtr ticker);

public slots:
    void OnEnterPressed();

private:
    QString m_room;
    Ui_RoomWallForm* ui;
};
