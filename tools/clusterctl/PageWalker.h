// Walks a paged listing of the cluster to its end. The library hands out one page per call
// and never loops; this helper does the looping for the command-line client and the examples,
// so each caller streams pages instead of collecting a whole listing.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_set>

#include "platform/ZuUtils.h"

namespace pagewalk {

// What a walk has read so far. Several walks may add to one count (a recursive listing).
struct PageCount {
    uint64_t pages = 0;
    uint64_t entries = 0;
};

// The code a walk fails with when the cluster hands back a page link it already gave:
// following it would read the same pages forever.
constexpr unsigned int kRepeatedPageLinkError = 1059;

// Reads every page and hands each one's records to `handlePage` before reading the next, so
// memory holds one page at a time.
//   fetchPage(const std::string& pageLink, std::list<Record>& records, std::string& nextLink)
//       -> CZuError; reads one page into the emptied `records`, the first with an empty link.
//   handlePage(std::list<Record>& records) -> CZuError; an error ends the walk with it.
// `count` is updated before `handlePage` runs, so the handler can report progress from it.
// The walk stops at the first error: pages read before it were handed over, the failing
// page's records are not.
template <class Record, class FetchPage, class HandlePage>
CZuError WalkPages(FetchPage&& fetchPage, HandlePage&& handlePage, PageCount& count) {
    std::unordered_set<std::string> seenLinks;
    std::list<Record> records;
    std::string pageLink;
    do {
        records.clear();
        std::string nextLink;
        CZuError error = fetchPage(pageLink, records, nextLink);
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        ++count.pages;
        count.entries += records.size();
        error = handlePage(records);
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        if (!nextLink.empty() && !seenLinks.insert(nextLink).second) {
            return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kRepeatedPageLinkError,
                                           "The cluster repeated the page link [%s]",
                                           nextLink.c_str());
        }
        pageLink = nextLink;
    } while (!pageLink.empty());
    return CZuError::Success();
}

}  // namespace pagewalk
