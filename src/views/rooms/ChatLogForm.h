#pragma once

#include <QString>
#include <QWidget>

#include "ChatLogSearch.h"
#include "ChatLogViewer.h"

class Ui_ChatLogForm;

// Shows one chat log file as read-only plain text, with the lines logged
// while it is open added at its end; finds text forwards and backwards,
// erases the log or opens its folder. A log that cannot be read shows
// empty and offers neither action. The text is laid out a line at a time as
// it comes into view, so a log of many megabytes opens and is searched
// without first laying out all of it. Control characters in the log (a NUL
// included) are shown as their visible pictures.
class ChatLogForm : public ChatLogViewer
{
    Q_OBJECT

public:
    ChatLogForm(QString path, QWidget* parent = nullptr);
    // Forgets the "chat_log_form" item naming this viewer, so the next
    // "Chat Log" opens a fresh one.
    ~ChatLogForm() override;

    void AddLine(QString line) override;

    // The lines of a log file, each trimmed, whole whatever their length
    // or bytes; false when the file cannot be opened.
    static bool ReadLines(const QString& path, QStringList& lines);

public slots:
    void OnSearchTextChanged(QString i_text);
    void OnSearchBack();
    void OnSearchForward();
    void OnActionTriggered(QWidget* i_widget, QString i_action);

private:
    // Selects the match of the search text at the position and shows it;
    // first: no match comes before it.
    void MarkFind(int position, bool first = false);
    void MarkSearchButtons(bool first);

    Ui_ChatLogForm* ui;
    // Set once the file was read; empty for a log that could not be.
    QString m_logPath;
    // The shown text, searched in place of the document.
    ChatLogSearch m_search;
};
