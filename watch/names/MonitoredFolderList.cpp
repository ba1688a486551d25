#include "watch/names/MonitoredFolderList.h"

#include <algorithm>
#include <utility>

#include "platform/Clock.h"
#include "platform/Sleep.h"
#include "watch/names/ListFileText.h"

MonitoredFolderList::Answer MonitoredFolderList::Test(const std::wstring& path, std::u16string_view candidate)
{
    platform::FileStamp looked;
    if (platform::StampOf(path, looked) != platform::PathKind::File) {
        Forget();
        return Answer::Missing;
    }
    if (!(m_held && m_trusted && platform::SameStamp(looked, m_stamp)))
        Refresh(path, looked);
    return m_lines.OccursIn(candidate) ? Answer::Listed : Answer::NotListed;
}

void MonitoredFolderList::Refresh(const std::wstring& path, const platform::FileStamp& looked)
{
    std::string bytes;
    platform::FileStamp stamp;
    const uint64_t start = platform::MonotonicMilliseconds();
    for (int tries = 1;; ++tries) {
        switch (platform::ReadSettledFile(path, bytes, stamp)) {
        case platform::SettledRead::Read:
            Take(std::move(bytes), stamp);
            return;
        case platform::SettledRead::Failed:
            Forget(); // an unreadable list admits nothing
            return;
        case platform::SettledRead::BeingWritten:
            break;
        }
        // Bounded by the clock as well, since a pause may last a whole
        // timer tick (15.6 ms on Windows unless a program asks for finer).
        if (tries == kWriterTries || platform::MonotonicMilliseconds() - start >= kWriterWaitMs)
            break;
        platform::SleepMilliseconds(kWriterPauseMs);
    }
    // A writer still holds it, and may keep it open for good. What it holds
    // is taken when nothing moved its stamp all the while; otherwise the last
    // complete list stands for it, and it is tried again at the next test.
    platform::FileStamp after;
    if (platform::ReadWholeFile(path, bytes) && platform::StampOf(path, after) == platform::PathKind::File &&
        platform::SameStamp(looked, after)) {
        Take(std::move(bytes), after);
        return;
    }
    m_trusted = false;
}

void MonitoredFolderList::Take(std::string bytes, const platform::FileStamp& stamp)
{
    // The same bytes again (a list read at every test until its stamp is
    // trusted) keep their lines: decoding a big list costs more than the read.
    if (!m_held || bytes != m_bytes) {
        m_lines = ListLineIndex(DecodeListFileLines(bytes));
        m_bytes = std::move(bytes);
    }
    m_held = true;
    m_stamp = stamp;
    // The time is taken after the read: a change after it moves the
    // last-write or change time to this moment's tick or later.
    const platform::FileTime newest = std::max(stamp.lastWrite, stamp.changed);
    const platform::FileTime now = platform::CurrentFileTime();
    m_trusted = newest < now && now - newest > kTrustAfterTicks;
}

void MonitoredFolderList::Forget()
{
    m_held = false;
    m_trusted = false;
    m_stamp = platform::FileStamp{};
    m_bytes.clear();
    m_lines = ListLineIndex();
}
