#include "StateFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace clustersim {
namespace {

bool Failed(std::string* error, const std::string& what) {
    *error = what + ": " + std::strerror(errno);
    return false;
}

// Like `mkdir -p`, but what it makes only its owner may enter.
bool MakeFolders(const std::string& dir, std::string* error) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string prefix = dir.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return Failed(error, "cannot make the state folder " + prefix);
        }
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    if (stat(dir.c_str(), &info) != 0) return Failed(error, "cannot use the state folder " + dir);
    if (!S_ISDIR(info.st_mode)) {
        *error = "the state folder " + dir + " is not a folder";
        return false;
    }
    return true;
}

// 0 once locked, otherwise the errno that stopped it (EWOULDBLOCK: still held by another run).
int Lock(int fd, int waitSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) return errno;
        if (std::chrono::steady_clock::now() >= deadline) return EWOULDBLOCK;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

bool WritePid(int fd) {
    const std::string pid = std::to_string(getpid()) + "\n";
    return ftruncate(fd, 0) == 0 &&
           pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
}

// What the holder wrote in the lock file: its process id, or nothing usable.
std::string HolderPid(int fd) {
    char text[32] = {};
    const ssize_t got = pread(fd, text, sizeof(text) - 1, 0);
    std::string pid(text, static_cast<size_t>(std::max<ssize_t>(got, 0)));
    pid.erase(std::find_if_not(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }),
              pid.end());
    return pid;
}

bool WriteAll(int fd, const std::string& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// A rename is only durable once the folder holding it is synced.
bool SyncFolder(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

}  // namespace

std::unique_ptr<StateFolder> StateFolder::Open(const std::string& dir, int waitSeconds,
                                               std::string* error) {
    if (!MakeFolders(dir, error)) return nullptr;
    const std::string lockPath = dir + "/lock";
    // Close-on-exec, so programs the run starts do not go on holding the lock after it.
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        Failed(error, "cannot open " + lockPath);
        return nullptr;
    }
    const int failure = Lock(fd, std::max(waitSeconds, 0));
    if (failure == 0 && WritePid(fd)) return std::unique_ptr<StateFolder>(new StateFolder(dir, fd));
    if (failure == EWOULDBLOCK) {
        const std::string pid = HolderPid(fd);
        *error = "the simulated cluster's state folder " + dir + " is in use by another run" +
                 (pid.empty() ? "" : " (process " + pid + ")") + "; try again when it ends";
    } else {
        errno = failure != 0 ? failure : errno;
        Failed(error, "cannot lock " + lockPath);
    }
    close(fd);
    return nullptr;
}

StateFolder::~StateFolder() {
    close(m_lockFd);
}

bool StateFolder::Read(std::optional<std::string>* bytes, std::string* error) const {
    const int fd = open(StatePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        bytes->reset();
        return true;
    }
    if (fd < 0) return Failed(error, "cannot open " + StatePath());
    std::string content;
    char buffer[1 << 16];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof(buffer))) > 0) {
        content.append(buffer, static_cast<size_t>(got));
    }
    if (got < 0) Failed(error, "cannot read " + StatePath());
    close(fd);
    if (got < 0) return false;
    *bytes = std::move(content);
    return true;
}

bool StateFolder::Write(const std::string& bytes, std::string* error) const {
    const std::string temporary = m_dir + "/state.tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return Failed(error, "cannot create " + temporary);
    if (!WriteAll(fd, bytes) || fsync(fd) != 0) {
        Failed(error, "cannot write " + temporary);
        close(fd);
        return false;
    }
    if (close(fd) != 0) return Failed(error, "cannot write " + temporary);
    if (rename(temporary.c_str(), StatePath().c_str()) != 0) {
        return Failed(error, "cannot replace " + StatePath());
    }
    if (!SyncFolder(m_dir)) return Failed(error, "cannot sync the state folder " + m_dir);
    return true;
}

}  // namespace clustersim
