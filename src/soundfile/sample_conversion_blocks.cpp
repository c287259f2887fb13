// The block conversions of the Read and Write families: the plain loops, and on
// x86-64 the SSE2 and AVX2 loops that give the same bits. The vector steps are
// the scalar ones lane by lane (int to float, float to double, the double
// product, double to float, truncation), under the same rounding mode; where a
// vector loop takes another way, its comment says why the bits still agree.

#include "soundfile/sample_conversion_blocks.h"

#include <algorithm>
#include <atomic>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__SSE2__)
#define CORVANE_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace sampleblocks {

namespace {

// ---- Choosing the path ------------------------------------------------------

Path DetectBestPath() {
#if defined(CORVANE_X86_VECTORS)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? Path::kAvx2 : Path::kSse2;
#else
    return Path::kPlain;
#endif
}

// -1 until a path is chosen: the conversions then take the best.
std::atomic<int> gChosenPath{-1};

Path CurrentPath() {
    const int chosen = gChosenPath.load(std::memory_order_relaxed);
    return chosen < 0 ? BestPath() : static_cast<Path>(chosen);
}

// ---- Plain loops (the reference) -----------------------------------------------

template <class T, class F>
inline T ToSample(int32_t s) {
    if constexpr (std::is_same_v<T, double>) {
        return static_cast<double>(s) * F::kScale;
    } else if constexpr (std::is_same_v<F, Pcm8>) {
        return static_cast<float>(s) * static_cast<float>(kReadScale8);
    } else {
        return static_cast<float>(static_cast<double>(static_cast<float>(s)) * F::kScale);
    }
}

template <class F, class T>
void ReadRunPlain(const unsigned char* buf, size_t samples, T* out) {
    for (size_t i = 0; i < samples; ++i) out[i] = ToSample<T, F>(F::Load(buf, i));
}

template <class F, class T>
void ReadChannelPlain(const unsigned char* buf, size_t frames, size_t channels, size_t channel,
                      T* out) {
    for (size_t i = 0; i < frames; ++i) out[i] = ToSample<T, F>(F::Load(buf, i * channels + channel));
}

void WriteRun16Plain(double* x, size_t n, unsigned char* out) {
    ClipBlock(x, n, kWriteLimit16);
    // After the clip, x * 32768 lies in [-32768, 32767.0002], so the clamp of
    // the product to [-32768, 32767] changes nothing that truncation keeps.
    for (size_t i = 0; i < n; ++i) {
        const int16_t s = static_cast<int16_t>(TruncBounded(x[i] * kFactor16));
        std::memcpy(out + 2 * i, &s, 2);
    }
}

// The 24-bit range test (x * 2^23 beyond +-2^23) scales by a power of two, so
// it is exactly x > 1.0 and x < -1.0: such samples become +-1.0 in the caller's
// array, which is the clip to [-1, 1].
void WriteRun24Plain(double* x, size_t n, unsigned char* out) {
    ClipBlock(x, n, 1.0);
    for (size_t i = 0; i < n; ++i) Long2TwentyFour(LeftJustified24(x[i]), out + 3 * i);
}

#if defined(CORVANE_X86_VECTORS)

// ---- SSE2 ---------------------------------------------------------------------
// Widening and narrowing between the halves of a register keep one execution
// port busy, so the reads go in two steps through a small block on the stack:
// the stored values as 32-bit integers (as floats for float output), then the
// conversions, each taking its two values straight from that block.

constexpr size_t kHeld = 256;  // samples per step, a multiple of 8

// Four consecutive samples from sample i on, as signed 32-bit values; no byte
// after the fourth sample is touched.
template <class F>
inline __m128i LoadFourSse2(const unsigned char* b, size_t i) {
    if constexpr (std::is_same_v<F, Pcm8>) {
        int32_t w;
        std::memcpy(&w, b + i, 4);
        __m128i v = _mm_cvtsi32_si128(w);
        v = _mm_unpacklo_epi8(v, v);
        v = _mm_unpacklo_epi16(v, v);
        return _mm_srai_epi32(v, 24);
    } else if constexpr (std::is_same_v<F, Pcm16>) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + 2 * i));
        return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
    } else if constexpr (std::is_same_v<F, Pcm24>) {
        // Twelve bytes, read as three words that each hold one or two samples.
        const unsigned char* p = b + 3 * i;
        uint64_t first;
        uint32_t third, fourth;
        std::memcpy(&first, p, 8);
        std::memcpy(&third, p + 6, 4);
        std::memcpy(&fourth, p + 8, 4);
        return _mm_setr_epi32(static_cast<int32_t>(static_cast<uint32_t>(first) << 8),
                              static_cast<int32_t>(static_cast<uint32_t>(first >> 16) & 0xFFFFFF00u),
                              static_cast<int32_t>(third << 8),
                              static_cast<int32_t>(fourth & 0xFFFFFF00u));
    } else if constexpr (std::is_same_v<F, Pcm24In32>) {
        return _mm_slli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4 * i)), 8);
    } else {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4 * i));
    }
}

