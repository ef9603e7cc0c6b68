#include "WidgetQuery.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSet>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolBar>
#include <QTreeView>

#include <functional>

namespace WidgetQuery {

QString WithoutIsolates(QString text)
{
    for (ushort mark = 0x2066; mark <= 0x2069; ++mark)
        text.remove(QChar(mark));
    return text;
}

namespace {

QList<QWidget*> VisibleWindows()
{
    QList<QWidget*> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible())
            windows << window;
    return windows;
}

QString TabTitleOf(QWidget* page)
{
    auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
    auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    const int index = tabs ? tabs->indexOf(page) : -1;
    return index < 0 ? QString() : Plain(tabs->tabText(index));
}

QString ShownText(QWidget* widget)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return Plain(button->text());
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* box = qobject_cast<QGroupBox*>(widget))
        return Plain(box->title());
    return QString();
}

bool Matches(QWidget* widget, const QString& step)
{
    if (step.startsWith("text="))
        return ShownText(widget) == step.mid(5);
    if (step.startsWith("tab="))
        return IsTitle(TabTitleOf(widget), step.mid(4));
    return widget->objectName() == step || QString(widget->metaObject()->className()) == step;
}

// The one widget among the matches, visible ones first. A dialog is a
// window of its own and a child of the window it belongs to: it counts once.
QWidget* Choose(QList<QWidget*> matches, const QString& step, QString* error)
{
    matches = QSet<QWidget*>(matches.begin(), matches.end()).values();
    QList<QWidget*> visible;
    for (QWidget* widget : matches)
        if (widget->isVisible())
            visible << widget;
    if (visible.size() == 1)
        return visible.first();
    // Pages reuse names: the main window's tab row and a page's own row are
    // both "tabControl". The one that holds all the others is meant.
    for (QWidget* outer : visible) {
        if (std::all_of(visible.begin(), visible.end(),
                        [outer](QWidget* widget) { return widget == outer || outer->isAncestorOf(widget); }))
            return outer;
    }
    if (visible.isEmpty() && matches.size() == 1)
        return matches.first();
    *error = matches.isEmpty() ? QString("no widget matches \"%1\"").arg(step)
                               : QString("%1 widgets match \"%2\" (%3 of them visible); name a widget above it first")
                                     .arg(matches.size())
                                     .arg(step)
                                     .arg(visible.size());
    return nullptr;
}

QWidget* FirstStep(const QString& step, QString* error)
{
    QWidget* found = nullptr;
    if (step == "@modal")
        found = QApplication::activeModalWidget();
    else if (step == "@popup")
        found = QApplication::activePopupWidget();
    else if (step == "@main") {
        for (QWidget* window : VisibleWindows())
            if (qobject_cast<QMainWindow*>(window))
                found = window;
    } else if (step.startsWith("@window=")) {
        QList<QWidget*> matches;
        for (QWidget* window : VisibleWindows())
            if (WithoutIsolates(window->windowTitle()) == step.mid(8))
                matches << window;
        return Choose(matches, step, error);
    } else {
        QList<QWidget*> matches;
        for (QWidget* window : VisibleWindows()) {
            if (Matches(window, step))
                matches << window;
            for (QWidget* child : window->findChildren<QWidget*>())
                if (Matches(child, step))
                    matches << child;
        }
        return Choose(matches, step, error);
    }
    if (!found)
        *error = QString("no window for \"%1\"").arg(step);
    return found;
}

// Calls visit(index of column 0, depth, cells) for every row the view shows,
// depth first, until it returns false; returns whether it went through all.
bool VisitRows(QAbstractItemView* view, const QModelIndex& parent, int depth,
               const std::function<bool(const QModelIndex&, int, const QStringList&)>& visit)
{
    QAbstractItemModel* model = view->model();
    auto* tree = qobject_cast<QTreeView*>(view);
    for (int row = 0; row < model->rowCount(parent); ++row) {
        if (tree && tree->isRowHidden(row, parent))
            continue;
        QStringList cells;
        for (int column = 0; column < model->columnCount(parent); ++column)
            cells << WithoutIsolates(model->index(row, column, parent).data(Qt::DisplayRole).toString());
        const QModelIndex index = model->index(row, 0, parent);
        if (!visit(index, depth, cells) || !VisitRows(view, index, depth + 1, visit))
            return false;
    }
    return true;
}

} // namespace

QString Plain(const QString& text)
{
    QString plain = WithoutIsolates(text.section('\t', 0, 0));
    plain.replace("&&", QString(QChar(0x1)));
    plain.remove('&');
    plain.replace(QChar(0x1), "&");
    // Direction isolates around peers' names draw nothing: a user reads the
    // name alone.
    plain.remove(QRegularExpression(QStringLiteral("[\u2066-\u2069]")));
    return plain;
}

