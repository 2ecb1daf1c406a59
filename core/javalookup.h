#pragma once
// The Java lookup as TaskRoll asks it of its worker and as the worker answers:
// which performance-data files to look in, and where the search ended. TaskRoll
// plans the places (it reads the token and the registry); the worker opens,
// lists and reads the files, which users control. Each side decodes what the
// other sent as hostile bytes: every length is bounded, nothing is read past
// the input and nothing may follow the message.
//
// Wire format, little-endian: a number is 4 bytes, a flag or a count 1 byte
// (a flag is 0 or 1), a text a number of bytes and the bytes (no NUL), a SID
// a count of bytes and the bytes.
//   request: process id, TEMP file, TEMP owner rule [SID], owner known [SID,
//            SID text], place count, then each place: plan index, directory,
//            any hsperfdata_*, name count, names, owner rule
//   answer:  end, plan index, path, value
#include "perfdata.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A path far beyond what the ANSI file functions open (MAX_PATH), yet small
// enough that no message grows large.
constexpr std::size_t JAVA_PATH_MAX_BYTES = 4096;
constexpr std::size_t JAVA_PLACES_MAX = 16;
constexpr std::size_t JAVA_NAMES_MAX = 16;
// SECURITY_MAX_SID_SIZE: 8 bytes of header and at most 15 subauthorities.
constexpr std::size_t JAVA_SID_MAX_BYTES = 68;
// "S-1-" and the authority and 15 subauthorities in decimal fit in far less.
constexpr std::size_t JAVA_SID_TEXT_MAX_BYTES = 255;
// A record holds at most 32 KiB, its first field less: a command that long
// is cut to it in the worker, so a record is the same as with the whole
// value, and an answer fits one frame between the processes.
constexpr std::size_t JAVA_VALUE_MAX_BYTES = 32 * 1024;

// One of the owner's places, as OwnerPlace has it, with its index in the plan
// (the places not sent lie between: the network ones).
struct JavaPlace {
    std::uint32_t planIndex = 0;  // below JAVA_PLACES_MAX, rising from place to place
    std::string directory;        // not empty
    bool anyPerfDirectory = false;
    std::vector<std::string> names;  // none empty
    bool ownerRule = false;
};

struct JavaRequest {
    std::uint32_t processId = 0;
    std::string tempFile;  // "<TEMP>\hsperfdata_<user>\<id>"; empty: not looked at
    bool tempOwnerRule = false;
    std::vector<unsigned char> tempOwnerSid;  // with the rule: the file must be this SID's, SYSTEM's or the Administrators'
    bool ownerKnown = false;                  // false: no place of the owner's is searched
    std::vector<unsigned char> ownerSid;
    std::string ownerSidText;
    std::vector<JavaPlace> places;  // only with the owner known
};

enum JavaEnd : std::uint8_t {
    JAVA_READ_FROM_TEMP = 1,    // `value` read from the request's TEMP file
    JAVA_READ_FROM_PLACE = 2,   // `value` read from `path`, in the place at `planIndex`
    JAVA_BUDGET_SPENT = 3,      // the lookup's budget was spent before `path`, in the place at `planIndex`
    JAVA_NOT_FOUND = 4,         // every file was looked at: none holds the command
};

struct JavaAnswer {
    JavaEnd end = JAVA_NOT_FOUND;
    std::uint32_t planIndex = 0;  // below JAVA_PLACES_MAX
    std::string path;             // at most JAVA_PATH_MAX_BYTES
    std::string value;            // at most JAVA_VALUE_MAX_BYTES
};

// False, with `bytes` untouched, when a field is beyond the bounds above.
bool EncodeJavaRequest(const JavaRequest& request, std::vector<unsigned char>* bytes);
bool EncodeJavaAnswer(const JavaAnswer& answer, std::vector<unsigned char>* bytes);
// False on anything but one whole message within the bounds; the output is
// then partly filled and not to be used.
bool DecodeJavaRequest(const unsigned char* data, std::size_t size, JavaRequest* request);
bool DecodeJavaAnswer(const unsigned char* data, std::size_t size, JavaAnswer* answer);

// Whether the answer can have come from a worker that searched what was
// asked: a TEMP read of a TEMP file that was asked, an end in a place that was
// sent, at a path in it, a value only with a read.
bool JavaAnswerFitsRequest(const JavaRequest& request, const JavaAnswer& answer);
