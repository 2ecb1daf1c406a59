#include "javacmd.h"

#include "debuglog.h"
#include "files.h"
#include "handles.h"
#include "internal.h"
#include "ownerfacts.h"
#include "perffile.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr DWORD USER_NAME_SIZE = 1024;
// Entries named hsperfdata_* listed in one temporary directory, whatever they
// are (a directory costs one more query for the file in it): a user with
// thousands of them slows only the lookup of their own process, and only so far.
constexpr std::size_t MAX_PERF_ENTRIES_LISTED = 256;

// The line goes out as UTF-16 code units. Standard output is in binary mode
// by now, so each unit reaches the reader as two little-endian bytes, with
// no carriage return added; flushed at once so that it comes before anything
// the driver writes later.
void ReportUserNameError()
{
    static const wchar_t line[] = L"GetUserName error\n";
    std::fwrite(line, sizeof line[0], sizeof line / sizeof line[0] - 1, stdout);
    std::fflush(stdout);
}

struct Candidate {
    std::string path;
    ULONGLONG written;
};

bool IsPlainDirectory(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

void AddCandidate(const std::string& perfDirectory, const std::string& id, std::vector<Candidate>* candidates)
{
    std::string path = perfDirectory + "\\" + id;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return;
    ULARGE_INTEGER written;
    written.LowPart = data.ftLastWriteTime.dwLowDateTime;
    written.HighPart = data.ftLastWriteTime.dwHighDateTime;
    // Kept newest first, a file after those as new as it: a few hundred at
    // most, so a plain insertion costs less code than a sort.
    auto at = candidates->begin();
    while (at != candidates->end() && at->written >= written.QuadPart)
        ++at;
    candidates->insert(at, {path, written.QuadPart});
}

// The files named by the process id in the place's hsperfdata_ directories,
// the newest first, as the virtual machine's own tools take them. A directory
// that is a reparse point is skipped: it could lead anywhere.
std::vector<Candidate> FindCandidates(const OwnerPlace& place, const std::string& id)
{
    std::vector<Candidate> candidates;
    for (const std::string& name : place.names) {
        std::string perfDirectory = place.directory + "\\hsperfdata_" + name;
        if (IsPlainDirectory(GetFileAttributesA(perfDirectory.c_str())))
            AddCandidate(perfDirectory, id, &candidates);
    }
    if (place.anyPerfDirectory) {
        WIN32_FIND_DATAA found;
        handles::FindHandle search(FindFirstFileA((place.directory + "\\hsperfdata_*").c_str(), &found));
        for (std::size_t listed = 0; search && listed < MAX_PERF_ENTRIES_LISTED; ++listed) {
            if (IsPlainDirectory(found.dwFileAttributes))
                AddCandidate(place.directory + "\\" + found.cFileName, id, &candidates);
            if (!FindNextFileA(search.Get(), &found))
                break;
        }
    }
    return candidates;
}

// Where the owner's virtual machine would have put its file. Logs the outcome.
void SearchOwnerPlaces(DWORD processId, HANDLE process, std::string& command, PerfLookupBudget* budget)
{
    ProcessOwner owner;
    OwnerFacts facts;
    if (!GetOwnerFacts(process, &owner, &facts)) {
        LogMessage("Java processing: the owner of process %lu is not known (error %lu); no other place is searched",
                   static_cast<unsigned long>(processId), static_cast<unsigned long>(GetLastError()));
        return;
    }
    const std::string id = std::to_string(static_cast<unsigned long>(processId));
    for (const OwnerPlace& place : PlanOwnerPlaces(facts)) {
        // The plan holds fixed disks only; what the drive is now is asked again.
        if (!IsOnLocalVolume(place.directory.c_str())) {
            LogMessage("Java processing: %s is on a network path, or on a drive not known to be local; it is not "
                       "searched",
                       place.directory.c_str());
            continue;
        }
        for (const Candidate& candidate : FindCandidates(place, id)) {
            std::string value;
            int code = ReadPerfDataFile(candidate.path, "javaCommand", value,
                                        place.ownerRule ? owner.sid : nullptr, budget);
            if (code == PERF_READ) {
                LogMessage("Java processing: command read from %s, a place of the process's owner %s",
                           candidate.path.c_str(), owner.sidText);
                command = value;
                return;
            }
            // Skipping this file for a later, smaller one would let that one
            // win over a value this one may hold: the order stops here.
            if (code == PERF_BUDGET_SPENT) {
                LogMessage("Java processing: search for process %lu stopped before %s: one process may have at "
                           "most %lu MiB searched in at most %d files; its path stays",
                           static_cast<unsigned long>(processId), candidate.path.c_str(),
                           static_cast<unsigned long>(PERF_DATA_LOOKUP_BYTES >> 20), PERF_DATA_LOOKUP_FILES);
                return;
            }
        }
    }
    LogMessage("Java processing: no performance-data file for process %lu in the places of its owner %s",
               static_cast<unsigned long>(processId), owner.sidText);
}

}  // namespace

std::string GetPerfDataDir()
{
    char userName[USER_NAME_SIZE] = {};
    DWORD userNameSize = USER_NAME_SIZE;
    // Without the user name there is no directory to look in; a name relative
    // to the current directory would let a file planted there pass for a
    // process's command.
    if (!GetUserNameA(userName, &userNameSize)) {
        ReportUserNameError();
        return std::string();
    }
    const char* temp = std::getenv("TEMP");
    if (temp == nullptr)
        return std::string();
    // Joined as they are: a TEMP ending in a backslash gives two in a row,
    // which the file system accepts.
    return std::string(temp) + "\\" + "hsperfdata_" + userName + "\\";
}

void GetJavaCommandLine(DWORD processId, std::string& command, HANDLE process)
{
    // Run as SYSTEM, TaskRoll's own TEMP is the system's Temp, where every
    // user can make an hsperfdata_SYSTEM directory and a file named by the id
    // of another user's process. A file there speaks for a process only when
    // its owner is the process's owner, SYSTEM or the Administrators; where the
    // owner cannot be told (list mode, a token that cannot be read), the file
    // is taken as it always was.
    BYTE ownerSid[SECURITY_MAX_SID_SIZE];
    bool ownerKnown = process != nullptr && GetOwnerSid(process, ownerSid);
    // One budget for every file of this process, this first one included
    // (which always fits: see PERF_DATA_LOOKUP_BYTES).
    PerfLookupBudget budget;
    std::string path = GetPerfDataDir();
    // A TEMP on a share (a roaming setup, or whatever a user set for an
    // interactive run) is not looked in: no open, no look-up there.
    if (!path.empty() && !IsOnLocalVolume(path.c_str())) {
        LogMessage("Java processing: %s is on a network path, or on a drive not known to be local; it is not "
                   "searched",
                   path.c_str());
        path.clear();
    }
    if (!path.empty()) {
        path += std::to_string(static_cast<unsigned long>(processId));
        std::string value;
        if (ReadPerfDataFile(path, "javaCommand", value, ownerKnown ? ownerSid : nullptr, &budget) == PERF_READ) {
            command = value;
            return;
        }
    }
    if (process != nullptr)
        SearchOwnerPlaces(processId, process, command, &budget);
}
