#pragma once
#include <cstdint>
#include <string>

// The system's text for an error code, in the ANSI code page, without the
// line break it ends in, for a log entry; its number when it has none.
std::string SystemReasonOf(uint32_t error);
