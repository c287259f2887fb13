// Sample traffic of CSoundFile: the Read, Write and Add families, the extremes
// scans, and the dither table with its generators.
//
// Every operation works a whole buffer at a time: the format refreshes or
// flushes its buffer once per block, and the conversion between the buffer's
// integer samples and the caller's floating-point samples is a straight loop
// over the block (sample_conversion_blocks.cpp holds the widest ones). Nothing
// is allocated per sample.

#include "soundfile/sample_conversion.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "foundation/memory.h"
#include "soundfile/sample_conversion_blocks.h"
#include "soundfile/sound_file.h"

uint16_t* gDitherTable = nullptr;
const int32_t gDTableLength = 65536;
uint16_t gDitherTableIndex = 0;

namespace {

// State of the dither generator (pRandomLong1) and of the spare one.
uint32_t jran = 0;
uint32_t jran2 = 0;
// Serialises filling and freeing the table (the main thread, or a writer that
// finds no table).
std::mutex gDitherMutex;

inline uint32_t StepDitherGenerator() {
    jran = (jran * 4096u + 150889u) % 714025u;
    return jran;
}

OSErr FillDitherLocked() {
    if (!gDitherTable) {
        auto* table = static_cast<uint16_t*>(alloc(sizeof(uint16_t) * gDTableLength));
        if (!table) return MyMemError(table, 1);
        gDitherTable = table;
    }
    for (int32_t i = 0; i < gDTableLength; ++i)
        gDitherTable[i] = static_cast<uint16_t>((StepDitherGenerator() % 65536u) >> 8);
    return 0;
}

// A writer that dithers needs the table; one that finds none fills it here.
OSErr EnsureDitherTable() {
    std::lock_guard<std::mutex> lock(gDitherMutex);
    return gDitherTable ? OSErr(0) : FillDitherLocked();
}

inline uint16_t NextDitherIndex(uint16_t index) {
    return static_cast<uint16_t>(static_cast<uint16_t>(index + 1) % gDTableLength);
}

// ---- Stored sample forms -------------------------------------------------

using sampleblocks::Form;

Form FormOfBytes(int bytes, short dataType) {
    switch (bytes) {
        case 1:
            return Form::k8;
        case 2:
            return Form::k16;
        case 3:
            return Form::k24;
        case 4:
            return dataType == kDataType24In32 ? Form::k24In32 : Form::k32;
        default:
            return Form::kNone;
    }
}

// The stored form goes by whole bytes, as the buffers hold the samples: 8..15
// bits as 8, ..., 32..39 as 32.
Form SizedForm(short wordSize, short dataType) {
    if (wordSize < 8 || wordSize > 39) return Form::kNone;
    return FormOfBytes(wordSize / 8, dataType);
}

// ---- Checks ---------------------------------------------------------------

OSErr IllegalWordSize(short wordSize) {
    // Made for its diagnostic line; the code is returned, not thrown.
    error_code_exception e(kIllegalWordSizeErr, "illegal word size (%ld) in sound file",
                           static_cast<long>(wordSize));
    return static_cast<OSErr>(e.error_code());
}

// A layout the loops can work with: at least one channel and one buffer frame,
// and a buffer whose byte size fits in 32 bits.
OSErr CheckLayout(short wordSize, uint32_t channels, uint32_t bufferFrames) {
    if (channels == 0 || bufferFrames == 0) return kParamErr;
    uint64_t bytes = static_cast<uint64_t>(wordSize / 8) * channels * bufferFrames;
    if (bytes > UINT32_MAX) return kParamErr;
    return 0;
}

// What the members of the Read, Write and Add families check first, in this
// order: a word size they can work with, the caller's pointers, the layout.
OSErr CheckCall(bool wordSizeUsable, short wordSize, bool pointersGiven, uint32_t channels,
                uint32_t bufferFrames) {
    if (!wordSizeUsable) return IllegalWordSize(wordSize);
    if (!pointersGiven) return kParamErr;
    return CheckLayout(wordSize, channels, bufferFrames);
}

// Runs the body of a member; a status thrown from below is its result.
template <class Body>
OSErr StatusOf(Body&& body) {
    try {
        return body();
    } catch (const error_code_exception& e) {
        return static_cast<OSErr>(e.error_code());
    }
}

// ---- Block loops -----------------------------------------------------------

// Reads frames start .. min(frames, start + *count) block by block; body gets
// the input buffer, the frames delivered so far and the frames in this block.
template <class Body>
OSErr ReadBlocks(CSoundFile& file, uint32_t frames, uint32_t bufferFrames,
                 uint32_t start, uint32_t* count, bool countOnFailure, Body&& body) {
    OSErr err = file.InitInputBuffer();
    if (err) return err;
    const uint64_t end = std::min<uint64_t>(frames, static_cast<uint64_t>(start) + *count);
    if (end <= start) {
        *count = 0;
        return 0;
    }
    if (!file.GetInputBuffer()) return kMemBlockMissingErr;
    uint32_t p = start;
    while (p < end) {
        const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(end - p, bufferFrames));
        err = file.RefreshInputBuffer(p);
        if (err) {
            if (countOnFailure) *count = p - start;
            return err;
        }
        body(file.GetInputBuffer(), static_cast<size_t>(p - start), static_cast<size_t>(k));
        p += k;
    }
    *count = p - start;
    return 0;
}

