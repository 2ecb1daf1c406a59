#include "record.h"

#include <cstring>

void AssembleRecordText(char* record, std::size_t recordSize, const char* firstField, const char* delimiter,
                        const char* description, const LeadBytes& leadBytes)
{
    if (recordSize < 3)
        return;
    // Keep room for two delimiters, the description, '$', the line end and the NUL.
    std::size_t tail = 2 * std::strlen(delimiter) + std::strlen(description) + 1 + 1 + 1;
    std::size_t room = recordSize > tail ? recordSize - tail : 0;
    std::size_t kept = CutOnCharacter(firstField, std::strlen(firstField), room, leadBytes);
    std::memcpy(record, firstField, kept);
    record[kept] = '\0';
    // Whatever the texts, the '$' and the line end still fit after them.
    AppendBounded(record, recordSize - 2, delimiter);
    AppendBounded(record, recordSize - 2, delimiter);
    AppendBounded(record, recordSize - 2, description);
}

void ReplaceRecordDelims(char* record)
{
    for (char* c = record; *c != '\0'; ++c) {
        if (*c == '$')
            *c = 'S';
        else if (*c == '\r' || *c == '\n')
            *c = ' ';
    }
}

void EndRecord(char* record, std::size_t recordSize)
{
    if (recordSize > 1)
        AppendBounded(record, recordSize - 1, "$");
}
