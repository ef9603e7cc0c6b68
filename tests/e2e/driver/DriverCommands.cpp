// The driver's requests. Each finds what it needs and reports a failure
// before the answer goes out; its action, if any, runs after the answer.
#include "Driver.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include "DiagnosticsForm.h"
#include "TimerManager.h"
#include "WidgetQuery.h"

// Named, so that Value and Type here do not meet the item store's classes.
namespace requests {
namespace {

using Outcome = Driver::Outcome;

Outcome Failure(const QString& error)
{
    return {error, {}, {}};
}

Outcome Value(const QJsonValue& value)
{
    return {{}, value, {}};
}

Outcome Then(std::function<void()> action)
{
    return {{}, {}, std::move(action)};
}

QStringList Strings(const QJsonArray& request, int from)
{
    QStringList strings;
    for (int i = from; i < request.size(); ++i)
        strings << request[i].toString();
    return strings;
}

// A user cannot work in a window that a modal dialog blocks.
QString BlockedBy(QWidget* widget)
{
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* window = widget->window();
    if (!modal || window == modal || window->windowType() == Qt::Popup)
        return QString();
    return QString("the dialog \"%1\" blocks its window").arg(modal->windowTitle());
}

QWidget* Find(const QJsonValue& locator, QString* error)
{
    return WidgetQuery::Find(locator.toString(), error);
}

// What a user can act on: found, and not behind a modal dialog.
QWidget* Reach(const QJsonValue& locator, QString* error)
{
    QWidget* widget = Find(locator, error);
    if (widget)
        *error = BlockedBy(widget);
    return error->isEmpty() ? widget : nullptr;
}

// A user clicks into a window before working in it; the offscreen platform
// has no window manager to do it for us. (Qt::Popup shares its Qt::Window
// bit with every window: only the window type tells a popup.)
void Activate(QWidget* widget)
{
    QWidget* window = widget->window();
    if (!window->isActiveWindow() && window->windowType() != Qt::Popup) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
    }
}

// Where a click lands: on a check box's or radio button's indicator (a wide
// box ignores clicks beyond its text), elsewhere in the middle.
QPoint ClickPoint(QWidget* widget)
{
    QStyleOptionButton option;
    option.initFrom(widget);
    if (qobject_cast<QCheckBox*>(widget))
        return widget->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, widget).center();
    if (qobject_cast<QRadioButton*>(widget))
        return widget->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, widget).center();
    return widget->rect().center();
}

// Typing goes where the user would click to type: the line of an editable
// combo box.
QWidget* TypingTarget(QWidget* widget)
{
    auto* box = qobject_cast<QComboBox*>(widget);
    return box && box->isEditable() && box->lineEdit() ? box->lineEdit() : widget;
}

void Click(QWidget* target, const QPoint& point, bool twice)
{
    if (!twice) {
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, point);
        return;
    }
    // What the window system delivers for a double click; QTest's own double
    // click is the third of these events alone, which item views ignore.
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, point);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, point);
    QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, point);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, point);
}

void ShowMenu(QWidget* target, const QPoint& point)
{
    QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, point);
    // A right click reaches a widget as a context-menu event only through
    // the window system, which QTest's events bypass.
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, target->mapToGlobal(point));
    QApplication::sendEvent(target, &event);
}

// The row of a list holding every cell text from request[2] on.
bool FindRow(const QJsonArray& request, QAbstractItemView** view, QModelIndex* row, QString* error)
{
    QWidget* widget = Reach(request[1], error);
    *view = qobject_cast<QAbstractItemView*>(widget);
    if (!*view) {
        if (widget)
            *error = request[1].toString() + " is no list";
        return false;
    }
    const QStringList cells = Strings(request, 2);
    *row = WidgetQuery::FindRow(*view, cells);
    if (!row->isValid())
        *error = QString("%1 shows no row with %2").arg(request[1].toString(), cells.join(", "));
    return row->isValid();
}

Outcome ClickWidget(const QJsonArray& request, bool twice)
{
    QString error;
    QPointer<QWidget> widget = Reach(request[1], &error);
    if (!widget)
        return Failure(error);
    if (!widget->isEnabled())
        return Failure(request[1].toString() + " is disabled");
    return Then([widget, twice] {
        if (!widget)
            return;
        Activate(widget);
        Click(widget, ClickPoint(widget), twice);
    });
}

Outcome ClickRow(const QJsonArray& request, bool twice)
{
    QString error;
    QAbstractItemView* view = nullptr;
    QModelIndex index;
    if (!FindRow(request, &view, &index, &error))
        return Failure(error);
    QPointer<QAbstractItemView> target = view;
    const QPersistentModelIndex row = index;
    return Then([target, row, twice] {
        if (!target || !row.isValid())
            return;
        Activate(target);
        target->scrollTo(row);
        Click(target->viewport(), target->visualRect(row).center(), twice);
    });
}

Outcome Windows(const QJsonArray&)
{
    QJsonArray windows;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        windows << QJsonObject{{"class", window->metaObject()->className()},
                               {"name", window->objectName()},
                               {"title", WidgetQuery::WithoutIsolates(window->windowTitle())},
                               {"modal", window->isModal()},
                               {"active", window->isActiveWindow()}};
    }
    return Value(windows);
}

