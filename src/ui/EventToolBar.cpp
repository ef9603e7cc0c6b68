#include "EventToolBar.h"

#include "Data.h"
#include "DataSaver.h"
#include "FocusHelpers.h"
#include "Settings.h"
#include "ShellHooks.h"
#include "TabWidget.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QSound>

EventToolBar* eventToolBar = nullptr;

namespace {

const int kBlinkIntervalMs = 1000;
// A toolbar lays out every button it holds, and refills its overflow menu
// with all that do not fit, at each new one: a burst of a thousand senders
// would make that a million. A row shows a dozen; past this many, buttons
// wait, in order, and show as others go.
const int kMostButtonsShown = 100;

quintptr Address(const QObject* ip_object)
{
    return reinterpret_cast<quintptr>(ip_object);
}

Type* T(const char* name)
{
    return d.GetType(name);
}

} // namespace

EventToolBar::EventToolBar(QWidget* parent)
    : QToolBar(parent), m_playSound([](const QString& i_file) { QSound::play(i_file); })
{
    Q_INIT_RESOURCE(resources);
    setMovable(false);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_placeholder = addAction(QString());
    eventToolBar = this;

    Type* action = d.NewType("event_toolbar_action", 0, false, true);
    Type* widget = d.NewType("event_toolbar_widget", 0, false, true);
    action->RelateToType(widget, many, one, false);

    m_blinkTimer.setInterval(kBlinkIntervalMs);
    connect(&m_blinkTimer, &QTimer::timeout, this, &EventToolBar::OnIconAlertTimeout);
    connect(qApp, &QApplication::focusChanged, this, &EventToolBar::OnApplicationFocusChanged);
    hide();
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);

    Type* sound = d.NewType("event_sound", 0, false, true);
    Type* soundFile = d.NewType("event_sound_file", 2, false, true);
    sound->RelateToType(soundFile, many, one, false);
    if (dataSaver) {
        dataSaver->AddSavedType("event_sound");
        dataSaver->AddSavedType("event_sound_file");
    }
}

void EventToolBar::AddEvent(QString i_title, QString i_icon, QWidget* ip_widget, QString i_balloonText,
                            QString i_soundKind, bool i_repeat)
{
    if (!ip_widget)
        return;
    TabWidget::MarkTabActivity(ip_widget);

    const bool active = g_shellHooks.IsMainWindowActive();
    if (!active) {
        if (m_pendingAlertIcons.empty()) {
            m_blinkPosition = 0;
            m_blinkTimer.start();
        }
        m_pendingAlertIcons.insert(i_icon);
    }

    // The user is looking at it.
    if (active && ip_widget->isVisible())
        return;

    if (!i_balloonText.isEmpty())
        g_shellHooks.PopupAlert(i_balloonText);

    if (!i_soundKind.isEmpty()) {
        const QString file = SoundFileForKind(i_soundKind);
        if (!file.isEmpty() && m_playSound)
            m_playSound(file);
    }

    if (ip_widget->isVisible())
        return;

    const quintptr address = Address(ip_widget);
    if (ItemPtr shownFor = T("event_toolbar_widget")->HasItem(Value(address))) {
        // A repeatable event still gets one button per text: the same user
        // coming online at every reconnection is one event, not many.
        if (!i_repeat || HasButton(shownFor, i_title))
            return;
    }

    if (m_placeholderPresent) {
        removeAction(m_placeholder);
        delete m_placeholder;
        m_placeholder = nullptr;
        m_placeholderPresent = false;
    }

    if (!IsSettingOn("show_event_buttons"))
        return;

    // Read once per path: a burst of senders brings an event each.
    auto icon = m_icons.find(i_icon);
    if (icon == m_icons.end())
        icon = m_icons.insert(i_icon, QIcon(i_icon));
    auto* button = new QAction(*icon, i_title, this);
    m_buttons.insert(Address(button), button);
    if (actions().size() < kMostButtonsShown) {
        addAction(button);
    } else {
        m_waiting.append(button);
        m_waitingSet.insert(button);
    }
    connect(button, &QAction::triggered, this, &EventToolBar::OnActionTriggered);
    ItemPtr widgetItem = T("event_toolbar_widget")->GetItem(Value(address));
    ItemPtr actionItem = T("event_toolbar_action")->GetItem(Value(Address(button)));
    actionItem += widgetItem;
    m_widgets.insert(address, ip_widget);
    connect(ip_widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed, Qt::UniqueConnection);
    show();
}