// Step one: the values of n samples (a multiple of 4), as floats for float output.
template <class T>
inline void StoreHeldSse2(__m128i v, int32_t* held) {
    if constexpr (std::is_same_v<T, float>)
        _mm_store_ps(reinterpret_cast<float*>(held), _mm_cvtepi32_ps(v));
    else
        _mm_store_si128(reinterpret_cast<__m128i*>(held), v);
}

template <class F, class T>
inline void HoldRunSse2(const unsigned char* b, size_t i, size_t n, int32_t* held) {
    for (size_t j = 0; j < n; j += 4) StoreHeldSse2<T>(LoadFourSse2<F>(b, i + j), held + j);
}

template <class F, class T>
inline void HoldEverySse2(const unsigned char* b, size_t first, size_t step, size_t n,
                          int32_t* held) {
    for (size_t j = 0; j < n; ++j) held[j] = F::Load(b, first + j * step);
    if constexpr (std::is_same_v<T, float>) {
        for (size_t j = 0; j < n; j += 4)
            StoreHeldSse2<T>(_mm_load_si128(reinterpret_cast<const __m128i*>(held + j)), held + j);
    }
}

// Two held values widened to double, straight from memory (cvtps2pd or
// cvtdq2pd with a memory operand: their register forms take the shuffle port
// as well, which these loops are short of, and compilers do not fold the load).
template <bool kFloats>
inline __m128d WidenTwoSse2(const int32_t* p) {
    using Pair = uint64_t __attribute__((may_alias));
    __m128d r;
    if constexpr (kFloats)
        __asm__("cvtps2pd %1, %0" : "=x"(r) : "m"(*reinterpret_cast<const Pair*>(p)));
    else
        __asm__("cvtdq2pd %1, %0" : "=x"(r) : "m"(*reinterpret_cast<const Pair*>(p)));
    return r;
}

// Step two: double(value) times the scale; for float output, the float widened,
// times the scale, rounded to single precision. (The plain loop multiplies 8-bit
// samples in single precision; by 2^-7 both products are exact, so they agree.)
template <class F, class T>
inline void ScaleHeldSse2(const int32_t* held, size_t n, T* out) {
    const __m128d scale = _mm_set1_pd(F::kScale);
    for (size_t j = 0; j < n; j += 4) {
        if constexpr (std::is_same_v<T, double>) {
            _mm_storeu_pd(out + j, _mm_mul_pd(WidenTwoSse2<false>(held + j), scale));
            _mm_storeu_pd(out + j + 2, _mm_mul_pd(WidenTwoSse2<false>(held + j + 2), scale));
        } else {
            const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(WidenTwoSse2<true>(held + j), scale));
            const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(WidenTwoSse2<true>(held + j + 2), scale));
            _mm_storel_pi(reinterpret_cast<__m64*>(out + j), lo);
            _mm_storel_pi(reinterpret_cast<__m64*>(out + j + 2), hi);
        }
    }
}

template <class F, class T>
void ReadRunSse2(const unsigned char* buf, size_t samples, T* out) {
    alignas(16) int32_t held[kHeld];
    size_t i = 0;
    while (samples - i >= 4) {
        const size_t n = std::min(kHeld, (samples - i) & ~size_t{3});
        HoldRunSse2<F, T>(buf, i, n, held);
        ScaleHeldSse2<F>(held, n, out + i);
        i += n;
    }
    for (; i < samples; ++i) out[i] = ToSample<T, F>(F::Load(buf, i));
}