Outcome Text(const QJsonArray& request)
{
    QString error;
    QWidget* widget = Find(request[1], &error);
    if (!widget)
        return Failure(error);
    const QString text = WidgetQuery::TextOf(widget);
    if (text.isNull())
        return Failure(QString("a %1 shows no text").arg(widget->metaObject()->className()));
    return Value(text);
}

Outcome State(const QJsonArray& request)
{
    QString error;
    QWidget* widget = Find(request[1], &error);
    return widget ? Value(WidgetQuery::StateOf(widget)) : Failure(error);
}

Outcome Items(const QJsonArray& request)
{
    QString error;
    QStringList items;
    QWidget* widget = Find(request[1], &error);
    if (!widget || !WidgetQuery::ItemsOf(widget, &items, &error))
        return Failure(error);
    return Value(QJsonArray::fromStringList(items));
}

Outcome Rows(const QJsonArray& request)
{
    QString error;
    QWidget* widget = Find(request[1], &error);
    auto* view = qobject_cast<QAbstractItemView*>(widget);
    if (!view)
        return Failure(widget ? request[1].toString() + " is no list" : error);
    return Value(WidgetQuery::RowsOf(view));
}

Outcome Diagnostics(const QJsonArray&)
{
    QJsonObject areas;
    auto* tabs = diagnosticsForm ? diagnosticsForm->findChild<QTabWidget*>() : nullptr;
    for (int i = 0; tabs && i < tabs->count(); ++i) {
        auto* page = qobject_cast<QPlainTextEdit*>(tabs->widget(i));
        if (!page)
            page = tabs->widget(i)->findChild<QPlainTextEdit*>();
        if (page)
            areas[tabs->tabText(i)] = page->toPlainText();
    }
    return Value(areas);
}

Outcome Type(const QJsonArray& request)
{
    QString error;
    QPointer<QWidget> widget = Reach(request[1], &error);
    if (!widget)
        return Failure(error);
    const QString text = request[2].toString();
    return Then([widget, text] {
        if (!widget)
            return;
        QWidget* target = TypingTarget(widget);
        Activate(target);
        target->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(target, text);
    });
}

Outcome Key(const QJsonArray& request)
{
    QString error;
    QPointer<QWidget> widget = Reach(request[1], &error);
    if (!widget)
        return Failure(error);
    const QKeySequence keys(request[2].toString());
    if (keys.isEmpty())
        return Failure(QString("no keys in \"%1\"").arg(request[2].toString()));
    return Then([widget, keys] {
        for (int i = 0; widget && i < keys.count(); ++i) {
            QWidget* target = TypingTarget(widget);
            Activate(target);
            target->setFocus(Qt::OtherFocusReason);
            const int key = keys[uint(i)];
            QTest::keyClick(target, Qt::Key(key & ~Qt::KeyboardModifierMask),
                            Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
        }
    });
}

Outcome Choose(const QJsonArray& request)
{
    QString error;
    QWidget* widget = Reach(request[1], &error);
    QPointer<QComboBox> box = qobject_cast<QComboBox*>(widget);
    if (!box)
        return Failure(widget ? request[1].toString() + " is no combo box" : error);
    const int index = box->findText(request[2].toString(), Qt::MatchExactly);
    if (index < 0)
        return Failure(QString("%1 offers no \"%2\"").arg(request[1].toString(), request[2].toString()));
    // With the arrow keys, as a user who tabbed to the box.
    return Then([box, index] {
        if (!box)
            return;
        Activate(box);
        box->setFocus(Qt::TabFocusReason);
        while (box && box->currentIndex() != index) {
            const int before = box->currentIndex();
            QTest::keyClick(box, before < index ? Qt::Key_Down : Qt::Key_Up);
            if (box && box->currentIndex() == before)
                break; // a disabled entry in the way
        }
    });
}

Outcome Tab(const QJsonArray& request)
{
    QString error;
    QWidget* widget = Reach(request[1], &error);
    auto* tabs = qobject_cast<QTabWidget*>(widget);
    QPointer<QTabBar> bar = tabs ? tabs->tabBar() : qobject_cast<QTabBar*>(widget);
    if (!bar)
        return Failure(widget ? request[1].toString() + " is no tab row" : error);
    const QString title = request[2].toString();
    QStringList titles;
    int index = -1;
    for (int i = 0; i < bar->count(); ++i) {
        titles << WidgetQuery::Plain(bar->tabText(i));
        if (index < 0 && WidgetQuery::IsTitle(titles.last(), title))
            index = i;
    }
    if (index < 0)
        return Failure(QString("%1 has no tab \"%2\" (tabs: %3)").arg(request[1].toString(), title, titles.join(", ")));
    if (!bar->isTabEnabled(index))
        return Failure(QString("the tab \"%1\" is disabled").arg(title));
    return Then([bar, index] {
        if (!bar)
            return;
        Activate(bar);
        const QPoint point = bar->tabRect(index).center();
        if (bar->rect().contains(point))
            QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, point);
        else // scrolled out of the row: as its scroll buttons would
            bar->setCurrentIndex(index);
    });
}