// Writes frames start .. start + *count block by block: refresh, convert,
// flush. A block whose flush failed is counted, one whose refresh failed not.
template <class Body>
OSErr WriteBlocks(CSoundFile& file, uint32_t bufferFrames, uint32_t start, uint32_t* count,
                  Body&& body) {
    OSErr err = file.InitOutputBuffer();
    if (err) return err;
    const uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(start) + *count, UINT32_MAX);
    if (end <= start) {
        *count = 0;
        return 0;
    }
    if (!file.GetOutputBuffer()) return kMemBlockMissingErr;
    // The refresh supplies only the frames the body fills; the hint is gone
    // again however the refresh ends.
    struct FramesInUse {
        CSoundFile& file;
        ~FramesInUse() { file.SetOutputFramesInUse(0); }
    } inUse{file};
    uint32_t p = start;
    for (;;) {
        const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(bufferFrames, end - p));
        file.SetOutputFramesInUse(k);
        err = file.RefreshOutputBuffer(p);
        file.SetOutputFramesInUse(0);
        if (err) break;
        body(file.GetOutputBuffer(), static_cast<size_t>(p - start), static_cast<size_t>(k));
        err = file.FlushOutputBuffer(k, p);
        p += k;
        if (err || p >= end) break;
    }
    *count = p - start;
    return err;
}

// ---- Write conversions -----------------------------------------------------
// 16- and 24-bit samples without dither are the block conversions' business.

using sampleblocks::Clip;
using sampleblocks::ClipBlock;
using sampleblocks::TruncBounded;

// After the clip, x * 128 lies in [-128, 127].
void Write8(double* x, size_t n, unsigned char* out) {
    ClipBlock(x, n, kWriteLimit8);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(static_cast<int8_t>(TruncBounded(x[i] * kFactor8)));
}

void Write8Dithered(double* x, size_t n, unsigned char* out) {
    ClipBlock(x, n, kWriteLimit8);
    const uint16_t* table = gDitherTable;
    uint16_t index = gDitherTableIndex;
    for (size_t i = 0; i < n; ++i) {
        int32_t a = static_cast<int16_t>(TruncBounded(x[i] * kDitherFactor8));
        if (a < 32512) {
            index = NextDitherIndex(index);
            a = (a + table[index]) >> 8;
        } else {
            a >>= 8;
        }
        out[i] = static_cast<unsigned char>(static_cast<int8_t>(a));
    }
    gDitherTableIndex = index;
}

