#include "WalkOutput.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "ExitStatus.h"
#include "Failure.h"
#include "Output.h"

namespace clusterctl {
namespace {

std::string SystemText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

WalkOutput::WalkOutput(std::string file) : m_file(std::move(file)) {
    if (m_file.empty()) return;
    m_descriptor = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (m_descriptor < 0) throw Failure(kExitFailure, SystemText("cannot open " + m_file));
    if (::flock(m_descriptor, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(m_descriptor);
        m_descriptor = -1;
        throw Failure(kExitFailure, held ? "output " + m_file + " is in use by another run"
                                         : SystemText("cannot lock " + m_file));
    }
}

WalkOutput::~WalkOutput() {
    if (m_stream.is_open()) m_stream.close();
    if (m_descriptor >= 0) ::close(m_descriptor);
}

std::ostream& WalkOutput::Stream() {
    return ToFile() ? static_cast<std::ostream&>(m_stream) : std::cout;
}

uint64_t WalkOutput::Commit() {
    FlushOutput(Stream());
    if (!ToFile()) return 0;
    if (::fsync(m_descriptor) != 0) throw OutputError(errno);
    const off_t end = ::lseek(m_descriptor, 0, SEEK_END);
    if (end < 0) throw OutputError(errno);
    return static_cast<uint64_t>(end);
}

uint64_t WalkOutput::Size() const {
    const off_t end = ToFile() ? ::lseek(m_descriptor, 0, SEEK_END) : 0;
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

void WalkOutput::Truncate(uint64_t bytes) {
    if (!ToFile()) return;
    if (m_stream.is_open()) m_stream.close();
    if (::ftruncate(m_descriptor, static_cast<off_t>(bytes)) != 0)
        throw Failure(kExitFailure, SystemText("cannot truncate " + m_file));
    m_stream.open(m_file, std::ios::binary | std::ios::app);
    if (!m_stream) throw Failure(kExitFailure, SystemText("cannot open " + m_file));
}

}  // namespace clusterctl
