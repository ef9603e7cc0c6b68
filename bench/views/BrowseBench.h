// What the Browse page benchmarks share: the page, bare Qt given the rows a
// share browser shows, to measure it against, and widgets let settle.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QList>
#include <QStringList>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <unordered_map>

#include "BenchSupport.h"
#include "FileInfo.h"
#include "GeneralFunctions.h"
#include "Settings.h"
#include "TabWidget.h"
#include "ViewFixture.h"
#include "users/ShareForm.h"
#include "users/SharesForm.h"

// What a benchmark of the Browse page drives: the page in the fixture's
// window, new shares opened all the way down as the program's default has
// it, and the browser opened last.
struct BrowseBenchPage
{
    BrowseBenchPage()
    {
        SetSetting("expand_new_shares", "yes");
        page = new SharesForm;
        f.AddPage(page, "Browse");
        page->Init();
    }

    // Closes the first browser's tab and deletes the browser; its share
    // goes over the turns that follow.
    void CloseFirstBrowser()
    {
        page->OnTabCloseRequested(0);
        form = nullptr;
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    ViewFixture f;
    SharesForm* page = nullptr;
    ShareForm* form = nullptr;
};

// Bare Qt given the rows a browser shows: one node per folder under its
// parent's (as the browser nests them), the folder's files as rows below
// it, names and figures as the browser's columns read.
inline QTreeWidget* BareShareTree(const FileInfoMap& share)
{
    auto* tree = new QTreeWidget;
    tree->setColumnCount(3);
    tree->setUpdatesEnabled(false);
    std::unordered_map<std::string, QTreeWidgetItem*> nodes;
    for (const auto& entry : share) {
        const std::string& path = entry.first;
        const size_t cut = path.rfind('\\');
        const auto parent = cut == std::string::npos ? nodes.end() : nodes.find(path.substr(0, cut));
        const QString name = QString::fromStdString(cut == std::string::npos ? path : path.substr(cut + 1));
        QTreeWidgetItem* node = parent == nodes.end() ? new QTreeWidgetItem(tree, QStringList(name))
                                                      : new QTreeWidgetItem(parent->second, QStringList(name));
        nodes.emplace(path, node);
        QList<QTreeWidgetItem*> rows;
        for (const FileInfo& file : entry.second)
            rows << new QTreeWidgetItem(QStringList() << QString::fromStdString(file.Name())
                                                      << CommafyNumber(file.Size()) << QString());
        node->addChildren(rows);
    }
    tree->expandAll();
    tree->setUpdatesEnabled(true);
    return tree;
}

// Lets the widgets lay out and paint what changed.
inline void Settle()
{
    QApplication::processEvents();
    QApplication::processEvents();
}

// Bare Qt's tree of a share made and shown as a page of the fixture's
// window, then deleted: its seconds. whileShown() runs before it goes.
inline double ShowBareShareTree(ViewFixture& f, const FileInfoMap& share,
                                const std::function<void()>& whileShown = nullptr)
{
    QElapsedTimer timer;
    timer.start();
    QTreeWidget* tree = BareShareTree(share);
    f.AddPage(tree, "Bare");
    f.tabs->setCurrentWidget(tree);
    Settle();
    const double seconds = Seconds(timer);
    if (whileShown)
        whileShown();
    delete tree;
    return seconds;
}