void Write16Dithered(double* x, size_t n, unsigned char* out) {
    ClipBlock(x, n, kWriteLimit16);
    const uint16_t* table = gDitherTable;
    uint16_t index = gDitherTableIndex;
    for (size_t i = 0; i < n; ++i) {
        const int32_t w = TruncBounded(x[i] * kFactor32);
        int16_t s;
        if (w >= 0x7FFF0000) {
            s = 32767;
        } else {
            index = NextDitherIndex(index);
            s = static_cast<int16_t>((w + static_cast<int32_t>(table[index]) * 256) >> 16);
        }
        std::memcpy(out + 2 * i, &s, 2);
    }
    gDitherTableIndex = index;
}

// The 32-bit range test (x * 2^31 beyond +-2^31) scales by a power of two, so
// it is exactly x > 1.0 and x < -1.0: such samples become +-1.0 in the caller's
// array, which is the clip to [-1, 1].
void Write32(double* x, size_t n, unsigned char* out) {
    ClipBlock(x, n, 1.0);
    for (size_t i = 0; i < n; ++i) {
        const int32_t w = TruncToInt32(x[i] * kWriteFactor32);
        std::memcpy(out + 4 * i, &w, 4);
    }
}

// ---- Add conversions -------------------------------------------------------
// One channel of a block mixed into what the buffer holds. Sums saturate at the
// ends of the word; a NaN from the caller adds nothing.

inline int32_t Saturate(int64_t v, int32_t lo, int32_t hi) {
    return static_cast<int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

void Add8(unsigned char* buf, size_t frames, size_t channels, size_t channel, const double* x) {
    for (size_t i = 0; i < frames; ++i) {
        unsigned char* p = buf + i * channels + channel;
        // The addend is what a write of the sample would store.
        const int32_t addend = Saturate(TruncToInt32(x[i] * kFactor8), -128, 127);
        const int64_t sum = static_cast<int64_t>(static_cast<int8_t>(*p)) + addend;
        *p = static_cast<unsigned char>(static_cast<int8_t>(Saturate(sum, -128, 127)));
    }
}

void Add16(unsigned char* buf, size_t frames, size_t channels, size_t channel, const double* x) {
    for (size_t i = 0; i < frames; ++i) {
        unsigned char* p = buf + 2 * (i * channels + channel);
        int16_t s;
        std::memcpy(&s, p, 2);
        double d = x[i] * kFactor16;
        d = (d == d) ? Clip(d, -32768.0, 32767.0) : 0.0;
        const int16_t r =
            static_cast<int16_t>(Saturate(TruncToInt32(static_cast<double>(s) + d), -32768, 32767));
        std::memcpy(p, &r, 2);
    }
}

void Add24(unsigned char* buf, size_t frames, size_t channels, size_t channel, double* x) {
    for (size_t i = 0; i < frames; ++i) {
        unsigned char* p = buf + 3 * (i * channels + channel);
        const double addend = (x[i] == x[i]) ? x[i] : 0.0;
        const double y = Clip(TwentyFour2Double(p) + addend, -1.0, 1.0);
        x[i] = y;
        Long2TwentyFour(LeftJustified24(y), p);
    }
}

void Add32(unsigned char* buf, size_t frames, size_t channels, size_t channel, const double* x) {
    for (size_t i = 0; i < frames; ++i) {
        unsigned char* p = buf + 4 * (i * channels + channel);
        int32_t s;
        std::memcpy(&s, p, 4);
        const int64_t sum = static_cast<int64_t>(s) + TruncToInt32(x[i] * kWriteFactor32);
        const int32_t r = Saturate(sum, INT32_MIN, INT32_MAX);
        std::memcpy(p, &r, 4);
    }
}

// ---- Extremes ---------------------------------------------------------------

template <class F>
uint32_t ScanExtremes(const void* buffer, uint32_t frames, uint32_t channels, int32_t* minima,
                      int32_t* maxima) {
    if (!buffer || !minima || !maxima || frames == 0 || channels == 0) return 0;
    const auto* b = static_cast<const unsigned char*>(buffer);
    uint32_t last = 0;
    for (uint32_t f = 0; f < frames; ++f) {
        const size_t base = static_cast<size_t>(f) * channels;
        for (uint32_t c = 0; c < channels; ++c) {
            const int32_t s = F::Load(b, base + c);
            if (s < minima[c]) {
                minima[c] = s;
                last = f;
            } else if (s > maxima[c]) {
                maxima[c] = s;
                last = f;
            }
        }
    }
    return last;
}

struct DeallocDeleter {
    void operator()(void* p) const { dealloc(p); }
};

}  // namespace

