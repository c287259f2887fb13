// The block conversions of the Read and Write families: the plain loops, and on
// x86-64 the SSE2 and AVX2 loops that give the same bits. The vector steps are
// the scalar ones lane by lane (int to float, float to double, the double
// product, double to float, truncation), under the same rounding mode, so no
// input tells the paths apart.

#include "soundfile/sample_conversion_blocks.h"

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

template <class F>
inline __m128i LoadEveryFourSse2(const unsigned char* b, size_t j, size_t step) {
    return _mm_setr_epi32(F::Load(b, j), F::Load(b, j + step), F::Load(b, j + 2 * step),
                          F::Load(b, j + 3 * step));
}

template <class F, class T>
inline void StoreFourSse2(__m128i v, T* out) {
    if constexpr (std::is_same_v<T, double>) {
        const __m128d scale = _mm_set1_pd(F::kScale);
        _mm_storeu_pd(out, _mm_mul_pd(_mm_cvtepi32_pd(v), scale));
        _mm_storeu_pd(out + 2, _mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(v, v)), scale));
    } else if constexpr (std::is_same_v<F, Pcm8>) {
        _mm_storeu_ps(out, _mm_mul_ps(_mm_cvtepi32_ps(v), _mm_set1_ps(static_cast<float>(kReadScale8))));
    } else {
        const __m128d scale = _mm_set1_pd(F::kScale);
        const __m128 f = _mm_cvtepi32_ps(v);
        const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(f), scale));
        const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(f, f)), scale));
        _mm_storeu_ps(out, _mm_movelh_ps(lo, hi));
    }
}

template <class F, class T>
void ReadRunSse2(const unsigned char* buf, size_t samples, T* out) {
    size_t i = 0;
    for (; i + 4 <= samples; i += 4) StoreFourSse2<F>(LoadFourSse2<F>(buf, i), out + i);
    for (; i < samples; ++i) out[i] = ToSample<T, F>(F::Load(buf, i));
}

template <class F, class T>
void ReadChannelSse2(const unsigned char* buf, size_t frames, size_t channels, size_t channel,
                     T* out) {
    size_t i = 0;
    for (; i + 4 <= frames; i += 4)
        StoreFourSse2<F>(LoadEveryFourSse2<F>(buf, i * channels + channel, channels), out + i);
    for (; i < frames; ++i) out[i] = ToSample<T, F>(F::Load(buf, i * channels + channel));
}