template <class F, class T>
void ReadChannelSse2(const unsigned char* buf, size_t frames, size_t channels, size_t channel,
                     T* out) {
    alignas(16) int32_t held[kHeld];
    size_t i = 0;
    while (frames - i >= 4) {
        const size_t n = std::min(kHeld, (frames - i) & ~size_t{3});
        HoldEverySse2<F, T>(buf, i * channels + channel, channels, n, held);
        ScaleHeldSse2<F>(held, n, out + i);
        i += n;
    }
    for (; i < frames; ++i) out[i] = ToSample<T, F>(F::Load(buf, i * channels + channel));
}

// Two samples clipped to [lo, hi], a NaN kept (max and min hand back their
// second operand when one is NaN), and written back.
inline __m128d ClipTwoSse2(double* x, __m128d lo, __m128d hi) {
    const __m128d v = _mm_loadu_pd(x);
    const __m128d c = _mm_min_pd(hi, _mm_max_pd(lo, v));
    _mm_storeu_pd(x, c);
    return c;
}

// TruncBounded of two products.
inline __m128i TruncTwoSse2(__m128d y) {
    return _mm_cvttpd_epi32(_mm_and_pd(y, _mm_cmpord_pd(y, y)));
}

void WriteRun16Sse2(double* x, size_t n, unsigned char* out) {
    const __m128d lo = _mm_set1_pd(kWriteLowerLimit);
    const __m128d hi = _mm_set1_pd(kWriteLimit16);
    const __m128d factor = _mm_set1_pd(kFactor16);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i a = TruncTwoSse2(_mm_mul_pd(ClipTwoSse2(x + i, lo, hi), factor));
        const __m128i b = TruncTwoSse2(_mm_mul_pd(ClipTwoSse2(x + i + 2, lo, hi), factor));
        const __m128i v = _mm_unpacklo_epi64(a, b);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * i), _mm_packs_epi32(v, v));
    }
    for (; i < n; ++i) {
        x[i] = Clip(x[i], kWriteLowerLimit, kWriteLimit16);
        const int16_t s = static_cast<int16_t>(TruncBounded(x[i] * kFactor16));
        std::memcpy(out + 2 * i, &s, 2);
    }
}

// The low three bytes of each lane are those LeftJustified24 stores for two
// samples clipped to [-1, 1]: scaled (so at least -2^23), held below 2^23, and
// truncated. A NaN stays NaN through the clip and the min (which hands back its
// second operand) and converts to 0x80000000, whose low three bytes are 0, as
// for LeftJustified24.
inline __m128i TwentyFourTwoSse2(__m128d c) {
    return _mm_cvttpd_epi32(_mm_min_pd(_mm_set1_pd(8388607.0), _mm_mul_pd(c, _mm_set1_pd(kWriteFactor24))));
}

void WriteRun24Sse2(double* x, size_t n, unsigned char* out) {
    const __m128d lo = _mm_set1_pd(kWriteLowerLimit);
    const __m128d hi = _mm_set1_pd(1.0);
    const __m128i low24 = _mm_set1_epi32(0xFFFFFF);
    const __m128i lowHalves = _mm_set_epi32(0, -1, 0, -1);
    const __m128i middle = _mm_set_epi32(0, -1, static_cast<int32_t>(0xFFFF0000u), 0);  // bytes 6..11
    size_t i = 0;
    // Four samples at a time: the second and fourth shifted down against the
    // first and third (six bytes in each half), the upper half then against
    // the lower: twelve bytes, stored as a 64-bit and a 32-bit word.
    for (; i + 4 <= n; i += 4) {
        const __m128i a = TwentyFourTwoSse2(ClipTwoSse2(x + i, lo, hi));
        const __m128i b = TwentyFourTwoSse2(ClipTwoSse2(x + i + 2, lo, hi));
        const __m128i v = _mm_and_si128(_mm_unpacklo_epi64(a, b), low24);
        const __m128i pairs = _mm_or_si128(_mm_and_si128(v, lowHalves),
                                           _mm_srli_epi64(_mm_andnot_si128(lowHalves, v), 8));
        const __m128i packed = _mm_or_si128(_mm_move_epi64(pairs),
                                            _mm_and_si128(_mm_srli_si128(pairs, 2), middle));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * i), packed);
        const int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
        std::memcpy(out + 3 * i + 8, &last, 4);
    }
    for (; i < n; ++i) {
        x[i] = Clip(x[i], kWriteLowerLimit, 1.0);
        Long2TwentyFour(LeftJustified24(x[i]), out + 3 * i);
    }
}

