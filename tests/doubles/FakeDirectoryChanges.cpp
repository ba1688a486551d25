#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define PELMON_ADDRESS_SANITIZER 1
#endif
#endif

#include <algorithm>
#include <cstdint>
#include <deque>

#include "platform/DirectoryChanges.h"
#include "platform/WatcherWait.h"
#include "tests/doubles/FakeState.h"

namespace platform {

// The event is a pipe that holds a byte while the request is completed; a
// wait blocks in poll(), a cancellation point that holds no lock, like a
// kernel wait on Windows.
struct ChangeRequest {
    int event[2] = {-1, -1};
    std::vector<unsigned char> buffer;
    std::wstring root;
    std::deque<std::vector<unsigned char>> waiting; // batches the "system" holds
    bool pending = false;
    bool completed = false;
    std::size_t bytes = 0;
    bool lost = false;
};

} // namespace platform

namespace {

// Never freed, like the real requests. The list is never destroyed either,
// so they stay reachable until the process has ended.
std::vector<platform::ChangeRequest*>& Requests()
{
    static auto* requests = new std::vector<platform::ChangeRequest*>;
    return *requests;
}

std::wstring RootOf(platform::DirHandle handle)
{
    const auto index = reinterpret_cast<std::uintptr_t>(handle) - 0x1000;
    const fake::Platform& p = fake::State();
    return index < p.openedRoots.size() ? p.openedRoots[index] : std::wstring();
}

// A watcher is killed in its wait: cancellation unwinds the frames above
// it without their epilogues, which leaves the address sanitizer's marks of
// their locals on the stack for the destructors that run next to trip on.
void ForgetStackMarks(void*)
{
#ifdef PELMON_ADDRESS_SANITIZER
    __asan_handle_no_return();
#endif
}

// With the state's lock held.
void Complete(platform::ChangeRequest& request)
{
    std::vector<unsigned char> batch = std::move(request.waiting.front());
    request.waiting.pop_front();
    std::copy(batch.begin(), batch.end(), request.buffer.begin());
    request.bytes = batch.size();
    request.lost = batch.empty();
    request.pending = false;
    request.completed = true;
    const char token = 1;
    [[maybe_unused]] const ssize_t put = ::write(request.event[1], &token, 1);
}

// With the state's lock held: what the records say exists, or no longer.
void LearnTreeFrom(const std::wstring& root, const std::vector<unsigned char>& bytes)
{
    std::size_t offset = 0;
    while (offset + 12 <= bytes.size()) {
        uint32_t header[3];
        std::copy(bytes.begin() + offset, bytes.begin() + offset + 12,
                  reinterpret_cast<unsigned char*>(header));
        if (header[2] > bytes.size() - offset - 12)
            break;
        std::wstring path = root + L'\\';
        for (std::size_t i = 0; i + 1 < header[2]; i += 2)
            path += static_cast<wchar_t>(bytes[offset + 12 + i] | (bytes[offset + 13 + i] << 8));
        if (header[1] == 1 || header[1] == 5)
            fake::State().tree.emplace(path, fake::TreeEntry{});
        else if (header[1] == 2 || header[1] == 4)
            fake::State().tree.erase(path);
        if (header[0] == 0)
            break;
        offset += header[0];
    }
}

} // namespace

namespace platform {

DirHandle InvalidDirHandle()
{
    return reinterpret_cast<DirHandle>(static_cast<std::intptr_t>(-1));
}

DirHandle OpenWatchedDirectory(const std::wstring& root, uint32_t& error)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (root.empty() ||
        std::find(p.openableRoots.begin(), p.openableRoots.end(), root) == p.openableRoots.end()) {
        error = 3; // ERROR_PATH_NOT_FOUND
        return InvalidDirHandle();
    }
    p.openedRoots.push_back(root);
    return reinterpret_cast<DirHandle>(0x1000 + p.openedRoots.size() - 1);
}

void CloseDirectory(DirHandle handle)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.closedDirectories.push_back(handle);
    p.changed.notify_all();
}

