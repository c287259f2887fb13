#include "playback/cyclic_play_buffer.h"

#include <algorithm>
#include <cstring>

CyclicPlayBuffer::CyclicPlayBuffer(uint32_t capacity, uint32_t channels)
    : data_(new float[static_cast<size_t>(std::max(capacity, 1u)) * std::max(channels, 1u)]()),
      capacity_(std::max(capacity, 1u)),
      channels_(std::max(channels, 1u)) {}

CyclicPlayBuffer::~CyclicPlayBuffer() = default;

uint32_t CyclicPlayBuffer::Puttable() const {
    const uint32_t r = read_.load(std::memory_order_acquire);
    const uint32_t w = write_.load(std::memory_order_relaxed);
    if (r > w) return r - w;
    if (r < w) return r - w + capacity_;
    return capacity_;
}

uint32_t CyclicPlayBuffer::Gettable() const {
    const uint32_t w = write_.load(std::memory_order_acquire);
    const uint32_t r = read_.load(std::memory_order_relaxed);
    if (w > r) return w - r;
    if (w < r) return w - r + capacity_;
    return capacity_;
}

void CyclicPlayBuffer::Put(const float* const* channels, uint32_t* count) {
    const uint32_t n = std::min(*count, Puttable());
    const uint32_t w = write_.load(std::memory_order_relaxed);
    const uint32_t first = std::min(n, capacity_ - w);
    for (uint32_t c = 0; c < channels_; ++c) {
        std::memcpy(Channel(c) + w, channels[c], first * sizeof(float));
        if (n > first) std::memcpy(Channel(c), channels[c] + first, (n - first) * sizeof(float));
    }
    uint32_t next = w + n;
    if (next >= capacity_) next -= capacity_;
    write_.store(next, std::memory_order_release);
    *count = n;
}

void CyclicPlayBuffer::SetEOF(uint32_t n) {
    const uint64_t e = (static_cast<uint64_t>(write_.load(std::memory_order_relaxed)) + n) % capacity_;
    end_.store(static_cast<uint32_t>(e), std::memory_order_release);
}

void CyclicPlayBuffer::Clear() {
    std::memset(data_.get(), 0, static_cast<size_t>(capacity_) * channels_ * sizeof(float));
    read_.store(0, std::memory_order_release);
    write_.store(0, std::memory_order_release);
    end_.store(kNoEnd, std::memory_order_release);
}

void CyclicPlayBuffer::Clear(uint32_t n) {
    n = std::min(n, capacity_);
    const uint32_t w = write_.load(std::memory_order_relaxed);
    const uint32_t first = std::min(n, capacity_ - w);
    for (uint32_t c = 0; c < channels_; ++c) {
        std::memset(Channel(c) + w, 0, first * sizeof(float));
        if (n > first) std::memset(Channel(c), 0, (n - first) * sizeof(float));
    }
}

bool CyclicPlayBuffer::Peek(uint32_t* count, const float** channels) const {
    const uint32_t r = read_.load(std::memory_order_relaxed);
    const uint32_t e = end_.load(std::memory_order_acquire);
    uint32_t n = std::min({*count, Gettable(), capacity_ - r});
    bool ended = false;
    if (e != kNoEnd && r <= e && e <= r + n) {
        n = e - r;
        ended = true;
    }
    for (uint32_t c = 0; c < channels_; ++c) channels[c] = Channel(c) + r;
    *count = n;
    return ended;
}

void CyclicPlayBuffer::Consume(uint32_t count) {
    uint32_t r = read_.load(std::memory_order_relaxed) + count;
    if (r >= capacity_) r -= capacity_;
    read_.store(r, std::memory_order_release);
}

bool CyclicPlayBuffer::Get(uint32_t* count, const float** channels) {
    const bool ended = Peek(count, channels);
    Consume(*count);
    return ended;
}
