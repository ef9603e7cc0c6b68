#pragma once

#include <QPointer>
#include <QString>
#include <QToolBar>
#include <QUrl>
#include <map>
#include <utility>

#include "ItemPtr.h"

class QAction;
class QPushButton;
class QTreeWidget;

// The context toolbar: its actions follow the keyboard focus. Views register
// widgets under named action sets and declare each set's actions once; when
// a registered widget (or anything inside it) takes the focus, the toolbar
// shows that widget's set with the texts and visibility the widget asked
// for. Views publish key values (fixed per widget, or a column of the
// selected row) that the handler of an action reads back with GetKey.
// Besides the set, the toolbar always carries the availability button at its
// left end and the supporter button at its right end.
class ActionSetToolBar : public QToolBar
{
    Q_OBJECT

public:
    explicit ActionSetToolBar(QWidget* parent = nullptr);

    // Focus changes are ignored until this has run.
    void Init();

    void RegisterWidget(QWidget* ip_widget, QString i_set);
    void AddSetAction(QString i_set, QString i_id, QString i_text, QString i_icon, bool i_needsListSelection);
    void AddWidgetKey(QWidget* ip_widget, QString i_key, QString i_value);
    void AddWidgetColumnKey(QWidget* ip_widget, QString i_key, int i_column);
    QString GetKey(QString i_key);
    void SetWidgetActionText(QWidget* ip_widget, QString i_id, QString i_text);
    void SetWidgetActionHidden(QWidget* ip_widget, QString i_id, bool i_hidden);

    void ChangeSet(QWidget* ip_widget, QString i_set);
    void Clear();
    void ClearAndDeleteActions();
    void FoldOverflow();
    void AddSupportQuorvaneButton();

    QString GetCurrentSet() const { return m_currentSet; }
    QWidget* GetCurrentWidget() const { return m_currentWidget; }

    // The web host's supporter login page for a user; the name is the value
    // of the query's "username", percent-encoded.
    static QUrl SupporterPageUrl(const QString& i_username);
    // The day count the supporter button shows for seconds of privileges
    // left: rounded to the nearest day, halves up.
    static int PrivilegeDaysLeft(int i_seconds);

signals:
    void ActionTriggered(QWidget* ip_widget, QString i_action);

public slots:
    void OnActionTriggered(bool);
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnStatusButtonClicked();
    void OnSupportQuorvaneButtonClicked();
    void OnReceivedOwnPrivilegesStatus(int i_seconds);

private:
    ItemPtr FindWidgetItem(const QObject* ip_widget) const;
    const QString* FindTextOverride(const QObject* ip_widget, const QString& i_id) const;
    ItemPtr FindHiddenMarker(ItemPtr i_widgetItem, ItemPtr i_idItem) const;
    void ForgetWidget(ItemPtr i_widgetItem, quintptr i_address);
    // Runs f(QAction*) for every action on the toolbar now whose id is i_id.
    template <class F>
    void ForEachShownAction(ItemPtr i_idItem, F f);
    void RemoveActionObjects();
    void ShowAvailability(QPushButton* ip_button);
    void ShowPrivileges(QPushButton* ip_button);

    QString m_currentSet;
    ItemPtr m_currentWidgetItem;
    QPointer<QTreeWidget> m_currentTree;
    QWidget* m_currentWidget = nullptr;
    quint64 m_actionOrder = 0;
    bool m_busy = false;
    bool m_initialised = false;
    QPointer<QPushButton> m_supporterButton;
    QPointer<QPushButton> m_statusButton;
    // Text overrides per (widget address, action id). Kept here rather than
    // as "widget_action_text" items: those are unique by their text, so a
    // text shared by two pairs would also answer for a mix of the two.
    std::map<std::pair<quintptr, QString>, QString> m_textOverrides;
};

extern ActionSetToolBar* actionBar;