// ---- Dither table ---------------------------------------------------------

OSErr fillDither(int /*unused*/) {
    std::lock_guard<std::mutex> lock(gDitherMutex);
    return FillDitherLocked();
}

void FreeDitherTable() {
    std::lock_guard<std::mutex> lock(gDitherMutex);
    if (gDitherTable) dealloc(gDitherTable);
    gDitherTable = nullptr;
}

uint32_t pRandomLong1() { return StepDitherGenerator(); }

uint32_t pRandomLong2() {
    jran2 = (jran2 * 741u + 66037u) % 312500u;
    return jran2;
}

// ---- Read family ------------------------------------------------------------

OSErr CSoundFile::Read(uint32_t start, uint32_t* count, float* interleaved) {
    return StatusOf([&]() -> OSErr {
        const Form form = SizedForm(wordSize_, dataType_);
        if (OSErr e = CheckCall(form != Form::kNone, wordSize_, count && interleaved, channels_,
                                bufferFrames_))
            return e;
        const size_t ch = channels_;
        return ReadBlocks(*this, numFrames_, bufferFrames_, start, count, false,
                          [&](const unsigned char* buf, size_t done, size_t k) {
                              sampleblocks::ReadRun(form, buf, k * ch, interleaved + done * ch);
                          });
    });
}

OSErr CSoundFile::Read(uint32_t start, uint32_t* count, float** channels) {
    return StatusOf([&]() -> OSErr {
        const Form form = SizedForm(wordSize_, dataType_);
        if (OSErr e = CheckCall(form != Form::kNone, wordSize_, count && channels, channels_,
                                bufferFrames_))
            return e;
        const size_t ch = channels_;
        return ReadBlocks(*this, numFrames_, bufferFrames_, start, count, false,
                          [&](const unsigned char* buf, size_t done, size_t k) {
                              for (size_t c = 0; c < ch; ++c)
                                  sampleblocks::ReadChannel(form, buf, k, ch, c, channels[c] + done);
                          });
    });
}

OSErr CSoundFile::Read(short channel, uint32_t start, uint32_t* count, float* samples) {
    return StatusOf([&]() -> OSErr {
        const Form form = SizedForm(wordSize_, dataType_);
        if (OSErr e = CheckCall(form != Form::kNone, wordSize_, count && samples, channels_,
                                bufferFrames_))
            return e;
        if (channel < 0 || static_cast<uint32_t>(channel) >= channels_) return kParamErr;
        const size_t ch = channels_;
        const size_t c = static_cast<size_t>(channel);
        return ReadBlocks(*this, numFrames_, bufferFrames_, start, count, false,
                          [&](const unsigned char* buf, size_t done, size_t k) {
                              sampleblocks::ReadChannel(form, buf, k, ch, c, samples + done);
                          });
    });
}

OSErr CSoundFile::Read(uint32_t start, uint32_t* count, float* left, float* right) {
    return StatusOf([&]() -> OSErr {
        const Form form = SizedForm(wordSize_, dataType_);
        if (OSErr e = CheckCall(form != Form::kNone, wordSize_, count && left && right, channels_,
                                bufferFrames_))
            return e;
        const size_t ch = channels_;
        return ReadBlocks(*this, numFrames_, bufferFrames_, start, count, false,
                          [&](const unsigned char* buf, size_t done, size_t k) {
                              sampleblocks::ReadChannel(form, buf, k, ch, 0, left + done);
                              sampleblocks::ReadChannel(form, buf, k, ch, ch - 1, right + done);
                          });
    });
}

