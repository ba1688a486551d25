#pragma once
#include <cstdint>
#include <utility>

namespace platform {

// Handles of the Service Control Manager and of one service.
struct ScHandleTag;
using ScHandle = ScHandleTag*;

// Each call that can fail reports the system's error code of that call,
// taken at once, through `error`.
ScHandle OpenServiceManager(uint32_t& error);
ScHandle OpenServiceForStatus(ScHandle manager, const wchar_t* name, uint32_t& error);
bool QueryServiceCurrentState(ScHandle service, uint32_t& state, uint32_t& error);
void CloseScHandle(ScHandle handle);

// Owns one handle, null or open, and closes it exactly once when it goes,
// so no path out of a probe can leak it or close it twice.
class ScHandleOwner {
public:
    explicit ScHandleOwner(ScHandle handle) noexcept : m_handle(handle) {}
    ScHandleOwner(ScHandleOwner&& other) noexcept
        : m_handle(std::exchange(other.m_handle, nullptr))
    {
    }
    ScHandleOwner& operator=(ScHandleOwner&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    ScHandleOwner(const ScHandleOwner&) = delete;
    ScHandleOwner& operator=(const ScHandleOwner&) = delete;
    ~ScHandleOwner() { Close(); }

    ScHandle Get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != nullptr; }

private:
    void Close() noexcept
    {
        if (m_handle)
            CloseScHandle(std::exchange(m_handle, nullptr));
    }

    ScHandle m_handle;
};

} // namespace platform