ChangeRequest* CreateChangeRequest(DirHandle directory, std::size_t bufferBytes)
{
    auto* request = new ChangeRequest;
    if (::pipe2(request->event, O_NONBLOCK) != 0)
        return nullptr;
    request->buffer.resize(bufferBytes);
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    request->root = RootOf(directory);
    // A new watch replaces any earlier one on the same root.
    for (ChangeRequest* earlier : Requests()) {
        if (earlier->root == request->root)
            earlier->root.clear();
    }
    Requests().push_back(request);
    p.changed.notify_all();
    return request;
}

bool IssueChangeRequest(ChangeRequest& request, uint32_t& error)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (p.refuseRequests) {
        error = 5; // ERROR_ACCESS_DENIED
        return false;
    }
    char token;
    while (::read(request.event[0], &token, 1) == 1) {
    }
    request.completed = false;
    request.pending = true;
    ++p.issuedRequests;
    if (!request.waiting.empty())
        Complete(request);
    p.changed.notify_all();
    return true;
}

bool ChangeRequestCompleted(ChangeRequest& request)
{
    std::lock_guard<std::mutex> lock(fake::State().mutex);
    return request.completed;
}

CompletedChanges TakeCompletedChanges(ChangeRequest& request)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    ++p.takenBatches;
    p.changed.notify_all();
    CompletedChanges changes;
    changes.records = request.buffer.data();
    changes.bytes = request.bytes;
    changes.lost = request.lost;
    return changes;
}

void WaitForWork(ChangeRequest* request, ProcessHandle scanner, FolderListing listing, unsigned milliseconds)
{
    fake::Platform& p = fake::State();
    const bool timed = milliseconds != kWaitForever;
    uint64_t until = 0;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        ++p.parkedWaits;
        p.parkedWithTimeout += timed;
        until = p.monotonicMs + milliseconds;
        if (timed)
            p.parkedUntil.insert(until);
        // A listing below this watcher's root left open: it parked inside a folder.
        for (const auto& listing : p.openListings) {
            const std::wstring& folder = listing.second.folder;
            p.parksMidListing += request && !request->root.empty() &&
                                 folder.compare(0, request->root.size(), request->root) == 0;
        }
        p.changed.notify_all();
    }
    pollfd fds[2];
    nfds_t count = 0;
    if (request)
        fds[count++] = pollfd{request->event[0], POLLIN, 0};
    if (scanner)
        fds[count++] = pollfd{fake::ProcessExitDescriptor(scanner), POLLIN, 0};
    // A time-out is on the tests' clock, and a first read's end on the
    // tests' word: looked at every millisecond.
    const auto overdue = [&] {
        std::lock_guard<std::mutex> lock(p.mutex);
        return p.monotonicMs >= until || (listing && !p.firstReadsHeld);
    };
    pthread_cleanup_push(ForgetStackMarks, nullptr);
    while (::poll(fds, count, timed || listing ? 1 : -1) == 0 && !overdue()) {
    }
    pthread_cleanup_pop(0);
    std::lock_guard<std::mutex> lock(p.mutex);
    --p.parkedWaits;
    p.parkedWithTimeout -= timed;
    if (timed)
        p.parkedUntil.erase(p.parkedUntil.find(until));
    p.changed.notify_all();
}

} // namespace platform

namespace fake {

void DeliverBatch(const std::wstring& root, const std::vector<unsigned char>& bytes)
{
    Platform& p = State();
    std::unique_lock<std::mutex> lock(p.mutex);
    platform::ChangeRequest* target = nullptr;
    p.changed.wait_for(lock, std::chrono::seconds(2), [&] {
        for (platform::ChangeRequest* request : Requests()) {
            if (request->root == root)
                target = request;
        }
        return target != nullptr;
    });
    if (!target)
        return;
    LearnTreeFrom(root, bytes);
    target->waiting.push_back(bytes);
    if (target->pending)
        Complete(*target);
    p.changed.notify_all();
}

void ForgetRequests()
{
    for (platform::ChangeRequest* request : Requests()) {
        request->root.clear();
        request->waiting.clear();
    }
}

} // namespace fake
