// The enumeration-mode floor: describes the running processes the way TaskRoll
// without arguments does, with the least work that can do it: EnumProcesses,
// then per process OpenProcess, GetModuleFileNameExA, one reading of the
// executable's version resource (FileDescription of its first translation),
// and one record in TaskRoll's format: path TAB TAB description '$' CR LF.
//
//     floor_procs.exe <output file>
#include "floor.h"

#include <psapi.h>


int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    FILE* output = std::fopen(argv[1], "w");
    if (output == nullptr)
        return 1;
    static DWORD ids[1024];
    DWORD bytes = 0;
    if (!EnumProcesses(ids, sizeof ids, &bytes))
        return 1;
    DWORD self = GetCurrentProcessId();
    std::vector<char> block;
    char path[MAX_PATH];
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        if (ids[i] == self)
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (process == nullptr)
            continue;
        DWORD length = GetModuleFileNameExA(process, nullptr, path, MAX_PATH);
        CloseHandle(process);
        if (length == 0)
            continue;
        floors::WriteRecord(output, path, floors::Describe(path, block));
    }
    std::fclose(output);
    return 0;
}
