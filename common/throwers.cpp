// How the standard library reports its own errors (a string or vector asked
// to grow past its largest size, a position outside a string), for GCC
// builds of both programs, in place of GCC's own: those make each error with
// a text held in the library's old reference-counted string, which alone
// brings about 45 KiB into each executable, for a text that no caller reads.
// Every caller in these programs catches such an error as it catches an
// allocation that fails, with catch (...), and goes on the same way; so each
// is thrown as std::bad_alloc, what a failed allocation throws.
#if defined(__GNUC__) && !defined(_MSC_VER)
#include <new>

namespace std {

[[noreturn]] void __throw_bad_alloc()
{
    throw bad_alloc();
}

[[noreturn]] void __throw_bad_array_new_length()
{
    throw bad_array_new_length();
}

[[noreturn]] void __throw_length_error(const char*)
{
    throw bad_alloc();
}

[[noreturn]] void __throw_logic_error(const char*)
{
    throw bad_alloc();
}

[[noreturn]] void __throw_invalid_argument(const char*)
{
    throw bad_alloc();
}

[[noreturn]] void __throw_out_of_range(const char*)
{
    throw bad_alloc();
}

[[noreturn]] void __throw_out_of_range_fmt(const char*, ...)
{
    throw bad_alloc();
}

}  // namespace std
#endif
