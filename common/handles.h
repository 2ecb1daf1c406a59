#pragma once
// Owners of what the system hands out: each object holds one handle, key, view
// or redirection state and gives it back when it goes, on every way out of its
// scope, an exception's included. Moving passes the ownership on; nothing is
// ever released twice or forgotten on an early return.
#include <windows.h>

#include <utility>

namespace handles {

// One owner template, told by its traits how to test and release the value.
template <typename Traits>
class Owner {
public:
    using Value = typename Traits::Value;

    Owner() = default;
    explicit Owner(Value value) : value_(value) {}
    ~Owner() { Reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) noexcept : value_(other.Release()) {}
    Owner& operator=(Owner&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Value Get() const { return value_; }
    explicit operator bool() const { return Traits::Holds(value_); }

    // Releases what is held now and takes `value` in its place.
    void Reset(Value value = Traits::Empty())
    {
        if (Traits::Holds(value_))
            Traits::Free(value_);
        value_ = value;
    }

    // Hands the value over to the caller, who then releases it.
    Value Release()
    {
        Value value = value_;
        value_ = Traits::Empty();
        return value;
    }

    // For the calls that return their result through a pointer
    // (RegOpenKeyExW): what is held is released first.
    Value* Receive()
    {
        Reset();
        return &value_;
    }

private:
    Value value_ = Traits::Empty();
};

// Closed by CloseHandle: processes, threads, files, file mappings, jobs,
// events. OpenProcess and CreateFileMapping fail with null, CreateFile with
// INVALID_HANDLE_VALUE; both count as nothing held, so `if (handle)` suits
// every opener. The value of INVALID_HANDLE_VALUE is also the pseudo-handle of
// GetCurrentProcess, which needs no closing and is never closed here. Each
// kind of object has an owner type of its own, so that a file handle cannot be
// passed where a process handle is wanted.
template <typename Kind>
struct KernelHandleTraits {
    using Value = HANDLE;
    static HANDLE Empty() { return nullptr; }
    static bool Holds(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE handle) { CloseHandle(handle); }
};
using ProcessHandle = Owner<KernelHandleTraits<struct ProcessHandleKind>>;
using ThreadHandle = Owner<KernelHandleTraits<struct ThreadHandleKind>>;
using TokenHandle = Owner<KernelHandleTraits<struct TokenHandleKind>>;
using FileHandle = Owner<KernelHandleTraits<struct FileHandleKind>>;
using MappingHandle = Owner<KernelHandleTraits<struct MappingHandleKind>>;
using JobHandle = Owner<KernelHandleTraits<struct JobHandleKind>>;
using EventHandle = Owner<KernelHandleTraits<struct EventHandleKind>>;

// Memory that the system allocated for its answer (a security descriptor, a
// SID's text), given back with LocalFree.
struct LocalMemoryTraits {
    using Value = void*;
    static void* Empty() { return nullptr; }
    static bool Holds(void* memory) { return memory != nullptr; }
    static void Free(void* memory) { LocalFree(memory); }
};
using LocalMemory = Owner<LocalMemoryTraits>;

// A directory search from FindFirstFile (INVALID_HANDLE_VALUE on failure),
// ended by FindClose.
struct FindHandleTraits {
    using Value = HANDLE;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static bool Holds(HANDLE search) { return search != INVALID_HANDLE_VALUE; }
    static void Free(HANDLE search) { FindClose(search); }
};
using FindHandle = Owner<FindHandleTraits>;

// A view of a file mapping, from MapViewOfFile (null on failure). The view
// keeps the mapping's section alive by itself: the mapping handle may go first.
struct MappedViewTraits {
    using Value = const void*;
    static const void* Empty() { return nullptr; }
    static bool Holds(const void* view) { return view != nullptr; }
    static void Free(const void* view) { UnmapViewOfFile(view); }
};
using MappedView = Owner<MappedViewTraits>;

// A key opened or created in the registry. The predefined roots
// (HKEY_LOCAL_MACHINE, ...) are never owned: they are not closed here.
struct RegistryKeyTraits {
    using Value = HKEY;
    static HKEY Empty() { return nullptr; }
    static bool Holds(HKEY key) { return key != nullptr; }
    static void Free(HKEY key) { RegCloseKey(key); }
};
using RegistryKey = Owner<RegistryKeyTraits>;

// The 32-bit build on 64-bit Windows sees System32 through WOW64 redirection,
// that is SysWOW64, where a file of the same name is another program or none.
// While this object lives, the file system is seen as it is, by this thread
// only (redirection is a per-thread state); it goes back as it was when the
// object goes. It does nothing in the 64-bit build and on 32-bit Windows.
// Whatever is called in the scope must not need redirection: a DLL loaded
// meanwhile, delayed imports included, would come from the 64-bit System32.
class NativeViewScope {
public:
    NativeViewScope()
    {
#if !defined(_WIN64)
        static const bool wow64 = [] {
            BOOL value = FALSE;
            return IsWow64Process(GetCurrentProcess(), &value) && value;
        }();
        // The token handed back describes the earlier state and is null when
        // redirection was on, so only the call's result tells what to undo.
        if (wow64)
            redirectionOff_ = Wow64DisableWow64FsRedirection(&previous_) != 0;
#endif
    }
    ~NativeViewScope() { End(); }
    NativeViewScope(const NativeViewScope&) = delete;
    NativeViewScope& operator=(const NativeViewScope&) = delete;

    // Redirection back as it was before the scope's end, for a caller that
    // goes on in the same scope with calls that need it.
    void End()
    {
#if !defined(_WIN64)
        if (redirectionOff_)
            Wow64RevertWow64FsRedirection(previous_);
        redirectionOff_ = false;
#endif
    }

private:
    PVOID previous_ = nullptr;
    bool redirectionOff_ = false;
};

}  // namespace handles