bool IsTitle(const QString& shown, const QString& title)
{
    return shown == title || (shown.startsWith(title + " [") && shown.endsWith(']'));
}

QWidget* Find(const QString& locator, QString* error)
{
    const QStringList steps = locator.split('/', Qt::SkipEmptyParts);
    if (steps.isEmpty()) {
        *error = "empty locator";
        return nullptr;
    }
    QWidget* found = FirstStep(steps.first(), error);
    for (int i = 1; found && i < steps.size(); ++i) {
        QList<QWidget*> matches;
        for (QWidget* child : found->findChildren<QWidget*>())
            if (Matches(child, steps[i]))
                matches << child;
        found = Choose(matches, steps[i], error);
    }
    if (!found)
        *error = QString("%1: %2").arg(locator, *error);
    return found;
}

QString TextOf(QWidget* widget)
{
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text();
    if (auto* box = qobject_cast<QComboBox*>(widget))
        return box->currentText();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
        return edit->toPlainText();
    if (auto* edit = qobject_cast<QTextEdit*>(widget))
        return edit->toPlainText();
    if (auto* box = qobject_cast<QAbstractSpinBox*>(widget))
        return box->text();
    if (auto* tabs = qobject_cast<QTabWidget*>(widget))
        return tabs->currentIndex() < 0 ? QString("") : Plain(tabs->tabText(tabs->currentIndex()));
    if (auto* list = qobject_cast<QListWidget*>(widget))
        return list->currentItem() ? list->currentItem()->text() : QString("");
    const QString shown = ShownText(widget);
    if (!shown.isNull())
        return shown;
    if (widget->isWindow())
        return WithoutIsolates(widget->windowTitle());
    return QString();
}

QJsonObject StateOf(QWidget* widget)
{
    QJsonObject state{{"class", widget->metaObject()->className()},
                      {"name", widget->objectName()},
                      {"visible", widget->isVisible()},
                      {"enabled", widget->isEnabled()},
                      {"focus", widget->hasFocus()}};
    if (auto* button = qobject_cast<QAbstractButton*>(widget); button && button->isCheckable())
        state["checked"] = button->isChecked();
    if (auto* box = qobject_cast<QComboBox*>(widget)) {
        state["current"] = box->currentIndex();
        state["count"] = box->count();
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
        state["current"] = tabs->currentIndex();
        state["count"] = tabs->count();
    }
    return state;
}

bool ItemsOf(QWidget* widget, QStringList* items, QString* error)
{
    if (auto* box = qobject_cast<QComboBox*>(widget)) {
        for (int i = 0; i < box->count(); ++i)
            *items << box->itemText(i);
    } else if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
        for (int i = 0; i < tabs->count(); ++i)
            *items << Plain(tabs->tabText(i));
    } else if (auto* bar = qobject_cast<QTabBar*>(widget)) {
        for (int i = 0; i < bar->count(); ++i)
            *items << Plain(bar->tabText(i));
    } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
        for (int i = 0; i < list->count(); ++i)
            *items << list->item(i)->text();
    } else {
        *error = QString("a %1 has no items").arg(widget->metaObject()->className());
        return false;
    }
    return true;
}

QJsonArray RowsOf(QAbstractItemView* view)
{
    QJsonArray rows;
    if (view->model())
        VisitRows(view, view->rootIndex(), 0, [&](const QModelIndex& index, int depth, const QStringList& cells) {
            QJsonObject entry{{"depth", depth}, {"cells", QJsonArray::fromStringList(cells)}};
            const QVariant check = index.data(Qt::CheckStateRole);
            if (check.isValid())
                entry["checked"] = check.toInt() == Qt::Checked;
            rows.append(entry);
            return true;
        });
    return rows;
}

QModelIndex FindRow(QAbstractItemView* view, const QStringList& texts)
{
    QModelIndex found;
    if (view->model())
        VisitRows(view, view->rootIndex(), 0, [&](const QModelIndex& index, int, const QStringList& cells) {
            for (const QString& text : texts)
                if (!cells.contains(text))
                    return true;
            found = index;
            return false;
        });
    return found;
}

QAction* FindToolBarAction(const QString& text, QStringList* shown)
{
    for (QWidget* window : VisibleWindows()) {
        for (QToolBar* bar : window->findChildren<QToolBar*>()) {
            if (!bar->isVisible())
                continue;
            for (QAction* action : bar->actions()) {
                if (!action->isVisible() || action->isSeparator() || action->text().isEmpty())
                    continue;
                if (Plain(action->text()) == text)
                    return action;
                *shown << Plain(action->text());
            }
        }
    }
    return nullptr;
}

QAction* FindMenuEntry(QMenu* menu, const QString& text, QStringList* entries)
{
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || !action->isVisible())
            continue;
        if (Plain(action->text()) == text)
            return action;
        *entries << Plain(action->text());
    }
    return nullptr;
}

} // namespace WidgetQuery
