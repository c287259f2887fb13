#include "formats/pcm/pcm_io.h"

#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "formats/chunk_reader.h"
#include "formats/g711.h"

namespace pcmio {

namespace {

// 16-bit samples of the buffers are in the machine's byte order.
inline int16_t LoadSample(const unsigned char* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline void StoreSample(unsigned char* p, int16_t v) { std::memcpy(p, &v, 2); }

inline uint16_t ByteSwap(uint16_t v) {
    return __builtin_bswap16(v);
}
inline uint32_t ByteSwap(uint32_t v) {
    return __builtin_bswap32(v);
}

// Reverses the bytes of each of `samples` words of the given type.
template <class Word>
void SwapWords(unsigned char* data, uint64_t samples) {
    for (uint64_t i = 0; i < samples; ++i) {
        Word v;
        std::memcpy(&v, data + sizeof v * i, sizeof v);
        v = ByteSwap(v);
        std::memcpy(data + sizeof v * i, &v, sizeof v);
    }
}

// Packed 24-bit samples are held least significant byte first on every machine.
void Swap24Plain(unsigned char* data, uint64_t samples) {
    for (uint64_t i = 0; i < samples; ++i) std::swap(data[3 * i], data[3 * i + 2]);
}

#if defined(__x86_64__)
// Sixteen samples (48 bytes, three vectors) a step: each vector's bytes are
// reordered within it, and the four bytes whose sample straddles two vectors
// are taken from the neighbour (a mask byte of -1 gives zero).
__attribute__((target("ssse3"))) void Swap24Ssse3(unsigned char* data, uint64_t samples) {
    const __m128i inA = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, -1);
    const __m128i fromB = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1);
    const __m128i inB = _mm_setr_epi8(0, -1, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, -1, 15);
    const __m128i fromA = _mm_setr_epi8(-1, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i fromC = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1);
    const __m128i inC = _mm_setr_epi8(-1, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
    const __m128i fromB2 = _mm_setr_epi8(14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    uint64_t i = 0;
    for (; i + 16 <= samples; i += 16) {
        auto* p = reinterpret_cast<__m128i*>(data + 3 * i);
        const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1), c = _mm_loadu_si128(p + 2);
        _mm_storeu_si128(p, _mm_or_si128(_mm_shuffle_epi8(a, inA), _mm_shuffle_epi8(b, fromB)));
        _mm_storeu_si128(p + 1, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, inB),
                                                          _mm_shuffle_epi8(a, fromA)),
                                             _mm_shuffle_epi8(c, fromC)));
        _mm_storeu_si128(p + 2, _mm_or_si128(_mm_shuffle_epi8(c, inC), _mm_shuffle_epi8(b, fromB2)));
    }
    Swap24Plain(data + 3 * i, samples - i);
}
#endif

void Swap24(unsigned char* data, uint64_t samples) {
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) return Swap24Ssse3(data, samples);
#endif
    Swap24Plain(data, samples);
}

}  // namespace

// ---------------------------------------------------------------------------
// Positioned I/O

OSErr ReadAt(int fork, uint32_t position, void* data, int count) {
    if (OSErr err = XWQF::SetPos(fork, XWQF::kFromStart, static_cast<int>(position))) return err;
    return XWQF::Read(fork, &count, data);
}

OSErr WriteAt(int fork, uint32_t position, const void* data, int count) {
    if (OSErr err = XWQF::SetPos(fork, XWQF::kFromStart, static_cast<int>(position))) return err;
    return XWQF::Write(fork, &count, data);
}

OSErr AppendAtEnd(int fork, const void* data, int count) {
    if (OSErr err = XWQF::SetPos(fork, XWQF::kFromLEOF, 0)) return err;
    return XWQF::Write(fork, &count, data);
}

OSErr WritePadByte(int fork, uint32_t dataStart, uint64_t dataBytes) {
    if (!(dataBytes & 1)) return 0;
    const uint8_t pad = 0;
    return WriteAt(fork, static_cast<uint32_t>(dataStart + dataBytes), &pad, 1);
}

// ---------------------------------------------------------------------------
// Frames of the sample data

OSErr FramePosition(uint32_t dataStart, uint64_t frameBytes, uint32_t frame, uint64_t* position) {
    uint64_t offset = 0;
    if (!MulChecked(frame, frameBytes, &offset) || !AddChecked(dataStart, offset, position) ||
        *position > static_cast<uint64_t>(XWQF::kMaxFileSize))
        return kFileBoundsErr;
    return 0;
}

OSErr ExtendToFrames(int fork, uint32_t dataStart, uint64_t frameBytes, uint32_t frames,
                     uint8_t fill, bool mayGrow) {
    uint64_t wanted = 0;
    if (OSErr err = FramePosition(dataStart, frameBytes, frames, &wanted)) return err;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(fork, &length)) return err;
    if (wanted <= static_cast<uint64_t>(length)) return 0;
    if (!mayGrow) return kWritePermErr;
    if (fill == 0) return XWQF::SetEOF(fork, static_cast<int>(wanted));
    uint8_t piece[4096];
    std::memset(piece, fill, sizeof piece);
    if (OSErr err = XWQF::SetPos(fork, XWQF::kFromLEOF, 0)) return err;
    for (uint64_t left = wanted - static_cast<uint64_t>(length); left;) {
        int n = static_cast<int>(std::min<uint64_t>(left, sizeof piece));
        if (OSErr err = XWQF::Write(fork, &n, piece)) return err;
        left -= static_cast<uint64_t>(n);
    }
    return 0;
}

