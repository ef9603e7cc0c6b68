#include "AdminMessageDialog.h"

#include <QDateTime>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include "common/InertTextDocument.h"
#include "common/PeerText.h"
#include "common/WindowTitleRoom.h"

namespace {

// What a line edit keeps free beside its text: the toolkit's two pixels on
// each side and the cursor's width, with a pixel to spare.
const int kLineEditTextPadding = 2 * 2 + 2;

// Far longer than any word, far shorter than what makes a line slow to lay
// out.
const int kLongestRun = 200;

QString Now()
{
    return QDateTime::currentDateTime().toString("MMM d h:mm:ss ap");
}

} // namespace

AdminMessageDialog::AdminMessageDialog(QString text, QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* document = new InertTextDocument(ui.textEdit);
    // Messages dropped from the top would otherwise live on in the undo stack.
    document->setUndoRedoEnabled(false);
    ui.textEdit->setDocument(document);
    m_first = Arrived(text);
    Append(m_first, false);
    SetTime(m_first.time);
    WindowTitleRoom::Keep(this);
}

void AdminMessageDialog::AddMessage(const QString& text)
{
    m_pending.push_back(Arrived(text));
    m_pendingCharacters += m_pending.back().text.size();
    while (m_pending.size() > 1 && (int(m_pending.size()) > KeptMessages || m_pendingCharacters > KeptCharacters)) {
        m_pendingCharacters -= m_pending.front().text.size();
        m_pending.pop_front();
        ++m_leftOut;
    }
    if (!m_showPending) {
        m_showPending = true;
        QTimer::singleShot(0, this, &AdminMessageDialog::ShowPending);
    }
}

void AdminMessageDialog::ShowPending()
{
    m_showPending = false;
    if (m_pending.empty())
        return;
    QTextDocument* document = ui.textEdit->document();
    // All of it is laid out once, when the edit ends.
    QTextCursor edit(document);
    edit.beginEditBlock();
    if (!m_first.time.isEmpty()) {
        // Alone, the first needed no stamp beside the window's own; among
        // others it gets one.
        edit.select(QTextCursor::Document);
        edit.removeSelectedText();
        edit.setBlockFormat(QTextBlockFormat());
        edit.setBlockCharFormat(QTextCharFormat());
        m_shown.clear();
        m_shownCharacters = 0;
        Append(m_first, true);
        m_first = Message();
    }
    for (const Message& message : m_pending)
        Append(message, true);
    SetTime(m_pending.back().time);
    m_pending.clear();
    m_pendingCharacters = 0;
    while (m_shown.size() > 1 && (int(m_shown.size()) > KeptMessages || m_shownCharacters > KeptCharacters))
        DropOldest();
    if (m_leftOut > 0)
        SayLeftOut();
    edit.endEditBlock();
    ui.textEdit->moveCursor(QTextCursor::End);
}

void AdminMessageDialog::Append(const Message& message, bool stamped)
{
    QTextDocument* document = ui.textEdit->document();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    if (!document->isEmpty()) {
        // A little room between one message and the next.
        QTextBlockFormat spaced;
        spaced.setTopMargin(ui.textEdit->fontMetrics().height() / 3);
        cursor.insertBlock(spaced, QTextCharFormat());
    }
    const int start = cursor.position();
    if (stamped) {
        QTextCharFormat stamp;
        stamp.setFontWeight(QFont::Bold);
        cursor.insertText(tr("Sent %1").arg(message.time), stamp);
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    }
    // Rich text is shown as formatting, anything else as the plain text it
    // is, as a text edit takes either.
    if (Qt::mightBeRichText(message.text))
        cursor.insertHtml(PeerText::Breakable(message.text, kLongestRun, true));
    else
        cursor.insertText(PeerText::Breakable(message.text, kLongestRun, false), QTextCharFormat());
    if (message.leftOut > 0)
        cursor.insertText(PeerText::LeftOutNotice(message.leftOut), QTextCharFormat());
    m_shown.push_back({cursor.position() - start, int(message.text.size())});
    m_shownCharacters += m_shown.back().size;
}

AdminMessageDialog::Message AdminMessageDialog::Arrived(const QString& text)
{
    // Of one past the bound only the start, markup or not.
    const int kept = PeerText::ShownLength(text, MessageCap);
    return {Now(), text.left(kept), int(text.size() - kept)};
}

void AdminMessageDialog::DropOldest()
{
    // The oldest is the first message, below the notice of those left out
    // when there is one; with it goes the line break after it.
    QTextDocument* document = ui.textEdit->document();
    const int top = m_noticeShown ? document->firstBlock().next().position() : 0;
    QTextCursor cursor(document);
    cursor.setPosition(top);
    cursor.setPosition(top + m_shown.front().length + 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    m_shownCharacters -= m_shown.front().size;
    m_shown.pop_front();
    ++m_leftOut;
}

void AdminMessageDialog::SayLeftOut()
{
    QTextCursor cursor(ui.textEdit->document());
    if (!m_noticeShown) {
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        cursor.setPosition(0);
        m_noticeShown = true;
    } else {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    }
    QTextCharFormat notice;
    notice.setFontItalic(true);
    cursor.insertText(
        m_leftOut == 1 ? tr("1 older message not shown.") : tr("%1 older messages not shown.").arg(m_leftOut), notice);
}

void AdminMessageDialog::SetTime(const QString& time)
{
    ui.timeEdit->setText(time);
    // The time is as wide as the month and the font make it, never cut.
    const int frame = ui.timeEdit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, ui.timeEdit);
    const QMargins margins = ui.timeEdit->textMargins();
    ui.timeEdit->setFixedWidth(ui.timeEdit->fontMetrics().horizontalAdvance(ui.timeEdit->text()) + 2 * frame +
                               kLineEditTextPadding + margins.left() + margins.right());
}
