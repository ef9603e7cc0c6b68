#pragma once

// The transfers page in the view fixture, as the main window makes it: the
// page built before Init, Init after the transfer engine, then the load.
// Shared by the page's tests; rows are found by their texts, as a user
// finds them.
#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QMainWindow>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWidgetAction>
#include <algorithm>
#include <functional>
#include <memory>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "Settings.h"
#include "TabWidget.h"
#include "TransferQueueManager.h"
#include "TreeWidget.h"
#include "ViewFixture.h"
#include "transfers/TransfersForm.h"

class TransfersPageHarness
{
public:
    TransfersPageHarness() : f(new ViewFixture)
    {
        // The colours the main window writes at start-up.
        SetSetting("color_transfer_complete", "#006400");
        SetSetting("color_transfer_in_progress", "#0000ff");
        SetSetting("color_transfer_queued", "#3366ff");
        SetSetting("color_transfer_failed", "#ff0a47");
        SetSetting("color_transfer_other", "#000000");
        page = new TransfersForm;
        f->AddPage(page, "Transfers");
        page->Init();
    }

    std::unique_ptr<ViewFixture> f;
    TransfersForm* page = nullptr;

    TreeWidget* Downloads() const { return page->findChild<TreeWidget*>("downloadsList"); }
    TreeWidget* Uploads() const { return page->findChild<TreeWidget*>("uploadsList"); }
    template <class T>
    T* Control(const char* name) const
    {
        return page->findChild<T*>(name);
    }
    QString TabTitle() const { return f->tabs->tabText(f->tabs->indexOf(page)); }