Outcome Action(const QJsonArray& request)
{
    const QString text = request[1].toString();
    QStringList shown;
    QAction* action = WidgetQuery::FindToolBarAction(text, &shown);
    if (!action)
        return Failure(QString("no toolbar action \"%1\" (shown: %2)").arg(text, shown.join(", ")));
    if (!action->isEnabled())
        return Failure(QString("the toolbar action \"%1\" is disabled").arg(text));
    QPointer<QToolButton> button;
    for (QWidget* widget : action->associatedWidgets())
        if (auto* candidate = qobject_cast<QToolButton*>(widget); candidate && candidate->isVisible())
            button = candidate;
    if (!button)
        return Failure(QString("the toolbar action \"%1\" has no button").arg(text));
    if (const QString blocked = BlockedBy(button); !blocked.isEmpty())
        return Failure(blocked);
    return Then([button] {
        if (button)
            QTest::mouseClick(button, Qt::LeftButton);
    });
}

Outcome Menu(const QJsonArray& request)
{
    QString error;
    QPointer<QWidget> target;
    QPoint point;
    if (request.size() > 2) {
        QAbstractItemView* view = nullptr;
        QModelIndex row;
        if (!FindRow(request, &view, &row, &error))
            return Failure(error);
        view->scrollTo(row);
        target = view->viewport();
        point = view->visualRect(row).center();
    } else {
        QWidget* widget = Reach(request[1], &error);
        if (!widget)
            return Failure(error);
        auto* view = qobject_cast<QAbstractItemView*>(widget);
        target = view ? view->viewport() : widget;
        point = target->rect().center();
    }
    return Then([target, point] {
        if (!target)
            return;
        Activate(target);
        ShowMenu(target, point);
    });
}

Outcome Pick(const QJsonArray& request)
{
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu)
        return Failure("no menu is open");
    // The entries along the path, each found before anything is clicked.
    QList<QPair<QPointer<QMenu>, QPointer<QAction>>> path;
    for (const QString& entry : request[1].toString().split('>')) {
        QStringList entries;
        QAction* action = menu ? WidgetQuery::FindMenuEntry(menu, entry, &entries) : nullptr;
        if (!action)
            return Failure(QString("the menu has no entry \"%1\" (entries: %2)").arg(entry, entries.join(", ")));
        path.append({menu, action});
        menu = action->menu();
    }
    if (path.last().second->menu())
        return Failure("a submenu is no entry to pick");
    return Then([path] {
        for (const auto& step : path) {
            QMenu* in = step.first;
            QAction* action = step.second;
            if (!in || !action)
                return;
            if (QMenu* sub = action->menu()) {
                in->setActiveAction(action);
                if (!sub->isVisible())
                    sub->popup(in->mapToGlobal(in->actionGeometry(action).topRight()));
                continue;
            }
            QTest::mouseClick(in, Qt::LeftButton, Qt::NoModifier, in->actionGeometry(action).center());
        }
    });
}

Outcome Screenshot(const QJsonArray& request)
{
    QString error;
    QWidget* widget = Find(request.size() > 2 ? request[2] : QJsonValue("@main"), &error);
    if (!widget)
        return Failure(error);
    const QPixmap picture = widget->grab();
    if (picture.isNull() || !picture.save(request[1].toString(), "PNG"))
        return Failure("cannot write " + request[1].toString());
    return Value(QJsonObject{{"width", picture.width()}, {"height", picture.height()}});
}

} // namespace
} // namespace requests

QMap<QString, Driver::Command> Driver::Commands()
{
    return {
        {"ping", {0, [](const QJsonArray&) { return requests::Value("pong"); }}},
        {"windows", {0, requests::Windows}},
        {"text", {1, requests::Text}},
        {"state", {1, requests::State}},
        {"items", {1, requests::Items}},
        {"rows", {1, requests::Rows}},
        {"diagnostics", {0, requests::Diagnostics}},
        {"click", {1, [](const QJsonArray& request) { return requests::ClickWidget(request, false); }}},
        {"double-click", {1, [](const QJsonArray& request) { return requests::ClickWidget(request, true); }}},
        {"row-click", {2, [](const QJsonArray& request) { return requests::ClickRow(request, false); }}},
        {"row-double-click", {2, [](const QJsonArray& request) { return requests::ClickRow(request, true); }}},
        {"type", {2, requests::Type}},
        {"key", {2, requests::Key}},
        {"choose", {2, requests::Choose}},
        {"tab", {2, requests::Tab}},
        {"action", {1, requests::Action}},
        {"menu", {1, requests::Menu}},
        {"pick", {1, requests::Pick}},
        {"screenshot", {1, requests::Screenshot}},
        {"quit", {0, [](const QJsonArray&) { return requests::Then([] { QCoreApplication::exit(0); }); }}},
        // The half-minute timer's tick now, rather than up to 30 s later.
        {"tick",
         {0,
          [](const QJsonArray&) {
              return requests::Then([] { QMetaObject::invokeMethod(timerManager, "timeout"); });
          }}},
    };
}
