// What Ctrl-C and SIGTERM (as cron and systemd send it) leave behind: the terminal as it was
// (echo back on, no half-drawn progress line), one line saying so, and the conventional
// status (130, 143). The handler does only async-signal-safe work and ends the process there;
// a blocking transfer is not waited for. During a walk the first signal is only noted, so the
// walk can stop and save its checkpoint; a second one ends the process at once.
#pragma once

#include <termios.h>

namespace clusterctl {

void InstallInterruptHandlers();

// While a prompt has echo off: the settings to restore on interruption.
void RememberTerminalSettings(const struct termios& settings);
void ForgetTerminalSettings();

// While a progress line is drawn on stderr: the handler clears it.
void SetProgressLineShown(bool shown);

// While true, the first SIGINT or SIGTERM is noted instead of ending the process.
void SetWalkStoppable(bool stoppable);
// The signal noted during the walk; 0 while none came.
int NotedSignal();

}  // namespace clusterctl
