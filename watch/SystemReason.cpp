#include "watch/SystemReason.h"

#include "platform/SystemErrorText.h"

std::string SystemReasonOf(uint32_t error)
{
    std::string text = platform::FormatSystemMessage(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(error) : text;
}
