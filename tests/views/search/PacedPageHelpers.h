#pragma once

// What the tests of a results page under many replies share: a user's file
// rows as the page shows them, replies handed to the page as peer messaging
// reads them, and a page that goes at its pacer's pace from its first row
// by a clock the test moves.

#include <QList>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

#include "PeerMessages.h"
#include "SearchPageFixture.h"
#include "SearchResultIntake.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultsForm.h"

// A user's file rows as the page shows them, grouped or flat, in order.
inline QList<QTreeWidgetItem*> FilesOf(SearchResultsForm* page, const QString& user)
{
    QList<QTreeWidgetItem*> rows;
    QTreeWidget* tree = page->searchResults();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* top = tree->topLevelItem(i);
        if (top->text(SearchResultListItem::UserColumn) != user)
            continue;
        if (page->HasFlatRows())
            rows << top;
        for (int f = 0; f < top->childCount(); ++f)
            for (int r = 0; r < top->child(f)->childCount(); ++r)
                rows << top->child(f)->child(r);
    }
    return rows;
}

inline QStringList Names(const QList<QTreeWidgetItem*>& rows)
{
    QStringList names;
    for (const QTreeWidgetItem* row : rows)
        names << row->text(SearchResultListItem::FileColumn);
    return names;
}

// A reply of count files in the folder read as peer messaging reads one,
// from the user at 127.3.0.address, all at once.
inline void TakeReply(SearchResultIntake* intake, quint32 ticket, const QString& user, int address,
                      const QString& folder, int count)
{
    PeerMessages::SearchReplyBody body;
    body.token = ticket;
    for (int f = 0; f < count; ++f)
        body.files.emplace_back(QString("%1\\%2.mp3").arg(folder).arg(f).toStdString(), 1000);
    intake->Take({user, QString("127.3.0.%1").arg(address)}, body);
}

// A search whose page goes at its pacer's pace from its first row, by a
// clock that moves only when the test moves now.
inline SearchResultsForm* PacedSearch(SearchPageFixture& s, const QString& text, const qint64& now)
{
    SearchResultsForm* page = s.Search(text);
    if (page) {
        page->SetPacedRows(1);
        page->SetPaceClock([&now] { return now; });
    }
    return page;
}
