#include "Prompts.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "Signals.h"
#include "TerminalText.h"
#include "UsageError.h"

namespace clusterctl {
namespace {

void StripLineEnd(std::string& line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
}

std::string ReadLine(std::FILE* file) {
    std::string line;
    for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) {
        line += static_cast<char>(c);
    }
    StripLineEnd(line);
    return line;
}

// Echo must not stay off in the user's shell, also when the prompt is interrupted.
class EchoOff {
  public:
    EchoOff() {
        tcgetattr(STDIN_FILENO, &m_saved);
        struct termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        RememberTerminalSettings(m_saved);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
        ForgetTerminalSettings();
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    struct termios m_saved {};
};

// As ssh does for keys: the file is still used, but its owner should know others can read it.
void WarnIfReadableByOthers(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || (status.st_mode & (S_IRGRP | S_IROTH)) == 0) return;
    std::fprintf(stderr,
                 "clusterctl: warning: the password file %s is readable by group or others "
                 "(mode %04o); make it private with chmod 600\n",
                 EscapeForTerminal(path).c_str(), static_cast<unsigned>(status.st_mode & 07777));
}

}  // namespace

std::string ReadPasswordFile(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || (!std::getline(file, line) && file.bad())) {
        throw UsageError("cannot read a password from " + path);
    }
    StripLineEnd(line);
    if (line.empty()) throw UsageError("the password file " + path + " holds no password");
    WarnIfReadableByOthers(path);
    return line;
}

std::string PromptForPassword(const std::string& prompt) {
    if (!isatty(STDIN_FILENO)) {
        throw UsageError(
            "no password: set CLUSTER_PASSWORD, give --password-file, or run on a terminal");
    }
    std::string password;
    {
        // Echo goes off before the prompt shows, so nothing typed after it can be echoed.
        EchoOff echoOff;
        std::fputs(prompt.c_str(), stderr);
        std::fflush(stderr);
        password = ReadLine(stdin);
    }
    std::fputs("\n", stderr);  // the user's Enter was not echoed
    return password;
}

bool Confirm(const std::string& question) {
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    const std::string answer = ReadLine(stdin);
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

}  // namespace clusterctl