OSErr CSoundFile::Read(uint32_t start, uint32_t* count, double* interleaved) {
    return StatusOf([&]() -> OSErr {
        const Form form = SizedForm(wordSize_, dataType_);
        if (OSErr e = CheckCall(form != Form::kNone, wordSize_, count && interleaved, channels_,
                                bufferFrames_))
            return e;
        const size_t ch = channels_;
        return ReadBlocks(*this, numFrames_, bufferFrames_, start, count, true,
                          [&](const unsigned char* buf, size_t done, size_t k) {
                              sampleblocks::ReadRun(form, buf, k * ch, interleaved + done * ch);
                          });
    });
}

OSErr CSoundFile::Read(short channel, uint32_t start, uint32_t* count, double* samples) {
    return StatusOf([&]() -> OSErr {
        const Form form = SizedForm(wordSize_, dataType_);
        if (OSErr e = CheckCall(form != Form::kNone, wordSize_, count && samples, channels_,
                                bufferFrames_))
            return e;
        if (channel < 0 || static_cast<uint32_t>(channel) >= channels_) return kParamErr;
        const size_t ch = channels_;
        const size_t c = static_cast<size_t>(channel);
        return ReadBlocks(*this, numFrames_, bufferFrames_, start, count, true,
                          [&](const unsigned char* buf, size_t done, size_t k) {
                              sampleblocks::ReadChannel(form, buf, k, ch, c, samples + done);
                          });
    });
}

// Left and right as doubles: read interleaved into one work array, then pick
// channel 0 and the last channel of every delivered frame.
OSErr CSoundFile::Read(uint32_t start, uint32_t* count, double* left, double* right) {
    return StatusOf([&]() -> OSErr {
        if (!count || !left || !right) return kParamErr;
        if (channels_ == 0) return kParamErr;
        const size_t ch = channels_;
        // The work array holds no more frames than the file can deliver.
        const uint32_t total = GetNumSFrames();
        const uint32_t frames = std::min(*count, total > start ? total - start : 0u);
        std::unique_ptr<double, DeallocDeleter> work(
            static_cast<double*>(alloc(sizeof(double) * ch * std::max<size_t>(frames, 1))));
        if (!work) return MyMemError(nullptr, 1);
        uint32_t got = frames;
        const OSErr err = Read(start, &got, work.get());
        // A failure reports the frames delivered before it; one that came before
        // any delivery leaves the count as it was, which means none here.
        if (err && got >= frames) got = 0;
        got = std::min(got, frames);
        const double* w = work.get();
        for (size_t i = 0; i < got; ++i) {
            left[i] = w[i * ch];
            right[i] = w[i * ch + ch - 1];
        }
        *count = got;
        return err;
    });
}

// ---- Write and Add ------------------------------------------------------------

OSErr CSoundFile::Write(uint32_t start, uint32_t* count, double* interleaved) {
    return StatusOf([&]() -> OSErr {
        if (OSErr e = CheckCall(wordSize_ >= 8 && wordSize_ <= 39, wordSize_, count && interleaved,
                                channels_, bufferFrames_))
            return e;
        const int bytes = wordSize_ / 8;
        const bool dither = dither_ && bytes <= 2;
        if (dither) {
            if (OSErr e = EnsureDitherTable()) return e;
        }
        const size_t ch = channels_;
        return WriteBlocks(*this, bufferFrames_, start, count,
                           [&](unsigned char* buf, size_t done, size_t k) {
                               double* x = interleaved + done * ch;
                               const size_t n = k * ch;
                               switch (bytes) {
                                   case 1:
                                       dither ? Write8Dithered(x, n, buf) : Write8(x, n, buf);
                                       break;
                                   case 2:
                                       dither ? Write16Dithered(x, n, buf) : sampleblocks::WriteRun16(x, n, buf);
                                       break;
                                   case 3:
                                       sampleblocks::WriteRun24(x, n, buf);
                                       break;
                                   default:
                                       Write32(x, n, buf);
                                       break;
                               }
                           });
    });
}

