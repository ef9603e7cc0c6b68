#include "AdminMessageDialog.h"

#include <QDateTime>
#include <QStyle>

#include "common/InertTextDocument.h"
#include "common/WindowTitleRoom.h"

namespace {

// What a line edit keeps free beside its text: the toolkit's two pixels on
// each side and the cursor's width, with a pixel to spare.
const int kLineEditTextPadding = 2 * 2 + 2;

} // namespace

AdminMessageDialog::AdminMessageDialog(QString text, QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui.textEdit->setDocument(new InertTextDocument(ui.textEdit));
    ui.textEdit->setText(text);
    ui.timeEdit->setText(QDateTime::currentDateTime().toString("MMM d h:mm:ss ap"));
    // The time is as wide as the month and the font make it, never cut.
    const int frame = ui.timeEdit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, ui.timeEdit);
    const QMargins margins = ui.timeEdit->textMargins();
    ui.timeEdit->setFixedWidth(ui.timeEdit->fontMetrics().horizontalAdvance(ui.timeEdit->text()) + 2 * frame +
                               kLineEditTextPadding + margins.left() + margins.right());
    WindowTitleRoom::Keep(this);
}