    static QTreeWidgetItem* Child(QTreeWidgetItem* parent, int column, const QString& text)
    {
        for (int i = 0; parent && i < parent->childCount(); ++i)
            if (parent->child(i)->text(column) == text)
                return parent->child(i);
        return nullptr;
    }
    static QTreeWidgetItem* UserRow(QTreeWidget* tree, const QString& user)
    {
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->text(0) == user)
                return tree->topLevelItem(i);
        return nullptr;
    }
    static QTreeWidgetItem* FolderRow(QTreeWidget* tree, const QString& user, const QString& folder)
    {
        return Child(UserRow(tree, user), 1, folder);
    }
    static QTreeWidgetItem* FileRow(QTreeWidget* tree, const QString& user, const QString& folder, const QString& file)
    {
        return Child(FolderRow(tree, user, folder), 2, file);
    }
    // The file names of a folder row's children, in row order.
    static QStringList Files(QTreeWidgetItem* folderRow)
    {
        QStringList names;
        for (int i = 0; folderRow && i < folderRow->childCount(); ++i)
            names << folderRow->child(i)->text(2);
        return names;
    }
    static QStringList TopTexts(QTreeWidget* tree)
    {
        QStringList names;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            names << tree->topLevelItem(i)->text(0);
        return names;
    }
    static QColor Colour(QTreeWidgetItem* row, int column = 0) { return row->foreground(column).color(); }

    // The toolbar as the user meets it: focus the tree, find the action
    // by the text it shows.
    QAction* Action(QWidget* tree, const QString& text) const
    {
        if (tree == Uploads())
            page->findChild<QTabWidget*>("transfersTabControl")->setCurrentIndex(1);
        else
            page->findChild<QTabWidget*>("transfersTabControl")->setCurrentIndex(0);
        f->window->activateWindow();
        tree->setFocus();
        (void)QTest::qWaitFor([tree] { return tree->hasFocus(); }, FakePeerLink::DefaultWaitMs);
        for (QAction* action : f->toolbar->actions())
            if (!qobject_cast<QWidgetAction*>(action) && action->text() == text)
                return action;
        return nullptr;
    }

    // Downloads kept in the data file: entries made before the load, in the
    // order given, each with its place in the queue (above the places the
    // engine's counter hands out, which a place may belong to only one).
    ItemPtr StoredDownload(const QString& user, const QString& folder, const QString& file, qint64 size, int order)
    {
        ItemPtr entry = f->transfers->AddDownload(user, file.toStdString(), folder.toStdString(), size, false, 0);
        if (entry)
            entry.Connect(d.GetType("download_order")->GetItem(Value(1000000 + order)));
        return entry;
    }

    // The context menu of a view, as a right click at a point of its
    // viewport opens it: the open menu is handed to act (which may trigger
    // an entry) and closed afterwards. False when no menu opened.
    static bool WithMenu(QAbstractItemView* view, QPoint at, const std::function<void(QMenu*)>& act)
    {
        bool shown = false;
        int polls = 0;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) {
                if (++polls > 500)
                    poll.stop();
                return;
            }
            poll.stop();
            shown = true;
            act(menu);
            if (menu->isVisible())
                menu->close();
        });
        poll.start();
        view->doItemsLayout();
        emit view->customContextMenuRequested(at);
        return shown;
    }
    static bool WithMenu(QTreeWidget* tree, QTreeWidgetItem* row, const std::function<void(QMenu*)>& act)
    {
        tree->doItemsLayout();
        return WithMenu(tree, tree->visualItemRect(row).center(), act);
    }
    // The entries of a menu as it shows them: "-" for a separator, a
    // submenu as its title with its entries in brackets.
    static QStringList Texts(QMenu* menu)
    {
        QStringList texts;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                texts << "-";
            else if (action->menu())
                texts << action->text() + " [" + Texts(action->menu()).join(", ") + "]";
            else
                texts << action->text();
        }
        return texts;
    }
    static QAction* Find(QMenu* menu, const QString& text)
    {
        for (QAction* action : menu->actions()) {
            if (action->text() == text)
                return action;
            if (action->menu())
                if (QAction* inner = Find(action->menu(), text))
                    return inner;
        }
        return nullptr;
    }
    static bool Trigger(QMenu* menu, const QString& text)
    {
        QAction* action = Find(menu, text);
        if (action)
            action->trigger();
        return action;
    }
    // Selects the rows (and no other) and opens the menu at the first.
    bool Menu(QTreeWidget* tree, const QList<QTreeWidgetItem*>& rows, const std::function<void(QMenu*)>& act)
    {
        tree->clearSelection();
        for (QTreeWidgetItem* row : rows)
            row->setSelected(true);
        return WithMenu(tree, rows.first(), act);
    }
    // The menu's entries for the rows, without choosing any: the view's own
    // entries; the user menu's that follow them for a sole user are left to
    // UserEntries.
    QStringList MenuTexts(QTreeWidget* tree, const QList<QTreeWidgetItem*>& rows)
    {
        QStringList texts = AllMenuTexts(tree, rows);
        const int user = texts.indexOf("Message user");
        return user < 0 ? texts : texts.mid(0, std::max(0, user - 1));
    }
    QStringList AllMenuTexts(QTreeWidget* tree, const QList<QTreeWidgetItem*>& rows)
    {
        QStringList texts;
        Menu(tree, rows, [&](QMenu* menu) { texts = Texts(menu); });
        return texts;
    }
    // Opens the menu for the rows and chooses an entry; false when the
    // menu does not offer it.
    bool Choose(QTreeWidget* tree, const QList<QTreeWidgetItem*>& rows, const QString& text)
    {
        bool found = false;
        Menu(tree, rows, [&](QMenu* menu) { found = Trigger(menu, text); });
        return found;
    }

    // A finished download as the engine records it, completed at a given
    // time, announced as the engine announces it.
    ItemPtr Completed(const QString& user, const QString& folder, const QString& file, qint64 size, const QDateTime& at)
    {
        ItemPtr record = d.GetType("complete_download")->NewItem();
        record.Connect(d.GetType("user")->GetItem(Value(user)));
        record.Connect(d.GetType("complete_download_relative_folder")->GetItem(Value(folder)));
        record.Connect(d.GetType("complete_download_filename")->GetItem(Value(file)));
        record.Connect(d.GetType("complete_download_file_size")->GetItem(Value(QString::number(size))));
        record.Connect(d.GetType("complete_download_completion_time")->GetItem(Value(at.toString(Qt::TextDate))));
        emit f->transfers->CompleteDownloadAdded(record);
        return record;
    }
};
