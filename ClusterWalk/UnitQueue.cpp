#include "ClusterWalk/UnitQueue.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace clusterwalk {

namespace {

std::runtime_error FileError(const char* what) {
    return std::runtime_error(std::string("walk queue file: ") + what + ": " +
                              std::strerror(errno));
}

// A line of the file without its line end; false at its end.
bool ReadLine(std::FILE* file, std::string& line) {
    line.clear();
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) {
        if (c == '\n') return true;
        line += static_cast<char>(c);
    }
    if (std::ferror(file)) throw FileError("read");
    return !line.empty();
}

WalkUnit ParseSpilled(const std::string& line) {
    WalkUnit unit;
    std::string error;
    // The file is this process's own, unnamed: a line that does not parse is a broken disk.
    if (!ParseUnit(line, unit, error)) throw std::runtime_error("walk queue file: " + error);
    return unit;
}

}  // namespace

CUnitQueue::~CUnitQueue() = default;

CSpillingUnitQueue::CSpillingUnitQueue(size_t memoryUnits, std::string directory)
    : m_memoryUnits(memoryUnits < 2 ? 2 : memoryUnits), m_directory(std::move(directory)) {}

CSpillingUnitQueue::~CSpillingUnitQueue() {
    if (m_file != nullptr) std::fclose(m_file);
}

void CSpillingUnitQueue::Push(WalkUnit unit) {
    m_units.push_back(std::move(unit));
    if (m_units.size() > m_memoryUnits) Spill();
}

bool CSpillingUnitQueue::Pop(WalkUnit& unit) {
    if (m_units.empty() && m_spilled > 0) ReadBack();
    if (m_units.empty()) return false;
    unit = std::move(m_units.back());
    m_units.pop_back();
    return true;
}

bool CSpillingUnitQueue::Empty() const {
    return m_units.empty() && m_spilled == 0;
}

void CSpillingUnitQueue::ForEach(const std::function<void(const WalkUnit&)>& visit) const {
    for (const WalkUnit& unit : m_units) visit(unit);
    if (m_spilled == 0) return;
    if (std::fseek(m_file, m_readOffset, SEEK_SET) != 0) throw FileError("seek");
    std::string line;
    for (size_t i = 0; i < m_spilled && ReadLine(m_file, line); ++i) visit(ParseSpilled(line));
}

void CSpillingUnitQueue::OpenFile() {
    std::string directory = m_directory;
    if (directory.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        directory = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    // Unnamed: nothing is left behind however the process ends, and no other user can read the
    // paths it holds.
    const int descriptor = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor < 0) throw FileError(("open in " + directory).c_str());
    m_file = ::fdopen(descriptor, "w+");
    if (m_file == nullptr) {
        ::close(descriptor);
        throw FileError("fdopen");
    }
}

void CSpillingUnitQueue::Spill() {
    if (m_file == nullptr) OpenFile();
    if (std::fseek(m_file, 0, SEEK_END) != 0) throw FileError("seek");
    const size_t count = m_units.size() / 2;
    for (size_t i = 0; i < count; ++i) {
        const std::string line = FormatUnit(m_units[i]) + '\n';
        if (std::fwrite(line.data(), 1, line.size(), m_file) != line.size())
            throw FileError("write");
    }
    if (std::fflush(m_file) != 0) throw FileError("write");
    m_units.erase(m_units.begin(), m_units.begin() + static_cast<std::ptrdiff_t>(count));
    m_spilled += count;
}

void CSpillingUnitQueue::ReadBack() {
    if (std::fseek(m_file, m_readOffset, SEEK_SET) != 0) throw FileError("seek");
    std::string line;
    const size_t count = std::min(m_spilled, m_memoryUnits / 2);
    for (size_t i = 0; i < count; ++i) {
        if (!ReadLine(m_file, line)) throw std::runtime_error("walk queue file: cut short");
        m_units.push_front(ParseSpilled(line));
    }
    m_spilled -= count;
    m_readOffset = std::ftell(m_file);
    if (m_spilled > 0) return;
    // Read whole: start the file afresh so it does not grow with the walk.
    if (::ftruncate(::fileno(m_file), 0) != 0) throw FileError("truncate");
    m_readOffset = 0;
}

}  // namespace clusterwalk
