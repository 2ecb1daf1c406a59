#include "javacmd.h"

#include "debuglog.h"
#include "files.h"
#include "handles.h"
#include "internal.h"
#include "javalookup.h"
#include "ownerfacts.h"
#include "versionreader.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr DWORD USER_NAME_SIZE = 1024;

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

// A directory on a share is never looked in: an open there would have
// TaskRoll authenticate to whatever server a user names, and wait for it.
void LogNotSearched(const std::string& directory)
{
    LogMessage("Java processing: %s is on a network path, or on a drive not known to be local; it is not searched",
               directory.c_str());
}

// A place of the plan that is not sent to the worker.
struct NetworkPlace {
    std::uint32_t planIndex;
    std::string directory;
};

// The owner's places as planned: those on local volumes go into `request`,
// the others into `network`. False when the owner is not known, with the
// error in `error`.
bool PlanJavaPlaces(HANDLE process, ProcessOwner* owner, JavaRequest* request, std::vector<NetworkPlace>* network,
                    DWORD* error)
{
    OwnerFacts facts;
    if (!GetOwnerFacts(process, owner, &facts)) {
        *error = GetLastError();
        return false;
    }
    request->ownerKnown = true;
    request->ownerSid.assign(owner->sid, owner->sid + GetLengthSid(owner->sid));
    request->ownerSidText = owner->sidText;
    // The plan has a handful of places, far fewer than a request may hold.
    const std::vector<OwnerPlace> plan = PlanOwnerPlaces(facts);
    for (std::uint32_t index = 0; index < plan.size() && index < JAVA_PLACES_MAX; ++index) {
        const OwnerPlace& place = plan[index];
        // The plan holds fixed disks only; what the drive is now is asked again.
        if (!IsOnLocalVolume(place.directory.c_str())) {
            network->push_back({index, place.directory});
            continue;
        }
        request->places.push_back({index, place.directory, place.anyPerfDirectory, place.names, place.ownerRule});
    }
    return true;
}

// The worker's answer, checked as untrusted: one that is no answer, or none to
// what was asked, is taken as a failed worker. Nothing to search asks no worker.
ReaderAnswer AskJavaWorker(const JavaRequest& request, JavaAnswer* answer)
{
    if (request.tempFile.empty() && request.places.empty()) {
        *answer = JavaAnswer();
        return READER_ANSWERED;
    }
    std::vector<unsigned char> asked, reply;
    if (!EncodeJavaRequest(request, &asked))
        return READER_FAILED;
    const ReaderAnswer outcome = AskJavaLookup(asked, &reply);
    if (outcome != READER_ANSWERED)
        return outcome;
    if (!DecodeJavaAnswer(reply.data(), reply.size(), answer) || !JavaAnswerFitsRequest(request, *answer))
        return READER_FAILED;
    return READER_ANSWERED;
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
    const unsigned long id = static_cast<unsigned long>(processId);
    JavaRequest request;
    request.processId = processId;
    // Run as SYSTEM, TaskRoll's own TEMP is the system's Temp, where every
    // user can make an hsperfdata_SYSTEM directory and a file named by the id
    // of another user's process. A file there speaks for a process only when
    // its owner is the process's owner, SYSTEM or the Administrators; where the
    // owner cannot be told (list mode, a token that cannot be read), the file
    // is taken as it always was.
    BYTE ownerSid[SECURITY_MAX_SID_SIZE];
    bool ownerKnown = process != nullptr && GetOwnerSid(process, ownerSid);
    std::string path = GetPerfDataDir();
    // A TEMP on a share (a roaming setup, or whatever a user set for an
    // interactive run) is not looked in: no open, no look-up there.
    if (!path.empty() && !IsOnLocalVolume(path.c_str())) {
        LogNotSearched(path);
        path.clear();
    }
    // A longer path opens with no ANSI file function: nothing is read there.
    if (!path.empty() && path.size() + 10 <= JAVA_PATH_MAX_BYTES) {
        request.tempFile = path + std::to_string(id);
        request.tempOwnerRule = ownerKnown;
        if (ownerKnown)
            request.tempOwnerSid.assign(ownerSid, ownerSid + GetLengthSid(ownerSid));
    }
    ProcessOwner owner;
    std::vector<NetworkPlace> network;
    DWORD ownerError = 0;
    const bool placesKnown = process != nullptr && PlanJavaPlaces(process, &owner, &request, &network, &ownerError);

    JavaAnswer answer;
    const ReaderAnswer outcome = AskJavaWorker(request, &answer);
    if (outcome != READER_ANSWERED) {
        const char* why = outcome == READER_TIMED_OUT ? "time bound"
                          : outcome == READER_REFUSED ? "no version reader"
                                                      : "the version reader failed";
        LogMessage("Java processing: the performance-data files of process %lu are not read (%s)", id, why);
        return;
    }
    if (answer.end == JAVA_READ_FROM_TEMP) {
        command = answer.value;
        return;
    }
    if (process == nullptr)
        return;
    if (!placesKnown) {
        LogMessage("Java processing: the owner of process %lu is not known (error %lu); no other place is searched",
                   id, static_cast<unsigned long>(ownerError));
        return;
    }
    // The places before the one the search ended in were visited, and the
    // network ones among them passed over, in the plan's order.
    const bool stopped = answer.end == JAVA_READ_FROM_PLACE || answer.end == JAVA_BUDGET_SPENT;
    for (const NetworkPlace& place : network) {
        if (!stopped || place.planIndex < answer.planIndex)
            LogNotSearched(place.directory);
    }
    if (answer.end == JAVA_READ_FROM_PLACE) {
        LogMessage("Java processing: command read from %s, a place of the process's owner %s", answer.path.c_str(),
                   owner.sidText);
        command = answer.value;
    } else if (answer.end == JAVA_BUDGET_SPENT) {
        LogMessage("Java processing: search for process %lu stopped before %s: one process may have at most %lu MiB "
                   "searched in at most %d files; its path stays",
                   id, answer.path.c_str(), static_cast<unsigned long>(PERF_DATA_LOOKUP_BYTES >> 20),
                   PERF_DATA_LOOKUP_FILES);
    } else {
        LogMessage("Java processing: no performance-data file for process %lu in the places of its owner %s", id,
                   owner.sidText);
    }
}
