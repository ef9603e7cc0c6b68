#include "SharedFilesRescannedDialog.h"

#include <QTextBlock>
#include <cmath>

namespace {

// Beside and below the last glyph the cursor and rounding take a few pixels.
const int kCursorRoom = 4;

} // namespace

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui.plainTextEdit->document()->setDocumentMargin(1);
    ui.plainTextEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
}

void SharedFilesRescannedDialog::Append(QString line)
{
    ui.plainTextEdit->appendPlainText(line);
    ui.plainTextEdit->moveCursor(QTextCursor::Start);
    // The report is a few short lines: the box grows to show them all at
    // any font rather than hide the second behind a scroll bar.
    QPlainTextEdit* box = ui.plainTextEdit;
    const QFontMetrics metrics = box->fontMetrics();
    int widest = 0;
    for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next())
        widest = qMax(widest, metrics.horizontalAdvance(block.text()));
    const int margin = 2 * int(std::ceil(box->document()->documentMargin()));
    const int frame = 2 * box->frameWidth();
    box->setMinimumSize(widest + margin + frame + kCursorRoom,
                        box->blockCount() * metrics.lineSpacing() + margin + frame + kCursorRoom);
}
