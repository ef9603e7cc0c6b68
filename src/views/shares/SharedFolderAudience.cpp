#include "SharedFolderAudience.h"

#include <QStringList>

#include "ItemSet.h"
#include "Type.h"

QString SharedFolderAudience::Text(ItemPtr folder)
{
    if (folder.IsConnected("shared_public"))
        return QStringLiteral("Everyone");
    if (folder.IsConnected("shared_userlist"))
        return QStringLiteral("User List");
    QStringList groups;
    for (const ItemPtr& group : folder.GetItems("user_list_group"))
        groups << group.AsString();
    // QString's own ordering compares code units, so upper case comes first.
    groups.sort(Qt::CaseSensitive);
    return groups.join(", ");
}

bool SharedFolderAudience::IsAudienceType(const Type* type)
{
    if (!type)
        return false;
    const std::string& name = type->GetName();
    return name == "shared_public" || name == "shared_userlist" || name == "user_list_group";
}
