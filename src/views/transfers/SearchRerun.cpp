#include "SearchRerun.h"

// The search page (its global searchForm and CreateSearchForm) is not part
// of the program yet: until it is, there is nowhere to show results, so
// the entry is not offered. Once it is, Available answers whether
// searchForm exists, and Run sends the search through gp_server and opens
// its network-wide result tab.
bool SearchRerun::Available()
{
    return false;
}

void SearchRerun::Run(const QString&)
{
}
