// The folder that keeps a simulated cluster between runs. One run at a time holds it: an
// exclusive flock on DIR/lock, which also names the holder's process id for the others. The
// state itself is DIR/state, replaced whole (written to DIR/state.tmp, synced, renamed over it)
// so a run killed at any point leaves the old state or the new one, never half of each.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace clustersim {

class StateFolder {
  public:
    // Makes the folder (and its parents, mode 0700) when missing and locks it, waiting up to
    // waitSeconds for another run to let go. Null with the reason in *error.
    static std::unique_ptr<StateFolder> Open(const std::string& dir, int waitSeconds,
                                             std::string* error);
    ~StateFolder();  // lets go of the lock
    StateFolder(const StateFolder&) = delete;
    StateFolder& operator=(const StateFolder&) = delete;

    const std::string& Dir() const { return m_dir; }
    std::string StatePath() const { return m_dir + "/state"; }

    // The saved bytes in *bytes, or nullopt when nothing was ever saved; false when the state
    // is there but cannot be read.
    bool Read(std::optional<std::string>* bytes, std::string* error) const;
    bool Write(const std::string& bytes, std::string* error) const;

  private:
    StateFolder(std::string dir, int lockFd) : m_dir(std::move(dir)), m_lockFd(lockFd) {}

    std::string m_dir;
    int m_lockFd;
};

}  // namespace clustersim
