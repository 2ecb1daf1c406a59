#pragma once
// The rules for the directory texts that tell where a process's owner keeps
// temporary files: TMP and TEMP from the owner's environment in the registry,
// and the owner's profile path from the profile list. The owner writes these
// texts, so where TaskRoll runs as SYSTEM they are hostile input: a directory
// is used only when its text alone tells where it leads.
#include <cstddef>
#include <string>

// A variable that an owner's registry value may name, with the owner's value.
struct KnownVariable {
    const char* name;
    std::string value;
};

// True when both texts are equal with ASCII letters compared without regard
// to case, as the file system compares the names these texts hold.
bool EqualNoCase(const std::string& a, const std::string& b);

// Expands each %NAME% of `text`, the name compared without regard to ASCII
// case, from `variables`. False when the text names a variable that is not
// among them or has an empty value: its value for the owner is not known here,
// and TaskRoll's own would be a guess. A '%' without a closing one stays as it is.
bool ExpandKnownVariables(const std::string& text, const KnownVariable* variables, std::size_t count,
                          std::string* expanded);

// True for a local absolute path "X:\...", with no "." or ".." component, no
// component ending in a dot or a space (which the system would drop), no
// stream name, no forward slash, no wildcard or control character and no
// component that names a device (NUL, CON, COM1, ...): a path whose text tells
// where it leads.
bool IsPlainLocalPath(const std::string& path);

// True when `path` is `directory` or lies below it (ASCII case ignored).
bool IsInsideDirectory(const std::string& path, const std::string& directory);

// The directory that a registry string names, into `directory`: expanded with
// `variables` when the value is REG_EXPAND_SZ (`expandable`), without trailing
// backslashes (the root keeps its own), and only when the result is a plain
// local path. False when the text cannot be used; `directory` is then untouched.
bool OwnerDirectoryFromText(const std::string& text, bool expandable, const KnownVariable* variables,
                            std::size_t count, std::string* directory);