// ---- AVX2 -----------------------------------------------------------------------

#define CORVANE_AVX2 __attribute__((target("avx2")))

// Eight consecutive samples from sample i on; no byte after the eighth sample
// is touched.
template <class F>
CORVANE_AVX2 inline __m256i LoadEightAvx2(const unsigned char* b, size_t i) {
    if constexpr (std::is_same_v<F, Pcm8>) {
        return _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + i)));
    } else if constexpr (std::is_same_v<F, Pcm16>) {
        return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * i)));
    } else if constexpr (std::is_same_v<F, Pcm24>) {
        // Bytes 0..15 and 8..23 of the 24; each sample's three bytes go to the top
        // of its lane, a zero byte below them.
        const unsigned char* p = b + 3 * i;
        const __m256i v =
            _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 1);
        const __m256i order = _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11,  //
                                               -1, 4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15);
        return _mm256_shuffle_epi8(v, order);
    } else if constexpr (std::is_same_v<F, Pcm24In32>) {
        return _mm256_slli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 4 * i)), 8);
    } else {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 4 * i));
    }
}

// The two steps of the SSE2 reads, eight samples at a time: here the loads
// fold into the widening conversions by themselves.
template <class T>
CORVANE_AVX2 inline void StoreHeldAvx2(__m256i v, int32_t* held) {
    if constexpr (std::is_same_v<T, float>)
        _mm256_store_ps(reinterpret_cast<float*>(held), _mm256_cvtepi32_ps(v));
    else
        _mm256_store_si256(reinterpret_cast<__m256i*>(held), v);
}

template <class F, class T>
CORVANE_AVX2 inline void HoldRunAvx2(const unsigned char* b, size_t i, size_t n, int32_t* held) {
    for (size_t j = 0; j < n; j += 8) StoreHeldAvx2<T>(LoadEightAvx2<F>(b, i + j), held + j);
}

template <class F, class T>
CORVANE_AVX2 inline void HoldEveryAvx2(const unsigned char* b, size_t first, size_t step, size_t n,
                                       int32_t* held) {
    for (size_t j = 0; j < n; ++j) held[j] = F::Load(b, first + j * step);
    if constexpr (std::is_same_v<T, float>) {
        for (size_t j = 0; j < n; j += 8)
            StoreHeldAvx2<T>(_mm256_load_si256(reinterpret_cast<const __m256i*>(held + j)), held + j);
    }
}

template <class F, class T>
CORVANE_AVX2 inline void ScaleHeldAvx2(const int32_t* held, size_t n, T* out) {
    const __m256d scale = _mm256_set1_pd(F::kScale);
    for (size_t j = 0; j < n; j += 8) {
        if constexpr (std::is_same_v<T, double>) {
            const auto* v = reinterpret_cast<const __m128i*>(held + j);
            _mm256_storeu_pd(out + j, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_load_si128(v)), scale));
            _mm256_storeu_pd(out + j + 4, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_load_si128(v + 1)), scale));
        } else {
            const auto* f = reinterpret_cast<const float*>(held + j);
            _mm_storeu_ps(out + j, _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm_load_ps(f)), scale)));
            _mm_storeu_ps(out + j + 4,
                          _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm_load_ps(f + 4)), scale)));
        }
    }
}

