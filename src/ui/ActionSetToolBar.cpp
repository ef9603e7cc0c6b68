#include "ActionSetToolBar.h"

#include "Data.h"
#include "NetworkHosts.h"
#include "Server.h"
#include "Settings.h"
#include "ShellHooks.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QPushButton>
#include <QSizePolicy>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

ActionSetToolBar* actionBar = nullptr;

namespace {

const char* const kOnlineIcon = ":/icons/online_icon";
const char* const kAwayIcon = ":/icons/away_icon";
const char* const kGoldStarIcon = ":/icons/gold_star_icon";

// Objects are recorded by the address of their QObject, so that a
// destroyed() handler, which only has that address, finds the same record.
quintptr Address(const QObject* ip_object)
{
    return reinterpret_cast<quintptr>(ip_object);
}

Type* T(const char* name)
{
    return d.GetType(name);
}

// A tab widget or its tab bar stands for the page it shows.
QWidget* ResolveTabWidgets(QWidget* ip_widget)
{
    // Nested tab widgets are followed down; the cap only keeps the walk
    // bounded.
    for (int guard = 0; guard < 64; ++guard) {
        QTabWidget* tabWidget = qobject_cast<QTabWidget*>(ip_widget);
        if (!tabWidget) {
            if (QTabBar* bar = qobject_cast<QTabBar*>(ip_widget))
                tabWidget = qobject_cast<QTabWidget*>(bar->parentWidget());
        }
        if (!tabWidget || !tabWidget->currentWidget())
            break;
        ip_widget = tabWidget->currentWidget();
    }
    return ip_widget;
}

} // namespace

template <class F>
void ActionSetToolBar::ForEachShownAction(ItemPtr i_idItem, F f)
{
    const QList<QAction*> shown = actions();
    for (const ItemPtr& object : T("toolbar_action_object")->GetItems()) {
        if (object["toolbar_action"]["toolbar_action_id"] != i_idItem)
            continue;
        // Match by address against the actions on the toolbar, so a record
        // is never turned back into a pointer.
        for (QAction* action : shown) {
            if (Value(action).Bytes() == object.AsStdString())
                f(action);
        }
    }
}

ActionSetToolBar::ActionSetToolBar(QWidget* parent) : QToolBar(parent)
{
    Q_INIT_RESOURCE(resources);
    actionBar = this;
    connect(qApp, &QApplication::focusChanged, this, &ActionSetToolBar::OnApplicationFocusChanged);

    Type* set = d.NewType("toolbar_action_set", 0, false, true);
    Type* action = d.NewType("toolbar_action", 0, true, true);
    Type* id = d.NewType("toolbar_action_id", 0, false, true);
    Type* order = d.NewType("toolbar_action_order", 2, false, true);
    Type* widget = d.NewType("toolbar_action_widget", 0, false, true);
    Type* keyValuePair = d.NewType("action_key_value_pair", 0, true, true);
    Type* key = d.NewType("action_key", 1, false, true);
    Type* value = d.NewType("action_value", 2, false, true);
    Type* keyColumnPair = d.NewType("action_key_column_pair", 0, true, true);
    Type* column = d.NewType("action_column", 2, false, true);
    Type* activeKey = d.NewType("active_action_key", 0, false, true);
    Type* activeValue = d.NewType("active_action_value", 2, false, true);
    // Declared with the rest of the toolbar's record, but the overrides
    // themselves are kept per pair in m_textOverrides (see the header).
    Type* text = d.NewType("widget_action_text", 2, false, true);
    Type* hidden = d.NewType("widget_action_hidden", 2, true, true);
    Type* object = d.NewType("toolbar_action_object", 1, false, true);

    // RelateToType(other, how many of this type one other holds,
    //               how many of other one of this type holds, owns).
    set->RelateToType(action, one, many, false);
    action->RelateToType(id, many, one, false);
    action->RelateToType(order, many, one, false);
    Type* icon = d.NewType("toolbar_action_icon", 2, false, true);
    action->RelateToType(icon, many, one, false);
    Type* defaultText = d.NewType("toolbar_action_text", 2, false, true);
    action->RelateToType(defaultText, many, one, false);
    Type* needsSelection = d.NewType("needs_list_selection", 2, true, true);
    action->RelateToType(needsSelection, many, one, false);
    set->RelateToType(widget, one, many, false);
    keyValuePair->RelateToType(widget, many, one, false);
    keyValuePair->RelateToType(key, many, one, false);
    keyValuePair->RelateToType(value, many, one, false);
    keyColumnPair->RelateToType(widget, many, one, false);
    keyColumnPair->RelateToType(key, many, one, false);
    keyColumnPair->RelateToType(column, many, one, false);
    activeKey->RelateToType(activeValue, many, one, false);
    text->RelateToType(widget, many, many, false);
    text->RelateToType(id, many, many, false);
    hidden->RelateToType(widget, many, one, false);
    hidden->RelateToType(id, many, one, false);
    action->RelateToType(object, one, one, false);

    AddSupportQuorvaneButton();
}

