#pragma once

#include <QString>

#include "ItemPtr.h"

// The texts a results page shows for a user's reply ("search_results") and
// for one of its files ("search_result").
class SearchResultCells
{
public:
    // The reply's user name.
    static QString User(ItemPtr results);
    // "Y" when the user has a free upload slot, else the queue length.
    static QString Free(ItemPtr results);
    // KiB/s with one decimal; empty for a speed of 0.
    static QString Speed(ItemPtr results);
    // The speed text of a number of bytes per second.
    static QString SpeedText(quint64 bytesPerSecond);
    // The remote folder, innermost component first, joined by "/".
    static QString Folder(ItemPtr result);
    static QString File(ItemPtr result);
    // Grouped by threes; empty for 0.
    static QString Size(ItemPtr result);
    // Bitrate, VBR or CBR, and length.
    static QString Attributes(ItemPtr result);
};
