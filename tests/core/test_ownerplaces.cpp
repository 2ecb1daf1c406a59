// The owner's places and the perf-data verdict, from facts no Wine prefix has: one user
// there, no service accounts, no other file owner, no reparse points, no network drives.
#include "ownerplaces.h"
#include "perfdata.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t DRIVES_C_D = 1u << 2 | 1u << 3;
const RegistryText NONE = {};

RegistryText Sz(const std::string& text, std::uint32_t type = REGISTRY_TYPE_SZ)
{
    return {true, type, text};
}

// "directory *": any hsperfdata_*; "directory [name,...]!": those, under the owner rule.
std::string Describe(const std::vector<OwnerPlace>& places)
{
    std::string text;
    for (const OwnerPlace& place : places) {
        std::string names;
        for (const std::string& name : place.names)
            names += (names.empty() ? "" : ",") + name;
        text += (text.empty() ? "" : " | ") + place.directory +
                (place.anyPerfDirectory ? " *" : " [" + names + "]" + (place.ownerRule ? "!" : ""));
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
    const std::string windows = "C:\\Windows";
    const struct {
        const char* what;
        OwnerFacts facts;  // account, kind, profile, TMP, TEMP, Windows directory, computer, fixed drives
        std::string plan;
    } cases[] = {
        {"defaults, named once", {"a", ACCOUNT_USER, userProfile, profileTemp, profileTemp, windows, "PC", DRIVES_C_D},
         inProfile},
        {"TMP outside the profile", {"a", ACCOUNT_USER, userProfile, Sz("D:\\Tmp"), NONE, windows, "PC", DRIVES_C_D},
         "D:\\Tmp [a]! | " + inProfile},
        {"REG_DWORD, REG_MULTI_SZ and REG_BINARY texts",
         {"a", ACCOUNT_USER, Sz("C:\\Users\\a", 4), Sz("D:\\Tmp", 7), Sz("D:\\Tmp", 3), windows, "PC", DRIVES_C_D}, ""},
        {"network drive and UNC path",
         {"a", ACCOUNT_USER, userProfile, Sz("N:\\Temp"), Sz("\\\\server\\share\\t"), windows, "PC", DRIVES_C_D},
         inProfile},
        {"profile on a network drive",
         {"a", ACCOUNT_USER, Sz("N:\\Users\\a"), Sz("D:\\Tmp"), NONE, windows, "PC", DRIVES_C_D}, "D:\\Tmp [a]!"},
        {"account name unknown", {"", ACCOUNT_USER, userProfile, Sz("D:\\Tmp"), profileTemp, windows, "PC", DRIVES_C_D},
         inProfile},
        {"LocalSystem", {"SYSTEM", ACCOUNT_LOCAL_SYSTEM, systemProfile, NONE, NONE, windows, "PC", DRIVES_C_D},
         "C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local\\Temp * | " + systemTemps},
        {"LocalSystem's TMP in the system's Temp",
         {"SYSTEM", ACCOUNT_LOCAL_SYSTEM, NONE, Sz("%SystemRoot%\\Temp", REGISTRY_TYPE_EXPAND_SZ), NONE, windows, "PC",
          DRIVES_C_D},
         "C:\\Windows\\Temp [SYSTEM]! | " + systemTemps},
        {"LocalService, computer name unknown",
         {"LOCAL SERVICE", ACCOUNT_LOCAL_SERVICE, NONE, NONE, NONE, windows, "", DRIVES_C_D},
         "C:\\Windows\\Temp [LOCAL SERVICE]! | C:\\Windows\\SystemTemp [LOCAL SERVICE]!"},
        {"NetworkService with nothing to look for",
         {"", ACCOUNT_NETWORK_SERVICE, NONE, NONE, NONE, windows, "", DRIVES_C_D}, ""},
        {"Windows directory not on a fixed disk",
         {"SYSTEM", ACCOUNT_LOCAL_SYSTEM, systemProfile, NONE, NONE, "N:\\Windows", "PC", DRIVES_C_D}, ""},
        {"Windows directory at a root", {"", ACCOUNT_NETWORK_SERVICE, NONE, NONE, NONE, "d:\\", "PC", DRIVES_C_D},
         "d:\\Temp [PC$]! | d:\\SystemTemp [PC$]!"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Describe(PlanOwnerPlaces(c.facts)), c.plan) << c.what;
}

TEST(PerfData, VerdictOnWhatTheHandleSays)
{
    const long long SMALL = 100;
    const struct {
        const char* what;
        PerfFileFacts facts;  // disk, attributes, directory, reparse point, owner rule, owner, size known, size
        int code;
    } cases[] = {
        {"another user's, where only the owner writes",
         {true, true, false, false, false, PERF_OWNER_OTHER, true, SMALL}, PERF_READ},
        {"pipe or device", {false, true, false, false, false, PERF_OWNER_OTHER, true, SMALL}, PERF_NOT_PLAIN},
        {"attributes not read", {true, false, false, false, false, PERF_OWNER_OTHER, true, SMALL}, PERF_NOT_PLAIN},
        {"directory", {true, true, true, false, false, PERF_OWNER_OTHER, true, SMALL}, PERF_NOT_PLAIN},
        {"reparse point", {true, true, false, true, true, PERF_OWNER_PROCESS_OWNER, true, SMALL}, PERF_NOT_PLAIN},
        {"another user's, where all write", {true, true, false, false, true, PERF_OWNER_OTHER, true, SMALL},
         PERF_NOT_OWNERS},
        {"owner not read", {true, true, false, false, true, PERF_OWNER_UNKNOWN, true, SMALL}, PERF_NOT_OWNERS},
        {"the owner's", {true, true, false, false, true, PERF_OWNER_PROCESS_OWNER, true, SMALL}, PERF_READ},
        {"SYSTEM's", {true, true, false, false, true, PERF_OWNER_SYSTEM, true, SMALL}, PERF_READ},
        {"the Administrators'", {true, true, false, false, true, PERF_OWNER_ADMINISTRATORS, true, SMALL}, PERF_READ},
        {"size not read", {true, true, false, false, false, PERF_OWNER_OTHER, false, 0}, PERF_SIZE_UNKNOWN},
        {"at the size bound", {true, true, false, false, false, PERF_OWNER_OTHER, true, PERF_DATA_MAX_BYTES},
         PERF_READ},
        {"past the size bound", {true, true, false, false, false, PERF_OWNER_OTHER, true, PERF_DATA_MAX_BYTES + 1},
         PERF_TOO_LARGE},
        {"2 GiB - 1", {true, true, false, false, false, PERF_OWNER_OTHER, true, (2LL << 30) - 1}, PERF_TOO_LARGE},
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
    budget.bytes = SMALL - 1;
    EXPECT_EQ(JudgePerfDataFile(cases[0].facts, &budget), PERF_BUDGET_SPENT);
    EXPECT_EQ(budget.bytes, SMALL - 1);
}
