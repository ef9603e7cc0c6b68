#pragma once

#include <QString>
#include <functional>

// The windows about one user that pages of their own open: the groups
// dialog, the share and upload browsers, the user's information, note and
// item log. The user menu and the lists that offer them open them through
// here, so an entry works as soon as the page that owns the window sets its
// opener (in its Init, cleared when it goes); an opener not set yet does
// nothing.
struct UserWindows
{
    using Opener = std::function<void(const QString& user)>;

    Opener groups;
    Opener shareBrowse;
    Opener uploadBrowse;
    Opener info;
    Opener note;
    Opener itemLog;

    static void Open(const Opener& opener, const QString& user)
    {
        if (opener)
            opener(user);
    }
};

extern UserWindows g_userWindows;
