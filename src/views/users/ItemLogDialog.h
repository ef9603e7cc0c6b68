#pragma once

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ui_ItemLogDialog.h"

class QTextBrowser;

// The program log's lines about one item of the store (a user, say): a page
// per log area after the "All" page that holds every line, filled from the
// item's records in logging order and growing as new ones arrive. Records
// exist only while diagnostics and per-item logging are both on. Each
// request opens a new window, deleted when it is closed.
class ItemLogDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    // Opens a user's log for the user menu.
    static void Init();

    ItemLogDialog(ItemPtr item, QWidget* parent = nullptr);

    void OnItemLog(ItemPtr logRecord);

    // The line a record shows: its time in brackets, then its text indented
    // by three spaces for each level above the first.
    static QString LogLine(ItemPtr logRecord);

private:
    QTextBrowser* NewPage(const QString& area);
    QTextBrowser* AreaPage(const QString& area);
    // Log texts carry names and file names from peers, so a line goes in as
    // plain text, never as markup.
    static void AppendLine(QTextBrowser* page, const QString& line);

    Ui_ItemLogDialog ui;
    ItemPtr m_item;
    QTextBrowser* m_allPage = nullptr;
};
