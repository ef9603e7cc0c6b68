#pragma once

#include <QWidget>

#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"
#include "common/RowMirror.h"

class CompleteDownloadItem;
class Ui_CompleteDownloadsForm;

// The downloads finished in this run, newest first: a tab of the transfers
// page that it opens on the first request and keeps. One row per
// "complete_download" item of the transfer engine (which keeps them for the
// run only); the page only shows them.
//
// Rows stand in order of completion from the moment they are made: a new
// row is put in its place, found by the completion time it keeps, instead
// of sorting the whole list at every completion.
class CompleteDownloadsForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit CompleteDownloadsForm(QWidget* parent = nullptr);
    ~CompleteDownloadsForm() override;

    // Declares the row type, follows the engine's completions and lists
    // those of the run so far. Once per form.
    void Init();
    // Lists the completions already in the store (the rows made since are
    // not listed twice).
    void DataLoaded() override;

public slots:
    void OnCompleteDownloadAdded(ItemPtr ip_completeDownload);

private:
    // Where a row completed at that time goes: before every row that did
    // not complete later, so among equal times the newest comes first.
    int PlaceOf(qint64 completedMs) const;
    void ListExisting();

    Ui_CompleteDownloadsForm* ui;
    RowMirror m_rows;
};

extern CompleteDownloadsForm* completeDownloadsForm;
