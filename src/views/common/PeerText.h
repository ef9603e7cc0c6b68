#pragma once

#include <QString>

// How text that came from the server or from another user (names, chat,
// descriptions, file names) is put in front of the user. It is data: never
// markup, never a shortcut, and never allowed to reorder the text around it.
namespace PeerText {
// Control characters (C0 and DEL) drawn as their visible pictures
// (U+2400...), so a name cannot hide a tab, a bell or a line break.
// With keepLineBreaks a "\n" stays a line break (multi-line chat).
QString VisibleControls(const QString& text, bool keepLineBreaks = false);

// The text in a first-strong isolate: a right-to-left override or an
// unbalanced isolate inside it cannot reach the text around it
// ("gnp.exe" stays in its own run). Stray closing isolates are dropped and
// open ones closed before the outer one ends.
QString Isolated(const QString& text);

// A name for one line of plain text (labels set as plain text, list rows):
// controls visible, direction isolated.
QString Line(const QString& text);

// A name for a tab title, button or action text: as Line, with "&" doubled
// so it shows as itself and is never a shortcut.
QString Title(const QString& text);

// A name or text for a rich-text label or document: as Line (or with line
// breaks kept as <br>), HTML-escaped.
QString Html(const QString& text, bool keepLineBreaks = false);
} // namespace PeerText