void ActionSetToolBar::Init()
{
    if (gp_server)
        connect(gp_server, &Server::ReceivedOwnPrivilegesStatus, this, &ActionSetToolBar::OnReceivedOwnPrivilegesStatus,
                Qt::UniqueConnection);
    m_initialised = true;
}

void ActionSetToolBar::RegisterWidget(QWidget* ip_widget, QString i_set)
{
    ItemPtr setItem = T("toolbar_action_set")->GetItem(i_set);
    ItemPtr widgetItem = T("toolbar_action_widget")->GetItem(Value(ip_widget));
    // A widget has one set: connecting replaces the one it had.
    setItem += widgetItem;
    connect(ip_widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed, Qt::UniqueConnection);
}

void ActionSetToolBar::AddSetAction(QString i_set, QString i_id, QString i_text, QString i_icon,
                                    bool i_needsListSelection)
{
    ItemPtr setItem = T("toolbar_action_set")->GetItem(i_set);
    ItemPtr action = setItem.NewItem("toolbar_action");
    action += T("toolbar_action_id")->GetItem(i_id);
    action += T("toolbar_action_icon")->GetItem(i_icon);
    action += T("toolbar_action_text")->GetItem(i_text);
    action += T("toolbar_action_order")->GetItem(Value(static_cast<unsigned long long>(m_actionOrder)));
    ++m_actionOrder;
    if (i_needsListSelection)
        action += T("needs_list_selection")->GetGlobalNullItem();
}

void ActionSetToolBar::AddWidgetKey(QWidget* ip_widget, QString i_key, QString i_value)
{
    ItemPtr widgetItem = FindWidgetItem(ip_widget);
    if (!widgetItem)
        return;
    ItemPtr pair = T("action_key_value_pair")->NewItem();
    pair += T("action_key")->GetItem(i_key);
    pair += T("action_value")->GetItem(i_value);
    pair += widgetItem;
}

void ActionSetToolBar::AddWidgetColumnKey(QWidget* ip_widget, QString i_key, int i_column)
{
    ItemPtr widgetItem = FindWidgetItem(ip_widget);
    if (!widgetItem)
        return;
    ItemPtr pair = T("action_key_column_pair")->NewItem();
    pair += T("action_key")->GetItem(i_key);
    pair += T("action_column")->GetItem(i_column);
    pair += widgetItem;
}

QString ActionSetToolBar::GetKey(QString i_key)
{
    return T("active_action_key")->GetItem(i_key)["active_action_value"].AsString();
}

void ActionSetToolBar::SetWidgetActionText(QWidget* ip_widget, QString i_id, QString i_text)
{
    if (g_showIsOver)
        return;
    ItemPtr widgetItem = FindWidgetItem(ip_widget);
    ItemPtr idItem = T("toolbar_action_id")->HasItem(i_id);
    if (!widgetItem || !idItem)
        return;
    m_textOverrides[std::make_pair(Address(ip_widget), i_id)] = i_text;
    if (ip_widget == m_currentWidget)
        ForEachShownAction(idItem, [&](QAction* ip_action) { ip_action->setText(i_text); });
}

