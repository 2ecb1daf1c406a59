#include "perffile.h"

#include "handles.h"
#include "internal.h"

#include <aclapi.h>

namespace {

PerfFileOwner GetFileOwner(HANDLE file, PSID processOwner)
{
    PSID fileOwner = nullptr;
    handles::LocalMemory descriptor;  // holds the owner SID too
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &fileOwner, nullptr, nullptr, nullptr,
                        descriptor.Receive()) != ERROR_SUCCESS ||
        fileOwner == nullptr)
        return PERF_OWNER_UNKNOWN;
    if (EqualSid(fileOwner, processOwner))
        return PERF_OWNER_PROCESS_OWNER;
    if (IsWellKnownSid(fileOwner, WinLocalSystemSid))
        return PERF_OWNER_SYSTEM;
    return IsWellKnownSid(fileOwner, WinBuiltinAdministratorsSid) ? PERF_OWNER_ADMINISTRATORS : PERF_OWNER_OTHER;
}

// Only what the verdict can still need is asked: nothing more of a handle
// that is no disk file, and the owner only where the owner rule applies.
PerfFileFacts GetPerfFileFacts(HANDLE file, PSID owner)
{
    PerfFileFacts facts;
    facts.diskFile = GetFileType(file) == FILE_TYPE_DISK;
    BY_HANDLE_FILE_INFORMATION info;
    facts.attributesKnown = facts.diskFile && GetFileInformationByHandle(file, &info);
    if (!facts.attributesKnown)
        return facts;
    facts.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.ownerRule = owner != nullptr;
    if (facts.ownerRule && !facts.directory && !facts.reparsePoint)
        facts.owner = GetFileOwner(file, owner);
    LARGE_INTEGER size;
    facts.sizeKnown = GetFileSizeEx(file, &size) != FALSE;
    facts.size = facts.sizeKnown ? size.QuadPart : 0;
    return facts;
}

}  // namespace

int ReadPerfDataFile(const std::string& filePath, const char* key, std::string& value, PSID owner,
                     PerfLookupBudget* budget)
{
    if (budget != nullptr) {
        if (budget->opens == 0)
            return PERF_BUDGET_SPENT;
        --budget->opens;
    }
    // The virtual machine keeps its file open for writing while it runs. The
    // open does not follow a reparse point, so a link shows as itself.
    handles::FileHandle file(CreateFileA(filePath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return PERF_NOT_OPENED;
    const PerfFileFacts facts = GetPerfFileFacts(file.Get(), owner);
    int code = JudgePerfDataFile(facts, budget);
    if (code != PERF_READ)
        return code;
    // Declared in this order, they go in the reverse one: view, mapping, file.
    handles::MappingHandle mapping(CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping)
        return PERF_NOT_MAPPED;
    handles::MappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!view)
        return PERF_NO_VIEW;
    // The mapping takes the file's size when it is made, not the size read
    // before: a file cut down in between gives a shorter view. The view's
    // own extent is what may be read.
    MEMORY_BASIC_INFORMATION region = {};
    std::size_t viewBytes = VirtualQuery(view.Get(), &region, sizeof region) != 0 ? region.RegionSize : 0;
    return FindPerfDataValue(static_cast<const char*>(view.Get()), viewBytes, static_cast<int>(facts.size), key,
                             value);
}

int ReadPerfDataValue(const std::string& filePath, const std::string& key, std::string& value)
{
    return ReadPerfDataFile(filePath, key.c_str(), value, nullptr, nullptr);
}