// Two samples clipped to [lo, hi], a NaN kept (max and min hand back their
// second operand when one is NaN); written back only when one of them changed.
inline __m128d ClipTwoSse2(double* x, __m128d lo, __m128d hi) {
    const __m128d v = _mm_loadu_pd(x);
    const __m128d outside = _mm_or_pd(_mm_cmplt_pd(v, lo), _mm_cmpgt_pd(v, hi));
    const __m128d c = _mm_min_pd(hi, _mm_max_pd(lo, v));
    if (_mm_movemask_pd(outside)) _mm_storeu_pd(x, c);
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

// LeftJustified24 of two clipped samples before the shift: NaN to 0, scaled,
// held to the 24-bit range, truncated.
inline __m128i TwentyFourTwoSse2(__m128d c) {
    const __m128d y = _mm_and_pd(_mm_mul_pd(c, _mm_set1_pd(kWriteFactor24)), _mm_cmpord_pd(c, c));
    return _mm_cvttpd_epi32(
        _mm_min_pd(_mm_max_pd(y, _mm_set1_pd(-8388608.0)), _mm_set1_pd(8388607.0)));
}

void WriteRun24Sse2(double* x, size_t n, unsigned char* out) {
    const __m128d lo = _mm_set1_pd(kWriteLowerLimit);
    const __m128d hi = _mm_set1_pd(1.0);
    const __m128i low24 = _mm_set1_epi32(0xFFFFFF);
    size_t i = 0;
    // Four samples at a time, their twelve bytes stored as one 64-bit and one
    // 32-bit word (the machine is little-endian).
    for (; i + 4 <= n; i += 4) {
        const __m128i a = TwentyFourTwoSse2(ClipTwoSse2(x + i, lo, hi));
        const __m128i b = TwentyFourTwoSse2(ClipTwoSse2(x + i + 2, lo, hi));
        alignas(16) uint32_t s[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(s), _mm_and_si128(_mm_unpacklo_epi64(a, b), low24));
        const uint64_t first = s[0] | (static_cast<uint64_t>(s[1]) << 24) |
                               (static_cast<uint64_t>(s[2]) << 48);
        const uint32_t last = (s[2] >> 16) | (s[3] << 8);
        std::memcpy(out + 3 * i, &first, 8);
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

template <class F>
CORVANE_AVX2 inline __m256i LoadEveryEightAvx2(const unsigned char* b, size_t j, size_t step) {
    return _mm256_setr_epi32(F::Load(b, j), F::Load(b, j + step), F::Load(b, j + 2 * step),
                             F::Load(b, j + 3 * step), F::Load(b, j + 4 * step),
                             F::Load(b, j + 5 * step), F::Load(b, j + 6 * step),
                             F::Load(b, j + 7 * step));
}

template <class F, class T>
CORVANE_AVX2 inline void StoreEightAvx2(__m256i v, T* out) {
    if constexpr (std::is_same_v<T, double>) {
        const __m256d scale = _mm256_set1_pd(F::kScale);
        _mm256_storeu_pd(out, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(v)), scale));
        _mm256_storeu_pd(out + 4,
                         _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)), scale));
    } else if constexpr (std::is_same_v<F, Pcm8>) {
        _mm256_storeu_ps(out, _mm256_mul_ps(_mm256_cvtepi32_ps(v),
                                            _mm256_set1_ps(static_cast<float>(kReadScale8))));
    } else {
        const __m256d scale = _mm256_set1_pd(F::kScale);
        const __m256 f = _mm256_cvtepi32_ps(v);
        const __m128 lo = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(f)), scale));
        const __m128 hi = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(f, 1)), scale));
        _mm256_storeu_ps(out, _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1));
    }
}

template <class F, class T>
CORVANE_AVX2 void ReadRunAvx2(const unsigned char* buf, size_t samples, T* out) {
    size_t i = 0;
    for (; i + 8 <= samples; i += 8) StoreEightAvx2<F>(LoadEightAvx2<F>(buf, i), out + i);
    for (; i < samples; ++i) out[i] = ToSample<T, F>(F::Load(buf, i));
}

template <class F, class T>
CORVANE_AVX2 void ReadChannelAvx2(const unsigned char* buf, size_t frames, size_t channels,
                                  size_t channel, T* out) {
    size_t i = 0;
    for (; i + 8 <= frames; i += 8)
        StoreEightAvx2<F>(LoadEveryEightAvx2<F>(buf, i * channels + channel, channels), out + i);
    for (; i < frames; ++i) out[i] = ToSample<T, F>(F::Load(buf, i * channels + channel));
}

// Four samples clipped to [lo, hi] as ClipTwoSse2 does.
CORVANE_AVX2 inline __m256d ClipFourAvx2(double* x, __m256d lo, __m256d hi) {
    const __m256d v = _mm256_loadu_pd(x);
    const __m256d outside = _mm256_or_pd(_mm256_cmp_pd(v, lo, _CMP_LT_OQ), _mm256_cmp_pd(v, hi, _CMP_GT_OQ));
    const __m256d c = _mm256_min_pd(hi, _mm256_max_pd(lo, v));
    if (_mm256_movemask_pd(outside)) _mm256_storeu_pd(x, c);
    return c;
}

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

CORVANE_AVX2 inline __m128i TwentyFourFourAvx2(__m256d c) {
    const __m256d y = _mm256_and_pd(_mm256_mul_pd(c, _mm256_set1_pd(kWriteFactor24)),
                                    _mm256_cmp_pd(c, c, _CMP_ORD_Q));
    return _mm256_cvttpd_epi32(
        _mm256_min_pd(_mm256_max_pd(y, _mm256_set1_pd(-8388608.0)), _mm256_set1_pd(8388607.0)));
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
