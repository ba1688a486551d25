#include "log/SystemErrorText.h"

#include "platform/SystemErrorText.h"

void GetSystemErrorText(uint32_t code, std::string& text)
{
    // The system's text ends in CR LF and may break lines inside; an entry
    // is one line of message, so each run of line breaks becomes one blank
    // and the closing ones go. What else it holds is escaped in the entry.
    const std::string raw = platform::FormatSystemMessage(code);
    text.clear();
    bool lineBreak = false;
    for (char c : raw) {
        if (c == '\r' || c == '\n') {
            lineBreak = true;
            continue;
        }
        if (lineBreak && !text.empty())
            text += ' ';
        lineBreak = false;
        text += c;
    }
}

std::string SystemReasonOf(uint32_t code)
{
    std::string text;
    GetSystemErrorText(code, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}
