#include "ownerplaces.h"

#include "ownertext.h"

namespace {

// A plain local path (IsPlainLocalPath) on one of `fixedDrives`.
bool IsOnFixedDrive(const std::string& directory, std::uint32_t fixedDrives)
{
    if (!IsPlainLocalPath(directory))
        return false;
    const char letter = directory[0] >= 'a' ? static_cast<char>(directory[0] - 'a' + 'A') : directory[0];
    return (fixedDrives >> (letter - 'A') & 1u) != 0;
}

// A directory that a registry value names, or empty when it cannot be used.
// Only a fixed local disk is looked at: a network path would have TaskRoll
// authenticate to whatever server a user names, and wait for it.
std::string DirectoryFromRegistry(const RegistryText& value, const KnownVariable* variables, std::size_t count,
                                  std::uint32_t fixedDrives)
{
    std::string directory;
    if (!value.present || (value.type != REGISTRY_TYPE_SZ && value.type != REGISTRY_TYPE_EXPAND_SZ) ||
        !OwnerDirectoryFromText(value.text, value.type == REGISTRY_TYPE_EXPAND_SZ, variables, count,
                                &directory) ||
        !IsOnFixedDrive(directory, fixedDrives))
        return std::string();
    return directory;
}

// A root keeps its own backslash: "C:\" and "Temp" make "C:\Temp".
std::string JoinPath(const std::string& directory, const char* name)
{
    return directory.back() == '\\' ? directory + name : directory + "\\" + name;
}

}  // namespace

// The owner's temporary directories, in the order in which the owner's
// virtual machine would have chosen them: GetTempPath takes TMP before TEMP,
// as registered for the owner; the profile's own Temp is where both point by
// default and where the virtual machine writes when they cannot be read here.
// A service account's virtual machine runs with the system's environment, so
// its TEMP is the Windows directory's Temp (SystemTemp on newer systems).
std::vector<OwnerPlace> PlanOwnerPlaces(const OwnerFacts& facts)
{
    // The system's own directory is no user's text, but it is checked like
    // one all the same: every directory planned from it must be plain too.
    const std::string windows = IsOnFixedDrive(facts.windowsDirectory, facts.fixedDrives) ? facts.windowsDirectory
                                                                                            : std::string();
    // An empty value names a variable as unknown: the profile's stay so
    // until the profile itself is known, and cannot name themselves.
    const std::size_t count = 6;
    KnownVariable variables[count] = {{"SystemRoot", windows}, {"windir", windows},
                                      {"SystemDrive", windows.substr(0, 2)}, {"USERPROFILE", ""},
                                      {"LOCALAPPDATA", ""}, {"APPDATA", ""}};
    const std::string profile = DirectoryFromRegistry(facts.profile, variables, count, facts.fixedDrives);
    if (!profile.empty()) {
        variables[3].value = profile;
        variables[4].value = JoinPath(profile, "AppData\\Local");
        variables[5].value = JoinPath(profile, "AppData\\Roaming");
    }

    std::vector<std::string> ownNames;
    if (!facts.accountName.empty())
        ownNames.push_back(facts.accountName);
    const std::string directories[] = {DirectoryFromRegistry(facts.tmp, variables, count, facts.fixedDrives),
                                       DirectoryFromRegistry(facts.temp, variables, count, facts.fixedDrives),
                                       profile.empty() ? profile : JoinPath(profile, "AppData\\Local\\Temp")};
    std::vector<OwnerPlace> places;
    for (const std::string& directory : directories) {
        bool known = directory.empty();
        for (const OwnerPlace& place : places)
            known = known || EqualNoCase(place.directory, directory);
        if (known)
            continue;
        // Inside the profile only the owner and administrators can write, so
        // any directory there is the owner's, whatever USERNAME their virtual
        // machine saw. Elsewhere only the name the account would have given.
        if (!profile.empty() && IsInsideDirectory(directory, profile))
            places.push_back({directory, true, {}, false});
        else if (!ownNames.empty())
            places.push_back({directory, false, ownNames, true});
    }

    // Every user can write to the system's Temp: only the directories that
    // the account's virtual machine would name, the account's name and, for
    // LocalSystem's USERNAME, the computer's name with a "$". With neither
    // known there is nothing there to look for.
    std::vector<std::string> serviceNames = ownNames;
    if (!facts.computerName.empty())
        serviceNames.push_back(facts.computerName + "$");
    if (facts.kind != ACCOUNT_USER && !windows.empty() && !serviceNames.empty()) {
        for (const char* temp : {"Temp", "SystemTemp"})
            places.push_back({JoinPath(windows, temp), false, serviceNames, true});
    }
    return places;
}
