#include "Driver.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include "DiagnosticsForm.h"
#include "WidgetQuery.h"

namespace {

// A user clicks into a window before working in it; the offscreen platform
// has no window manager to do it for us.
void Activate(QWidget* widget)
{
    QWidget* window = widget->window();
    if (!window->isActiveWindow() && !(window->windowFlags() & Qt::Popup)) {
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

QStringList Strings(const QJsonArray& arguments, int from)
{
    QStringList strings;
    for (int i = from; i < arguments.size(); ++i)
        strings << arguments[i].toString();
    return strings;
}

// What the window system delivers for a double click; QTest's own double
// click is the third of these events alone, which item views ignore.
void DoubleClick(QWidget* target, const QPoint& point)
{
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, point);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, point);
    QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, point);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, point);
}

// A user cannot work in a window that a modal dialog blocks.
QString BlockedBy(QWidget* widget)
{
    QWidget* modal = QApplication::activeModalWidget();
    QWidget* window = widget->window();
    if (!modal || window == modal || (window->windowFlags() & Qt::Popup) == Qt::Popup)
        return QString();
    return QString("the dialog \"%1\" blocks its window").arg(modal->windowTitle());
}

void SendContextMenu(QWidget* target, const QPoint& point)
{
    QTest::mouseClick(target, Qt::RightButton, Qt::NoModifier, point);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, target->mapToGlobal(point));
    QApplication::sendEvent(target, &event);
}

} // namespace

void Driver::StartFromEnvironment()
{
    const QString path = qEnvironmentVariable("QUORVANE_DRIVER");
    if (path.isEmpty())
        return;
    auto* driver = new Driver(path);
    QString error;
    if (!driver->Listen(&error)) {
        qWarning("driver: cannot listen on %s: %s", qPrintable(path), qPrintable(error));
        delete driver;
        return;
    }
    qInfo("driver: listening on %s", qPrintable(path));
}

Driver::Driver(const QString& path)
    : QObject(qApp)
    , m_path(path)
    , m_server(new QLocalServer(this))
{
    AddHandlers();
}

bool Driver::Listen(QString* error)
{
    QLocalServer::removeServer(m_path);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &Driver::OnNewConnection);
    if (m_server->listen(m_path))
        return true;
    *error = m_server->errorString();
    return false;
}

void Driver::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // One orchestrator at a time: a new connection replaces the old.
        if (m_socket)
            m_socket->deleteLater();
        m_socket = socket;
        connect(socket, &QLocalSocket::readyRead, this, &Driver::OnReadyRead);
    }
}

void Driver::OnReadyRead()
{
    while (m_socket && m_socket->canReadLine()) {
        const QJsonDocument document = QJsonDocument::fromJson(m_socket->readLine());
        m_requests.enqueue(document.isArray() ? document.array() : QJsonArray());
    }
    // Served from the event loop, not from here: the socket announces no new
    // data while one of its readyRead signals is being handled, and an
    // action may run a menu's or dialog's loop that must hear the next
    // request.
    QMetaObject::invokeMethod(this, &Driver::Serve, Qt::QueuedConnection);
}

void Driver::Serve()
{
    while (!m_requests.isEmpty()) {
        const Outcome outcome = Run(m_requests.dequeue());
        Answer(outcome);
        if (outcome.error.isEmpty() && outcome.then)
            outcome.then();
    }
}

Driver::Outcome Driver::Run(const QJsonArray& request)
{
    const QString command = request.isEmpty() ? QString() : request.first().toString();
    const auto handler = m_handlers.constFind(command);
    if (handler == m_handlers.constEnd())
        return {QString("unknown request \"%1\"").arg(command), {}, {}};
    if (request.size() - 1 < handler->first)
        return {QString("%1 needs %2 arguments").arg(command).arg(handler->first), {}, {}};
    return handler->second(request);
}

void Driver::Answer(const Outcome& outcome)
{
    if (!m_socket)
        return;
    QJsonObject answer{{"ok", outcome.error.isEmpty()}};
    if (outcome.error.isEmpty())
        answer["value"] = outcome.value;
    else
        answer["error"] = outcome.error;
    m_socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
    m_socket->flush();
}

