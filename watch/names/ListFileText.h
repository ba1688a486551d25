#pragma once
#include <wx/string.h>

#include <string>
#include <vector>

// Decodes the bytes of the monitored-folder list by their byte-order mark:
// UTF-8, UTF-16 or UTF-32 of either byte order with a mark; without one,
// UTF-8 when the whole file is valid UTF-8 (RFC 3629: no overlong forms,
// surrogates or values above U+10FFFF), otherwise ISO-8859-1. False,
// with no text, when a mark is present but what follows it does not decode
// in that encoding, and when the file is nothing but a mark or the start of
// one.
bool DecodeListFileText(const std::string& bytes, wxString& text);

// Splits text into lines at LF, CR LF and lone CR. A break at the very end
// adds no empty line.
std::vector<wxString> SplitListFileLines(const wxString& text);

// Both steps: the lines of a list file, or none.
std::vector<wxString> DecodeListFileLines(const std::string& bytes);