void EventToolBar::RemoveEvents(QWidget* ip_widget)
{
    if (ip_widget)
        RemoveEventsAt(Address(ip_widget));
}

QString EventToolBar::SoundFileForKind(const QString& i_kind)
{
    QString file = T("event_sound")->GetItem(i_kind)["event_sound_file"].AsString();
    if (file.isEmpty())
        file = T("event_sound")->GetItem("default")["event_sound_file"].AsString();
    return file;
}

void EventToolBar::SetSoundPlayer(std::function<void(const QString&)> i_player)
{
    m_playSound = std::move(i_player);
}

QStringList EventToolBar::PendingAlertIcons() const
{
    QStringList icons;
    for (const QString& icon : m_pendingAlertIcons)
        icons << icon;
    return icons;
}

void EventToolBar::OnActionTriggered()
{
    if (g_showIsOver)
        return;
    QAction* button = qobject_cast<QAction*>(sender());
    if (!button)
        return;
    ItemPtr actionItem = T("event_toolbar_action")->HasItem(Value(Address(button)));
    ItemPtr widgetItem = actionItem["event_toolbar_widget"];
    QPointer<QWidget> widget = m_widgets.value(widgetItem.AsUInt64());

    // We are inside the button's own signal: it goes later.
    DropButton(button);
    ShowWaitingButtons();
    ShowPlaceholderIfEmpty();

    actionItem.Remove();
    if (widgetItem && !widgetItem.IsConnected("event_toolbar_action")) {
        m_widgets.remove(widgetItem.AsUInt64());
        widgetItem.Remove();
    }

    if (widget)
        FocusWidgetAndParents(widget);
}

void EventToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver)
        return;
    // The widget is half torn down: it is found by its address alone.
    RemoveEventsAt(Address(ip_widget));
}

void EventToolBar::OnIconAlertTimeout()
{
    if (m_pendingAlertIcons.empty())
        return;
    if (m_blinkPosition >= int(m_pendingAlertIcons.size())) {
        m_blinkPosition = 0;
        g_shellHooks.ResetApplicationIcon();
        return;
    }
    auto icon = m_pendingAlertIcons.begin();
    std::advance(icon, m_blinkPosition);
    g_shellHooks.SetApplicationIcon(*icon);
    ++m_blinkPosition;
}

void EventToolBar::OnApplicationFocusChanged(QWidget* ip_old, QWidget* ip_new)
{
    Q_UNUSED(ip_old);
    Q_UNUSED(ip_new);
    if (g_showIsOver)
        return;
    m_pendingAlertIcons.clear();
    m_blinkTimer.stop();
    g_shellHooks.ResetApplicationIcon();
}

void EventToolBar::RemoveEventsAt(quintptr i_address)
{
    ItemPtr widgetItem = T("event_toolbar_widget")->HasItem(Value(i_address));
    if (!widgetItem)
        return;
    for (ItemPtr actionItem : widgetItem.GetItems("event_toolbar_action")) {
        if (QAction* button = m_buttons.value(actionItem.AsUInt64()))
            DropButton(button);
        actionItem.Remove();
    }
    ShowWaitingButtons();
    ShowPlaceholderIfEmpty();
    m_widgets.remove(i_address);
    widgetItem.Remove();
}

bool EventToolBar::HasButton(ItemPtr i_widgetItem, const QString& i_text) const
{
    for (ItemPtr actionItem : i_widgetItem.GetItems("event_toolbar_action")) {
        const QAction* button = m_buttons.value(actionItem.AsUInt64());
        if (button && button->text() == i_text)
            return true;
    }
    return false;
}

void EventToolBar::DropButton(QAction* ip_button)
{
    m_buttons.remove(Address(ip_button));
    if (!m_waitingSet.remove(ip_button))
        removeAction(ip_button);
    ip_button->deleteLater();
}

void EventToolBar::ShowWaitingButtons()
{
    // Buttons dropped while waiting are passed over here.
    while (!m_waiting.isEmpty() && actions().size() < kMostButtonsShown) {
        QAction* button = m_waiting.takeFirst();
        if (m_waitingSet.remove(button))
            addAction(button);
    }
    if (m_waitingSet.isEmpty())
        m_waiting.clear();
}

void EventToolBar::ShowPlaceholderIfEmpty()
{
    if (!actions().isEmpty())
        return;
    m_placeholder = addAction(QString());
    m_placeholderPresent = true;
    hide();
}
