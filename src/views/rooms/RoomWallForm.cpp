#include "RoomWallForm.h"

#include <QTextCursor>
#include <algorithm>
#include <utility>
#include <vector>

#include "Data.h"
#include "GeneralFunctions.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "ui_RoomWallForm.h"

RoomWallForm::RoomWallForm(QString room, QWidget* parent) : QWidget(parent), m_room(room), ui(new Ui_RoomWallForm)
{
    ui->setupUi(this);
    UpdateText();

    const ItemPtr roomItem = d.GetType(ServerNames::Room)->GetItem(m_room);
    PathNode* added = new PathNode(&d, ServerNames::RoomTicker);
    new PathNode(added, roomItem, 0);
    new PathNode(added, ServerNames::User, 0);
    new PathNode(added, ServerNames::RoomTickerText, 0);
    new PathNode(added, ServerNames::RoomTickerOrder, 0);
    d.AddPathEventHandler(added, new EventHandler<RoomWallForm, ItemPtr>(this, &RoomWallForm::OnNewTicker));
    // A message withdrawn, or a whole wall replaced by an empty one, must
    // not stay on show.
    PathNode* gone = new PathNode(&d, ServerNames::RoomTicker);
    new PathNode(gone, roomItem, 5);
    d.AddPathEventHandler(gone, new EventHandler<RoomWallForm, ItemPtr>(this, &RoomWallForm::OnTickerGone));

    connect(ui->lineEdit, &QLineEdit::returnPressed, this, &RoomWallForm::OnEnterPressed);
}

RoomWallForm::~RoomWallForm()
{
    if (Type* forms = d.HasType("room_wall_form")) {
        if (ItemPtr form = forms->HasItem(Value(this)))
            form.Remove();
    }
    delete ui;
}

QString RoomWallForm::WallHtml(const QString& room)
{
    std::vector<std::pair<qint64, ItemPtr>> tickers;
    for (const ItemPtr& ticker : d.GetType(ServerNames::Room)->GetItem(room).GetItems(ServerNames::RoomTicker))
        tickers.emplace_back(ticker[ServerNames::RoomTickerOrder].AsInt64(), ticker);
    std::stable_sort(tickers.begin(), tickers.end(), [](const auto& a, const auto& b) { return a.first > b.first; });

    const QString colour = GetSetting("color_chat_username");
    QString html = QLatin1String("<table>");
    bool white = true;
    for (const auto& entry : tickers) {
        const ItemPtr ticker = entry.second;
        html += white ? QLatin1String("<tr width=\"%100\"><td bgcolor=#ffffff>")
                      : QLatin1String("<tr width=\"%100\"><td bgcolor=#d3d3d3>");
        html += QLatin1String("<b><big>") + EscapeHTML(ticker[ServerNames::RoomTickerText].AsString()) +
                QLatin1String("</big></b><font color=\"") + colour + QLatin1String("\"> -") +
                EscapeHTML(ticker[ServerNames::User].AsString()) + QLatin1String("</font></td></tr>");
        white = !white;
    }
    return html + QLatin1String("</table>");
}

void RoomWallForm::UpdateText()
{
    ui->textBrowser->setUpdatesEnabled(false);
    ui->textBrowser->clear();
    ui->textBrowser->append(WallHtml(m_room));
    QTextCursor cursor = ui->textBrowser->textCursor();
    cursor.setPosition(0);
    ui->textBrowser->setTextCursor(cursor);
    ui->textBrowser->setUpdatesEnabled(true);
}

void RoomWallForm::OnNewTicker(ItemPtr)
{
    UpdateText();
}

void RoomWallForm::OnTickerGone(ItemPtr)
{
    UpdateText();
}

void RoomWallForm::OnEnterPressed()
{
    const QString text = ui->lineEdit->text().trimmed();
    if (text.isEmpty())
        return;
    if (gp_server)
        gp_server->SetRoomTicker(m_room, text);
    ui->lineEdit->clear();
}
