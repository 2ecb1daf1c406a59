// Record assembly: one line of processes.dat in TaskRoll's record buffer.
#include "record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t RECORD_BUFFER_SIZE = 32768;  // TaskRoll's record buffer, NUL included

}  // namespace

// A first field too long for the record buffer is cut so that the delimiters,
// the description, "$", the line end and the NUL still fit. The buffer is on
// the heap at its exact size, so that a byte written past it stops the test.
TEST(Record, AssembleRecordCutsTheFirstField)
{
    const struct {
        std::size_t firstLength, descriptionLength;
        const char* delimiter;
        std::size_t kept;
    } cases[] = {
        {100, 19, "\t", 100},
        {32759, 4, "\t", 32759},
        {32760, 4, ",", 32759},
        {40000, 4, ";", 32759},
        {40000, 259, "\t", 32504},
        {32504, 259, "\t", 32504},
    };
    std::vector<char> record(RECORD_BUFFER_SIZE);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.firstLength);
        std::string first(c.firstLength, 'p'), description(c.descriptionLength, 'd');
        std::memset(record.data(), 'x', record.size());
        AssembleRecordText(record.data(), record.size(), first.c_str(), c.delimiter, description.c_str(), LeadBytes());
        std::string d = c.delimiter;
        std::string expected = first.substr(0, c.kept) + d + d + description;
        EXPECT_EQ(std::strlen(record.data()), expected.size());
        EXPECT_TRUE(record.data() == expected);
        // "$", "\n" and the NUL are still to come.
        EXPECT_LE(std::strlen(record.data()) + 3, RECORD_BUFFER_SIZE);
    }
}
