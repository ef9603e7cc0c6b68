#pragma once

#include <QString>
#include <QWidget>

// An open view of one chat log file. Whoever opens it connects the room's or
// user's "chat_log_form" item, valued by the address of this class, so the
// log writer (ChatText::LogChat) can hand it each line it logs. The viewer
// removes that item when it goes, before the address could name anything
// else.
class ChatLogViewer : public QWidget
{
public:
    using QWidget::QWidget;

    // One logged line, as written to the file.
    virtual void AddLine(QString line) = 0;
};
