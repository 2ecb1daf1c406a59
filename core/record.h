#pragma once
// Record assembly: one line of processes.dat, built in a fixed buffer from
// texts that a file, a process or a performance-data file supplied.
#include "bounded.h"

#include <cstddef>

// Builds "first<delimiter><delimiter>description" into `record` of
// `recordSize` bytes. The first field is cut, on a character boundary, when
// the whole record with its '$', line end and NUL would not fit; the rest
// never takes the last two bytes, which those need. A buffer of fewer than 3
// bytes is left as it is.
void AssembleRecordText(char* record, std::size_t recordSize, const char* firstField, const char* delimiter,
                        const char* description, const LeadBytes& leadBytes);

// Replaces every '$' of the record by 'S', so that the record's own '$' ends
// it, and every CR and LF by a space, so that a record stays one line.
void ReplaceRecordDelims(char* record);

// Appends the record's '$', keeping one byte of the buffer for the line end.
void EndRecord(char* record, std::size_t recordSize);