template <class F, class T>
CORVANE_AVX2 void ReadRunAvx2(const unsigned char* buf, size_t samples, T* out) {
    alignas(32) int32_t held[kHeld];
    size_t i = 0;
    while (samples - i >= 8) {
        const size_t n = std::min(kHeld, (samples - i) & ~size_t{7});
        HoldRunAvx2<F, T>(buf, i, n, held);
        ScaleHeldAvx2<F>(held, n, out + i);
        i += n;
    }
    for (; i < samples; ++i) out[i] = ToSample<T, F>(F::Load(buf, i));
}

template <class F, class T>
CORVANE_AVX2 void ReadChannelAvx2(const unsigned char* buf, size_t frames, size_t channels,
                                  size_t channel, T* out) {
    alignas(32) int32_t held[kHeld];
    size_t i = 0;
    while (frames - i >= 8) {
        const size_t n = std::min(kHeld, (frames - i) & ~size_t{7});
        HoldEveryAvx2<F, T>(buf, i * channels + channel, channels, n, held);
        ScaleHeldAvx2<F>(held, n, out + i);
        i += n;
    }
    for (; i < frames; ++i) out[i] = ToSample<T, F>(F::Load(buf, i * channels + channel));
}

// Four samples clipped to [lo, hi] as ClipTwoSse2 does.
CORVANE_AVX2 inline __m256d ClipFourAvx2(double* x, __m256d lo, __m256d hi) {
    const __m256d v = _mm256_loadu_pd(x);
    const __m256d c = _mm256_min_pd(hi, _mm256_max_pd(lo, v));
    _mm256_storeu_pd(x, c);
    return c;
}

// TruncBounded of four products.
CORVANE_AVX2 inline __m128i TruncFourAvx2(__m256d y) {
    return _mm256_cvttpd_epi32(_mm256_and_pd(y, _mm256_cmp_pd(y, y, _CMP_ORD_Q)));
}

CORVANE_AVX2 void WriteRun16Avx2(double* x, size_t n, unsigned char* out) {
    const __m256d lo = _mm256_set1_pd(kWriteLowerLimit);
    const __m256d hi = _mm256_set1_pd(kWriteLimit16);
    const __m256d factor = _mm256_set1_pd(kFactor16);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i a = TruncFourAvx2(_mm256_mul_pd(ClipFourAvx2(x + i, lo, hi), factor));
        const __m128i b = TruncFourAvx2(_mm256_mul_pd(ClipFourAvx2(x + i + 4, lo, hi), factor));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_packs_epi32(a, b));
    }
    for (; i < n; ++i) {
        x[i] = Clip(x[i], kWriteLowerLimit, kWriteLimit16);
        const int16_t s = static_cast<int16_t>(TruncBounded(x[i] * kFactor16));
        std::memcpy(out + 2 * i, &s, 2);
    }
}

// As TwentyFourTwoSse2, four samples.
CORVANE_AVX2 inline __m128i TwentyFourFourAvx2(__m256d c) {
    return _mm256_cvttpd_epi32(
        _mm256_min_pd(_mm256_set1_pd(8388607.0), _mm256_mul_pd(c, _mm256_set1_pd(kWriteFactor24))));
}

CORVANE_AVX2 void WriteRun24Avx2(double* x, size_t n, unsigned char* out) {
    const __m256d lo = _mm256_set1_pd(kWriteLowerLimit);
    const __m256d hi = _mm256_set1_pd(1.0);
    // The low three bytes of each lane to the front of its half, then the two
    // halves' twelve bytes side by side: 24 bytes for eight samples.
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                          0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i a = TwentyFourFourAvx2(ClipFourAvx2(x + i, lo, hi));
        const __m128i b = TwentyFourFourAvx2(ClipFourAvx2(x + i + 4, lo, hi));
        const __m256i v = _mm256_permutevar8x32_epi32(
            _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1), pack), join);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm256_castsi256_si128(v));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * i + 16), _mm256_extracti128_si256(v, 1));
    }
    for (; i < n; ++i) {
        x[i] = Clip(x[i], kWriteLowerLimit, 1.0);
        Long2TwentyFour(LeftJustified24(x[i]), out + 3 * i);
    }
}

#undef CORVANE_AVX2

#endif  // CORVANE_X86_VECTORS

// ---- Dispatch -------------------------------------------------------------------

