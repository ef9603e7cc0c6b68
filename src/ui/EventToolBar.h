#pragma once

#include <QHash>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QToolBar>
#include <functional>
#include <set>

#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"

class QAction;

// Tells the user that something happened on a page out of sight: marks the
// page's tab, blinks the application icon while the main window is inactive,
// shows a tray balloon, plays the sound of the event's kind and adds a
// button that brings the page back.
class EventToolBar : public QToolBar, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit EventToolBar(QWidget* parent = nullptr);

    // i_title is shown as it is: the names in it are made titles by the page
    // (PeerText::Title), once. i_repeat lets a widget that already has a
    // button get another one.
    void AddEvent(QString i_title, QString i_icon, QWidget* ip_widget, QString i_balloonText, QString i_soundKind,
                  bool i_repeat);
    void RemoveEvents(QWidget* ip_widget);

    // The file played for a kind: the kind's own, else the one of
    // "default", else empty (silence).
    QString SoundFileForKind(const QString& i_kind);

    // Plays a sound file; QSound by default. Replaceable, so that the choice
    // of sound can be checked where no audio device exists.
    void SetSoundPlayer(std::function<void(const QString&)> i_player);

    bool IsBlinking() const { return m_blinkTimer.isActive(); }
    QStringList PendingAlertIcons() const;

public slots:
    void OnActionTriggered();
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnIconAlertTimeout();
    void OnApplicationFocusChanged(QWidget* ip_old, QWidget* ip_new);

private:
    void RemoveEventsAt(quintptr i_address);
    void ShowPlaceholderIfEmpty();
    bool HasButton(ItemPtr i_widgetItem, const QString& i_text) const;
    // Takes a button off the toolbar or out of the wait, and deletes it
    // later.
    void DropButton(QAction* ip_button);
    void ShowWaitingButtons();

    bool m_placeholderPresent = true;
    // Ordered by plain string comparison, which is the blinking order.
    std::set<QString> m_pendingAlertIcons;
    int m_blinkPosition = 0;
    QTimer m_blinkTimer;
    QAction* m_placeholder = nullptr;
    std::function<void(const QString&)> m_playSound;
    // The widgets behind the widget items, so a button never has to turn an
    // address back into a pointer.
    QHash<quintptr, QPointer<QWidget>> m_widgets;
    // Every event button, shown or waiting, by its address.
    QHash<quintptr, QAction*> m_buttons;
    // Buttons past the most shown, oldest first, with those dropped meanwhile
    // left in the list and out of the set.
    QList<QAction*> m_waiting;
    QSet<QAction*> m_waitingSet;
    // Button icons by resource path.
    QHash<QString, QIcon> m_icons;
};

extern EventToolBar* eventToolBar;