void Driver::AddHandlers()
{
    // Each handler finds what it needs and reports a failure before
    // answering; only then does its action run.
    auto find = [](const QJsonValue& locator, QString* error) {
        return WidgetQuery::Find(locator.toString(), error);
    };
    // What a user can act on: found, and not behind a modal dialog.
    auto reach = [](const QJsonValue& locator, QString* error) -> QWidget* {
        QWidget* widget = WidgetQuery::Find(locator.toString(), error);
        if (widget)
            *error = BlockedBy(widget);
        return error->isEmpty() ? widget : nullptr;
    };
    auto mouse = [reach](bool twice) {
        return [reach, twice](const QJsonArray& a) -> Outcome {
            QString error;
            QPointer<QWidget> widget = reach(a[1], &error);
            if (!widget)
                return {error, {}, {}};
            if (!widget->isEnabled())
                return {a[1].toString() + " is disabled", {}, {}};
            return {{}, {}, [widget, twice] {
                        if (!widget)
                            return;
                        Activate(widget);
                        if (twice)
                            DoubleClick(widget, ClickPoint(widget));
                        else
                            QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, ClickPoint(widget));
                    }};
        };
    };
    auto row = [reach](bool twice) {
        return [reach, twice](const QJsonArray& a) -> Outcome {
            QString error;
            auto* view = qobject_cast<QAbstractItemView*>(reach(a[1], &error));
            if (!view)
                return {error.isEmpty() ? a[1].toString() + " is no list" : error, {}, {}};
            const QStringList cells = Strings(a, 2);
            const QModelIndex index = WidgetQuery::FindRow(view, cells);
            if (!index.isValid())
                return {QString("%1 shows no row with %2").arg(a[1].toString(), cells.join(", ")), {}, {}};
            QPointer<QAbstractItemView> target = view;
            const QPersistentModelIndex row = index;
            return {{}, {}, [target, row, twice] {
                        if (!target || !row.isValid())
                            return;
                        Activate(target);
                        target->scrollTo(row);
                        const QPoint point = target->visualRect(row).center();
                        if (twice)
                            DoubleClick(target->viewport(), point);
                        else
                            QTest::mouseClick(target->viewport(), Qt::LeftButton, Qt::NoModifier, point);
                    }};
        };
    };

    m_handlers["ping"] = {0, [](const QJsonArray&) -> Outcome { return {{}, "pong", {}}; }};
    m_handlers["windows"] = {0, [](const QJsonArray&) -> Outcome {
                                 QJsonArray windows;
                                 for (QWidget* window : QApplication::topLevelWidgets()) {
                                     if (!window->isVisible())
                                         continue;
                                     windows << QJsonObject{{"class", window->metaObject()->className()},
                                                            {"name", window->objectName()},
                                                            {"title", window->windowTitle()},
                                                            {"modal", window->isModal()},
                                                            {"active", window->isActiveWindow()}};
                                 }
                                 return {{}, windows, {}};
                             }};
    m_handlers["text"] = {1, [find](const QJsonArray& a) -> Outcome {
                              QString error;
                              QWidget* widget = find(a[1], &error);
                              if (!widget)
                                  return {error, {}, {}};
                              const QString text = WidgetQuery::TextOf(widget);
                              if (text.isNull())
                                  return {QString("a %1 shows no text").arg(widget->metaObject()->className()), {}, {}};
                              return {{}, text, {}};
                          }};
    m_handlers["state"] = {1, [find](const QJsonArray& a) -> Outcome {
                               QString error;
                               QWidget* widget = find(a[1], &error);
                               return widget ? Outcome{{}, WidgetQuery::StateOf(widget), {}} : Outcome{error, {}, {}};
                           }};
    m_handlers["items"] = {1, [find](const QJsonArray& a) -> Outcome {
                               QString error;
                               QStringList items;
                               QWidget* widget = find(a[1], &error);
                               if (!widget || !WidgetQuery::ItemsOf(widget, &items, &error))
                                   return {error, {}, {}};
                               return {{}, QJsonArray::fromStringList(items), {}};
                           }};
    m_handlers["rows"] = {1, [find](const QJsonArray& a) -> Outcome {
                              QString error;
                              QWidget* widget = find(a[1], &error);
                              auto* view = qobject_cast<QAbstractItemView*>(widget);
                              if (!view)
                                  return {widget ? a[1].toString() + " is no list" : error, {}, {}};
                              return {{}, WidgetQuery::RowsOf(view), {}};
                          }};
    m_handlers["diagnostics"] = {0, [](const QJsonArray&) -> Outcome {
                                     QJsonObject areas;
                                     auto* tabs = diagnosticsForm ? diagnosticsForm->findChild<QTabWidget*>() : nullptr;
                                     for (int i = 0; tabs && i < tabs->count(); ++i) {
                                         auto* page = qobject_cast<QPlainTextEdit*>(tabs->widget(i));
                                         if (!page)
                                             page = tabs->widget(i)->findChild<QPlainTextEdit*>();
                                         if (page)
                                             areas[tabs->tabText(i)] = page->toPlainText();
                                     }
                                     return {{}, areas, {}};
                                 }};
    m_handlers["click"] = {1, mouse(false)};
    m_handlers["double-click"] = {1, mouse(true)};
    m_handlers["row-click"] = {2, row(false)};
    m_handlers["row-double-click"] = {2, row(true)};
    m_handlers["type"] = {2, [reach](const QJsonArray& a) -> Outcome {
                              QString error;
                              QPointer<QWidget> widget = reach(a[1], &error);
                              if (!widget)
                                  return {error, {}, {}};
                              const QString text = a[2].toString();
                              return {{}, {}, [widget, text] {
                                          if (!widget)
                                              return;
                                          QWidget* target = TypingTarget(widget);
                                          Activate(target);
                                          target->setFocus(Qt::MouseFocusReason);
                                          QTest::keyClicks(target, text);
                                      }};
                          }};
    m_handlers["key"] = {2, [reach](const QJsonArray& a) -> Outcome {
                             QString error;
                             QPointer<QWidget> widget = reach(a[1], &error);
                             if (!widget)
                                 return {error, {}, {}};
                             const QKeySequence keys(a[2].toString());
                             if (keys.isEmpty())
                                 return {QString("no keys in \"%1\"").arg(a[2].toString()), {}, {}};
                             return {{}, {}, [widget, keys] {
                                         for (int i = 0; widget && i < keys.count(); ++i) {
                                             QWidget* target = TypingTarget(widget);
                                             Activate(target);
                                             target->setFocus(Qt::OtherFocusReason);
                                             const int key = keys[uint(i)];
                                             QTest::keyClick(target, Qt::Key(key & ~Qt::KeyboardModifierMask),
                                                             Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
                                         }
                                     }};
                         }};
    m_handlers["choose"] = {2, [reach](const QJsonArray& a) -> Outcome {
                                QString error;
                                QPointer<QComboBox> box = qobject_cast<QComboBox*>(reach(a[1], &error));
                                if (!box)
                                    return {error.isEmpty() ? a[1].toString() + " is no combo box" : error, {}, {}};
                                const int index = box->findText(a[2].toString(), Qt::MatchExactly);
                                if (index < 0)
                                    return {QString("%1 offers no \"%2\"").arg(a[1].toString(), a[2].toString()), {}, {}};
                                // With the arrow keys, as a user who tabbed to the box.
                                return {{}, {}, [box, index] {
                                            Activate(box);
                                            box->setFocus(Qt::TabFocusReason);
                                            while (box && box->currentIndex() != index) {
                                                const int before = box->currentIndex();
                                                QTest::keyClick(box, before < index ? Qt::Key_Down : Qt::Key_Up);
                                                if (box && box->currentIndex() == before)
                                                    break; // a disabled entry in the way
                                            }
                                        }};
                            }};
    m_handlers["tab"] = {2, [reach](const QJsonArray& a) -> Outcome {
                             QString error;
                             QWidget* widget = reach(a[1], &error);
                             auto* tabs = qobject_cast<QTabWidget*>(widget);
                             QPointer<QTabBar> bar = tabs ? tabs->tabBar() : qobject_cast<QTabBar*>(widget);
                             if (!bar)
                                 return {widget ? a[1].toString() + " is no tab row" : error, {}, {}};
                             QStringList titles;
                             int index = -1;
                             for (int i = 0; i < bar->count(); ++i) {
                                 titles << WidgetQuery::Plain(bar->tabText(i));
                                 if (WidgetQuery::IsTitle(titles.last(), a[2].toString()) && index < 0)
                                     index = i;
                             }
                             if (index < 0)
                                 return {QString("%1 has no tab \"%2\" (tabs: %3)")
                                             .arg(a[1].toString(), a[2].toString(), titles.join(", ")),
                                         {},
                                         {}};
                             if (!bar->isTabEnabled(index))
                                 return {QString("the tab \"%1\" is disabled").arg(a[2].toString()), {}, {}};
                             return {{}, {}, [bar, index] {
                                         if (!bar)
                                             return;
                                         Activate(bar);
                                         const QPoint point = bar->tabRect(index).center();
                                         if (bar->rect().contains(point))
                                             QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, point);
                                         else // scrolled out of the row: as its scroll buttons would
                                             bar->setCurrentIndex(index);
                                     }};
                         }};
    m_handlers["action"] = {1, [](const QJsonArray& a) -> Outcome {
                                QStringList shown;
                                QAction* action = WidgetQuery::FindToolBarAction(a[1].toString(), &shown);
                                if (!action)
                                    return {QString("no toolbar action \"%1\" (shown: %2)")
                                                .arg(a[1].toString(), shown.join(", ")),
                                            {},
                                            {}};
                                if (!action->isEnabled())
                                    return {QString("the toolbar action \"%1\" is disabled").arg(a[1].toString()), {}, {}};
                                QPointer<QToolButton> button;
                                for (QWidget* widget : action->associatedWidgets())
                                    if (auto* b = qobject_cast<QToolButton*>(widget); b && b->isVisible())
                                        button = b;
                                if (!button)
                                    return {QString("the toolbar action \"%1\" has no button").arg(a[1].toString()), {}, {}};
                                if (const QString blocked = BlockedBy(button); !blocked.isEmpty())
                                    return {blocked, {}, {}};
                                return {{}, {}, [button] {
                                            if (button)
                                                QTest::mouseClick(button, Qt::LeftButton);
                                        }};
                            }};
    m_handlers["menu"] = {1, [reach](const QJsonArray& a) -> Outcome {
                              QString error;
                              QWidget* widget = reach(a[1], &error);
                              if (!widget)
                                  return {error, {}, {}};
                              QPointer<QWidget> target = widget;
                              QPoint point = widget->rect().center();
                              const QStringList cells = Strings(a, 2);
                              if (!cells.isEmpty()) {
                                  auto* view = qobject_cast<QAbstractItemView*>(widget);
                                  if (!view)
                                      return {a[1].toString() + " is no list", {}, {}};
                                  const QModelIndex index = WidgetQuery::FindRow(view, cells);
                                  if (!index.isValid())
                                      return {QString("%1 shows no row with %2").arg(a[1].toString(), cells.join(", ")),
                                              {},
                                              {}};
                                  view->scrollTo(index);
                                  target = view->viewport();
                                  point = view->visualRect(index).center();
                              } else if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
                                  target = view->viewport();
                                  point = target->rect().center();
                              }
                              return {{}, {}, [target, point] {
                                          if (!target)
                                              return;
                                          Activate(target);
                                          SendContextMenu(target, point);
                                      }};
                          }};
    m_handlers["pick"] = {1, [](const QJsonArray& a) -> Outcome {
                              auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                              if (!menu)
                                  return {"no menu is open", {}, {}};
                              // The entries along the path, each found before anything is clicked.
                              QList<QPair<QPointer<QMenu>, QPointer<QAction>>> path;
                              for (const QString& entry : a[1].toString().split('>')) {
                                  QStringList entries;
                                  QAction* action = menu ? WidgetQuery::FindMenuEntry(menu, entry, &entries) : nullptr;
                                  if (!action)
                                      return {QString("the menu has no entry \"%1\" (entries: %2)")
                                                  .arg(entry, entries.join(", ")),
                                              {},
                                              {}};
                                  path.append({menu, action});
                                  menu = action->menu();
                              }
                              if (path.last().second->menu())
                                  return {"a submenu is no entry to pick", {}, {}};
                              return {{}, {}, [path] {
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
                                              QTest::mouseClick(in, Qt::LeftButton, Qt::NoModifier,
                                                                in->actionGeometry(action).center());
                                          }
                                      }};
                          }};
    m_handlers["screenshot"] = {1, [find](const QJsonArray& a) -> Outcome {
                                    QString error;
                                    QWidget* widget = find(a.size() > 2 ? a[2] : QJsonValue("@main"), &error);
                                    if (!widget)
                                        return {error, {}, {}};
                                    const QPixmap picture = widget->grab();
                                    if (picture.isNull() || !picture.save(a[1].toString(), "PNG"))
                                        return {"cannot write " + a[1].toString(), {}, {}};
                                    return {{}, QJsonObject{{"width", picture.width()}, {"height", picture.height()}}, {}};
                                }};
    m_handlers["quit"] = {0, [](const QJsonArray&) -> Outcome {
                              return {{}, {}, [] { QCoreApplication::exit(0); }};
                          }};
}