// One array per channel: interleaved into one work array and written.
OSErr CSoundFile::Write(uint32_t start, uint32_t* count, double** channels) {
    return StatusOf([&]() -> OSErr {
        if (!count || !channels) return kParamErr;
        if (channels_ == 0) return kParamErr;
        const size_t ch = channels_;
        for (size_t c = 0; c < ch; ++c)
            if (!channels[c]) return kParamErr;
        const size_t n = *count;
        if (n > SIZE_MAX / sizeof(double) / ch) return kMemBlockMissingErr;
        std::unique_ptr<double, DeallocDeleter> work(
            static_cast<double*>(alloc(sizeof(double) * ch * std::max<size_t>(n, 1))));
        if (!work) return MyMemError(nullptr, 1);
        double* w = work.get();
        for (size_t c = 0; c < ch; ++c) {
            const double* src = channels[c];
            for (size_t i = 0; i < n; ++i) w[i * ch + c] = src[i];
        }
        return Write(start, count, w);
    });
}

OSErr CSoundFile::Add(short channel, uint32_t start, uint32_t* count, double* samples) {
    return StatusOf([&]() -> OSErr {
        if (OSErr e = CheckCall(wordSize_ >= 8 && wordSize_ <= 39, wordSize_, count && samples,
                                channels_, bufferFrames_))
            return e;
        if (channel < 0 || static_cast<uint32_t>(channel) >= channels_) return kParamErr;
        const int bytes = wordSize_ / 8;
        const size_t ch = channels_;
        const size_t c = static_cast<size_t>(channel);
        return WriteBlocks(*this, bufferFrames_, start, count,
                           [&](unsigned char* buf, size_t done, size_t k) {
                               double* x = samples + done;
                               switch (bytes) {
                                   case 1:
                                       Add8(buf, k, ch, c, x);
                                       break;
                                   case 2:
                                       Add16(buf, k, ch, c, x);
                                       break;
                                   case 3:
                                       Add24(buf, k, ch, c, x);
                                       break;
                                   default:
                                       Add32(buf, k, ch, c, x);
                                       break;
                               }
                           });
    });
}

// ---- Extremes scans ---------------------------------------------------------------

uint32_t CSoundFile::GetExtremes8(const void* buffer, uint32_t frames, int32_t* minima,
                                  int32_t* maxima) {
    return ScanExtremes<sampleblocks::Pcm8>(buffer, frames, channels_, minima, maxima);
}

uint32_t CSoundFile::GetExtremes16(const void* buffer, uint32_t frames, int32_t* minima,
                                   int32_t* maxima) {
    return ScanExtremes<sampleblocks::Pcm16>(buffer, frames, channels_, minima, maxima);
}

uint32_t CSoundFile::GetExtremes24L(const void* buffer, uint32_t frames, int32_t* minima,
                                    int32_t* maxima) {
    return ScanExtremes<sampleblocks::Pcm24>(buffer, frames, channels_, minima, maxima);
}

uint32_t CSoundFile::GetExtremes24R(const void* buffer, uint32_t frames, int32_t* minima,
                                    int32_t* maxima) {
    return ScanExtremes<sampleblocks::Pcm24In32>(buffer, frames, channels_, minima, maxima);
}

uint32_t CSoundFile::GetExtremes32(const void* buffer, uint32_t frames, int32_t* minima,
                                   int32_t* maxima) {
    return ScanExtremes<sampleblocks::Pcm32>(buffer, frames, channels_, minima, maxima);
}
