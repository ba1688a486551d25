#include "watch/ProgressMark.h"

#include <algorithm>

#include "log/LogEntry.h"
#include "log/SystemErrorText.h"
#include "platform/FileAccess.h"
#include "product/ProductLayout.h"

namespace {

// Anything longer is no mark, and is not read further.
constexpr std::size_t kMostDigits = 20;

} // namespace

std::string MarkText(platform::FileTime mark)
{
    return std::to_string(mark) + "\r\n";
}

bool ParseMark(const std::string& text, platform::FileTime& mark)
{
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    const std::string rest = text.substr(digits);
    if (digits == 0 || digits > kMostDigits || !(rest.empty() || rest == "\r\n" || rest == "\n"))
        return false;
    platform::FileTime value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    if (value == 0)
        return false;
    mark = value;
    return true;
}

CatchUpPlan PlanCatchUp(MarkState state, const std::string& text, platform::FileTime startWall)
{
    CatchUpPlan plan;
    plan.state = state;
    platform::FileTime mark = 0;
    if (state == MarkState::Good && !ParseMark(text, mark))
        plan.state = MarkState::Malformed;
    if (plan.state == MarkState::Good && mark > startWall + kFutureTolerance)
        plan.state = MarkState::Future;
    switch (plan.state) {
    case MarkState::Missing:
        return plan;
    case MarkState::Good:
        plan.from = std::min(mark, startWall);
        plan.from -= std::min(plan.from, kCatchUpMargin);
        break;
    case MarkState::Unreadable:
    case MarkState::Malformed:
    case MarkState::Future:
        plan.from = startWall - std::min(startWall, kUntrustedMarkSpan);
        break;
    }
    plan.catchUp = true;
    return plan;
}

CatchUpPlan ProgressMark::Load(platform::FileTime startWall)
{
    if (m_path.empty())
        return CatchUpPlan{};
    MarkState state = MarkState::Good;
    std::string text;
    const platform::PathKind kind = platform::QueryPathKind(m_path);
    if (kind == platform::PathKind::Missing)
        state = MarkState::Missing;
    // A mark is a line of at most 22 bytes: a file of any size in its place
    // is malformed after its first few bytes, and is read no further.
    else if (kind != platform::PathKind::File || !platform::ReadWholeFile(m_path, text, 64))
        state = MarkState::Unreadable;
    const CatchUpPlan plan = PlanCatchUp(state, text, startWall);
    const wchar_t* why = nullptr;
    switch (plan.state) {
    case MarkState::Unreadable:
        why = L"cannot be read";
        break;
    case MarkState::Malformed:
        why = L"holds no time";
        break;
    case MarkState::Future:
        why = L"lies in the future (the clock was set back)";
        break;
    case MarkState::Missing:
    case MarkState::Good:
        break;
    }
    if (why)
        WriteLogEntry(kErrorFunctionLogs,
                      L"In ReadFile: the progress mark \"%s\" %s; the new files of the last %s hours before the "
                      L"start are scanned.",
                      m_path.c_str(), why, std::to_wstring(kUntrustedMarkSpan / (3600ull * 1000 * 10000)).c_str());
    // Written at the first chance, bad or missing: a stop before any work
    // then loses nothing either.
    Worked();
    return plan;
}

void ProgressMark::Write(platform::FileTime mark, uint64_t nowMs, platform::FileTime nowWall, uint64_t batches)
{
    if (m_byWork) {
        m_followUp = true;
        m_wallAtWork = nowWall;
        m_batchesSeen = batches;
    }
    m_worked = m_byWork = false;
    m_nextWriteMs = nowMs + kWriteEveryMs;
    if (m_path.empty() || (m_known && mark == m_written))
        return;
    uint32_t error = 0;
    if (!platform::ReplaceWholeFile(m_path, MarkText(mark), error)) {
        if (!m_failureReported)
            WriteLogEntry(kErrorFunctionLogs,
                          L"In MoveFileExW: the progress mark \"%s\" cannot be written: %S; a restart scans again "
                          L"what arrived since it was last written.",
                          m_path.c_str(), SystemReasonOf(error).c_str());
        m_failureReported = true;
        m_known = false;
        return;
    }
    m_failureReported = false;
    m_known = true;
    m_written = mark;
}
