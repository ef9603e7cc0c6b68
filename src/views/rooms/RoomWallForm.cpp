#include "RoomWallForm.h"

#include <QHeaderView>
#include <QToolTip>
#include <algorithm>
#include <vector>

#include "ChatForm.h"
#include "Data.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "common/PeerText.h"
#include "common/PeerTextDelegate.h"
#include "ui_RoomWallForm.h"

namespace {

// Where a row sits: by the ticker's position, highest first; of equal
// positions the later ticker first.
const int kOrderRole = Qt::UserRole;
const int kSequenceRole = Qt::UserRole + 1;

bool Before(qint64 order, quint64 sequence, const QTreeWidgetItem* row)
{
    const qint64 rowOrder = row->data(0, kOrderRole).toLongLong();
    if (order != rowOrder)
        return order > rowOrder;
    return sequence > row->data(0, kSequenceRole).toULongLong();
}

} // namespace

RoomWallForm::RoomWallForm(QString room, QWidget* parent) : QWidget(parent), m_room(room), ui(new Ui_RoomWallForm)
{
    ui->setupUi(this);
    QTreeWidget* list = ui->wallList;
    // Odd rows white, even rows grey, as the wall has always looked.
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, QColor(0xff, 0xff, 0xff));
    palette.setColor(QPalette::AlternateBase, QColor(0xd3, 0xd3, 0xd3));
    palette.setColor(QPalette::Text, Qt::black);
    list->setPalette(palette);
    list->header()->setStretchLastSection(true);
    list->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    list->setColumnWidth(0, 360);
    list->setItemDelegate(new PeerTextDelegate(list));

    const ItemPtr roomItem = d.GetType(ServerNames::Room)->GetItem(m_room);
    std::vector<QTreeWidgetItem*> rows;
    for (const ItemPtr& ticker : roomItem.GetItems(ServerNames::RoomTicker))
        rows.push_back(MakeRow(ticker));
    std::stable_sort(rows.begin(), rows.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        return Before(a->data(0, kOrderRole).toLongLong(), a->data(0, kSequenceRole).toULongLong(), b);
    });
    QList<QTreeWidgetItem*> ordered;
    ordered.reserve(int(rows.size()));
    for (QTreeWidgetItem* row : rows) {
        m_rows.insert(row->data(0, kSequenceRole).toULongLong(), row);
        ordered << row;
    }
    list->addTopLevelItems(ordered);

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

QTreeWidgetItem* RoomWallForm::MakeRow(ItemPtr ticker) const
{
    auto* row = new QTreeWidgetItem;
    // Plain texts, never markup; the list's delegate shows them on one line
    // with their controls visible. A row lays out all it holds, so it holds
    // no more than a chat line shows.
    row->setText(0, PeerText::Bounded(ticker[ServerNames::RoomTickerText].AsString(), PeerText::LineCap));
    row->setText(1, QLatin1Char('-') + PeerText::Bounded(ticker[ServerNames::User].AsString(), PeerText::NameCap));
    QFont text = row->font(0);
    text.setBold(true);
    // As HTML's <big>.
    if (text.pointSizeF() > 0)
        text.setPointSizeF(text.pointSizeF() * 1.2);
    row->setFont(0, text);
    row->setForeground(1, QColor(GetSetting("color_chat_username")));
    row->setData(0, kOrderRole, ticker[ServerNames::RoomTickerOrder].AsInt64());
    row->setData(0, kSequenceRole, ticker.Sequence());
    return row;
}

QStringList RoomWallForm::Shown() const
{
    QStringList shown;
    for (int i = 0; i < ui->wallList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = ui->wallList->topLevelItem(i);
        shown << row->text(0) + QLatin1Char(' ') + row->text(1);
    }
    return shown;
}

void RoomWallForm::OnNewTicker(ItemPtr ticker)
{
    if (m_rows.contains(ticker.Sequence()))
        return;
    QTreeWidgetItem* row = MakeRow(ticker);
    const qint64 order = row->data(0, kOrderRole).toLongLong();
    const quint64 sequence = ticker.Sequence();
    // The rows are in order: the new one's place is found by halves.
    QTreeWidget* list = ui->wallList;
    int low = 0;
    int high = list->topLevelItemCount();
    while (low < high) {
        const int middle = (low + high) / 2;
        if (Before(order, sequence, list->topLevelItem(middle)))
            high = middle;
        else
            low = middle + 1;
    }
    list->insertTopLevelItem(low, row);
    m_rows.insert(sequence, row);
}

void RoomWallForm::OnTickerGone(ItemPtr ticker)
{
    delete m_rows.take(ticker.Sequence());
}

void RoomWallForm::OnEnterPressed()
{
    const QString text = ui->lineEdit->text().trimmed();
    if (text.isEmpty())
        return;
    if (!gp_server || gp_server->GetState() != Server::StateLoggedIn) {
        // Kept in the line, as a room's or a private chat's, to be sent once back.
        QToolTip::showText(ui->lineEdit->mapToGlobal(QPoint(0, ui->lineEdit->height())), tr(ChatForm::NotSentNotice),
                           ui->lineEdit);
        return;
    }
    gp_server->SetRoomTicker(m_room, text);
    ui->lineEdit->clear();
}
