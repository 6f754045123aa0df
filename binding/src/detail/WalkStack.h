#pragma once
// The explicit stack of the iterative tree walks (Clear, copy, Accept,
// equality), so that depth costs heap rather than call stack.

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

#include "platform/MemoryAccounting.h"

namespace Tavo::detail {

// Frames are kept inline up to kInline, then on the counting heap. Frames
// must be trivially copyable.
template <class Frame, std::size_t kInline = 48>
class WalkStack {
public:
    WalkStack() = default;
    WalkStack(const WalkStack&) = delete;
    WalkStack& operator=(const WalkStack&) = delete;
    ~WalkStack() {
        if (data_ != inline_) {
            Memory::Free(data_);
        }
    }

    // False when the stack cannot grow; it is unchanged then.
    bool TryPush(const Frame& frame) noexcept {
        if (size_ == capacity_ && !Grow()) {
            return false;
        }
        data_[size_++] = frame;
        return true;
    }
    void Push(const Frame& frame) {
        if (!TryPush(frame)) {
            throw std::bad_alloc();
        }
    }
    Frame& Top() { return data_[size_ - 1]; }
    void Pop() { --size_; }
    bool Empty() const { return size_ == 0; }

private:
    bool Grow() noexcept {
        if (capacity_ > std::numeric_limits<std::size_t>::max() / (2 * sizeof(Frame))) {
            return false;
        }
        std::size_t capacity = capacity_ * 2;
        auto* data = static_cast<Frame*>(Memory::Allocate(capacity * sizeof(Frame)));
        if (data == nullptr) {
            return false;
        }
        std::memcpy(static_cast<void*>(data), data_, size_ * sizeof(Frame));
        if (data_ != inline_) {
            Memory::Free(data_);
        }
        data_ = data;
        capacity_ = capacity;
        return true;
    }

    Frame inline_[kInline];
    Frame* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = kInline;
};

}  // namespace Tavo::detail
