#pragma once
// The appending debug log beside the executable. Every message of TaskRoll goes
// through LogMessage, which writes nothing while the log is closed.

#if defined(__GNUC__)
#define TASKROLL_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define TASKROLL_PRINTF_FORMAT(f, a)
#endif

constexpr unsigned LOG_LINE_SIZE = 1025;  // the line buffer, NUL included

// Opens the log on the first call of a run; every later call does nothing.
void InitLogFile();
void LogMessage(const char* format, ...) TASKROLL_PRINTF_FORMAT(1, 2);
void FreeLogFile();
// The trace line "(tick) >>>> Function: name", written only while the log is open.
void LogTrace(const char* functionName);
