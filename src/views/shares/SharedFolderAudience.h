#pragma once

#include <QString>

#include "ItemPtr.h"

class Type;

// Who may see one of the user's shared folders, as its connections say:
// everybody ("shared_public"), everybody on the user list
// ("shared_userlist"), or the members of chosen "user_list_group" items.
class SharedFolderAudience
{
public:
    // "Everyone", else "User List", else the group names in case-sensitive
    // order joined by ", ", else empty.
    static QString Text(ItemPtr folder);
    // True for the three kinds of item whose connection to a folder changes
    // its audience.
    static bool IsAudienceType(const Type* type);
};
