#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "platform/DirectoryChanges.h"
#include "tests/doubles/FakePlatform.h"

namespace platform {

// Blocking in read() on a pipe keeps the wait a cancellation point that
// holds no lock, like a kernel wait on Windows.
struct ChangeRequest {
    int pipe[2] = {-1, -1};
    std::vector<unsigned char> buffer;
    std::size_t completedBytes = 0;
    std::wstring root;
    std::deque<fake::Batch> batches;
};

} // namespace platform

namespace {

std::vector<platform::ChangeRequest*>& Requests()
{
    static std::vector<platform::ChangeRequest*> requests;
    return requests;
}

std::wstring RootOf(platform::DirHandle handle)
{
    const auto index = reinterpret_cast<std::uintptr_t>(handle) - 0x1000;
    const fake::Platform& p = fake::State();
    return index < p.openedRoots.size() ? p.openedRoots[index] : std::wstring();
}

} // namespace

namespace platform {

DirHandle InvalidDirHandle()
{
    return reinterpret_cast<DirHandle>(static_cast<std::intptr_t>(-1));
}

DirHandle OpenWatchedDirectory(const std::wstring& root)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (root.empty() ||
        std::find(p.openableRoots.begin(), p.openableRoots.end(), root) == p.openableRoots.end())
        return InvalidDirHandle();
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

ChangeRequest* CreateChangeRequest(std::size_t bufferBytes)
{
    auto* request = new ChangeRequest;
    if (::pipe(request->pipe) != 0)
        return nullptr;
    request->buffer.resize(bufferBytes);
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    Requests().push_back(request);
    return request;
}

bool IssueChangeRequest(ChangeRequest& request, DirHandle directory)
{
    fake::Platform& p = fake::State();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (p.refuseRequests)
        return false;
    request.root = RootOf(directory);
    p.changed.notify_all();
    return true;
}

void WaitForChangeRequest(ChangeRequest& request)
{
    fake::Platform& p = fake::State();
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        ++p.parkedWaits;
        p.changed.notify_all();
    }
    char token;
    [[maybe_unused]] const ssize_t got = ::read(request.pipe[0], &token, 1);
    std::lock_guard<std::mutex> lock(p.mutex);
    --p.parkedWaits;
    ++p.completedWaits;
    request.completedBytes = 0;
    if (!request.batches.empty()) {
        const fake::Batch batch = request.batches.front();
        request.batches.pop_front();
        std::copy(batch.bytes.begin(), batch.bytes.end(), request.buffer.begin());
        request.completedBytes = batch.bytes.size();
    }
}

std::size_t CompletedRequestBytes(ChangeRequest& request, DirHandle)
{
    return request.completedBytes;
}

const unsigned char* RequestBuffer(const ChangeRequest& request)
{
    return request.buffer.data();
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
    target->batches.push_back(Batch{bytes});
    const char token = 1;
    [[maybe_unused]] const ssize_t put = ::write(target->pipe[1], &token, 1);
}

void ForgetRequests()
{
    for (platform::ChangeRequest* request : Requests()) {
        request->root.clear();
        request->batches.clear();
    }
}

} // namespace fake
