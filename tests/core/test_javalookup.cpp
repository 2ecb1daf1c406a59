// The Java lookup's messages between TaskRoll and its worker, each side
// taking the other's bytes as hostile.
#include "javalookup.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// S-1-5-32-544: revision 1, two subauthorities.
const std::vector<unsigned char> ADMINISTRATORS = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const std::string TEMP_FILE = "C:\\Windows\\Temp\\hsperfdata_SYSTEM\\4242";

JavaRequest Request()
{
    JavaRequest request;
    request.processId = 4242;
    request.tempFile = TEMP_FILE;
    request.tempOwnerRule = true;
    request.tempOwnerSid = ADMINISTRATORS;
    request.ownerKnown = true;
    request.ownerSid = ADMINISTRATORS;
    request.ownerSidText = "S-1-5-32-544";
    request.places = {{0, "C:\\Users\\ann\\AppData\\Local\\Temp", true, {}, false},
                      {3, "D:\\", false, {"ann", "PC$"}, true}};
    return request;
}

std::vector<unsigned char> Encoded(const JavaRequest& request)
{
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(EncodeJavaRequest(request, &bytes));
    return bytes;
}

}  // namespace

TEST(JavaLookup, MessagesGoThereAndBackWholeOrNotAtAll)
{
    const std::vector<unsigned char> request = Encoded(Request());
    JavaRequest decoded;
    for (std::size_t size = 0; size < request.size(); ++size)
        EXPECT_FALSE(DecodeJavaRequest(request.data(), size, &decoded)) << size;
    ASSERT_TRUE(DecodeJavaRequest(request.data(), request.size(), &decoded));
    EXPECT_EQ(Encoded(decoded), request);

    const JavaAnswer answer = {JAVA_READ_FROM_PLACE, 3, "D:\\\\hsperfdata_ann\\4242", "Main -Xmx1g"};
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(EncodeJavaAnswer(answer, &bytes));
    JavaAnswer back;
    for (std::size_t size = 0; size < bytes.size(); ++size)
        EXPECT_FALSE(DecodeJavaAnswer(bytes.data(), size, &back)) << size;
    ASSERT_TRUE(DecodeJavaAnswer(bytes.data(), bytes.size(), &back));
    EXPECT_TRUE(back.end == answer.end && back.planIndex == 3 && back.path == answer.path && back.value == answer.value);
    bytes.push_back(0);
    EXPECT_FALSE(DecodeJavaAnswer(bytes.data(), bytes.size(), &back));
}

TEST(JavaLookup, HostileRequestsAreRefused)
{
    // Offsets in the encoding of Request(): the TEMP path's text starts at 8,
    // its rule's flag follows it, then the SID's length and the SID.
    const std::size_t rule = 8 + TEMP_FILE.size();
    using Patch = std::function<void(std::vector<unsigned char>&)>;
    const struct {
        const char* what;
        Patch patch;
    } rows[] = {
        {"a trailing byte", [](std::vector<unsigned char>& b) { b.push_back(0); }},
        {"a NUL in the TEMP path", [](std::vector<unsigned char>& b) { b[12] = 0; }},
        {"a flag neither 0 nor 1", [&](std::vector<unsigned char>& b) { b[rule] = 2; }},
        {"a SID longer than any", [&](std::vector<unsigned char>& b) { b[rule + 1] = 69; }},
        {"a SID's count beyond its length", [&](std::vector<unsigned char>& b) { b[rule + 3] = 3; }},
        {"a path longer than the bound", [](std::vector<unsigned char>& b) {
             b[4] = (JAVA_PATH_MAX_BYTES + 1) & 0xFF;
             b[5] = (JAVA_PATH_MAX_BYTES + 1) >> 8;
             b.insert(b.begin() + 8, JAVA_PATH_MAX_BYTES + 1 - TEMP_FILE.size(), 'x');
         }},
        {"17 places", [](std::vector<unsigned char>& b) { b[b.size() - 71] = 17; }},
        {"17 names", [](std::vector<unsigned char>& b) { b[b.size() - 16] = 17; }},
        {"a place's index not rising", [](std::vector<unsigned char>& b) { b[b.size() - 28] = 0; }},
    };
    const std::vector<unsigned char> valid = Encoded(Request());
    // The offsets counted from the end are those of the place count, the
    // last place's name count and its plan index.
    ASSERT_TRUE(valid[valid.size() - 71] == 2 && valid[valid.size() - 16] == 2 && valid[valid.size() - 28] == 3);
    for (const auto& row : rows) {
        std::vector<unsigned char> bytes = valid;
        row.patch(bytes);
        JavaRequest decoded;
        EXPECT_FALSE(DecodeJavaRequest(bytes.data(), bytes.size(), &decoded)) << row.what;
    }
    // The encoder keeps the same bounds: what it makes, the decoder takes.
    JavaRequest longest = Request(), decoded;
    longest.tempFile.assign(JAVA_PATH_MAX_BYTES, 'x');
    const std::vector<unsigned char> bytes = Encoded(longest);
    EXPECT_TRUE(DecodeJavaRequest(bytes.data(), bytes.size(), &decoded));
    longest.tempFile += 'x';
    std::vector<unsigned char> refused = {7};
    EXPECT_TRUE(!EncodeJavaRequest(longest, &refused) && refused == std::vector<unsigned char>{7});
}

// An answer may be well formed and still lie about what was asked.
TEST(JavaLookup, AnswersFitWhatWasAsked)
{
    const struct {
        JavaAnswer answer;
        bool fits;
    } rows[] = {
        {{JAVA_READ_FROM_TEMP, 0, TEMP_FILE, "Main"}, true},
        {{JAVA_READ_FROM_TEMP, 0, "C:\\elsewhere", "Main"}, false},
        {{JAVA_READ_FROM_PLACE, 0, "C:\\Users\\ann\\AppData\\Local\\Temp\\hsperfdata_x\\4242", "Main"}, true},
        {{JAVA_READ_FROM_PLACE, 1, "C:\\Users\\ann\\AppData\\Local\\Temp\\hsperfdata_x\\4242", "Main"}, false},
        {{JAVA_READ_FROM_PLACE, 3, "C:\\Users\\ann\\AppData\\Local\\Temp\\hsperfdata_x\\4242", "Main"}, false},
        {{JAVA_BUDGET_SPENT, 3, "D:\\\\HSPERFDATA_ann\\4242", ""}, true},
        {{JAVA_BUDGET_SPENT, 3, "D:\\\\hsperfdata_ann\\4242", "Main"}, false},
        {{JAVA_NOT_FOUND, 0, "", ""}, true},
        {{JAVA_NOT_FOUND, 0, "", "Main"}, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(JavaAnswerFitsRequest(Request(), row.answer), row.fits) << row.answer.end << row.answer.path;
    JavaRequest noTemp = Request();
    noTemp.tempFile.clear();  // an empty path must not match the answer's empty one
    EXPECT_FALSE(JavaAnswerFitsRequest(noTemp, {JAVA_READ_FROM_TEMP, 0, "", "Main"}));
}
