#include "debuglog.h"

#include "handles.h"
#include "internal.h"
#include "output.h"
#include "text.h"

#include <windows.h>
#include <mbstring.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

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

namespace {

// The log path for the executable's wide path. A path that the ANSI code page
// holds gets the log name it always had; one outside it (a folder named in
// Cyrillic on a Western machine) lower-cases its ASCII letters alone, which
// every code page leaves as they are, so that it names the same folder.
bool MakeWideLogPath(const wchar_t* executablePath, std::wstring* logPath)
{
    std::string ansi;
    if (ToAnsiLossless(executablePath, &ansi)) {
        char log[LOG_NAME_SIZE] = {};
        wchar_t wide[LOG_NAME_SIZE] = {};
        if (!MakeLogPath(ansi.c_str(), log, LOG_NAME_SIZE) ||
            MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, log, -1, wide, LOG_NAME_SIZE) == 0)
            return false;
        *logPath = wide;
        return true;
    }
    std::wstring path = executablePath;
    for (wchar_t& c : path)
        c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    if (path.size() < 4 || path.compare(path.size() - 4, 4, L".exe") != 0)
        return false;
    *logPath = path.substr(0, path.size() - 4) + L".log";
    return true;
}

// The one line on standard error for a log that is not written; the run goes on.
void ReportLogFailure(const std::wstring& logPath, const char* reason, DWORD error)
{
    char message[LOG_LINE_SIZE] = {};
    if (reason[0] == '\0' && FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            error, 0, message, sizeof message, nullptr) == 0)
        std::snprintf(message, sizeof message, "error %lu", static_cast<unsigned long>(error));
    std::size_t length = std::strlen(message);
    while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' || message[length - 1] == ' '))
        message[--length] = '\0';
    std::fprintf(stderr, "TaskRoll: cannot open the debug log: %s: %s\n", MessagePath(logPath).c_str(),
                 reason[0] != '\0' ? reason : message);
}

}  // namespace

void InitLogFile()
{
    if (s_logTried)
        return;
    s_logTried = true;

    wchar_t executablePath[LOG_NAME_SIZE] = {};
    std::wstring logPath;
    GetModuleFileNameW(nullptr, executablePath, LOG_NAME_SIZE - 1);
    if (!MakeWideLogPath(executablePath, &logPath))
        return;

    // Append-only and shared for writing: every line goes to the end of the
    // file as one write, also when runs overlap, so that each run's lines are
    // kept whole. OPEN_ALWAYS keeps what earlier runs wrote. A link planted in
    // place of the log (beside a program in a folder that users can write) is
    // opened as itself and refused, as processes.dat is.
    handles::FileHandle log(CreateFileWithin(logPath, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                                             FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT));
    DWORD error = GetLastError();
    OutputFileFacts facts = {};
    BY_HANDLE_FILE_INFORMATION info = {};
    facts.opened = static_cast<bool>(log);
    facts.described = facts.opened && GetFileInformationByHandle(log.Get(), &info) != 0;
    if (facts.opened && !facts.described)
        error = GetLastError();
    facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.links = info.nNumberOfLinks;
    OutputVerdict verdict = JudgeLogFile(facts);
    if (verdict.failure != RUN_LISTED) {
        ReportLogFailure(logPath, LogRefusalReason(verdict.refusal), error);
        return;
    }
    s_log = std::move(log);
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

    // Both offsets all ones: the write goes to the end of the file as it is
    // then, whatever another run appended meanwhile.
    OVERLAPPED atEnd = {};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    WriteFile(s_log.Get(), line, static_cast<DWORD>(std::strlen(line)), &written, &atEnd);
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
