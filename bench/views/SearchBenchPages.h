// The Search page and a plain tree as two pages of one window, for the
// search benchmarks to measure the page against the plain tree doing the
// same work in the same run.
#pragma once

#include <QApplication>
#include <QTabWidget>
#include <QTreeWidget>

#include "TabWidget.h"
#include "ViewFixture.h"
#include "search/SearchForm.h"
#include "search/SearchResultListItem.h"

class SearchBenchPages
{
public:
    SearchBenchPages()
    {
        form = new SearchForm;
        f.AddPage(form, "Search");
        form->Init();
        plain = new QTreeWidget;
        plain->setColumnCount(SearchResultListItem::ColumnCount);
        f.AddPage(plain, "Plain");
    }

    bool Start() { return f.Start(); }

    // Makes the widget (the plain tree or a results page) the one on
    // screen and lets it lay out and paint.
    void Show(QWidget* widget)
    {
        if (widget == plain) {
            f.tabs->setCurrentWidget(plain);
        } else {
            f.tabs->setCurrentWidget(form);
            form->findChild<QTabWidget*>("searchTabControl")->setCurrentWidget(widget);
        }
        QApplication::processEvents();
    }

    ViewFixture f;
    SearchForm* form = nullptr;
    QTreeWidget* plain = nullptr;
};
