// The search-text and result-filter languages: the first byte picks one,
// the rest is the text as UTF-8.
#include "FilterParser.h"
#include "FuzzSupport.h"
#include "SearchParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const QString text = QString::fromUtf8(fuzz::Bytes(data + 1, size - 1));
    if (data[0] & 1) {
        SearchParser parser;
        if (parser.SetSearchText(text)) {
            // An accepted text always asks for something.
            fuzz::Require(!parser.GetIncludedTokenSet().empty() || !parser.GetIncludedPartTokenSet().empty());
        }
    } else {
        FilterParser filter;
        filter.Parse(text);
        // A filter matched against its own words, and the remainder kept in
        // the filter itself, as a folder's check does.
        FilterParser remainder;
        filter.IsMatching(text, &remainder, ItemPtr());
        filter.IsMatching(text.toUpper(), &filter, ItemPtr());
    }
    return 0;
}
