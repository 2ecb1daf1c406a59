// The owner's places, planned from facts as the Java lookup plans them: the
// profile path, the TMP and TEMP values with their registry types, the
// account, the Windows directory, the computer's name and the fixed drives.
// Every directory of a plan is absolute on a fixed drive, names no stream,
// device, "." or "..", holds no wildcard or control byte; one searched for any
// hsperfdata_* lies inside the profile, component by component, and one
// outside it is searched only for the account's names under the owner rule.
// The texts are also taken one by one, as the registry gives them. A planned
// directory is also one that the rule of which paths may be opened at all
// takes as a drive letter's, whose type decides.
//
// Input: a byte for the kind of account (low two bits), one for each
// registry type (profile, TMP, TEMP; low three bits), four for the fixed
// drives (bit n: drive 'A' + n), then NUL-separated texts: the TMP value, the
// profile path, the Windows directory, the TEMP value, the account's name,
// the computer's name.
#include "fuzzcheck.h"
#include "ownerplaces.h"
#include "ownertext.h"
#include "pathplace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Fields(const std::string& input, std::size_t count)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (fields.size() + 1 < count && start <= input.size()) {
        std::size_t end = input.find('\0', start);
        if (end == std::string::npos)
            break;
        fields.push_back(input.substr(start, end - start));
        start = end + 1;
    }
    fields.push_back(start <= input.size() ? input.substr(start) : std::string());
    fields.resize(count);
    return fields;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return text;
}

// The names below the drive's root, upper-cased.
std::vector<std::string> Components(const std::string& path)
{
    std::vector<std::string> components;
    for (std::size_t start = 3; start < path.size();) {
        std::size_t end = path.find('\\', start);
        end = end == std::string::npos ? path.size() : end;
        components.push_back(Upper(path.substr(start, end - start)));
        start = end + 1;
    }
    return components;
}

bool IsReservedName(const std::string& upperBase)
{
    std::vector<std::string> reserved = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* stem : {"COM", "LPT"}) {
        for (char digit = '0'; digit <= '9'; ++digit)
            reserved.push_back(stem + std::string(1, digit));
        for (const char* superscript : {"\xB9", "\xB2", "\xB3", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
            reserved.push_back(stem + std::string(superscript));
    }
    for (const std::string& name : reserved) {
        if (upperBase == name)
            return true;
    }
    return false;
}

void CheckTaken(const std::string& directory)
{
    FUZZ_CHECK(directory.size() >= 3);
    const char drive = Upper(directory.substr(0, 1))[0];
    FUZZ_CHECK(drive >= 'A' && drive <= 'Z' && directory[1] == ':' && directory[2] == '\\');
    FUZZ_CHECK(directory.find_first_of(":/", 2) == std::string::npos);
    FUZZ_CHECK(directory.size() == 3 || directory.back() != '\\');
    const PathReach reach = ReachOfPath(directory);
    FUZZ_CHECK(reach.place == PATH_PLACE_DRIVE && reach.drive == drive);
    for (const std::string& component : Components(directory)) {
        FUZZ_CHECK(!component.empty() && component != "." && component != "..");
        FUZZ_CHECK(component.back() != '.' && component.back() != ' ');
        for (char c : component)
            FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && std::string("<>\"|?*").find(c) == std::string::npos);
        std::string base = component.substr(0, component.find('.'));
        base.erase(base.find_last_not_of(' ') + 1);
        FUZZ_CHECK(!IsReservedName(base));
    }
}

// Takes a registry text as the lookup does, and checks what it gave.
bool TakeDirectory(const std::string& text, bool expandable, const std::vector<KnownVariable>& variables,
                   std::string* directory)
{
    std::string taken = "untouched";
    bool used = OwnerDirectoryFromText(text, expandable, variables.data(), variables.size(), &taken);
    if (!used) {
        FUZZ_CHECK(taken == "untouched");
        return false;
    }
    CheckTaken(taken);
    // Without a variable in it the text is the directory, less its trailing backslashes.
    if (!expandable || text.find('%') == std::string::npos)
        FUZZ_CHECK(text.compare(0, taken.size(), taken) == 0 && text.find_first_not_of('\\', taken.size()) ==
                                                                         std::string::npos);
    *directory = taken;
    return true;
}

