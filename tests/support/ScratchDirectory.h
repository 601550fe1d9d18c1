// A private directory for the files one test writes, removed with everything in it. Made with
// mkdtemp, so tests running in parallel never share one.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

class ScratchDirectory {
  public:
    explicit ScratchDirectory(const std::string& prefix = "scratch") {
        std::string pattern = ::testing::TempDir() + prefix + "-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~ScratchDirectory() {
        if (!m_path.empty()) std::system(("rm -rf '" + m_path + "'").c_str());
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& Path() const { return m_path; }

    // Writes `text` to `name` below the directory, readable by its owner only.
    std::string Write(const std::string& name, const std::string& text) const {
        const std::string file = m_path + "/" + name;
        std::ofstream(file) << text;
        chmod(file.c_str(), 0600);
        return file;
    }

  private:
    std::string m_path;
};
