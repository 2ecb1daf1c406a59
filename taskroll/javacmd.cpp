#include "javacmd.h"

#include "debuglog.h"
#include "handles.h"
#include "ownertext.h"
#include "settings.h"
#include "text.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD USER_NAME_SIZE = 1024;
constexpr DWORD SID_TEXT_SIZE = 256;
// Entries named hsperfdata_* listed in one temporary directory, whatever they
// are (a directory costs one more query for the file in it): a user with
// thousands of them slows only the lookup of their own process, and only so far.
constexpr std::size_t MAX_PERF_ENTRIES_LISTED = 256;
// Files opened for one process. Each open, with its type, owner and size
// queries and the mapping, is a handful of system calls, milliseconds at most
// even where a scanner inspects every open: 64 of them stay well under a
// second, and a process has one file, rarely a few old ones beside it.
constexpr int MAX_PERF_FILES_OPENED = 64;
// Returned when the lookup's budget for the process is spent.
constexpr int BUDGET_SPENT = -10;

// What the lookup for one process may still spend, over all its candidate
// files together.
struct LookupBudget {
    long long bytes = PERF_DATA_LOOKUP_BYTES;
    int opens = MAX_PERF_FILES_OPENED;
};

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

// The owner may be a SID other than the process's user where an administrator
// or the system made the file: those can write anywhere in any case.
bool IsOwnedBy(HANDLE file, PSID owner)
{
    PSID fileOwner = nullptr;
    handles::LocalMemory descriptor;  // holds the owner SID too
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &fileOwner, nullptr, nullptr, nullptr,
                        descriptor.Receive()) != ERROR_SUCCESS)
        return false;
    return fileOwner != nullptr &&
           (EqualSid(fileOwner, owner) || IsWellKnownSid(fileOwner, WinLocalSystemSid) ||
            IsWellKnownSid(fileOwner, WinBuiltinAdministratorsSid));
}

// What was opened must be a file on disk, reached through no reparse point
// (the open does not follow one, so a link shows as itself here): a pipe or a
// device might answer a read never, and a link leads where its maker chose.
// With `owner`, the file must also be the owner's own: it lies where others
// can write too.
int CheckPlainFile(HANDLE file, PSID owner)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return -8;
    if (owner != nullptr && !IsOwnedBy(file, owner))
        return -9;
    return 0;
}

// With `budget`, a file is read only when it fits in what is left of it,
// whole or not at all: a value is never taken from a file searched in part.
int ReadPerfDataFile(const std::string& filePath, const char* key, std::string& value, PSID owner,
                     LookupBudget* budget)
{
    if (budget != nullptr) {
        if (budget->opens == 0)
            return BUDGET_SPENT;
        --budget->opens;
    }
    // The virtual machine keeps its file open for writing while it runs.
    handles::FileHandle file(CreateFileA(filePath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return -1;
    int code = CheckPlainFile(file.Get(), owner);
    if (code != 0)
        return code;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size))
        return -2;
    if (size.QuadPart > PERF_DATA_MAX_BYTES)
        return -3;
    if (budget != nullptr) {
        if (size.QuadPart > budget->bytes)
            return BUDGET_SPENT;
        budget->bytes -= size.QuadPart;
    }
    // Declared in this order, they go in the reverse one: view, mapping, file.
    handles::MappingHandle mapping(CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping)
        return -4;
    handles::MappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!view)
        return -5;
    // The mapping takes the file's size when it is made, not the size read
    // before: a file cut down in between gives a shorter view. The view's
    // own extent is what may be read.
    MEMORY_BASIC_INFORMATION region = {};
    std::size_t viewBytes = VirtualQuery(view.Get(), &region, sizeof region) != 0 ? region.RegionSize : 0;
    return FindPerfDataValue(static_cast<const char*>(view.Get()), viewBytes, static_cast<int>(size.LowPart), key,
                             value);
}

// The owner of a process: its token's user, and what the system records of it.
struct Owner {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    char sidText[SID_TEXT_SIZE];
    char name[PATH_BUFFER_SIZE];
    bool serviceAccount;  // LocalSystem, LocalService, NetworkService
};

// The user of the process's token, into `sid` (SECURITY_MAX_SID_SIZE bytes).
bool GetOwnerSid(HANDLE process, BYTE* sid)
{
    handles::TokenHandle token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.Receive()))
        return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenUser, &buffer, sizeof buffer, &size) &&
           CopySid(SECURITY_MAX_SID_SIZE, sid, buffer.user.User.Sid);
}

