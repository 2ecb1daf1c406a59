// The stack protector's guard value and failure handler for GCC builds of both
// programs, in place of GCC's support library: that one seeds the guard through
// ADVAPI32's CryptAcquireContext and CryptGenRandom, which load ADVAPI32 and a
// cryptographic provider at every start, for a value that needs neither. The
// guard is seeded the way MSVC's /GS seeds its cookie, from values that differ
// per run, process and thread, in a constructor that runs before main and
// before any protected function. MSVC brings its own.
#if defined(__GNUC__) && !defined(_MSC_VER)
#include <windows.h>

#include <cstdint>

extern "C" {

void* __stack_chk_guard = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x2B992DDFA232ull));

// A protected function found its guard overwritten: the stack is damaged, so
// nothing more of this process may run. The status is the one Windows reports
// for an overrun stack buffer.
[[noreturn]] void __stack_chk_fail()
{
    TerminateProcess(GetCurrentProcess(), 0xC0000409);
    for (;;) {
    }
}

}  // extern "C"

namespace {

__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    std::uintptr_t guard = reinterpret_cast<std::uintptr_t>(__stack_chk_guard);
    guard ^= (static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
    guard ^= static_cast<std::uintptr_t>(counter.QuadPart) << 7;
    guard ^= GetCurrentProcessId() ^ (static_cast<std::uintptr_t>(GetCurrentThreadId()) << 16) ^ GetTickCount();
    guard ^= reinterpret_cast<std::uintptr_t>(&guard);
    __stack_chk_guard = reinterpret_cast<void*>(guard);
}

}  // namespace
#endif
