#include "PeerTextDelegate.h"

#include "PeerText.h"

PeerTextDelegate::PeerTextDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QString PeerTextDelegate::displayText(const QVariant& value, const QLocale& locale) const
{
    if (value.userType() != QMetaType::QString)
        return QStyledItemDelegate::displayText(value, locale);
    return PeerText::Line(value.toString());
}
