// The owner's places and the verdict on a perf-data file, from facts that no
// Wine prefix produces: Wine has one user, no SYSTEM or service accounts, no
// other owner for a file, no reparse points and no network drives, and its
// registry values are the test's own.
#include "ownerplaces.h"
#include "perfdata.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::uint32_t DRIVES_C_D = 1u << 2 | 1u << 3;
const RegistryText NONE = {};

RegistryText Sz(const std::string& text, std::uint32_t type = REGISTRY_TYPE_SZ)
{
    return {true, type, text};
}

// "directory *" for any hsperfdata_*, "directory [name,...]!" for the named
// ones under the owner rule, places joined by " | ".
std::string Describe(const std::vector<OwnerPlace>& places)
{
    std::string text;
    for (const OwnerPlace& place : places) {
        text += (text.empty() ? "" : " | ") + place.directory;
        if (place.anyPerfDirectory) {
            text += " *";
            continue;
        }
        std::string names;
        for (const std::string& name : place.names)
            names += (names.empty() ? "" : ",") + name;
        text += " [" + names + "]" + (place.ownerRule ? "!" : "");
    }
    return text;
}

}  // namespace

TEST(OwnerPlaces, PlanFromFacts)
{
    const RegistryText userProfile = Sz("%SystemDrive%\\Users\\a", REGISTRY_TYPE_EXPAND_SZ);
    const RegistryText systemProfile = Sz("%systemroot%\\system32\\config\\systemprofile", REGISTRY_TYPE_EXPAND_SZ);
    const RegistryText profileTemp = Sz("%USERPROFILE%\\AppData\\Local\\Temp", REGISTRY_TYPE_EXPAND_SZ);
    const std::string inProfile = "C:\\Users\\a\\AppData\\Local\\Temp *";
    const std::string systemTemps = "C:\\Windows\\Temp [SYSTEM,PC$]! | C:\\Windows\\SystemTemp [SYSTEM,PC$]!";
    const struct {
        const char* what;
        AccountKind kind;
        std::string account;
        RegistryText profile, tmp, temp;
        std::string windows, computer;
        std::uint32_t drives;
        std::string plan;
    } cases[] = {
        {"defaults, named once", ACCOUNT_USER, "a", userProfile, profileTemp, profileTemp, "C:\\Windows", "PC",
         DRIVES_C_D, inProfile},
        {"TMP outside the profile", ACCOUNT_USER, "a", userProfile, Sz("D:\\Tmp"), NONE, "C:\\Windows", "PC",
         DRIVES_C_D, "D:\\Tmp [a]! | " + inProfile},
        {"same directory in other letter case", ACCOUNT_USER, "a", userProfile, Sz("c:\\users\\A\\appdata\\local\\TEMP"),
         NONE, "C:\\Windows", "PC", DRIVES_C_D, "c:\\users\\A\\appdata\\local\\TEMP *"},
        {"REG_DWORD, REG_MULTI_SZ and REG_BINARY texts", ACCOUNT_USER, "a", Sz("C:\\Users\\a", 4), Sz("D:\\Tmp", 7),
         Sz("D:\\Tmp", 3), "C:\\Windows", "PC", DRIVES_C_D, ""},
        {"REG_SZ names no variable", ACCOUNT_USER, "a", userProfile, Sz("%USERPROFILE%\\T"), NONE, "C:\\Windows",
         "PC", DRIVES_C_D, inProfile},
        {"network drive and UNC path", ACCOUNT_USER, "a", userProfile, Sz("N:\\Temp"), Sz("\\\\server\\share\\t"),
         "C:\\Windows", "PC", DRIVES_C_D, inProfile},
        {"profile on a network drive", ACCOUNT_USER, "a", Sz("N:\\Users\\a"), Sz("D:\\Tmp"), NONE, "C:\\Windows",
         "PC", DRIVES_C_D, "D:\\Tmp [a]!"},
        {"account name unknown", ACCOUNT_USER, "", userProfile, Sz("D:\\Tmp"), profileTemp, "C:\\Windows", "PC",
         DRIVES_C_D, inProfile},
        {"a user has no service places", ACCOUNT_USER, "a", NONE, NONE, NONE, "C:\\Windows", "PC", DRIVES_C_D, ""},
        {"LocalSystem", ACCOUNT_LOCAL_SYSTEM, "SYSTEM", systemProfile, NONE, NONE, "C:\\Windows", "PC", DRIVES_C_D,
         "C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local\\Temp * | " + systemTemps},
        {"LocalSystem's TMP in the system's Temp", ACCOUNT_LOCAL_SYSTEM, "SYSTEM", NONE,
         Sz("%SystemRoot%\\Temp", REGISTRY_TYPE_EXPAND_SZ), NONE, "C:\\Windows", "PC", DRIVES_C_D,
         "C:\\Windows\\Temp [SYSTEM]! | " + systemTemps},
        {"LocalService, computer name unknown", ACCOUNT_LOCAL_SERVICE, "LOCAL SERVICE", NONE, NONE, NONE,
         "C:\\Windows", "", DRIVES_C_D,
         "C:\\Windows\\Temp [LOCAL SERVICE]! | C:\\Windows\\SystemTemp [LOCAL SERVICE]!"},
        {"NetworkService with nothing to look for", ACCOUNT_NETWORK_SERVICE, "", NONE, NONE, NONE, "C:\\Windows", "",
         DRIVES_C_D, ""},
        {"Windows directory not on a fixed disk", ACCOUNT_LOCAL_SYSTEM, "SYSTEM", systemProfile, NONE, NONE,
         "N:\\Windows", "PC", DRIVES_C_D, ""},
        {"Windows directory at a root", ACCOUNT_NETWORK_SERVICE, "", NONE, NONE, NONE, "d:\\", "PC", DRIVES_C_D,
         "d:\\Temp [PC$]! | d:\\SystemTemp [PC$]!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OwnerFacts facts;
        facts.accountName = c.account;
        facts.kind = c.kind;
        facts.profile = c.profile;
        facts.tmp = c.tmp;
        facts.temp = c.temp;
        facts.windowsDirectory = c.windows;
        facts.computerName = c.computer;
        facts.fixedDrives = c.drives;
        EXPECT_EQ(Describe(PlanOwnerPlaces(facts)), c.plan);
    }
}

TEST(PerfData, VerdictOnWhatTheHandleSays)
{
    PerfFileFacts plain;
    plain.diskFile = plain.attributesKnown = plain.sizeKnown = true;
    plain.size = 100;
    plain.owner = PERF_OWNER_OTHER;
    auto with = [&](void (*change)(PerfFileFacts&)) { PerfFileFacts facts = plain; change(facts); return facts; };
    const struct {
        const char* what;
        PerfFileFacts facts;
        int code;
    } cases[] = {
        {"another user's file where only the owner writes", plain, PERF_READ},
        {"pipe or device", with([](PerfFileFacts& f) { f.diskFile = false; }), PERF_NOT_PLAIN},
        {"attributes not read", with([](PerfFileFacts& f) { f.attributesKnown = false; }), PERF_NOT_PLAIN},
        {"directory", with([](PerfFileFacts& f) { f.directory = true; }), PERF_NOT_PLAIN},
        {"reparse point", with([](PerfFileFacts& f) { f.reparsePoint = f.ownerRule = true; }), PERF_NOT_PLAIN},
        {"another user's file where all write", with([](PerfFileFacts& f) { f.ownerRule = true; }), PERF_NOT_OWNERS},
        {"owner not read", with([](PerfFileFacts& f) { f.ownerRule = true, f.owner = PERF_OWNER_UNKNOWN; }),
         PERF_NOT_OWNERS},
        {"the owner's", with([](PerfFileFacts& f) { f.ownerRule = true, f.owner = PERF_OWNER_PROCESS_OWNER; }),
         PERF_READ},
        {"SYSTEM's", with([](PerfFileFacts& f) { f.ownerRule = true, f.owner = PERF_OWNER_SYSTEM; }), PERF_READ},
        {"the Administrators'", with([](PerfFileFacts& f) { f.ownerRule = true, f.owner = PERF_OWNER_ADMINISTRATORS; }),
         PERF_READ},
        {"size not read", with([](PerfFileFacts& f) { f.sizeKnown = false; }), PERF_SIZE_UNKNOWN},
        {"at the size bound", with([](PerfFileFacts& f) { f.size = PERF_DATA_MAX_BYTES; }), PERF_READ},
        {"past the size bound", with([](PerfFileFacts& f) { f.size = PERF_DATA_MAX_BYTES + 1; }), PERF_TOO_LARGE},
        {"2 GiB - 1", with([](PerfFileFacts& f) { f.size = (2LL << 30) - 1; }), PERF_TOO_LARGE},
    };
    for (const auto& c : cases) {
        PerfLookupBudget budget;
        budget.bytes = PERF_DATA_MAX_BYTES;
        EXPECT_EQ(JudgePerfDataFile(c.facts, &budget), c.code) << c.what;
        EXPECT_EQ(budget.bytes, PERF_DATA_MAX_BYTES - (c.code == PERF_READ ? c.facts.size : 0)) << c.what;
        EXPECT_EQ(JudgePerfDataFile(c.facts, nullptr), c.code) << c.what;
    }
    // Whole or not at all: one byte past what is left stops the lookup, and leaves the budget as it was.
    PerfLookupBudget budget;
    budget.bytes = plain.size - 1;
    EXPECT_EQ(JudgePerfDataFile(plain, &budget), PERF_BUDGET_SPENT);
    EXPECT_EQ(budget.bytes, plain.size - 1);
}
