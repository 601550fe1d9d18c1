#include "Signals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

#include "ExitStatus.h"

namespace clusterctl {
namespace {

struct termios g_terminalSettings;
std::atomic<bool> g_restoreTerminal{false};
std::atomic<bool> g_progressShown{false};
std::atomic<bool> g_walkStoppable{false};
std::atomic<int> g_notedSignal{0};

void Write(const char* text, size_t length) {
    while (length > 0) {
        const ssize_t written = write(STDERR_FILENO, text, length);
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

template <size_t N>
void Write(const char (&text)[N]) {
    Write(text, N - 1);
}

void EndOnSignal(int signalNumber) {
    int none = 0;
    if (g_walkStoppable && g_notedSignal.compare_exchange_strong(none, signalNumber)) return;
    if (g_restoreTerminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_terminalSettings);
        Write("\n");  // the user's line had no echoed end
    }
    if (g_progressShown) Write("\r\033[K");
    if (signalNumber == SIGINT) {
        Write("clusterctl: interrupted\n");
        _exit(kExitInterrupted);
    }
    Write("clusterctl: terminated\n");
    _exit(kExitTerminated);
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = EndOnSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void RememberTerminalSettings(const struct termios& settings) {
    g_terminalSettings = settings;
    g_restoreTerminal = true;
}

void ForgetTerminalSettings() {
    g_restoreTerminal = false;
}

void SetProgressLineShown(bool shown) {
    g_progressShown = shown;
}

void SetWalkStoppable(bool stoppable) {
    g_walkStoppable = stoppable;
}

int NotedSignal() {
    return g_notedSignal;
}

}  // namespace clusterctl