template <class Fn>
void WithForm(Form form, Fn&& fn) {
    switch (form) {
        case Form::k8:
            fn(Pcm8{});
            break;
        case Form::k16:
            fn(Pcm16{});
            break;
        case Form::k24:
            fn(Pcm24{});
            break;
        case Form::k24In32:
            fn(Pcm24In32{});
            break;
        case Form::k32:
            fn(Pcm32{});
            break;
        case Form::kNone:
            break;
    }
}

template <class T>
void ReadRunOn(Form form, const unsigned char* buf, size_t samples, T* out) {
    const Path path = CurrentPath();
    WithForm(form, [&](auto f) {
        using F = decltype(f);
#if defined(CORVANE_X86_VECTORS)
        if (path == Path::kAvx2) return ReadRunAvx2<F>(buf, samples, out);
        if (path == Path::kSse2) return ReadRunSse2<F>(buf, samples, out);
#endif
        (void)path;
        ReadRunPlain<F>(buf, samples, out);
    });
}

template <class T>
void ReadChannelOn(Form form, const unsigned char* buf, size_t frames, size_t channels,
                   size_t channel, T* out) {
    if (channels == 1) return ReadRunOn(form, buf, frames, out);
    const Path path = CurrentPath();
    WithForm(form, [&](auto f) {
        using F = decltype(f);
#if defined(CORVANE_X86_VECTORS)
        if (path == Path::kAvx2) return ReadChannelAvx2<F>(buf, frames, channels, channel, out);
        if (path == Path::kSse2) return ReadChannelSse2<F>(buf, frames, channels, channel, out);
#endif
        (void)path;
        ReadChannelPlain<F>(buf, frames, channels, channel, out);
    });
}

}  // namespace

Path BestPath() {
    static const Path best = DetectBestPath();
    return best;
}

Path UsePath(Path path) {
    const Path taken = static_cast<int>(path) > static_cast<int>(BestPath()) ? BestPath() : path;
    gChosenPath.store(static_cast<int>(taken), std::memory_order_relaxed);
    return taken;
}

void ReadRun(Form form, const unsigned char* buf, size_t samples, float* out) {
    ReadRunOn(form, buf, samples, out);
}

void ReadRun(Form form, const unsigned char* buf, size_t samples, double* out) {
    ReadRunOn(form, buf, samples, out);
}

void ReadChannel(Form form, const unsigned char* buf, size_t frames, size_t channels,
                 size_t channel, float* out) {
    ReadChannelOn(form, buf, frames, channels, channel, out);
}

void ReadChannel(Form form, const unsigned char* buf, size_t frames, size_t channels,
                 size_t channel, double* out) {
    ReadChannelOn(form, buf, frames, channels, channel, out);
}

void ClipBlock(double* x, size_t n, double hi) {
    size_t i = 0;
#if defined(__SSE2__)
    // max(lo, v) and min(hi, v) give v when it is NaN: the same as Clip, two
    // samples at a time (the compiler blends the selects, which is slower).
    const __m128d vlo = _mm_set1_pd(kWriteLowerLimit);
    const __m128d vhi = _mm_set1_pd(hi);
    for (; i + 2 <= n; i += 2) {
        const __m128d v = _mm_loadu_pd(x + i);
        _mm_storeu_pd(x + i, _mm_min_pd(vhi, _mm_max_pd(vlo, v)));
    }
#endif
    for (; i < n; ++i) x[i] = Clip(x[i], kWriteLowerLimit, hi);
}

void WriteRun16(double* x, size_t n, unsigned char* out) {
#if defined(CORVANE_X86_VECTORS)
    const Path path = CurrentPath();
    if (path == Path::kAvx2) return WriteRun16Avx2(x, n, out);
    if (path == Path::kSse2) return WriteRun16Sse2(x, n, out);
#endif
    WriteRun16Plain(x, n, out);
}

void WriteRun24(double* x, size_t n, unsigned char* out) {
#if defined(CORVANE_X86_VECTORS)
    const Path path = CurrentPath();
    if (path == Path::kAvx2) return WriteRun24Avx2(x, n, out);
    if (path == Path::kSse2) return WriteRun24Sse2(x, n, out);
#endif
    WriteRun24Plain(x, n, out);
}

}  // namespace sampleblocks
