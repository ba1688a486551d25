#pragma once
#include <utility>

namespace platform {

// Owns one handle, null or open, and closes it with `Close` exactly once:
// when it goes, or another takes its place. Moving hands it on; nothing
// copies it, so no path can leak it or close it twice.
template <typename Handle, void (*Close)(Handle)>
class Owned {
public:
    Owned() noexcept = default;
    explicit Owned(Handle handle) noexcept : m_handle(handle) {}
    Owned(Owned&& other) noexcept : m_handle(other.Release()) {}
    Owned& operator=(Owned&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Reset(); }

    Handle Get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != Handle{}; }

    // Closes what it held and holds `handle` in its place.
    void Reset(Handle handle = Handle{}) noexcept
    {
        if (const Handle old = std::exchange(m_handle, handle))
            Close(old);
    }
    // Lets go without closing: whoever takes it closes it, or nobody must.
    Handle Release() noexcept { return std::exchange(m_handle, Handle{}); }

private:
    Handle m_handle{};
};

} // namespace platform
