#include "ExitSave.h"

bool ExitSave::Run() const
{
    for (;;) {
        const QString reason = save();
        if (reason.isEmpty())
            return true;
        // Told before asking: the answer may never come.
        report(reason);
        if (!someoneThere() || !tryAgain(reason))
            return false;
    }
}
