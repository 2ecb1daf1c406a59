// What ends a program that lets an exception escape or breaks another rule of
// the language (std::terminate), for GCC builds of both programs, in place of
// GCC's own handler: that one names the exception's type through the C++
// demangler, which alone is about 47 KiB of each executable, for a line no
// user of these programs needs. Neither program lets an exception escape; if
// one ever does, the process still ends at once with a failure status, as
// std::abort would end it, after a line on standard error.
#if defined(__GNUC__) && !defined(_MSC_VER)
#include <windows.h>

namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler()
{
    static const char line[] = "terminated: an unexpected exception or internal error\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, sizeof line - 1, &written, nullptr);
    // The status the runtime's abort() gives.
    TerminateProcess(GetCurrentProcess(), 3);
    for (;;) {
    }
}

}  // namespace __gnu_cxx
#endif
