#pragma once
// The exchange between TaskRoll and its version-reader worker, as bytes on
// one pipe. TaskRoll asks, the worker opens and reads the files and answers;
// each side takes what the other sends as untrusted bytes, and a frame that
// breaks a rule here ends the exchange (TaskRoll then stops that worker).
//
// A frame is its length (4 bytes, little-endian: the type byte and the body),
// its type (1 byte) and its body. TaskRoll sends DESCRIBE, JAVA and, to a
// new worker before anything else, FAILED_FILE frames; the worker sends READY
// once, then, for each request in the order asked, an OPENED frame for a file
// it is about to read (so that a file that ends the worker is known by its
// identity) and one answer, DESCRIBED or JAVA_ANSWER. Every request and answer
// begins with the request's sequence number.
#include "knownfiles.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum ReaderFrame : std::uint8_t {
    READER_FRAME_READY = 1,
    READER_FRAME_DESCRIBE = 2,
    READER_FRAME_FAILED_FILE = 3,
    READER_FRAME_JAVA = 4,
    READER_FRAME_OPENED = 5,
    READER_FRAME_DESCRIBED = 6,
    READER_FRAME_JAVA_ANSWER = 7,
    READER_FRAME_EXPAND = 8,
    READER_FRAME_EXPANDED = 9,
};

constexpr std::size_t READER_FRAME_HEADER_BYTES = 5;
// The largest body either side sends: a Java lookup's request with its
// places, or a description with all its strings, is far smaller.
constexpr std::size_t READER_FRAME_BODY_MAX = 64 * 1024;
// What the worker says in its READY frame.
constexpr char READER_READY_WORD[] = "TRVR";

// The longest path a request names, in bytes (ANSI) or UTF-16 units.
constexpr std::size_t READER_PATH_MAX = 32767;
// A description's strings: a record asks for two names, and each choice
// reports at most one string per translation it visits.
constexpr std::size_t READER_NAMES = 2;
constexpr std::size_t READER_TEXTS_MAX = 32;
constexpr std::size_t READER_TEXT_MAX_BYTES = 259;

// Appends one frame to `out`: false (nothing appended) for a body too large.
bool AppendReaderFrame(std::vector<std::uint8_t>* out, ReaderFrame type, const std::vector<std::uint8_t>& body);

enum FrameSplit {
    FRAME_INCOMPLETE,  // more bytes are needed
    FRAME_WHOLE,       // `type`, `body`, `bodyBytes` and `frameBytes` are set
    FRAME_INVALID,     // a length or type that no peer sends
};

// The first frame of `bytes`, of a type the sender may send: the worker's
// frames where `fromWorker`, TaskRoll's otherwise.
FrameSplit SplitReaderFrame(const std::uint8_t* bytes, std::size_t size, bool fromWorker, ReaderFrame* type,
                            const std::uint8_t** body, std::size_t* bodyBytes, std::size_t* frameBytes);

// A module file to describe, by the path TaskRoll would have opened it by:
// its ANSI bytes, or its UTF-16 units where the code page cannot hold it.
struct DescribeRequest {
    std::uint32_t sequence = 0;
    bool wide = false;
    std::string path;              // ANSI (wide false); no NUL
    std::vector<std::uint16_t> widePath;  // UTF-16 (wide true); no NUL
};

enum DescribedKind : std::uint8_t {
    DESCRIBED_MISSING,      // nothing of that name
    DESCRIBED_NOT_ON_DISK,  // a device, a pipe, a console: not read
    DESCRIBED_FILE,         // a file or a directory
};

enum DescribedState : std::uint8_t {
    DESCRIBED_NO_RESOURCE,   // no version resource (or no size for it)
    DESCRIBED_UNREADABLE,    // one the system could not read
    DESCRIBED_READ,
};

// The strings that the choice of one name found, as a record takes them.
struct DescribedStrings {
    bool found = false;
    std::vector<std::string> texts;  // each at most READER_TEXT_MAX_BYTES, no NUL
};

struct DescribeAnswer {
    std::uint32_t sequence = 0;
    DescribedKind kind = DESCRIBED_MISSING;
    bool reused = false;        // described by what the worker kept of an earlier request
    bool failedBefore = false;  // a file that ended a worker before: not read
    DescribedState state = DESCRIBED_NO_RESOURCE;
    bool damaged = false;
    DescribedStrings strings[READER_NAMES];  // FileVersion, FileDescription
};

// The names a record asks for, in the order of DescribeAnswer::strings.
extern const char* const READER_NAME_TEXTS[READER_NAMES];

// A path to expand into its long or its short form (EXPAND: `flag` 1 for the
// short form), or the expansion (EXPANDED: `flag` 1 where there is one, and
// the path then; an empty path otherwise). The system looks up each folder on
// the way, which is the worker's to do: the folders are a user's.
struct PathFrame {
    std::uint32_t sequence = 0;
    bool flag = false;
    std::vector<std::uint16_t> path;  // UTF-16, no NUL, at most READER_PATH_MAX units
};

std::vector<std::uint8_t> EncodePathFrame(const PathFrame& frame);
bool DecodePathFrame(const std::uint8_t* body, std::size_t size, PathFrame* frame);

// A Java lookup, or its answer: the sequence, then the lookup's own bytes.
struct JavaFrame {
    std::uint32_t sequence = 0;
    std::vector<std::uint8_t> lookup;
};

std::vector<std::uint8_t> EncodeDescribeRequest(const DescribeRequest& request);
bool DecodeDescribeRequest(const std::uint8_t* body, std::size_t size, DescribeRequest* request);
std::vector<std::uint8_t> EncodeDescribeAnswer(const DescribeAnswer& answer);
bool DecodeDescribeAnswer(const std::uint8_t* body, std::size_t size, DescribeAnswer* answer);
// The body of an OPENED frame (the sequence and the file's facts) or of a
// FAILED_FILE frame (the facts only: sequence absent).
std::vector<std::uint8_t> EncodeFileFacts(const std::uint32_t* sequence, const FileFacts& facts);
bool DecodeFileFacts(const std::uint8_t* body, std::size_t size, std::uint32_t* sequence, FileFacts* facts);
std::vector<std::uint8_t> EncodeJavaFrame(const JavaFrame& frame);
bool DecodeJavaFrame(const std::uint8_t* body, std::size_t size, JavaFrame* frame);

// The text by which both sides know a request's path as spelled: two
// requests for one spelling have one key, and no ANSI path has the key of a
// UTF-16 one.
std::string RequestKey(const DescribeRequest& request);
