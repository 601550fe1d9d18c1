// Internal to the library: the system error codes its failures carry, named once.
#pragma once

namespace Cluster {

constexpr unsigned int kErrorGeneric = 774;     // nearly every failure
constexpr unsigned int kErrorInvalidPath = 87;  // a path that cannot be addressed
constexpr unsigned int kErrorHeaderKind = 50;   // a request header kind the client does not send

}  // namespace Cluster
