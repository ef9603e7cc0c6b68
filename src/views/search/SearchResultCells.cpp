#include "SearchResultCells.h"

#include "GeneralFunctions.h"
#include "SharedFoldersManager.h"

QString SearchResultCells::User(ItemPtr results)
{
    return results["user"].AsString();
}

QString SearchResultCells::Free(ItemPtr results)
{
    if (results["search_results_user_available"].AsString() == QLatin1String("yes"))
        return QStringLiteral("Y");
    return results["search_results_uploads_in_queue"].AsString();
}

QString SearchResultCells::Speed(ItemPtr results)
{
    // A peer reports an unsigned 32-bit speed: read as an int, anything from
    // 2 GiB/s up would fail and show as no speed at all.
    return SpeedText(results["search_results_user_speed"].AsUInt64());
}

QString SearchResultCells::SpeedText(quint64 bytesPerSecond)
{
    const double kib = double(bytesPerSecond) * 0.0009765625;
    return kib == 0 ? QString() : QString::number(kib, 'f', 1);
}

QString SearchResultCells::Folder(ItemPtr result)
{
    return ReversePathname(result["search_result_file_folder"].AsString());
}

QString SearchResultCells::File(ItemPtr result)
{
    return result["search_result_file_name"].AsString();
}

QString SearchResultCells::Size(ItemPtr result)
{
    return CommafyNumber(result["file_size"].AsInt64());
}

QString SearchResultCells::Attributes(ItemPtr result)
{
    return SharedFoldersManager::GetFileItemDisplayString(result);
}
