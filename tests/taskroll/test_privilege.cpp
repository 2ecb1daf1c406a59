// What Wine cannot show: its tokens carry the privileges of an elevated
// administrator, so the usual case on Windows, a standard user whose token
// lacks SeDebugPrivilege ("Failed to set previleges" for /setpriv), shows here
// only through a privilege that Wine's token lacks too. Nor does Wine guard
// other users' or services' processes, so it cannot show that the enabled
// privilege opens them; and OpenProcessToken on the own process never fails.
#include "rig.h"
#include "internal.h"
#include "debuglog.h"
#include "privilege.h"
#include "testkit.h"

#include <algorithm>
#include <vector>

namespace {

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Whether the process token holds the privilege at all, enabled or not.
bool TokenHolds(const char* privilegeName)
{
    LUID luid;
    HANDLE token = nullptr;
    if (!LookupPrivilegeValueA(nullptr, privilegeName, &luid) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<char> buffer(size);
    bool holds = false;
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID& held = privileges->Privileges[i].Luid;
            holds = holds || (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart);
        }
    }
    CloseHandle(token);
    return holds;
}

}  // namespace

TEST(Privilege, OutcomeFollowsTheToken)
{
    // This test program's own log, beside it: each case reads what it appended.
    InitLogFile();
    ASSERT_TRUE(IsLogOpen());
    std::wstring logPath = testkit::Sibling(L"taskroll_privilege_tests.log");
    const char* names[] = {"SeDebugPrivilege", "SeCreateTokenPrivilege", "SeNoSuchPrivilege"};
    for (const char* name : names) {
        std::size_t before = testkit::ReadBytes(logPath).size();
        DWORD expected = TokenHolds(name) ? 0 : ERROR_NOT_ALL_ASSIGNED;
        const char* message = expected == 0 ? "Required previleges have been set" : "Failed to set previleges";
        if (std::string(name) == "SeNoSuchPrivilege") {
            expected = ERROR_NO_SUCH_PRIVILEGE;
            message = "Failed to lookup previlege value";
        }
        EXPECT_EQ(EnablePrivilege(name), expected) << name;
        EXPECT_BYTES(std::string(": ") + message + "\r\n", testkit::ReadBytes(logPath).substr(before + 8)) << name;
    }
    EXPECT_FALSE(TokenHolds("SeCreateTokenPrivilege")) << "the not-all-assigned case was not driven";
}

TEST(Privilege, SetprivRunsOnceAfterTheNameList)
{
    const struct {
        const wchar_t* arguments;
        std::size_t runs;
    } cases[] = {
        {L"/debuglog", 0},
        {L"/debuglog /setpriv", 1},
        {L"/setpriv /debuglog /setpriv", 1},
        {L"/debuglog /setpriv /?", 0},
        {L"/debuglog /? /setpriv", 0},
    };
    for (const auto& c : cases) {
        rig::Rig rig;
        auto run = rig.Run(c.arguments);
        std::string log = rig.Read(L"taskroll.log");
        std::string what = testkit::NarrowAnsi(c.arguments) + "\n" + log;
        EXPECT_EQ(Count(log, ": Setting previleges...\r\n"), c.runs) << what;
        EXPECT_EQ(Count(log, ": Required previleges have been set\r\n") + Count(log, ": Failed to set previleges\r\n"),
                  c.runs) << what;
        bool usage = run.out.find("USAGE:") == 0;
        // The run goes on to the listing whatever the outcome.
        EXPECT_EQ(testkit::FileExists(rig.dir / L"processes.dat"), !usage) << what;
        if (c.runs == 1) {
            std::size_t setting = log.find("Setting previleges...");
            EXPECT_LT(log.find(">>>> Function: GetTaskRollFromFile"), setting) << what;
            EXPECT_LT(setting, log.find(">>>> Function: GetProcessesData")) << what;
        }
    }
}