void ActionSetToolBar::SetWidgetActionHidden(QWidget* ip_widget, QString i_id, bool i_hidden)
{
    ItemPtr widgetItem = FindWidgetItem(ip_widget);
    ItemPtr idItem = T("toolbar_action_id")->HasItem(i_id);
    if (!widgetItem || !idItem)
        return;
    ItemPtr marker = FindHiddenMarker(widgetItem, idItem);
    if (i_hidden && !marker) {
        marker = T("widget_action_hidden")->NewItem();
        marker += widgetItem;
        marker += idItem;
    } else if (!i_hidden && marker) {
        marker.Remove();
    }
    if (ip_widget == m_currentWidget)
        ForEachShownAction(idItem, [&](QAction* ip_action) { ip_action->setVisible(!i_hidden); });
}

void ActionSetToolBar::ChangeSet(QWidget* ip_widget, QString i_set)
{
    if (i_set == m_currentSet && ip_widget == m_currentWidget)
        return;
    m_currentSet = i_set;
    m_currentWidget = ip_widget;
    // Also for a widget shown without being registered: it must not be
    // emitted once it is gone.
    if (ip_widget)
        connect(ip_widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed, Qt::UniqueConnection);

    ClearAndDeleteActions();
    RemoveActionObjects();

    ItemPtr setItem = T("toolbar_action_set")->GetItem(i_set);
    std::vector<std::pair<quint64, ItemPtr>> ordered;
    for (const ItemPtr& action : setItem.GetItems("toolbar_action")) {
        ItemPtr order = action["toolbar_action_order"];
        if (order)
            ordered.emplace_back(order.AsUInt64(), action);
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    ItemPtr widgetItem = FindWidgetItem(ip_widget);
    for (const auto& entry : ordered) {
        ItemPtr action = entry.second;
        ItemPtr idItem = action["toolbar_action_id"];
        QString text = action["toolbar_action_text"].AsString();
        if (const QString* override = FindTextOverride(ip_widget, idItem.AsString()))
            text = *override;
        QAction* shown = addAction(QIcon(action["toolbar_action_icon"].AsString()), text);
        if (widgetItem && FindHiddenMarker(widgetItem, idItem))
            shown->setVisible(false);
        connect(shown, &QAction::triggered, this, &ActionSetToolBar::OnActionTriggered);
        action += T("toolbar_action_object")->GetItem(Value(shown));
    }

    AddSupportQuorvaneButton();
}

void ActionSetToolBar::Clear()
{
    m_currentSet.clear();
    ClearAndDeleteActions();
}

void ActionSetToolBar::ClearAndDeleteActions()
{
    // The actions' records go with them, so nothing can look up an action
    // that is about to be deleted.
    RemoveActionObjects();
    FoldOverflow();
    const QList<QAction*> old = actions();
    for (QAction* action : old) {
        removeAction(action);
        action->deleteLater();
    }

    QPushButton* statusButton = new QPushButton(this);
    statusButton->setFocusPolicy(Qt::NoFocus);
    ShowAvailability(statusButton);
    connect(statusButton, &QPushButton::clicked, this, &ActionSetToolBar::OnStatusButtonClicked);
    addWidget(statusButton);
    m_statusButton = statusButton;
    addWidget(new QLabel(" ", this));
}

void ActionSetToolBar::FoldOverflow()
{
    // Opened by its "»", the toolbar stays unfolded through a change of its
    // actions, and the next set, however short, is drawn in rows with an
    // empty one beside the "»". Folding it with the window's animation
    // leaves the "»" behind as well: the toolkit lays the toolbar out again
    // only while the animation runs, and not once it ends.
    auto* overflow = findChild<QToolButton*>("qt_toolbar_ext_button", Qt::FindDirectChildrenOnly);
    if (!overflow || !overflow->isChecked() || !layout())
        return;
    auto* window = qobject_cast<QMainWindow*>(parentWidget());
    const bool animated = window && window->isAnimated();
    if (animated)
        window->setAnimated(false);
    QMetaObject::invokeMethod(layout(), "setExpanded", Q_ARG(bool, false));
    if (animated)
        window->setAnimated(true);
}

void ActionSetToolBar::AddSupportQuorvaneButton()
{
    addAction(QString());
    QWidget* spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    addWidget(spacer);

    QPushButton* button = new QPushButton(this);
    button->setFocusPolicy(Qt::NoFocus);
    // During the main window's construction the settings do not exist yet.
    if (d.HasType("global"))
        ShowPrivileges(button);
    connect(button, &QPushButton::clicked, this, &ActionSetToolBar::OnSupportQuorvaneButtonClicked);
    addWidget(button);
    m_supporterButton = button;
}

void ActionSetToolBar::OnActionTriggered(bool)
{
    QAction* pressed = qobject_cast<QAction*>(sender());
    if (!pressed)
        return;
    ItemPtr object = T("toolbar_action_object")->HasItem(Value(pressed));
    ItemPtr action = object["toolbar_action"];
    if (!action)
        return;

    if (m_currentTree) {
        const QList<QTreeWidgetItem*> selected = m_currentTree->selectedItems();
        if (selected.isEmpty()) {
            if (action.IsConnected("needs_list_selection"))
                return;
        } else {
            QTreeWidgetItem* row = selected.first();
            for (const ItemPtr& pair : m_currentWidgetItem.GetItems("action_key_column_pair")) {
                const QString text = row->data(pair["action_column"].AsInt(), Qt::DisplayRole).toString();
                ItemPtr key = T("active_action_key")->GetItem(pair["action_key"].AsString());
                key += T("active_action_value")->GetItem(text);
            }
        }
    }
    emit ActionTriggered(m_currentWidget, action["toolbar_action_id"].AsString());
}

void ActionSetToolBar::OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget)
{
    Q_UNUSED(ip_oldWidget);
    if (!m_initialised || g_showIsOver || m_busy || !ip_widget)
        return;
    m_busy = true;

    QWidget* start = ResolveTabWidgets(ip_widget);
    m_currentTree = nullptr;

    QWidget* found = nullptr;
    ItemPtr foundItem;
    for (QWidget* widget = start; widget; widget = widget->parentWidget()) {
        foundItem = FindWidgetItem(widget);
        if (!m_currentTree)
            m_currentTree = qobject_cast<QTreeWidget*>(widget);
        if (foundItem) {
            found = widget;
            break;
        }
        if (widget->isWindow())
            break;
    }

    if (!found) {
        Clear();
        AddSupportQuorvaneButton();
        m_busy = false;
        return;
    }

    m_currentWidgetItem = foundItem;
    ChangeSet(found, foundItem["toolbar_action_set"].AsString());

    for (const ItemPtr& pair : foundItem.GetItems("action_key_value_pair")) {
        ItemPtr key = T("active_action_key")->GetItem(pair["action_key"].AsString());
        key += T("active_action_value")->GetItem(pair["action_value"].AsString());
    }
    m_busy = false;
}

void ActionSetToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver)
        return;
    // Only the address is of use: the widget is already being torn down.
    const quintptr address = Address(ip_widget);
    ItemPtr widgetItem = FindWidgetItem(ip_widget);
    if (widgetItem)
        ForgetWidget(widgetItem, address);
    if (address == Address(m_currentWidget)) {
        m_currentWidget = nullptr;
        m_currentWidgetItem = ItemPtr();
        Clear();
        AddSupportQuorvaneButton();
    }
}

void ActionSetToolBar::OnStatusButtonClicked()
{
    if (GetSetting("availability_status") == "available") {
        if (gp_server)
            gp_server->SetAvailabilityStatus(false);
        if (m_statusButton) {
            m_statusButton->setIcon(QIcon(kAwayIcon));
            m_statusButton->setText("Away");
        }
        if (gp_server && gp_server->IsConnected() && IsSettingOn("show_away_status_in_application_icon"))
            SetApplicationIcon(kAwayIcon);
    } else {
        if (gp_server)
            gp_server->SetAvailabilityStatus(true);
        if (m_statusButton) {
            m_statusButton->setIcon(QIcon(kOnlineIcon));
            m_statusButton->setText("Available");
        }
        if (gp_server && gp_server->IsConnected())
            SetApplicationIcon(kOnlineIcon);
    }
}

