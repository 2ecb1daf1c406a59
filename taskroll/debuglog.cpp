#include "debuglog.h"

#include "handles.h"
#include "internal.h"
#include "text.h"

#include <windows.h>
#include <mbstring.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Closed by FreeLogFile, or at the latest when the program ends.
handles::FileHandle s_log;
bool s_logTried = false;

constexpr unsigned LOG_NAME_SIZE = 261;
// The time prefix and the message may hold 1021 characters together, so that
// CR LF and the NUL still fit in 1024 bytes.
constexpr unsigned LOG_TEXT_LIMIT = 1021;

void LogBanner(const char* format, ...) TASKROLL_PRINTF_FORMAT(1, 2);

}  // namespace

bool MakeLogPath(const char* executablePath, char* logPath, unsigned logPathSize)
{
    if (!CopyBounded(logPath, logPathSize, executablePath))
        return false;
    // Multibyte-aware: a trail byte of a double-byte character is never turned
    // into a different letter.
    _mbslwr(reinterpret_cast<unsigned char*>(logPath));
    std::size_t length = std::strlen(logPath);
    // ".exe" at the very end is always on a character boundary: '.' is not a
    // valid trail byte in any double-byte code page.
    if (length < 4 || std::strcmp(logPath + length - 4, ".exe") != 0)
        return false;
    std::memcpy(logPath + length - 4, ".log", 4);
    return true;
}

void InitLogFile()
{
    if (s_logTried)
        return;
    s_logTried = true;

    char executablePath[LOG_NAME_SIZE] = {};
    char logPath[LOG_NAME_SIZE] = {};
    GetModuleFileNameA(nullptr, executablePath, LOG_NAME_SIZE - 1);
    if (!MakeLogPath(executablePath, logPath, LOG_NAME_SIZE))
        return;

    // Share read only: a second instance cannot write into the same log and
    // runs without one. OPEN_ALWAYS keeps what earlier runs wrote.
    s_log.Reset(CreateFileA(logPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!s_log)
        return;
    LogBanner("\r\n\r\n\r\n\r\n\r\n===============");
    LogMessage("Logging started");
}

namespace {

// One time-stamped line. A CR or LF inside the message (a file's description,
// a path, a Java command) becomes a space, so that no text read from a file
// can end the line early and forge the lines after it; only the run banner
// keeps its own line breaks.
void WriteLogLine(bool keepLineBreaks, const char* format, va_list arguments)
{
    if (!s_log)
        return;
    DWORD savedError = GetLastError();

    char line[LOG_LINE_SIZE] = {};
    std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    std::size_t prefixLength = local ? std::strftime(line, 128, "%H:%M:%S: ", local) : 0;
    line[prefixLength] = '\0';

    // A message too long for the line is cut, so that the line still ends in CR LF.
    int expanded = std::vsnprintf(line + prefixLength, LOG_TEXT_LIMIT + 1 - prefixLength, format, arguments);
    if (expanded < 0)
        line[prefixLength] = '\0';
    if (!keepLineBreaks) {
        for (char* c = line + prefixLength; *c != '\0'; ++c) {
            if (*c == '\r' || *c == '\n')
                *c = ' ';
        }
    }
    AppendBounded(line, LOG_TEXT_LIMIT + 3, "\r\n");

    SetFilePointer(s_log.Get(), 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(s_log.Get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    FlushFileBuffers(s_log.Get());
    // Callers read GetLastError after logging a failure; the write must not change it.
    SetLastError(savedError);
}

void LogBanner(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    WriteLogLine(true, format, arguments);
    va_end(arguments);
}

}  // namespace

void LogMessage(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    WriteLogLine(false, format, arguments);
    va_end(arguments);
}

void FreeLogFile()
{
    if (!s_log)
        return;
    LogTrace("FreeLogFile");
    s_log.Reset();
}

bool IsLogOpen()
{
    return static_cast<bool>(s_log);
}

void LogTrace(const char* functionName)
{
    if (s_log)
        LogMessage("(%lu) >>>> Function: %s", static_cast<unsigned long>(GetTickCount()), functionName);
}
