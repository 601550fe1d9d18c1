#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <utility>

extern char** environ;

namespace child {
namespace {

// Everything execve needs, built before fork.
class Command {
  public:
    Command(const std::string& program, const Strings& args, const Strings& extraEnvironment,
            size_t stackBytes)
        : m_stackBytes(stackBytes) {
        m_strings.push_back(program);
        m_strings.insert(m_strings.end(), args.begin(), args.end());
        const size_t argumentCount = m_strings.size();
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::string(*entry).rfind("CLUSTER_", 0) != 0) m_strings.push_back(*entry);
        }
        m_strings.insert(m_strings.end(), extraEnvironment.begin(), extraEnvironment.end());
        for (size_t i = 0; i < m_strings.size(); ++i) {
            (i < argumentCount ? m_argv : m_envp).push_back(m_strings[i].data());
        }
        m_argv.push_back(nullptr);
        m_envp.push_back(nullptr);
    }

    // Runs in the forked child: system calls only.
    [[noreturn]] void Exec() const {
        if (m_stackBytes != 0) {
            const struct rlimit stack = {m_stackBytes, m_stackBytes};
            if (setrlimit(RLIMIT_STACK, &stack) != 0) _exit(126);
        }
        execve(m_argv[0], m_argv.data(), m_envp.data());
        _exit(127);
    }

  private:
    size_t m_stackBytes;
    Strings m_strings;
    std::vector<char*> m_argv;
    std::vector<char*> m_envp;
};

void WaitForExit(pid_t pid, Outcome& run) {
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// Reads every descriptor to its end; `onRead` may answer on the terminal. Kills the child
// when it outlives the run limit.
template <class OnRead>
void Drain(pid_t pid, std::vector<std::pair<int, std::string*>> sources, const Options& options,
           Outcome& run, OnRead onRead) {
    const auto deadline = std::chrono::steady_clock::now() + options.runLimit;
    while (!sources.empty()) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            run.timedOut = true;
            for (const auto& source : sources) close(source.first);
            return;
        }
        std::vector<pollfd> polled;
        for (const auto& source : sources) polled.push_back({source.first, POLLIN, 0});
        if (poll(polled.data(), polled.size(), 200) <= 0) continue;
        for (size_t i = polled.size(); i-- > 0;) {
            if (polled[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t got = read(sources[i].first, buffer, sizeof buffer);
            if (got <= 0) {
                close(sources[i].first);
                sources.erase(sources.begin() + static_cast<long>(i));
                continue;
            }
            sources[i].second->append(buffer, static_cast<size_t>(got));
            onRead(*sources[i].second);
        }
    }
}

}  // namespace

Outcome Run(const std::string& program, const Strings& args, const Strings& environment,
            const Options& options) {
    const Command command(program, args, environment, options.stackBytes);
    Outcome run;
    const int outFile =
        options.stdoutFile.empty() ? -1 : open(options.stdoutFile.c_str(), O_WRONLY | O_CLOEXEC);
    if (!options.stdoutFile.empty() && outFile < 0) return run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return run;
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(devNull, STDIN_FILENO);
        dup2(outFile >= 0 ? outFile : out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        command.Exec();
    }
    close(devNull);
    if (outFile >= 0) close(outFile);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return run;
    }
    if (options.onStart) options.onStart(pid);
    Drain(pid, {{out[0], &run.out}, {err[0], &run.err}}, options, run, [](const std::string&) {});
    WaitForExit(pid, run);
    return run;
}

Outcome RunOnTerminal(const std::string& program, const Strings& args, const Strings& environment,
                      const std::string& prompt, const std::string& typed, const Options& options) {
    const Command command(program, args, environment, options.stackBytes);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) command.Exec();
    Outcome run;
    if (pid < 0) return run;
    if (options.onStart) options.onStart(pid);
    bool answered = typed.empty();
    Drain(pid, {{terminal, &run.out}}, options, run, [&](const std::string& shown) {
        if (!answered && shown.find(prompt) != std::string::npos) {
            answered =
                write(terminal, typed.data(), typed.size()) == static_cast<ssize_t>(typed.size());
        }
    });
    WaitForExit(pid, run);
    return run;
}

uint64_t FileSize(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

Outcome SignalWhenFileHolds(const std::string& file, uint64_t bytes, int signal, Options options,
                            const std::function<Outcome(const Options&)>& run) {
    std::atomic<bool> done{false};
    std::thread watcher;
    const std::function<void(pid_t)> started = options.onStart;
    options.onStart = [&](pid_t pid) {
        if (started) started(pid);
        watcher = std::thread([&, pid] {
            while (!done && FileSize(file) < bytes)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (!done) ::kill(pid, signal);
        });
    };
    Outcome outcome = run(options);
    done = true;
    if (watcher.joinable()) watcher.join();
    return outcome;
}

}  // namespace child