bool GetProcessOwner(HANDLE process, Owner* owner)
{
    if (!GetOwnerSid(process, owner->sid))
        return false;
    handles::LocalMemory text;
    if (!ConvertSidToStringSidA(owner->sid, reinterpret_cast<char**>(text.Receive())))
        return false;
    bool found = CopyBounded(owner->sidText, sizeof owner->sidText, static_cast<const char*>(text.Get()));

    // The account's name, which a virtual machine outside its owner's
    // profile would have named its directory after.
    char domain[PATH_BUFFER_SIZE] = {};
    DWORD nameSize = sizeof owner->name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    owner->name[0] = '\0';
    if (!LookupAccountSidA(nullptr, owner->sid, owner->name, &nameSize, domain, &domainSize, &use))
        owner->name[0] = '\0';
    owner->serviceAccount = IsWellKnownSid(owner->sid, WinLocalSystemSid) ||
                            IsWellKnownSid(owner->sid, WinLocalServiceSid) ||
                            IsWellKnownSid(owner->sid, WinNetworkServiceSid);
    return found;
}

// A string value as stored, REG_SZ or REG_EXPAND_SZ (told by `expandable`);
// false when it is missing, of another type or longer than a path.
bool ReadRegistryText(HKEY root, const std::string& keyPath, const char* name, std::string* text, bool* expandable)
{
    handles::RegistryKey key;
    if (RegOpenKeyExA(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS)
        return false;
    char data[PATH_BUFFER_SIZE] = {};
    DWORD type = 0;
    DWORD size = sizeof data - 1;  // a value stored without its NUL still ends in one
    LONG status = RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    *text = data;
    *expandable = type == REG_EXPAND_SZ;
    return true;
}

// A directory named by the registry, expanded as the owner's session would
// expand it, without trailing backslashes; empty when it cannot be used. Only
// a fixed local disk is looked at: a network path would have TaskRoll
// authenticate to whatever server a user names, and wait for it.
std::string RegistryDirectory(HKEY root, const std::string& keyPath, const char* name,
                              const std::vector<KnownVariable>& variables)
{
    std::string text;
    bool expandable = false;
    std::string directory;
    if (!ReadRegistryText(root, keyPath, name, &text, &expandable) ||
        !OwnerDirectoryFromText(text, expandable, variables.data(), variables.size(), &directory))
        return std::string();
    UINT drive = GetDriveTypeA(directory.substr(0, 3).c_str());
    if (drive != DRIVE_FIXED && drive != DRIVE_RAMDISK)
        return std::string();
    return directory;
}

// One temporary directory of the owner's, and which of its hsperfdata_
// directories may speak for the owner's process.
struct Place {
    std::string directory;
    std::vector<std::string> names;  // "hsperfdata_" + each; empty: any hsperfdata_*
    bool othersCanWrite;             // then the file must be the owner's own
};

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
    candidates->push_back({path, written.QuadPart});
}

// The files named by the process id in the place's hsperfdata_ directories,
// the newest first, as the virtual machine's own tools take them. A directory
// that is a reparse point is skipped: it could lead anywhere.
std::vector<Candidate> FindCandidates(const Place& place, const std::string& id)
{
    std::vector<Candidate> candidates;
    for (const std::string& name : place.names) {
        std::string perfDirectory = place.directory + "\\hsperfdata_" + name;
        if (IsPlainDirectory(GetFileAttributesA(perfDirectory.c_str())))
            AddCandidate(perfDirectory, id, &candidates);
    }
    if (place.names.empty()) {
        WIN32_FIND_DATAA found;
        handles::FindHandle search(FindFirstFileA((place.directory + "\\hsperfdata_*").c_str(), &found));
        for (std::size_t listed = 0; search && listed < MAX_PERF_ENTRIES_LISTED; ++listed) {
            if (IsPlainDirectory(found.dwFileAttributes))
                AddCandidate(place.directory + "\\" + found.cFileName, id, &candidates);
            if (!FindNextFileA(search.Get(), &found))
                break;
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.written > b.written; });
    return candidates;
}

