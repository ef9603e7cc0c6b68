#include "ChatLogForm.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "FocusHelpers.h"
#include "Settings.h"
#include "common/PeerText.h"
#include "ui_ChatLogForm.h"

namespace {

// The view's updates stay off while the cursor is moved and probed, so it
// is drawn once per step.
class UpdatesOff
{
public:
    explicit UpdatesOff(QWidget* widget) : m_widget(widget) { m_widget->setUpdatesEnabled(false); }
    ~UpdatesOff() { m_widget->setUpdatesEnabled(true); }

private:
    QWidget* m_widget;
};

} // namespace

ChatLogForm::ChatLogForm(QString path, QWidget* parent) : ChatLogViewer(parent), ui(new Ui_ChatLogForm)
{
    ui->setupUi(this);
    ui->searchBackButton->setIcon(QIcon(":/icons/back_icon"));
    ui->searchForwardButton->setIcon(QIcon(":/icons/forward_icon"));
    ui->searchBackButton->setEnabled(false);
    ui->searchForwardButton->setEnabled(false);
    // Lines are only ever added: nothing to undo.
    ui->logEdit->document()->setUndoRedoEnabled(false);
    RegisterWidgetForTabFocus(ui->searchEdit, 1);

    QStringList lines;
    if (!ReadLines(path, lines))
        return;
    for (QString& line : lines)
        line = PeerText::VisibleControls(line);
    m_search.SetLines(lines);
    {
        UpdatesOff off(ui->logEdit);
        // Plain text: a line is what someone said, never markup to render.
        ui->logEdit->setPlainText(lines.join(QLatin1Char('\n')));
    }
    m_logPath = path;
    if (actionBar) {
        actionBar->RegisterWidget(this, "chat_log");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatLogForm::OnActionTriggered);
    }
}

ChatLogForm::~ChatLogForm()
{
    if (Type* forms = d.HasType("chat_log_form")) {
        if (ItemPtr form = forms->HasItem(Value(static_cast<ChatLogViewer*>(this))))
            form.Remove();
    }
    delete ui;
}

bool ChatLogForm::ReadLines(const QString& path, QStringList& lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Whole lines: a line cut at a fixed length could split a character
    // written in several bytes.
    // The length given, so a NUL ends nothing.
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        lines << QString::fromUtf8(line.constData(), line.size()).trimmed();
    }
    return true;
}

void ChatLogForm::AddLine(QString line)
{
    const QString shown = PeerText::VisibleControls(line.trimmed());
    ui->logEdit->appendPlainText(shown);
    m_search.AppendLine(shown);
}

void ChatLogForm::OnSearchTextChanged(QString i_text)
{
    UpdatesOff off(ui->logEdit);
    QTextCursor start = ui->logEdit->textCursor();
    start.movePosition(QTextCursor::Start);
    ui->logEdit->setTextCursor(start);
    ui->searchBackButton->setEnabled(false);
    ui->searchForwardButton->setEnabled(false);
    const int match = m_search.First(i_text);
    if (match >= 0)
        MarkFind(match, true);
    else
        ui->logEdit->setExtraSelections({});
}

void ChatLogForm::OnSearchForward()
{
    UpdatesOff off(ui->logEdit);
    // From one character past the cursor, which rests at the start of the
    // match shown.
    const int match = m_search.Next(ui->searchEdit->text(), ui->logEdit->textCursor().position() + 1);
    if (match >= 0)
        MarkFind(match);
}

void ChatLogForm::OnSearchBack()
{
    UpdatesOff off(ui->logEdit);
    // From before the cursor, at the start of the match shown.
    const int match = m_search.Previous(ui->searchEdit->text(), ui->logEdit->textCursor().selectionStart() - 1);
    if (match >= 0)
        MarkFind(match);
}

void ChatLogForm::MarkFind(int position, bool first)
{
    QTextCursor match = ui->logEdit->textCursor();
    match.setPosition(position);
    match.setPosition(position + ui->searchEdit->text().size(), QTextCursor::KeepAnchor);
    ui->logEdit->setTextCursor(match);
    QTextEdit::ExtraSelection highlight;
    highlight.cursor = match;
    // The input field's colours, swapped.
    highlight.format.setForeground(QColor(GetSetting("color_input_background")));
    highlight.format.setBackground(QColor(GetSetting("color_input_text")));
    ui->logEdit->setExtraSelections({highlight});
    MarkSearchButtons(first);

    // To the end and back: the view shows the match with as much after it
    // as fits.
    QTextCursor cursor = match;
    cursor.movePosition(QTextCursor::End);
    ui->logEdit->setTextCursor(cursor);
    cursor.setPosition(match.selectionStart());
    ui->logEdit->setTextCursor(cursor);
}

void ChatLogForm::MarkSearchButtons(bool first)
{
    // A next match beginning inside this one or right at its end does not
    // count; the first match from the top has none before it to look for.
    const QString text = ui->searchEdit->text();
    const QTextCursor match = ui->logEdit->textCursor();
    ui->searchForwardButton->setEnabled(m_search.Next(text, match.selectionEnd() + 1) >= 0);
    ui->searchBackButton->setEnabled(!first && m_search.Previous(text, match.selectionStart() - 1) >= 0);
}

void ChatLogForm::OnActionTriggered(QWidget* i_widget, QString i_action)
{
    if (i_widget != this)
        return;
    if (i_action == QLatin1String("clear_chat_log")) {
        if (QMessageBox::question(nullptr, tr("Clear log?"),
                                  tr("Are you sure you want to erase the contents of this log?"),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
            return;
        // Cleared even when the file is gone already.
        QFile::remove(m_logPath);
        ui->logEdit->clear();
        m_search.Clear();
        OnSearchTextChanged(ui->searchEdit->text());
    } else if (i_action == QLatin1String("open_log_folder")) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_logPath).absolutePath()));
    }
}
