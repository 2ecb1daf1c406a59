#pragma once
// The bounded copies of the core (bounded.h), and what the core needs to know
// of the system's ANSI code page to cut a text without splitting a character.
#include "bounded.h"

// The lead bytes of the ANSI code page, read from the system once.
const LeadBytes& AnsiLeadBytes();

#include <string>

// `text` in the ANSI code page into `ansi`; false when a character has no
// exact counterpart there (no best-fit "?" or look-alike stands in for one).
bool ToAnsiLossless(const wchar_t* text, std::string* ansi);
