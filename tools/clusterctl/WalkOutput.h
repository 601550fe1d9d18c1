// Where a resumable run's rows go: stdout, or a file locked for this run, so a second run on it
// fails at once instead of interleaving with this one. A checkpoint records how much of it was
// committed, and a resumed run cuts it back there.
#pragma once

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>

namespace clusterctl {

class WalkOutput {
  public:
    // Throws Failure when the file cannot be opened or another run holds it.
    explicit WalkOutput(std::string file);
    ~WalkOutput();
    WalkOutput(const WalkOutput&) = delete;
    WalkOutput& operator=(const WalkOutput&) = delete;

    std::ostream& Stream();
    bool ToFile() const { return m_descriptor >= 0; }
    const std::string& File() const { return m_file; }
    uint64_t Size() const;
    // Flushes what was written (to the disk, for a file); the bytes written so far.
    uint64_t Commit();
    // Drops what follows the first `bytes`: what was written after the checkpoint resumed.
    void Truncate(uint64_t bytes);

  private:
    std::string m_file;
    int m_descriptor = -1;
    std::ofstream m_stream;
};

}  // namespace clusterctl
