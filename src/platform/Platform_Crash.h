// Unhandled-fault handler: on SIGSEGV, SIGBUS, SIGFPE or SIGILL the fault's text is appended
// to a log file in the working folder and written to stderr, shown in a message box when the
// program runs an SDL window, then the process ends.
#pragma once

// Installs the handler process-wide, on its own stack. logName is copied (at most 255
// bytes). Returns false when the handler could not be installed.
bool Platform_Crash_Install(const char* logName);

// Exit status of a process that the handler ended.
constexpr int kPlatformCrashExitCode = 3;
