#pragma once

#include <QString>

// A start that cannot run says why: on standard error, and in a message box
// the user closes when windows reach a user, since a program started from a
// desktop has no terminal anyone reads.
namespace StartFailure {

// Whether windows on the named platform reach a user: not so on those that
// draw nowhere (offscreen, minimal), as tests and headless runs use.
bool ShownToUser(const QString& platformName);

// Tells the reason; with shown, also in a box, and returns once it is closed.
void Tell(const QString& reason, bool shown);
// As above, shown when the running platform's windows reach a user.
void Tell(const QString& reason);

} // namespace StartFailure
