#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QModelIndex>
#include <QString>
#include <QStringList>

class QAbstractItemView;
class QAction;
class QMenu;
class QWidget;

// How the driver finds and reads the widgets of the running program, the way
// a user would name them: by object name, by class, by the text on them or by
// the title of their tab. A locator is a path of steps separated by "/", each
// step searching below the widget the previous one found:
//   name            a widget with that object name, or of that class
//   text=Text       a button, label or group box showing Text ("&" ignored)
//   tab=Title       the page of a tab row whose tab is titled Title (see IsTitle)
//   @modal @popup @main @window=Title   only as the first step
// Among several matches the visible ones count; exactly one must remain, or
// one that holds all the others (the outermost of names pages reuse).
namespace WidgetQuery {

QWidget* Find(const QString& locator, QString* error);

// The text a user reads on the widget: a field's text, a button's or label's
// text, a box's current item, a document's plain text, a spin box's value,
// a tab row's current tab title, a window's title. Null when it shows none.
QString TextOf(QWidget* widget);

// Class, object name, visible, enabled, focus, and where they apply checked,
// current index and item count.
QJsonObject StateOf(QWidget* widget);

// The entries of a combo box, the titles of a tab row or tab bar, the
// entries of a list; an error for anything else.
bool ItemsOf(QWidget* widget, QStringList* items, QString* error);

// Every row an item view shows (rows hidden by a filter are left out), depth
// first: {"depth": n, "cells": [texts of the columns], "checked": bool when
// the row has a check box}.
QJsonArray RowsOf(QAbstractItemView* view);

// The first row, depth first, whose cells hold every one of the texts.
QModelIndex FindRow(QAbstractItemView* view, const QStringList& texts);

// The marks that keep a name's direction to itself draw nothing: a user
// reading the window does not see them.
QString WithoutIsolates(QString text);

// A button's, action's or tab's text as shown: without "&", without the
// marks that isolate a name's direction, and without the shortcut a menu
// writes after a tab character.
QString Plain(const QString& text);

// Whether a tab shown as shown is the tab titled title: the same text, or
// the text followed by a count in brackets ("Transfers [1/0]").
bool IsTitle(const QString& shown, const QString& title);

// The visible toolbar action with that text, in any visible window.
QAction* FindToolBarAction(const QString& text, QStringList* shown);

// The entry of an open menu with that text.
QAction* FindMenuEntry(QMenu* menu, const QString& text, QStringList* entries);

} // namespace WidgetQuery