// Below or at `outer`, its names beginning the directory's.
bool IsBelow(const std::string& directory, const std::string& outer)
{
    const std::vector<std::string> names = Components(outer), inner = Components(directory);
    bool below = Upper(outer.substr(0, 3)) == Upper(directory.substr(0, 3)) && names.size() <= inner.size();
    for (std::size_t i = 0; below && i < names.size(); ++i)
        below = names[i] == inner[i];
    return below;
}

void CheckPlan(const OwnerFacts& facts)
{
    // The profile as the lookup takes it: the plan of the same owner with no
    // TMP or TEMP is its Temp alone, or nothing.
    OwnerFacts profileOnly;
    profileOnly.profile = facts.profile;
    profileOnly.windowsDirectory = facts.windowsDirectory;
    profileOnly.fixedDrives = facts.fixedDrives;
    const std::vector<OwnerPlace> alone = PlanOwnerPlaces(profileOnly);
    FUZZ_CHECK(alone.size() <= 1);
    const std::string suffix = "\\AppData\\Local\\Temp";
    std::string profile;
    if (!alone.empty()) {
        const std::string& temp = alone[0].directory;
        FUZZ_CHECK(alone[0].anyPerfDirectory && temp.size() > suffix.size() &&
                   temp.compare(temp.size() - suffix.size(), suffix.size(), suffix) == 0);
        profile = temp.substr(0, temp.size() - suffix.size());
        profile += profile.size() == 2 ? "\\" : "";
    }

    const std::vector<OwnerPlace> plan = PlanOwnerPlaces(facts);
    FUZZ_CHECK(plan.size() <= 5);
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const OwnerPlace& place = plan[i];
        CheckTaken(place.directory);
        const char drive = Upper(place.directory.substr(0, 1))[0];
        FUZZ_CHECK((facts.fixedDrives >> (drive - 'A') & 1u) != 0);
        if (place.anyPerfDirectory) {
            FUZZ_CHECK(!profile.empty() && IsBelow(place.directory, profile) && place.names.empty() &&
                       !place.ownerRule);
            continue;
        }
        FUZZ_CHECK(place.ownerRule && !place.names.empty());
        for (const std::string& name : place.names)
            FUZZ_CHECK((!name.empty() && name == facts.accountName) ||
                       (facts.kind != ACCOUNT_USER && name == facts.computerName + "$"));
        // The service places come last, two of them, each in the Windows directory.
        const bool service = facts.kind != ACCOUNT_USER && i + 2 >= plan.size() &&
                             IsBelow(place.directory, facts.windowsDirectory);
        FUZZ_CHECK(service || profile.empty() || !IsBelow(place.directory, profile));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 8, size - 8);
    const std::vector<std::string> fields = Fields(input, 6);
    const std::string& windows = fields[2];
    std::vector<KnownVariable> variables = {
        {"SystemRoot", windows}, {"windir", windows}, {"SystemDrive", windows.substr(0, 2)}};
    std::string profile;
    if (TakeDirectory(fields[1], (data[1] & 7) == REGISTRY_TYPE_EXPAND_SZ, variables, &profile)) {
        variables.push_back({"USERPROFILE", profile});
        variables.push_back({"LOCALAPPDATA", profile + "\\AppData\\Local"});
        variables.push_back({"APPDATA", profile + "\\AppData\\Roaming"});
    }
    std::string directory;
    if (TakeDirectory(fields[0], (data[2] & 7) == REGISTRY_TYPE_EXPAND_SZ, variables, &directory) &&
        !profile.empty()) {
        FUZZ_CHECK(IsInsideDirectory(directory, profile) == IsBelow(directory, profile));
    }

    OwnerFacts facts;
    facts.kind = static_cast<AccountKind>(data[0] & 3);
    facts.profile = {true, data[1] & 7u, fields[1]};
    facts.tmp = {true, data[2] & 7u, fields[0]};
    facts.temp = {(data[3] & 8) == 0, data[3] & 7u, fields[3]};
    facts.fixedDrives = static_cast<std::uint32_t>(data[4]) | static_cast<std::uint32_t>(data[5]) << 8 |
                        static_cast<std::uint32_t>(data[6]) << 16 | static_cast<std::uint32_t>(data[7]) << 24;
    facts.windowsDirectory = windows;
    facts.accountName = fields[4];
    facts.computerName = fields[5];
    CheckPlan(facts);
    return 0;
}