// The owner's temporary directories, in the order in which the owner's
// virtual machine would have chosen them: GetTempPath takes TMP before TEMP,
// as registered for the owner; the profile's own Temp is where both point by
// default and where the virtual machine writes when they cannot be read here.
// A service account's virtual machine runs with the system's environment, so
// its TEMP is the Windows directory's Temp (SystemTemp on newer systems).
// TaskRoll's own TEMP came before all of them, as it always has.
std::vector<Place> GetOwnerPlaces(const Owner& owner)
{
    char windows[PATH_BUFFER_SIZE] = {};
    UINT length = GetSystemWindowsDirectoryA(windows, PATH_BUFFER_SIZE);
    std::string windowsDirectory = length > 0 && length < PATH_BUFFER_SIZE ? windows : "";
    std::vector<KnownVariable> variables = {{"SystemRoot", windowsDirectory},
                                            {"windir", windowsDirectory},
                                            {"SystemDrive", windowsDirectory.substr(0, 2)}};
    const std::string profileKey = std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") +
                                   owner.sidText;
    std::string profile = RegistryDirectory(HKEY_LOCAL_MACHINE, profileKey, "ProfileImagePath", variables);
    if (!profile.empty()) {
        variables.push_back({"USERPROFILE", profile});
        variables.push_back({"LOCALAPPDATA", profile + "\\AppData\\Local"});
        variables.push_back({"APPDATA", profile + "\\AppData\\Roaming"});
    }

    std::vector<std::string> ownNames;
    if (owner.name[0] != '\0')
        ownNames.push_back(owner.name);
    std::vector<std::string> directories;
    const std::string environmentKey = std::string(owner.sidText) + "\\Environment";
    directories.push_back(RegistryDirectory(HKEY_USERS, environmentKey, "TMP", variables));
    directories.push_back(RegistryDirectory(HKEY_USERS, environmentKey, "TEMP", variables));
    if (!profile.empty())
        directories.push_back(profile + "\\AppData\\Local\\Temp");

    std::vector<Place> places;
    for (const std::string& directory : directories) {
        bool known = directory.empty();
        for (const Place& place : places)
            known = known || EqualNoCase(place.directory, directory);
        if (known)
            continue;
        // Inside the profile only the owner and administrators can write, so
        // any directory there is the owner's, whatever USERNAME their virtual
        // machine saw. Elsewhere only the name the account would have given.
        bool inside = !profile.empty() && IsInsideDirectory(directory, profile);
        if (inside)
            places.push_back({directory, {}, false});
        else if (!ownNames.empty())
            places.push_back({directory, ownNames, true});
    }

    if (owner.serviceAccount && !windowsDirectory.empty()) {
        // Every user can write to the system's Temp: only the directories that
        // the account's virtual machine would name, the account's name and,
        // for LocalSystem's USERNAME, the computer's name with a "$".
        std::vector<std::string> serviceNames = ownNames;
        char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD computerSize = sizeof computer;
        if (GetComputerNameA(computer, &computerSize))
            serviceNames.push_back(std::string(computer) + "$");
        for (const char* temp : {"\\Temp", "\\SystemTemp"})
            places.push_back({windowsDirectory + temp, serviceNames, true});
    }
    return places;
}

// Where the owner's virtual machine would have put its file. Logs the outcome.
void SearchOwnerPlaces(DWORD processId, HANDLE process, std::string& command, LookupBudget* budget)
{
    Owner owner;
    if (!GetProcessOwner(process, &owner)) {
        LogMessage("Java processing: the owner of process %lu is not known (error %lu); no other place is searched",
                   static_cast<unsigned long>(processId), static_cast<unsigned long>(GetLastError()));
        return;
    }
    const std::string id = std::to_string(static_cast<unsigned long>(processId));
    for (const Place& place : GetOwnerPlaces(owner)) {
        for (const Candidate& candidate : FindCandidates(place, id)) {
            std::string value;
            int code = ReadPerfDataFile(candidate.path, "javaCommand", value,
                                        place.othersCanWrite ? owner.sid : nullptr, budget);
            if (code == 0) {
                LogMessage("Java processing: command read from %s, a place of the process's owner %s",
                           candidate.path.c_str(), owner.sidText);
                command = value;
                return;
            }
            // Skipping this file for a later, smaller one would let that one
            // win over a value this one may hold: the order stops here.
            if (code == BUDGET_SPENT) {
                LogMessage("Java processing: search for process %lu stopped before %s: one process may have at "
                           "most %lu MiB searched in at most %d files; its path stays",
                           static_cast<unsigned long>(processId), candidate.path.c_str(),
                           static_cast<unsigned long>(PERF_DATA_LOOKUP_BYTES >> 20), MAX_PERF_FILES_OPENED);
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
    LookupBudget budget;
    std::string path = GetPerfDataDir();
    if (!path.empty()) {
        path += std::to_string(static_cast<unsigned long>(processId));
        std::string value;
        if (ReadPerfDataFile(path, "javaCommand", value, ownerKnown ? ownerSid : nullptr, &budget) == 0) {
            command = value;
            return;
        }
    }
    if (process != nullptr)
        SearchOwnerPlaces(processId, process, command, &budget);
}

int ReadPerfDataValue(const std::string& filePath, const std::string& key, std::string& value)
{
    return ReadPerfDataFile(filePath, key.c_str(), value, nullptr, nullptr);
}
