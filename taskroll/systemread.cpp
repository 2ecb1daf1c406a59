#include "readerworker.h"

#include "systemdlls.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace {

// The version functions of the system's VERSION, ANSI and UTF-16, loaded
// from System32 at the worker's first request: VERSION is no KnownDLL, so an
// import would let a version.dll beside TaskRoll be loaded in its place.
struct VersionFunctions {
    BOOL(WINAPI* read)(LPCSTR path, DWORD handle, DWORD size, LPVOID block) = nullptr;
    DWORD(WINAPI* size)(LPCSTR path, LPDWORD handle) = nullptr;
    BOOL(WINAPI* readWide)(LPCWSTR path, DWORD handle, DWORD size, LPVOID block) = nullptr;
    DWORD(WINAPI* sizeWide)(LPCWSTR path, LPDWORD handle) = nullptr;
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function* function)
{
    FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

// Outside the native file-system view: there, System32 of the 32-bit
// build would name the 64-bit system folder, whose DLL it cannot load.
VersionFunctions& SystemVersionFunctions()
{
    static VersionFunctions functions = [] {
        VersionFunctions loaded;
        HMODULE module = LoadSystemDll(L"version.dll");
        Resolve(module, "GetFileVersionInfoA", &loaded.read);
        Resolve(module, "GetFileVersionInfoSizeA", &loaded.size);
        Resolve(module, "GetFileVersionInfoW", &loaded.readWide);
        Resolve(module, "GetFileVersionInfoSizeW", &loaded.sizeWide);
        return loaded;
    }();
    return functions;
}

}  // namespace

void LoadVersionFunctions()
{
    SystemVersionFunctions();
}

// The system's version functions on the native file system (the 32-bit
// build reads System32 itself, not SysWOW64), with the flags TaskRoll has
// always used. One read, into the run's largest block, gives the block that
// the size query and a read of that size would give, wherever the core can
// tell its size from what the read wrote (OneReadBlockSize); elsewhere, and
// when that read fails, the system is asked as before: the size, then a read
// of that size. `block` is one buffer for the whole run of a worker.
SystemRead AskSystem(const PinnedFile& pinned, std::uint32_t smallestResource, std::vector<unsigned char>* block)
{
    const VersionFunctions& version = SystemVersionFunctions();
    DWORD sizeRead = 0;
    DWORD* size = &sizeRead;
    block->clear();
    if (version.read == nullptr || version.size == nullptr || version.readWide == nullptr ||
        version.sizeWide == nullptr)
        return SYSTEM_READ_FAILED;
    handles::NativeViewScope native;
    const char* path = pinned.path.c_str();
    const wchar_t* widePath = pinned.path.empty() ? pinned.widePath.c_str() : nullptr;
    try {
        block->reserve(VERSION_BLOCK_MAX_BYTES);
    } catch (...) {
        return SYSTEM_READ_FAILED;
    }
    // Zero-filled, so that no byte the system did not write can reach a record.
    if (smallestResource != 0) {
        block->assign(VERSION_BLOCK_MAX_BYTES, 0);
        if (widePath != nullptr ? version.readWide(widePath, 0, VERSION_BLOCK_MAX_BYTES, block->data())
                                : version.read(path, 0, VERSION_BLOCK_MAX_BYTES, block->data())) {
            *size = static_cast<DWORD>(OneReadBlockSize(block->data(), block->size(), smallestResource));
            if (*size != 0) {
                block->resize(*size);
                return SYSTEM_READ_DONE;
            }
        }
    }
    block->clear();
    DWORD handle = 0;
    *size = widePath != nullptr ? version.sizeWide(widePath, &handle) : version.size(path, &handle);
    if (*size == 0)
        return SYSTEM_READ_NONE;
    if (*size > VERSION_BLOCK_MAX_BYTES)
        return SYSTEM_READ_TOO_LARGE;
    block->assign(*size, 0);
    if (!(widePath != nullptr ? version.readWide(widePath, handle, *size, block->data())
                              : version.read(path, handle, *size, block->data()))) {
        block->clear();
        return SYSTEM_READ_FAILED;
    }
    return SYSTEM_READ_DONE;
}


// The version resource read where the check found it, on the checked file's
// own handle: for a PE module with one version resource, these bytes are what
// the system's read would copy (ResourceFacts), and the block is laid out as
// one read of the system would leave it, the tree bounded by its root. False
// where only the system can tell (an 8-bit root, a root that claims more than
// the resource holds) or the read fails: the caller asks the system then.
bool ReadLocatedResource(HANDLE file, const ResourceFacts& facts, std::vector<unsigned char>* block)
{
    block->clear();
    if (!facts.located || facts.smallest == 0 || facts.smallest > VERSION_RESOURCE_MAX_BYTES)
        return false;
    try {
        block->assign(2 * static_cast<std::size_t>(facts.smallest) + 4, 0);
    } catch (...) {
        return false;
    }
    if (!ReadFileAt(file, facts.offset, block->data(), facts.smallest)) {
        block->clear();
        return false;
    }
    const std::size_t size = OneReadBlockSize(block->data(), block->size(), facts.smallest);
    block->resize(size);
    return size != 0;
}
