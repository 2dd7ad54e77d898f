// Shared ownership of an operating-system descriptor. The descriptor is closed when the last
// Handle that refers to it goes, or earlier by close(); a borrowed descriptor is never closed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

namespace tnw::util {

class Handle {
public:
    // The descriptor value that means "none"; also the pseudo-handle of the current thread or
    // process, which is never closed.
    static constexpr int kNone = -1;

    class HandleImpl {
    public:
        HandleImpl(int fd, bool borrowed) : borrowed_(borrowed), fd_(fd) {}
        virtual ~HandleImpl();
        HandleImpl(const HandleImpl&) = delete;
        HandleImpl& operator=(const HandleImpl&) = delete;

        // Takes the descriptor out and closes it unless borrowed; returns 0 or the Windows
        // error number of the failed close. A second close finds nothing and returns 0.
        virtual std::uint32_t close();
        // A new descriptor for the same object, close-on-exec unless inheritable.
        virtual std::pair<class Handle, std::uint32_t> duplicate(bool inheritable);

        int fd() const { return fd_.load(std::memory_order_acquire); }
        bool borrowed() const { return borrowed_; }

        // Bytes moved through streams on this descriptor; for display only.
        std::atomic<std::uint64_t> bytesRead{0};
        std::atomic<std::uint64_t> bytesWritten{0};

    protected:
        int release() { return fd_.exchange(kNone, std::memory_order_acq_rel); }

    private:
        bool borrowed_;
        std::atomic<int> fd_;
    };

    Handle() = default;
    explicit Handle(int fd, bool borrowed = false);
    explicit Handle(std::shared_ptr<HandleImpl> impl) : impl_(std::move(impl)) {}

    bool isValid() const { return impl_ && impl_->fd() >= 0; }
    int fd() const { return impl_ ? impl_->fd() : kNone; }
    HandleImpl* impl() const { return impl_.get(); }
    const std::shared_ptr<HandleImpl>& shared() const { return impl_; }

    std::uint32_t close();
    std::pair<Handle, std::uint32_t> duplicate(bool inheritable) const;
    // Drops this reference; the descriptor closes when it was the last one.
    void reset() { impl_.reset(); }

    explicit operator bool() const { return isValid(); }
    friend bool operator==(const Handle& a, const Handle& b) { return a.impl_ == b.impl_; }

private:
    std::shared_ptr<HandleImpl> impl_;
};

} // namespace tnw::util
