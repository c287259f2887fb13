// The ring between the loader thread and the render pass: one float array per
// channel, a single writer and a single reader. A reader that catches up with
// the writer replays the ring's older contents instead of waiting, so every
// render pass makes progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class CyclicPlayBuffer {
public:
    static constexpr uint32_t kNoEnd = 0xFFFFFFFFu;

    // A ring of `capacity` frames (at least 1) of `channels` channels, zeroed.
    CyclicPlayBuffer(uint32_t capacity, uint32_t channels);
    ~CyclicPlayBuffer();
    CyclicPlayBuffer(const CyclicPlayBuffer&) = delete;
    CyclicPlayBuffer& operator=(const CyclicPlayBuffer&) = delete;

    // Writer side. Stores up to *count frames from one source array per channel
    // (wrapping to the start); *count becomes the frames stored.
    void Put(const float* const* channels, uint32_t* count);
    // Free frames for the writer; a ring whose positions are equal is all free.
    uint32_t Puttable() const;
    // The data ends n frames after the current write position (modulo the capacity).
    void SetEOF(uint32_t n);
    // Zeroes every channel; both positions 0; no end position. Only while the
    // reader is kept out.
    void Clear();
    // Zeroes n frames from the write position on (wrapping); positions unchanged.
    void Clear(uint32_t n);

    // Reader side. Hands out one pointer per channel at the read position for up
    // to *count frames, never across the wrap, and stops at the end position;
    // *count becomes the frames handed out. True when the end position lies
    // inside (or right at the end of) that span; a Peek at the end position
    // hands out nothing and answers true. The frames stay the reader's until
    // Consume publishes the new read position.
    bool Peek(uint32_t* count, const float** channels) const;
    void Consume(uint32_t count);
    // Peek and Consume in one step.
    bool Get(uint32_t* count, const float** channels);
    // Frames the reader may take; a ring whose positions are equal is all readable.
    uint32_t Gettable() const;

    uint32_t Capacity() const { return capacity_; }
    uint32_t Channels() const { return channels_; }
    uint32_t ReadPosition() const { return read_.load(std::memory_order_acquire); }
    uint32_t WritePosition() const { return write_.load(std::memory_order_acquire); }
    uint32_t EndPosition() const { return end_.load(std::memory_order_acquire); }

private:
    float* Channel(uint32_t c) const { return data_.get() + static_cast<size_t>(c) * capacity_; }

    std::unique_ptr<float[]> data_;
    const uint32_t capacity_;
    const uint32_t channels_;
    std::atomic<uint32_t> read_{0};
    std::atomic<uint32_t> write_{0};
    std::atomic<uint32_t> end_{kNoEnd};
};
