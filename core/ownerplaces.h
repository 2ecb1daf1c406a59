#pragma once
// Where the virtual machine of a process's owner would have written its
// performance-data file, planned from what the system says of the owner. The
// owner writes most of these facts (their environment, in a way their
// profile path), so where TaskRoll runs as SYSTEM they are hostile input:
// every directory of the plan is a plain local path on a fixed disk, and one
// where others can write too is searched only for the names that the owner's
// virtual machine would have used, and only for files the owner's side made.
#include <cstdint>
#include <string>
#include <vector>

enum AccountKind { ACCOUNT_USER, ACCOUNT_LOCAL_SYSTEM, ACCOUNT_LOCAL_SERVICE, ACCOUNT_NETWORK_SERVICE };

// The registry's numbers for its string types, as stored with each value.
constexpr std::uint32_t REGISTRY_TYPE_SZ = 1;
constexpr std::uint32_t REGISTRY_TYPE_EXPAND_SZ = 2;

// A registry value as read: its type and its data up to the first NUL.
struct RegistryText {
    bool present = false;  // false: missing, unreadable or longer than a path
    std::uint32_t type = 0;
    std::string text;
};

struct OwnerFacts {
    std::string accountName;  // empty: the account's name is not known
    AccountKind kind = ACCOUNT_USER;
    RegistryText profile;     // ProfileImagePath of the owner's SID
    RegistryText tmp, temp;   // TMP and TEMP in HKEY_USERS\<SID>\Environment
    std::string windowsDirectory;  // empty: not known
    std::string computerName;      // empty: not known
    // Bit n set: drive letter 'A' + n is a local fixed disk (or a RAM disk).
    std::uint32_t fixedDrives = 0;
};

// One temporary directory of the owner's, and which of its hsperfdata_
// directories may speak for the owner's process.
struct OwnerPlace {
    std::string directory;           // no trailing backslash but a root's
    bool anyPerfDirectory = false;   // any hsperfdata_*; otherwise only `names`
    std::vector<std::string> names;  // "hsperfdata_" + each
    bool ownerRule = false;          // the file must be the owner's, SYSTEM's or the Administrators'
};

// The owner's places in the order in which they are searched. Of the owner's
// own directories one named twice comes once, where it first comes; the
// service places follow them as they are, with their own names.
std::vector<OwnerPlace> PlanOwnerPlaces(const OwnerFacts& facts);
