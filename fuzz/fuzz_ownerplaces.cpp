// The owner's directory texts, planned as the Java lookup plans them: the
// profile path from the profile list, then a TMP or TEMP value expanded with
// the owner's variables. Every directory taken is absolute on a drive, names
// no stream, device, "." or "..", holds no wildcard or control byte, and the
// answer "inside the profile" is true of the texts component by component.
//
// Input: one flag byte (bit 0: the TMP value is REG_EXPAND_SZ, bit 1: the
// profile path is), then NUL-separated texts: the TMP value, the profile
// path, the Windows directory.
#include "fuzzcheck.h"
#include "ownertext.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<std::string> fields = Fields(input, 3);
    const std::string& windows = fields[2];
    std::vector<KnownVariable> variables = {
        {"SystemRoot", windows}, {"windir", windows}, {"SystemDrive", windows.substr(0, 2)}};
    std::string profile;
    if (TakeDirectory(fields[1], (data[0] & 2) != 0, variables, &profile)) {
        variables.push_back({"USERPROFILE", profile});
        variables.push_back({"LOCALAPPDATA", profile + "\\AppData\\Local"});
        variables.push_back({"APPDATA", profile + "\\AppData\\Roaming"});
    }
    std::string directory;
    if (!TakeDirectory(fields[0], (data[0] & 1) != 0, variables, &directory) || profile.empty())
        return 0;
    // Inside the profile exactly when the profile's names begin the directory's.
    const std::vector<std::string> outer = Components(profile), inner = Components(directory);
    bool below = Upper(profile.substr(0, 3)) == Upper(directory.substr(0, 3)) && outer.size() <= inner.size();
    for (std::size_t i = 0; below && i < outer.size(); ++i)
        below = outer[i] == inner[i];
    FUZZ_CHECK(IsInsideDirectory(directory, profile) == below);
    FUZZ_CHECK(IsInsideDirectory(directory, profile) == IsInsideDirectory(directory, profile));
    return 0;
}
