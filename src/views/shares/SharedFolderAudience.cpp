#include "SharedFolderAudience.h"

#include <QStringList>

#include "ItemSet.h"
#include "ServerNames.h"
#include "ShareNames.h"
#include "Type.h"

QString SharedFolderAudience::Text(ItemPtr folder)
{
    if (folder.IsConnected(ShareNames::SharedPublic))
        return QStringLiteral("Everyone");
    if (folder.IsConnected(ShareNames::SharedUserlist))
        return QStringLiteral("User List");
    QStringList groups;
    for (const ItemPtr& group : folder.GetItems(ServerNames::UserListGroup))
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
    return name == ShareNames::SharedPublic || name == ShareNames::SharedUserlist || name == ServerNames::UserListGroup;
}