void ActionSetToolBar::OnSupportQuorvaneButtonClicked()
{
    QDesktopServices::openUrl(SupporterPageUrl(GetSetting("username")));
}

void ActionSetToolBar::OnReceivedOwnPrivilegesStatus(int i_seconds)
{
    // The stored setting is what counts; the server connection wrote it
    // just before telling us.
    Q_UNUSED(i_seconds);
    if (m_supporterButton)
        ShowPrivileges(m_supporterButton);
}

QUrl ActionSetToolBar::SupporterPageUrl(const QString& i_username)
{
    QUrl url = NetworkHosts::WebUrl("qtlogin.php");
    url.setQuery("username=" + QString::fromLatin1(QUrl::toPercentEncoding(i_username)), QUrl::StrictMode);
    return url;
}

int ActionSetToolBar::PrivilegeDaysLeft(int i_seconds)
{
    return int((qint64(i_seconds) + 43200) / 86400);
}

ItemPtr ActionSetToolBar::FindWidgetItem(const QObject* ip_widget) const
{
    return T("toolbar_action_widget")->HasItem(Value(ip_widget));
}

const QString* ActionSetToolBar::FindTextOverride(const QObject* ip_widget, const QString& i_id) const
{
    const auto found = m_textOverrides.find(std::make_pair(Address(ip_widget), i_id));
    return found == m_textOverrides.end() ? nullptr : &found->second;
}

ItemPtr ActionSetToolBar::FindHiddenMarker(ItemPtr i_widgetItem, ItemPtr i_idItem) const
{
    return d.GetItem(i_widgetItem, i_idItem, "widget_action_hidden");
}

void ActionSetToolBar::ForgetWidget(ItemPtr i_widgetItem, quintptr i_address)
{
    // A later widget may be made at the same address; it must start clean.
    i_widgetItem.GetItems("action_key_value_pair").Remove();
    i_widgetItem.GetItems("action_key_column_pair").Remove();
    i_widgetItem.GetItems("widget_action_hidden").Remove();
    i_widgetItem.Remove();
    for (auto it = m_textOverrides.begin(); it != m_textOverrides.end();) {
        if (it->first.first == i_address)
            it = m_textOverrides.erase(it);
        else
            ++it;
    }
}

void ActionSetToolBar::RemoveActionObjects()
{
    T("toolbar_action_object")->GetItems().Remove();
}

void ActionSetToolBar::ShowAvailability(QPushButton* ip_button)
{
    if (GetSetting("availability_status") == "available") {
        ip_button->setText("Available");
        ip_button->setIcon(QIcon(kOnlineIcon));
    } else {
        ip_button->setText("Away");
        ip_button->setIcon(QIcon(kAwayIcon));
    }
}

void ActionSetToolBar::ShowPrivileges(QPushButton* ip_button)
{
    const int seconds = GetSetting("privileges_time_left").toInt();
    if (IsSettingOn("is_supporter")) {
        ip_button->setIcon(QIcon(kGoldStarIcon));
        ip_button->setToolTip("Thank you for supporting Quorvane!");
    } else {
        ip_button->setText("Support Quorvane!");
    }
    if (seconds > 0)
        ip_button->setText(QString("%1 Days Left").arg(PrivilegeDaysLeft(seconds)));
}
