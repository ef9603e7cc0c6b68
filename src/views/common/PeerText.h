#pragma once

#include <QString>

// How text that came from the server or from another user (names, chat,
// descriptions, file names) is put in front of the user. It is data: never
// markup, never a shortcut, and never allowed to reorder the text around it.
namespace PeerText {
// A message or a name is shown to at most this many characters, the rest
// said to be left out; one line can then never be more text than a view
// lays out at once without the window stalling.
constexpr int LineCap = 2000;
constexpr int NameCap = 200;

// How much of the text is shown: at most cap characters, never ending in
// half of a character written as a pair.
int ShownLength(const QString& text, int cap);
// What follows a text cut short: how many characters were left out.
QString LeftOutNotice(int leftOut);
// The text with a place to break a line (an invisible zero-width space)
// after every longest characters of a run that has none: the toolkit
// looks for a word's end afresh on every line of it, so a word of a
// hundred thousand characters takes seconds to lay out. With markup, tags
// and character references are left whole.
QString Breakable(const QString& text, int longest, bool markup);
// The shown part of the text, followed by the notice when any was left out.
QString Bounded(const QString& text, int cap);

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
