// Internal to the walking library: the request of a directory page, built and checked as
// CFileSystemQueries::GetDirectoryEntries builds and checks it, and the next page's link as
// the end of a page's body names it.
#pragma once

#include <string>

#include "Cluster/ClusterParser.h"
#include "platform/ZuUtils.h"

namespace clusterwalk {

// A page link goes after the base URL, so it must be an absolute path on the same cluster:
// one leading "/" (not "//", no scheme) and no "\\", blank or control byte that could move the
// request elsewhere. Anything else is error 774 naming the link, the client library's refusal.
CZuError CheckPageLink(const std::string& link);

// The path and query of the page at `pageLink`, or of the first page of `path` (live for
// `snapshotId` 0) when the link is empty. Fails, with nothing to send, on a refused link or a
// path the parser cannot encode.
CZuError DirectoryPageRequest(Cluster::CParser& parser, const std::string& path, int snapshotId,
                              const std::string& pageLink, std::string& requestPath);

// The link a page's "paging":{"next":"..."} names, read off the body's last bytes without
// parsing it: a guess, for the body is not checked. Empty when there is no next page, the
// link holds an escape, or it would be refused as a page link.
std::string GuessNextLink(const std::string& body);

// Any exception in flight as an error (774), so none leaves the library.
CZuError ErrorFromException(const FXCodeLocation& here);

}  // namespace clusterwalk
