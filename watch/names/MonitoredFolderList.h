#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileAccess.h"
#include "watch/names/ListLineIndex.h"

// The monitored-folder list as it stands at each test, read again only when
// its stamp says that it may have changed: another size, last-write,
// change or creation time (a rename moves the change time). A stamp is
// trusted only once its times lie well before the moment it was read, since
// a file system keeps times to a tick (two seconds on FAT) and a rewrite of
// the same size within the tick of the read would leave the stamp as it
// was; until then the list is read at every test. The list is never read while another process may
// write to it: a writer's truncate-then-write is waited for, and a list
// that a writer keeps open is taken once it has been left alone.
class MonitoredFolderList {
public:
    enum class Answer { Listed, NotListed, Missing };

    // Missing when `path` names nothing, or a folder.
    Answer Test(const std::wstring& path, std::u16string_view candidate);

    // How often, and how long, a read finds a writer at the list before it
    // is read all the same, and the pause between two tries.
    static constexpr int kWriterTries = 100;
    static constexpr uint64_t kWriterWaitMs = 500;
    static constexpr unsigned kWriterPauseMs = 5;
    // How far a stamp's time must lie before the read for a later change
    // to move it: above the coarsest tick of a file time.
    static constexpr uint64_t kTrustAfterTicks = 3 * 10000000ull;

private:
    void Refresh(const std::wstring& path, const platform::FileStamp& looked);
    void Take(std::string bytes, const platform::FileStamp& stamp);
    void Forget();

    bool m_held = false; // `m_lines` come from a complete read
    bool m_trusted = false;
    platform::FileStamp m_stamp;
    std::string m_bytes;
    ListLineIndex m_lines;
};
