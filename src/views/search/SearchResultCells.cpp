#include "SearchResultCells.h"

#include "GeneralFunctions.h"
#include "PeerNames.h"
#include "ServerNames.h"
#include "SharedFoldersManager.h"

QString SearchResultCells::User(ItemPtr results)
{
    return results[ServerNames::User].AsString();
}

QString SearchResultCells::Free(ItemPtr results)
{
    if (results[PeerNames::SearchResultsUserAvailable].AsString() == QLatin1String("yes"))
        return QStringLiteral("Y");
    return results[PeerNames::SearchResultsUploadsInQueue].AsString();
}

QString SearchResultCells::Speed(ItemPtr results)
{
    // A peer reports an unsigned 32-bit speed: read as an int, anything from
    // 2 GiB/s up would fail and show as no speed at all.
    return SpeedText(results[PeerNames::SearchResultsUserSpeed].AsUInt64());
}

QString SearchResultCells::SpeedText(quint64 bytesPerSecond)
{
    const double kib = double(bytesPerSecond) * 0.0009765625;
    return kib == 0 ? QString() : QString::number(kib, 'f', 1);
}

QString SearchResultCells::Folder(ItemPtr result)
{
    return ReversePathname(result[PeerNames::SearchResultFileFolder].AsString());
}

QString SearchResultCells::File(ItemPtr result)
{
    return result[PeerNames::SearchResultFileName].AsString();
}

QString SearchResultCells::Size(ItemPtr result)
{
    return CommafyNumber(result[PeerNames::FileSize].AsInt64());
}

QString SearchResultCells::Attributes(ItemPtr result)
{
    return SharedFoldersManager::GetFileItemDisplayString(result);
}
