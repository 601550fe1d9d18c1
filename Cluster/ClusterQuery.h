// Internal to the library: the one shape of every query operation. One request through the
// session, then one parse of its reply; each failure is passed up with the operation's
// location pushed.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterParser.h"

namespace Cluster {

// Every query operation calls StartQuery first: the connection's last request outcome is
// forgotten, so a query refused before it sends anything (a bad page link or path, no parser)
// cannot be read as having had the previous request's fate.
void ForgetRequestOutcome(CConnection& connection);
inline void StartQuery(const boost::shared_ptr<CConnection>& connection) {
    if (connection) ForgetRequestOutcome(*connection);
}

// A query object built with a null connection or parser refuses every call (error 774).
CZuError MissingCollaboratorError(const FXCodeLocation& here);

// A page link (the caller's or the one the cluster sent) goes after the base URL, so it must
// be an absolute path on the same cluster: one leading "/" (not "//", no scheme), and no "\\",
// blank or control byte that could move the request elsewhere. Anything else is error 774
// naming the link, and nothing is sent.
CZuError CheckPageLink(const std::string& link, const FXCodeLocation& here);

// `parse(CParser&, reply)` reads the reply into the caller's record or list.
template <class Parse>
CZuError RunQuery(const boost::shared_ptr<CConnection>& connection,
                  const boost::shared_ptr<CParser>& parser, RequestType type,
                  const std::string& path, const std::string& body, Parse parse,
                  const FXCodeLocation& here) {
    if (!connection || !parser) return MissingCollaboratorError(here);
    std::string reply;
    CZuError error = connection->SendRequest(type, path, body, reply, true);
    if (error.IsError()) return error.Push(here);
    error = parse(*parser, reply);
    if (error.IsError()) return error.Push(here);
    return CZuError::Success();
}

}  // namespace Cluster
