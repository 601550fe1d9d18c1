#include "ClusterWalk/Checkpoint.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <stdexcept>

#include "ClusterWalk/TextFields.h"

namespace clusterwalk {

namespace {

constexpr CheckpointFormat kWalkFormat{"clusterwalk-checkpoint 1", "walk", 2};
// Of a file in another format, so much of its first line is named.
constexpr size_t kMagicShown = 40;

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string TotalsLine(const WalkTotals& totals) {
    return "totals " + std::to_string(totals.directoriesListed) + ' ' +
           std::to_string(totals.pages) + ' ' + std::to_string(totals.entries) + ' ' +
           std::to_string(totals.bytes) + ' ' + std::to_string(totals.vanished) + ' ' +
           std::to_string(totals.loops);
}

bool ParseTotals(const std::string& line, WalkTotals& totals) {
    const std::vector<std::string> fields = SplitText(line, ' ');
    if (fields.size() != 7 || fields[0] != "totals") return false;
    uint64_t* const targets[] = {&totals.directoriesListed, &totals.pages,
                                 &totals.entries,           &totals.bytes,
                                 &totals.vanished,          &totals.loops};
    for (size_t i = 0; i < 6; ++i) {
        if (!ParseDecimal(fields[i + 1], *targets[i])) return false;
    }
    return true;
}

bool ParseNote(const std::string& line, std::string& note) {
    const std::string tag = "note ";
    return line.compare(0, tag.size(), tag) == 0 && UnescapeField(line.substr(tag.size()), note);
}

// The directory's own entry must reach the disk too, or the rename may be lost in a crash.
bool SyncDirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool synced = ::fsync(descriptor) == 0;
    ::close(descriptor);
    return synced;
}

class CTemporaryFile {
  public:
    explicit CTemporaryFile(std::string path) : m_path(std::move(path)) {
        const int descriptor =
            ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (descriptor < 0) throw std::runtime_error(SystemError("cannot create", m_path));
        m_file = ::fdopen(descriptor, "w");
        if (m_file == nullptr) {
            ::close(descriptor);
            throw std::runtime_error(SystemError("cannot open", m_path));
        }
    }
    ~CTemporaryFile() {
        if (m_file != nullptr) std::fclose(m_file);
        if (!m_kept) ::unlink(m_path.c_str());
    }
    void WriteLine(const std::string& line) {
        if (std::fwrite(line.data(), 1, line.size(), m_file) != line.size() ||
            std::fputc('\n', m_file) == EOF)
            throw std::runtime_error(SystemError("cannot write", m_path));
    }
    void Replace(const std::string& target) {
        const bool written = std::fflush(m_file) == 0 && ::fsync(::fileno(m_file)) == 0;
        const bool closed = std::fclose(m_file) == 0;
        m_file = nullptr;
        if (!written || !closed) throw std::runtime_error(SystemError("cannot write", m_path));
        if (::rename(m_path.c_str(), target.c_str()) != 0)
            throw std::runtime_error(SystemError("cannot rename over", target));
        m_kept = true;
        if (!SyncDirectoryOf(target)) throw std::runtime_error(SystemError("cannot sync", target));
    }

  private:
    std::string m_path;
    std::FILE* m_file = nullptr;
    bool m_kept = false;
};

}  // namespace

CCheckpointFile::CCheckpointFile() = default;

CCheckpointFile::~CCheckpointFile() {
    if (m_lock >= 0) ::close(m_lock);
}

bool CCheckpointFile::Open(const std::string& path, std::string& error) {
    const std::string lockPath = path + ".lock";
    const int descriptor = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        error = SystemError("cannot open the lock file", lockPath);
        return false;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "checkpoint " + path + " is in use by another run"
                                     : SystemError("cannot lock", lockPath);
        ::close(descriptor);
        return false;
    }
    if (m_lock >= 0) ::close(m_lock);
    m_lock = descriptor;
    m_path = path;
    return true;
}

bool CCheckpointFile::Exists() const {
    struct stat status;
    return !m_path.empty() && ::stat(m_path.c_str(), &status) == 0;
}

bool CCheckpointFile::LoadLines(const CheckpointFormat& format, const LineReader& reader,
                                std::string& error) const {
    std::ifstream in(m_path, std::ios::binary);
    if (!in) {
        error = SystemError("cannot read", m_path);
        return false;
    }
    std::string line;
    size_t number = 0;
    auto fail = [&](const std::string& what) {
        error = m_path + " line " + std::to_string(number) + ": " + what;
        return false;
    };
    auto next = [&] {
        if (!std::getline(in, line)) return false;
        ++number;
        return true;
    };
    try {
        if (!next()) return fail("empty, not a " + std::string(format.kind) + " checkpoint");
        if (line != format.magic)
            return fail("not a " + std::string(format.kind) + " checkpoint: it begins with [" +
                        EscapeField(line.substr(0, kMagicShown)) + "]");
        size_t index = 0;
        while (next()) {
            if (index >= format.headerLines && line.compare(0, 4, "end ") == 0) {
                uint64_t count = 0;
                if (!ParseDecimal(line.substr(4), count) || count != index - format.headerLines)
                    return fail("record count does not match");
                return true;
            }
            std::string why;
            if (!reader(index, line, why)) return fail(why);
            ++index;
        }
        return fail("cut short: no end line");
    } catch (const std::exception& exception) {
        return fail(exception.what());
    }
}

bool CCheckpointFile::SaveLines(const CheckpointFormat& format,
                                const std::function<void(const LineVisitor&)>& forEachLine,
                                std::string& error) {
    try {
        CTemporaryFile file(m_path + ".new");
        file.WriteLine(format.magic);
        size_t lines = 0;
        forEachLine([&](const std::string& line) {
            if (line.find('\n') != std::string::npos)
                throw std::invalid_argument("a checkpoint line holds a line break");
            file.WriteLine(line);
            ++lines;
        });
        if (lines < format.headerLines) throw std::invalid_argument("checkpoint header cut short");
        file.WriteLine("end " + std::to_string(lines - format.headerLines));
        file.Replace(m_path);
        return true;
    } catch (const std::exception& exception) {
        error = "checkpoint not saved: " + std::string(exception.what());
        return false;
    }
}

bool CCheckpointFile::Load(CheckpointHeader& header, const UnitVisitor& unit,
                           std::string& error) const {
    CheckpointHeader loaded;
    const bool read = LoadLines(
        kWalkFormat,
        [&](size_t index, const std::string& line, std::string& why) {
            if (index == 0) {
                why = "bad totals";
                return ParseTotals(line, loaded.totals);
            }
            if (index == 1) {
                why = "bad note";
                return ParseNote(line, loaded.note);
            }
            WalkUnit parsed;
            if (!ParseUnit(line, parsed, why)) return false;
            unit(parsed);
            return true;
        },
        error);
    if (read) header = std::move(loaded);
    return read;
}

bool CCheckpointFile::Save(const CheckpointHeader& header,
                           const std::function<void(const UnitVisitor&)>& forEachUnit,
                           std::string& error) {
    return SaveLines(
        kWalkFormat,
        [&](const LineVisitor& write) {
            write(TotalsLine(header.totals));
            write("note " + EscapeField(header.note));
            forEachUnit([&](const WalkUnit& unit) {
                const std::string line = FormatUnit(unit);
                if (line.empty()) throw std::bad_alloc();
                write(line);
            });
        },
        error);
}

bool CCheckpointFile::Remove(std::string& error) {
    if (::unlink(m_path.c_str()) == 0 || errno == ENOENT) return true;
    error = SystemError("cannot remove", m_path);
    return false;
}

}  // namespace clusterwalk
