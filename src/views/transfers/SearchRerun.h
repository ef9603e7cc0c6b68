#pragma once

#include <QString>

// How the download menu's "Re-run Search" reaches the search page: a new
// network-wide search of a download's search text, with a result tab of its
// own. The entry is offered only while a search page exists to show it.
namespace SearchRerun {

bool Available();
void Run(const QString& text);

} // namespace SearchRerun
