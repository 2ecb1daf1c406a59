#pragma once
// How a record names a file whose path the ANSI code page cannot hold (a
// folder named in Cyrillic on a Western machine), in process mode and for a
// name of a Unicode list alike: the records are ANSI text, and no record may
// name another file than the one described.
#include <cstddef>
#include <cstdint>
#include <string>

enum RecordPathForm {
    RECORD_PATH_AS_IS,    // the path itself, in the code page
    RECORD_PATH_SHORT,    // its short (8.3) path in the code page, which names the same file
    RECORD_PATH_ESCAPED,  // no ANSI path names it: EscapedPath, which names no file
};

// `fits`: the path converts to the code page with no character lost, in at
// most 259 bytes; `shortFits`: the same of its short path (false where the
// volume keeps no short names, or the file is missing). Whatever the form,
// the file is checked and read through its Unicode path unless it is AS_IS.
RecordPathForm ChooseRecordPath(bool fits, bool shortFits);

// The path's UTF-16 units as printable ASCII: every character outside ' ' to
// '~', and every '<', written as "<U+XXXX>" (4 to 6 hex digits, a surrogate
// pair as its one code point, a lone surrogate as its unit). No Windows file
// name holds a '<', so the text names no file, and no two paths give the same
// text. May throw std::bad_alloc.
std::string EscapedPath(const std::uint16_t* units, std::size_t count);
