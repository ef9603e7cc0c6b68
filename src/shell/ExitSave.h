#pragma once

#include <QString>
#include <functional>

// The last save of a run, which must not fail unseen: each failure is
// reported with its reason (the log and standard error), and while someone
// is there to ask, they choose to try again or to quit without saving. A
// quit by signal has no one to ask: the run then ends unsaved at the first
// failure.
struct ExitSave
{
    // Saves; empty when it worked, else why it did not.
    std::function<QString()> save;
    // Whether a user can still be asked.
    std::function<bool()> someoneThere;
    // Asks the user; true for "try again".
    std::function<bool(const QString& reason)> tryAgain;
    std::function<void(const QString& reason)> report;

    // True when the data was saved.
    bool Run() const;
};
