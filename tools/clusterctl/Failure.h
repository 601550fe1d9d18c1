// A failure clusterctl finds itself, such as a snapshot name that matches nothing, with the
// exit status it ends the run with.
#pragma once

#include <stdexcept>
#include <string>

namespace clusterctl {

class Failure : public std::runtime_error {
  public:
    Failure(int exitStatus, const std::string& what)
        : std::runtime_error(what), m_exitStatus(exitStatus) {}
    int ExitStatus() const { return m_exitStatus; }

  private:
    int m_exitStatus;
};

}  // namespace clusterctl
