#include "QRoomUserListItemWidget.h"

#include <QHash>
#include <QIcon>

#include "GeneralFunctions.h"
#include "ItemPtr.h"
#include "ServerNames.h"

namespace {

using Row = QRoomUserListItemWidget;

const int kKeyRole = Qt::UserRole;

// One icon per country for all the rows of every room.
QIcon Flag(const QString& code)
{
    static QHash<QString, QIcon> flags;
    const QString key = code.toLower();
    auto it = flags.find(key);
    if (it == flags.end()) {
        // The code comes from the server: it only ever names a picture
        // among the program's own resources.
        it = flags.insert(key, QIcon(key.isEmpty() ? QString(":/icons/cat_icon")
                                                   : QLatin1String(":/resources/flags/") + key + ".png"));
    }
    return *it;
}

QIcon NoteIcon()
{
    static const QIcon note(":/icons/note_icon");
    return note;
}

qint64 Key(const QTreeWidgetItem& row, int column)
{
    return row.data(column, kKeyRole).toLongLong();
}

} // namespace

QRoomUserListItemWidget::QRoomUserListItemWidget(QTreeWidget* list) : QTreeWidgetItem(list, 0) {}

void QRoomUserListItemWidget::Show(ItemPtr user)
{
    setText(NameColumn, user.AsString());
    const QString country = user[ServerNames::CountryCode].AsString();
    setIcon(FlagColumn, Flag(country));
    setData(FlagColumn, kKeyRole, country);
    // None shown for 0; the speed in KiB/s with one decimal.
    const qint64 files = user[ServerNames::SharedFileCount].AsInt64();
    setText(FilesColumn, files > 0 ? CommafyNumber(files) : QString());
    setData(FilesColumn, kKeyRole, files);
    const qint64 speed = user[ServerNames::AverageDownloadSpeed].AsInt64();
    const double kib = double(speed) / 1024.0;
    setText(SpeedColumn, kib != 0 ? QString("%1").arg(kib, 0, 'f', 1) : QString());
    setData(SpeedColumn, kKeyRole, speed);
    SetNote(user.IsConnected("user_note"));
}

void QRoomUserListItemWidget::SetNote(bool hasNote)
{
    setIcon(NoteColumn, hasNote ? NoteIcon() : QIcon());
    setData(NoteColumn, kKeyRole, hasNote ? 1 : 0);
}

bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    switch (list ? list->sortColumn() : NameColumn) {
    case FlagColumn:
        return data(FlagColumn, kKeyRole)
                   .toString()
                   .compare(other.data(FlagColumn, kKeyRole).toString(), Qt::CaseInsensitive) < 0;
    case NoteColumn:
        return Key(*this, NoteColumn) > Key(other, NoteColumn);
    case FilesColumn:
        return Key(*this, FilesColumn) > Key(other, FilesColumn);
    case SpeedColumn:
        return Key(*this, SpeedColumn) > Key(other, SpeedColumn);
    default:
        return text(NameColumn).compare(other.text(NameColumn), Qt::CaseInsensitive) < 0;
    }
}
