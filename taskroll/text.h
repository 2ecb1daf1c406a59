#pragma once
// The bounded copies of the core (bounded.h), and what the core needs to know
// of the system's ANSI code page to cut a text without splitting a character.
#include "bounded.h"

// The lead bytes of the ANSI code page, read from the system once.
const LeadBytes& AnsiLeadBytes();

#include <string>

// `text` in the ANSI code page as the system converts it, a best-fit
// character or "?" standing in for one the code page lacks.
std::string ToAnsi(const std::wstring& text);

// `text` in the ANSI code page into `ansi`; false when a character has no
// exact counterpart there (no best-fit "?" or look-alike stands in for one).
bool ToAnsiLossless(const wchar_t* text, std::string* ansi);

// `path` as a person can use it in a message: in the ANSI code page when it
// holds it, otherwise by its short path (of its directory, for a file that is
// not there), otherwise in UTF-8; never with "?" for the letters it lacks.
std::string MessagePath(const std::wstring& path);
