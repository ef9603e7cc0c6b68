#pragma once

#include <QString>
#include <string>

class QWidget;

// Text for rich-text display: "&", "<" and ">" escaped, and every pair of
// spaces turned into " &nbsp;" so runs of spaces survive.
QString EscapeHTML(const QString& text);
// Wraps every http or https address in an anchor to itself.
QString ConvertLinks(const QString& text);
// Digits grouped by three with ","; empty below 1.
QString CommafyNumber(long long number);
// A duration such as "1d2h3m4s"; days and hours only when present.
QString FormatSeconds(long seconds);

// Paths of either separator ("/" or "\"), as local and remote paths mix.
std::string GetFileName(const std::string& path);
std::string GetFolder(const std::string& path);
std::string GetParentFolder(const std::string& path);
// The text after the last ".", lower-cased; empty without a ".".
std::string GetFileExtension(const std::string& name);
// The components from the innermost to the outermost, joined by "/".
QString ReversePathname(const QString& path);
std::string StringReplace(const std::string& text, const std::string& what, const std::string& with);
// Bit n of value, counted from 1 at the least significant bit.
bool GetBit(unsigned value, int n);

// Brings a widget to the user: activates its window, focuses it and turns
// every enclosing tab widget to the page that holds it.
void FocusWidget(QWidget* widget);

// The text of a stored or received byte string: UTF-8 when the bytes are
// valid UTF-8, otherwise the chosen 8-bit code page (Latin-1 when none is).
QString ToQString(const std::string& bytes);
