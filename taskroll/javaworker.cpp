// The worker's side of the Java lookup: every open, folder listing, attribute
// query and read of the performance-data files that a user controls happens
// here, in the restricted worker, never in TaskRoll's own process. TaskRoll
// planned the places (javacmd.cpp) and writes the log from the answer: the
// worker has no log, so whatever the log must say goes into the answer.
#include "javalookup.h"
#include "handles.h"
#include "perffile.h"
#include "versionreader.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

// Entries named hsperfdata_* listed in one temporary directory, whatever they
// are (a directory costs one more query for the file in it): a user with
// thousands of them slows only the lookup of their own process, and only so far.
constexpr std::size_t MAX_PERF_ENTRIES_LISTED = 256;

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
    // No ANSI file function opens a path this long, and the answer could not
    // name it: nothing is lost by not asking.
    if (path.size() > JAVA_PATH_MAX_BYTES)
        return;
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
std::vector<Candidate> FindCandidates(const JavaPlace& place, const std::string& id)
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

// The decoder checked the layout and the length of every SID it let through.
PSID SidOf(const std::vector<unsigned char>& sid)
{
    return const_cast<unsigned char*>(sid.data());
}

// TaskRoll's own TEMP first, then the owner's places in the plan's order.
// One budget for every file of this process, the first one included (which
// always fits: see PERF_DATA_LOOKUP_BYTES).
JavaAnswer SearchPerfDataFiles(const JavaRequest& request)
{
    JavaAnswer answer;
    PerfLookupBudget budget;
    if (!request.tempFile.empty() &&
        ReadPerfDataFile(request.tempFile, "javaCommand", answer.value,
                         request.tempOwnerRule ? SidOf(request.tempOwnerSid) : nullptr, &budget) == PERF_READ) {
        answer.end = JAVA_READ_FROM_TEMP;
        answer.path = request.tempFile;
        return answer;
    }
    const std::string id = std::to_string(static_cast<unsigned long>(request.processId));
    for (const JavaPlace& place : request.places) {
        for (const Candidate& candidate : FindCandidates(place, id)) {
            int code = ReadPerfDataFile(candidate.path, "javaCommand", answer.value,
                                        place.ownerRule ? SidOf(request.ownerSid) : nullptr, &budget);
            // Skipping a file over the budget for a later, smaller one would
            // let that one win over a value this one may hold: the order
            // stops here.
            if (code == PERF_READ || code == PERF_BUDGET_SPENT) {
                answer.end = code == PERF_READ ? JAVA_READ_FROM_PLACE : JAVA_BUDGET_SPENT;
                answer.planIndex = place.planIndex;
                answer.path = candidate.path;
                return answer;
            }
        }
    }
    return answer;
}

}  // namespace

bool AnswerJavaLookup(const unsigned char* request, std::size_t size, std::vector<unsigned char>* answer)
{
    JavaRequest asked;
    if (!DecodeJavaRequest(request, size, &asked))
        return false;
    // Every path it holds fits the answer's bounds: the request's paths were
    // bounded and longer candidates are never made. A value longer than a
    // record can hold is cut to what a record could take of it.
    JavaAnswer found = SearchPerfDataFiles(asked);
    if (found.value.size() > JAVA_VALUE_MAX_BYTES)
        found.value.resize(JAVA_VALUE_MAX_BYTES);
    return EncodeJavaAnswer(found, answer);
}