OSErr CountFrames(int fork, uint32_t dataStart, uint64_t frameBytes, uint32_t* frames) {
    int length = 0;
    if (OSErr err = XWQF::GetEOF(fork, &length)) return err;
    if (frameBytes == 0) return 0;
    const uint64_t bytes = static_cast<uint64_t>(length) > dataStart ? length - dataStart : 0;
    *frames = static_cast<uint32_t>(bytes / frameBytes);
    return 0;
}

// ---------------------------------------------------------------------------
// Blocks

OSErr ReadAndClear(int fork, unsigned char* buffer, uint64_t count, uint64_t bufferBytes,
                   uint64_t* got) {
    OSErr err = 0;
    uint64_t n = 0;
    if (count) {
        int read = static_cast<int>(count);
        err = XWQF::Read(fork, &read, buffer);
        n = read > 0 ? std::min<uint64_t>(static_cast<uint64_t>(read), count) : 0;
    }
    *got = n;
    std::memset(buffer + n, 0, static_cast<size_t>(bufferBytes - n));
    return err;
}

OSErr WriteFrames(int fork, const unsigned char* data, uint64_t bytes, uint32_t position,
                  uint32_t frames, uint32_t* numFrames) {
    int n = static_cast<int>(bytes);
    if (OSErr err = XWQF::Write(fork, &n, data)) return err;
    const uint64_t end = static_cast<uint64_t>(position) + frames;
    if (end > *numFrames) *numFrames = static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX));
    return 0;
}

// ---------------------------------------------------------------------------
// Sample forms

void SwapBigEndianSamples(unsigned char* data, uint64_t samples, uint32_t bytesPerSample) {
    constexpr bool little = std::endian::native == std::endian::little;
    switch (bytesPerSample) {
        case 2:
            if constexpr (little) SwapWords<uint16_t>(data, samples);
            break;
        case 3: Swap24(data, samples); break;
        case 4:
            if constexpr (little) SwapWords<uint32_t>(data, samples);
            break;
        default: break;
    }
}

void SwapLittleEndianSamples(unsigned char* data, uint64_t samples, uint32_t bytesPerSample) {
    if constexpr (std::endian::native == std::endian::big) {
        if (bytesPerSample == 2) SwapWords<uint16_t>(data, samples);
        if (bytesPerSample == 4) SwapWords<uint32_t>(data, samples);
    }
}

void MuLawToSamples(unsigned char* buffer, const unsigned char* codes, uint64_t samples) {
    for (uint64_t i = 0; i < samples; ++i) StoreSample(buffer + 2 * i, mulaw[codes[i]]);
}

void ALawToSamples(unsigned char* buffer, const unsigned char* codes, uint64_t samples) {
    for (uint64_t i = 0; i < samples; ++i) StoreSample(buffer + 2 * i, from_alaw(codes[i]));
}

void SamplesToMuLaw(unsigned char* buffer, uint64_t samples) {
    for (uint64_t i = 0; i < samples; ++i) buffer[i] = to_mulaw(LoadSample(buffer + 2 * i));
}

void SamplesToALaw(unsigned char* buffer, uint64_t samples) {
    for (uint64_t i = 0; i < samples; ++i) buffer[i] = to_alaw(LoadSample(buffer + 2 * i));
}

// ---------------------------------------------------------------------------
// Header fields

int32_t TruncatedRate(double rate) { return SaturatedInt32(rate); }

CSoundFile::ChannelConfiguration ConfigurationForChannels(uint32_t channels) {
    if (channels == 1) return CSoundFile::kMono;
    if (channels == 2) return CSoundFile::kStereo;
    return CSoundFile::kMultichannel;
}

// ---------------------------------------------------------------------------
// Sample sizes

void ClearBelowValidBits(unsigned char* data, uint64_t samples, uint32_t bytesPerSample,
                         int validBits) {
    const int unused = static_cast<int>(bytesPerSample) * 8 - validBits;
    if (unused <= 0 || unused >= 8) return;
    // Only the least significant byte holds bits below the valid ones.
    const unsigned char keep = static_cast<unsigned char>(0xFF << unused);
    switch (bytesPerSample) {
        case 2:
            for (uint64_t i = 0; i < samples; ++i) {
                uint16_t v;
                std::memcpy(&v, data + 2 * i, 2);
                v = static_cast<uint16_t>(v & (0xFF00u | keep));
                std::memcpy(data + 2 * i, &v, 2);
            }
            break;
        case 3:
            // Packed 24-bit samples are held least significant byte first.
            for (uint64_t i = 0; i < samples; ++i) data[3 * i] &= keep;
            break;
        case 4:
            for (uint64_t i = 0; i < samples; ++i) {
                uint32_t v;
                std::memcpy(&v, data + 4 * i, 4);
                v &= 0xFFFFFF00u | keep;
                std::memcpy(data + 4 * i, &v, 4);
            }
            break;
        default: break;
    }
}

}  // namespace pcmio
