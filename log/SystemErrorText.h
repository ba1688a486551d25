#pragma once
#include <cstdint>
#include <string>

// Replaces `text` with the system's message text for `code` as one line:
// without its closing line break, each run of line breaks inside it one
// blank.
void GetSystemErrorText(uint32_t code, std::string& text);

// The same text for a sentence of an entry, without its closing full stop;
// the code's number when the system has no text for it.
std::string SystemReasonOf(uint32_t code);
