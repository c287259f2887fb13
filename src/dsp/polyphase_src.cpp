#include "dsp/polyphase_src.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>
#include <numeric>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "conversion/cconv_spec.h"
#include "dsp/frame_team.h"
#include "dsp/linear_src.h"
#include "dsp/rate_io.h"
#include "foundation/memory.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

using namespace rateconv;

uint16_t gNumPeriodsPPh = 12;
double* __gSincTable = nullptr;
uint32_t __gSincTableLength = 0;
double __gSincMax = 0.0;
unsigned char __gSincFirst = 0;

namespace {

// The table is kept below this many entries by decimation.
constexpr int64_t kMaxTableEntries = 65535;
// The windows of many channels are kept to this many values together by
// smaller blocks (32 MiB; a stereo window at the usual buffer sizes is far
// below it).
constexpr uint64_t kWindowValues = uint64_t{1} << 22;
// Above this many coefficients the filter is not laid out phase by phase but
// computed for each output frame (rates whose reduced ratio has a large L).
constexpr int64_t kMaxPhaseMatrixValues = int64_t{1} << 18;
// The rows laid out in groups of output frames take at most this many values
// (4 MiB); a layout that would take more computes frame by frame instead.
constexpr int64_t kMaxGroupValues = int64_t{1} << 19;
// Output buffers in the block a thread takes when threads share the work.
constexpr uint64_t kBuffersPerSharedBlock = 8;
// Values read at a time into a window (128 KiB), taken apart while they are
// still in the caches.
constexpr int64_t kReadPieceValues = 16384;
// The most periods a group kernel sums in one call.
constexpr int kMaxGroupPeriods = 4;

// Held by a converter from building the table to releasing it.
std::mutex& SincTableMutex() {
    static std::mutex m;
    return m;
}

// ---- Kernels ----------------------------------------------------------------

// Sums h[i] × x[c][i] over n values (a multiple of 4) into y[c], for one or two
// channels held apart; with two, each coefficient is loaded once for both. A
// channel is summed in the same order whatever its company, so a frame of many
// channels gives each channel exactly what converting it alone gives.
using DotFunction = void (*)(const double* h, const double* const* x, int channels, size_t n,
                             double* y);

#if defined(__SSE2__)
// Four partial sums of two lanes each, so that the adds do not wait on each other.
struct Sums128 {
    __m128d a0 = _mm_setzero_pd(), a1 = _mm_setzero_pd();
    __m128d a2 = _mm_setzero_pd(), a3 = _mm_setzero_pd();

    void Add8(const double* h, const double* x) {
        a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_loadu_pd(h), _mm_loadu_pd(x)));
        a1 = _mm_add_pd(a1, _mm_mul_pd(_mm_loadu_pd(h + 2), _mm_loadu_pd(x + 2)));
        a2 = _mm_add_pd(a2, _mm_mul_pd(_mm_loadu_pd(h + 4), _mm_loadu_pd(x + 4)));
        a3 = _mm_add_pd(a3, _mm_mul_pd(_mm_loadu_pd(h + 6), _mm_loadu_pd(x + 6)));
    }
    void Add4(const double* h, const double* x) {
        a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_loadu_pd(h), _mm_loadu_pd(x)));
        a1 = _mm_add_pd(a1, _mm_mul_pd(_mm_loadu_pd(h + 2), _mm_loadu_pd(x + 2)));
    }
    double Total() const {
        alignas(16) double s[2];
        _mm_store_pd(s, _mm_add_pd(_mm_add_pd(a0, a1), _mm_add_pd(a2, a3)));
        return s[0] + s[1];
    }
};
#endif

void DotPlain(const double* h, const double* const* x, int channels, size_t n, double* y) {
#if defined(__SSE2__)
    const double* p = x[0];
    Sums128 a;
    size_t i = 0;
    if (channels == 2) {
        const double* q = x[1];
        Sums128 b;
        for (; i + 8 <= n; i += 8) a.Add8(h + i, p + i), b.Add8(h + i, q + i);
        if (i < n) a.Add4(h + i, p + i), b.Add4(h + i, q + i);
        y[0] = a.Total();
        y[1] = b.Total();
        return;
    }
    for (; i + 8 <= n; i += 8) a.Add8(h + i, p + i);
    if (i < n) a.Add4(h + i, p + i);
    y[0] = a.Total();
#else
    for (int c = 0; c < channels; ++c) {
        double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (size_t i = 0; i < n; i += 4) {
            s0 += h[i] * x[c][i];
            s1 += h[i + 1] * x[c][i + 1];
            s2 += h[i + 2] * x[c][i + 2];
            s3 += h[i + 3] * x[c][i + 3];
        }
        y[c] = (s0 + s1) + (s2 + s3);
    }
#endif
}

#if defined(__x86_64__)
#define CORVANE_WIDE __attribute__((target("avx2,fma"), always_inline)) inline
// Four partial sums of four lanes each, fused multiply-adds.
struct Sums256 {
    __m256d a0, a1, a2, a3;
};

CORVANE_WIDE void Clear(Sums256& s) {
    s.a0 = s.a1 = s.a2 = s.a3 = _mm256_setzero_pd();
}
CORVANE_WIDE void Add16(Sums256& s, const double* h, const double* x) {
    s.a0 = _mm256_fmadd_pd(_mm256_loadu_pd(h), _mm256_loadu_pd(x), s.a0);
    s.a1 = _mm256_fmadd_pd(_mm256_loadu_pd(h + 4), _mm256_loadu_pd(x + 4), s.a1);
    s.a2 = _mm256_fmadd_pd(_mm256_loadu_pd(h + 8), _mm256_loadu_pd(x + 8), s.a2);
    s.a3 = _mm256_fmadd_pd(_mm256_loadu_pd(h + 12), _mm256_loadu_pd(x + 12), s.a3);
}
CORVANE_WIDE void Add4(Sums256& s, const double* h, const double* x) {
    s.a0 = _mm256_fmadd_pd(_mm256_loadu_pd(h), _mm256_loadu_pd(x), s.a0);
}
CORVANE_WIDE double Total(const Sums256& s) {
    const __m256d a = _mm256_add_pd(_mm256_add_pd(s.a0, s.a1), _mm256_add_pd(s.a2, s.a3));
    const __m128d t = _mm_add_pd(_mm256_castpd256_pd128(a), _mm256_extractf128_pd(a, 1));
    return _mm_cvtsd_f64(_mm_add_sd(t, _mm_unpackhi_pd(t, t)));
}
#undef CORVANE_WIDE

__attribute__((target("avx2,fma"))) void DotWide(const double* h, const double* const* x,
                                                 int channels, size_t n, double* y) {
    const double* p = x[0];
    Sums256 a;
    Clear(a);
    size_t i = 0;
    if (channels == 2) {
        const double* q = x[1];
        Sums256 b;
        Clear(b);
        for (; i + 16 <= n; i += 16) {
            Add16(a, h + i, p + i);
            Add16(b, h + i, q + i);
        }
        for (; i < n; i += 4) {
            Add4(a, h + i, p + i);
            Add4(b, h + i, q + i);
        }
        y[0] = Total(a);
        y[1] = Total(b);
        return;
    }
    for (; i + 16 <= n; i += 16) Add16(a, h + i, p + i);
    for (; i < n; i += 4) Add4(a, h + i, p + i);
    y[0] = Total(a);
}
#endif

#if defined(__x86_64__)
#define CORVANE_WIDEST __attribute__((target("avx512f"), always_inline)) inline
// Four partial sums of eight lanes each (a row's last four taps go into the
// second, loaded under a mask).
struct Sums512 {
    __m512d a0, a1, a2, a3;
};

CORVANE_WIDEST void Clear(Sums512& s) {
    s.a0 = s.a1 = s.a2 = s.a3 = _mm512_setzero_pd();
}
CORVANE_WIDEST void Add32(Sums512& s, const double* h, const double* x) {
    s.a0 = _mm512_fmadd_pd(_mm512_loadu_pd(h), _mm512_loadu_pd(x), s.a0);
    s.a1 = _mm512_fmadd_pd(_mm512_loadu_pd(h + 8), _mm512_loadu_pd(x + 8), s.a1);
    s.a2 = _mm512_fmadd_pd(_mm512_loadu_pd(h + 16), _mm512_loadu_pd(x + 16), s.a2);
    s.a3 = _mm512_fmadd_pd(_mm512_loadu_pd(h + 24), _mm512_loadu_pd(x + 24), s.a3);
}
CORVANE_WIDEST void Add8(Sums512& s, const double* h, const double* x) {
    s.a0 = _mm512_fmadd_pd(_mm512_loadu_pd(h), _mm512_loadu_pd(x), s.a0);
}
CORVANE_WIDEST void Add4(Sums512& s, const double* h, const double* x) {
    s.a1 = _mm512_fmadd_pd(_mm512_maskz_loadu_pd(0x0F, h), _mm512_maskz_loadu_pd(0x0F, x), s.a1);
}
CORVANE_WIDEST double Total(const Sums512& s) {
    const __m512d a = _mm512_add_pd(_mm512_add_pd(s.a0, s.a1), _mm512_add_pd(s.a2, s.a3));
    // Masked extracts: the plain ones leave GCC 12 warning about its own header.
    const __m256d h = _mm256_add_pd(_mm512_maskz_extractf64x4_pd(0xFF, a, 0),
                                    _mm512_maskz_extractf64x4_pd(0xFF, a, 1));
    const __m128d t = _mm_add_pd(_mm256_castpd256_pd128(h), _mm256_extractf128_pd(h, 1));
    return _mm_cvtsd_f64(_mm_add_sd(t, _mm_unpackhi_pd(t, t)));
}
#undef CORVANE_WIDEST

__attribute__((target("avx512f"))) void DotWidest(const double* h, const double* const* x,
                                                  int channels, size_t n, double* y) {
    const double* p = x[0];
    Sums512 a;
    Clear(a);
    size_t i = 0;
    if (channels == 2) {
        const double* q = x[1];
        Sums512 b;
        Clear(b);
        for (; i + 32 <= n; i += 32) {
            Add32(a, h + i, p + i);
            Add32(b, h + i, q + i);
        }
        for (; i + 8 <= n; i += 8) {
            Add8(a, h + i, p + i);
            Add8(b, h + i, q + i);
        }
        if (i < n) {
            Add4(a, h + i, p + i);
            Add4(b, h + i, q + i);
        }
        y[0] = Total(a);
        y[1] = Total(b);
        return;
    }
    for (; i + 32 <= n; i += 32) Add32(a, h + i, p + i);
    for (; i + 8 <= n; i += 8) Add8(a, h + i, p + i);
    if (i < n) Add4(a, h + i, p + i);
    y[0] = Total(a);
}
#endif

DotFunction ChooseDot() {
#if defined(__x86_64__)
    static const bool widest = __builtin_cpu_supports("avx512f");
    if (widest) return DotWidest;
    static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (wide) return DotWide;
#endif
    return DotPlain;
}


// ---- Kernels over groups of output frames -----------------------------------
//
// A group is a few consecutive output frames (the kernel's lanes) whose
// coefficients are laid out against one run of input frames: entry u of the
// group holds, for each lane, the coefficient that lane gives input frame
// base + u (zero outside its taps). One input value is then broadcast to every
// lane at once, so the input is read in order and the coefficients aligned,
// whatever the frames' phases. Each kernel sums a lane's taps in a fixed
// order of its own (four partial sums by u mod 4 for two lanes, one sum for
// four, two by u mod 2 for eight); a lane's value does not depend on the other
// lanes or on the channels beside it.
//
// Consecutive periods of output frames use the same groups at inputs one
// period's input advance apart, so a kernel may sum a group for several
// periods at once and load each coefficient once for all of them; each lane
// is still summed in the same order whatever the company of periods and
// channels, so the frames do not depend on how a range is shared out.
//
// Sums `span` entries (a multiple of 4) of group coefficients c over one or two
// channels x, for `periods` periods whose inputs lie `stride` values apart (at
// most the kernel's periods); out receives `lanes` values per channel, channel
// after channel, period after period.
using GroupDotFunction = void (*)(const double* c, const double* const* x, int channels,
                                  size_t span, size_t stride, int periods, double* out);

template <int kLanes>
void GroupDotGeneric(const double* c, const double* const* x, int channels, size_t span,
                     size_t stride, int periods, double* out) {
    for (int k = 0; k < periods; ++k)
        for (int ch = 0; ch < channels; ++ch) {
            const double* p = x[ch] + static_cast<size_t>(k) * stride;
            double s[4][kLanes] = {};
            for (size_t u = 0; u < span; u += 4)
                for (int t = 0; t < 4; ++t)
                    for (int j = 0; j < kLanes; ++j) s[t][j] += c[(u + t) * kLanes + j] * p[u + t];
            double* o = out + (k * channels + ch) * kLanes;
            for (int j = 0; j < kLanes; ++j) o[j] = (s[0][j] + s[1][j]) + (s[2][j] + s[3][j]);
        }
}

#if defined(__SSE2__)
// Two lanes: SSE2 has no fused multiply-add, so the sums round after each
// product. One period a call.
void GroupDotPlain(const double* c, const double* const* x, int channels, size_t span,
                   size_t /*stride*/, int /*periods*/, double* out) {
    for (int ch = 0; ch < channels; ++ch) {
        const double* p = x[ch];
        __m128d a0 = _mm_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
        for (size_t u = 0; u < span; u += 4) {
            const double* g = c + u * 2;
            a0 = _mm_add_pd(a0, _mm_mul_pd(_mm_load_pd(g), _mm_set1_pd(p[u])));
            a1 = _mm_add_pd(a1, _mm_mul_pd(_mm_load_pd(g + 2), _mm_set1_pd(p[u + 1])));
            a2 = _mm_add_pd(a2, _mm_mul_pd(_mm_load_pd(g + 4), _mm_set1_pd(p[u + 2])));
            a3 = _mm_add_pd(a3, _mm_mul_pd(_mm_load_pd(g + 6), _mm_set1_pd(p[u + 3])));
        }
        _mm_storeu_pd(out + ch * 2, _mm_add_pd(_mm_add_pd(a0, a1), _mm_add_pd(a2, a3)));
    }
}
#else
void GroupDotPlain(const double* c, const double* const* x, int channels, size_t span,
                   size_t stride, int periods, double* out) {
    GroupDotGeneric<2>(c, x, channels, span, stride, periods, out);
}
#endif

#if defined(__x86_64__)
// Four lanes of AVX2, up to four periods, one sum a lane: with four periods of
// a channel pair in flight that is enough independent sums to keep the
// multiply-adds busy, and one coefficient load serves them all.
template <int kPeriods, int kChannels>
__attribute__((target("avx2,fma"))) void GroupSumsWide(const double* c, const double* const* x,
                                                       size_t span, size_t stride, double* out) {
    __m256d s[kPeriods][kChannels];
#pragma GCC unroll 8
    for (int k = 0; k < kPeriods; ++k)
#pragma GCC unroll 8
        for (int ch = 0; ch < kChannels; ++ch) s[k][ch] = _mm256_setzero_pd();
    for (size_t u = 0; u < span; ++u) {
        const __m256d h = _mm256_load_pd(c + u * 4);
#pragma GCC unroll 8
        for (int k = 0; k < kPeriods; ++k)
#pragma GCC unroll 8
            for (int ch = 0; ch < kChannels; ++ch)
                s[k][ch] = _mm256_fmadd_pd(
                    h, _mm256_broadcast_sd(x[ch] + static_cast<size_t>(k) * stride + u), s[k][ch]);
    }
#pragma GCC unroll 8
    for (int k = 0; k < kPeriods; ++k)
#pragma GCC unroll 8
        for (int ch = 0; ch < kChannels; ++ch) _mm256_storeu_pd(out + (k * kChannels + ch) * 4, s[k][ch]);
}

void GroupDotWide(const double* c, const double* const* x, int channels, size_t span,
                  size_t stride, int periods, double* out) {
    if (channels == 2) {
        switch (periods) {
            case 4: return GroupSumsWide<4, 2>(c, x, span, stride, out);
            case 3: return GroupSumsWide<3, 2>(c, x, span, stride, out);
            case 2: return GroupSumsWide<2, 2>(c, x, span, stride, out);
            default: return GroupSumsWide<1, 2>(c, x, span, stride, out);
        }
    }
    switch (periods) {
        case 4: return GroupSumsWide<4, 1>(c, x, span, stride, out);
        case 3: return GroupSumsWide<3, 1>(c, x, span, stride, out);
        case 2: return GroupSumsWide<2, 1>(c, x, span, stride, out);
        default: return GroupSumsWide<1, 1>(c, x, span, stride, out);
    }
}

// The AVX-512 kernel keeps two partial sums a lane (even and odd entries),
// added at the end; the input broadcasts rather than the coefficient loads
// set its pace.
// Eight lanes of AVX-512, up to four periods.
template <int kPeriods, int kChannels>
__attribute__((target("avx512f"))) void GroupSumsWidest(const double* c, const double* const* x,
                                                        size_t span, size_t stride, double* out) {
    __m512d s[kPeriods][kChannels][2];
#pragma GCC unroll 8
    for (int k = 0; k < kPeriods; ++k)
#pragma GCC unroll 8
        for (int ch = 0; ch < kChannels; ++ch) s[k][ch][0] = s[k][ch][1] = _mm512_setzero_pd();
    for (size_t u = 0; u < span; u += 2) {
        const __m512d c0 = _mm512_load_pd(c + u * 8), c1 = _mm512_load_pd(c + u * 8 + 8);
#pragma GCC unroll 8
        for (int k = 0; k < kPeriods; ++k)
#pragma GCC unroll 8
            for (int ch = 0; ch < kChannels; ++ch) {
                const double* v = x[ch] + static_cast<size_t>(k) * stride + u;
                s[k][ch][0] = _mm512_fmadd_pd(c0, _mm512_set1_pd(v[0]), s[k][ch][0]);
                s[k][ch][1] = _mm512_fmadd_pd(c1, _mm512_set1_pd(v[1]), s[k][ch][1]);
            }
    }
#pragma GCC unroll 8
    for (int k = 0; k < kPeriods; ++k)
#pragma GCC unroll 8
        for (int ch = 0; ch < kChannels; ++ch)
            _mm512_storeu_pd(out + (k * kChannels + ch) * 8,
                             _mm512_add_pd(s[k][ch][0], s[k][ch][1]));
}

void GroupDotWidest(const double* c, const double* const* x, int channels, size_t span,
                    size_t stride, int periods, double* out) {
    if (channels == 2) {
        switch (periods) {
            case 4: return GroupSumsWidest<4, 2>(c, x, span, stride, out);
            case 3: return GroupSumsWidest<3, 2>(c, x, span, stride, out);
            case 2: return GroupSumsWidest<2, 2>(c, x, span, stride, out);
            default: return GroupSumsWidest<1, 2>(c, x, span, stride, out);
        }
    }
    switch (periods) {
        case 4: return GroupSumsWidest<4, 1>(c, x, span, stride, out);
        case 3: return GroupSumsWidest<3, 1>(c, x, span, stride, out);
        case 2: return GroupSumsWidest<2, 1>(c, x, span, stride, out);
        default: return GroupSumsWidest<1, 1>(c, x, span, stride, out);
    }
}
#endif

struct GroupKernel {
    GroupDotFunction dot;
    int lanes;
    int periods;  // the most periods one call sums: 1 or this many
};

std::atomic<PolyphaseKernel> gKernel{PolyphaseKernel::kAuto};

// The group kernel for the chosen arithmetic: the widest the processor runs,
// or the narrower one asked for; lanes 0 for frame-by-frame rows.
GroupKernel ChooseGroupKernel() {
    const PolyphaseKernel want = gKernel.load(std::memory_order_relaxed);
    if (want == PolyphaseKernel::kRows) return GroupKernel{nullptr, 0, 1};
    if (want == PolyphaseKernel::kGroupsOf2) return GroupKernel{GroupDotPlain, 2, 1};
#if defined(__x86_64__)
    static const bool widest = __builtin_cpu_supports("avx512f");
    static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (want == PolyphaseKernel::kAuto && widest) return GroupKernel{GroupDotWidest, 8, 4};
    if (wide) return GroupKernel{GroupDotWide, 4, 4};
#endif
    return GroupKernel{GroupDotPlain, 2, 1};
}

// ---- The filter of one conversion -------------------------------------------

// The filter laid out for the converter's window: for input phase φ (output
// instant φ / L after input frame n) the K coefficients of input frames
// n - KL + 1 .. n + K - KL.
class PhaseFilter {
public:
    OSErr Build(int64_t L, int64_t step) {
        L_ = L;
        step_ = step;
        const int64_t span =
            static_cast<int64_t>(__gSincTableLength) * step;  // table in 1/L frames
        KL_ = (span + L - 1) / L;
        int64_t kr = span > 1 ? (span - 1 + L - 1) / L : 0;
        // Rows are a multiple of 4 taps long; the extra taps are zero.
        K_ = (KL_ + kr + 3) / 4 * 4;
        if (K_ > static_cast<int64_t>(kMaxBlockValues)) return kMemBlockMissingErr;
        OSErr err = 0;
        if (K_ <= kMaxPhaseMatrixValues / L) {
            matrix_ = AllocBlock(static_cast<size_t>(L * K_), &err);
            if (err) return err;
            for (int64_t phase = 0; phase < L; ++phase) FillRow(phase, matrix_.get() + phase * K_);
        } else {
            row_ = AllocBlock(static_cast<size_t>(K_), &err);
        }
        return err;
    }

    // Lays the rows out in groups of `lanes` consecutive output frames (see the
    // group kernels) when the table stays small enough; output frame a of a
    // range belongs to period a / Period(), and within it to group
    // (a % Period()) / lanes. Without a layout (Grouped() false) each frame is
    // computed from its row.
    OSErr BuildGroups(int64_t M, int lanes) {
        // Periods of m × L output frames (input advance m × M) until the last
        // group of a period wastes at most 1/16 of the lanes.
        const int64_t exact = lanes / std::gcd<int64_t>(L_, lanes);
        int64_t m = 1;
        for (; m < exact; ++m) {
            const int64_t P = m * L_;
            const int64_t groups = (P + lanes - 1) / lanes;
            if ((groups * lanes - P) * 16 <= P) break;
        }
        const int64_t P = m * L_;
        const int64_t groups = (P + lanes - 1) / lanes;
        // Input frame of each frame of a period, from the period's start.
        auto wholeOf = [&](int64_t i) {
            return static_cast<int64_t>(static_cast<__int128>(i) * M / L_);
        };
        int64_t reach = 0;
        for (int64_t g = 0; g < groups; ++g) {
            const int64_t last = std::min(g * lanes + lanes, P) - 1;
            reach = std::max(reach, wholeOf(last) - wholeOf(g * lanes));
        }
        const int64_t span = (reach + K_ + 3) / 4 * 4;
        if (groups * span * lanes > kMaxGroupValues) return 0;  // rows, frame by frame
        OSErr err = 0;
        // Room for aligning the start to 64 bytes.
        groupBlock_ = AllocBlock(static_cast<size_t>(groups * span * lanes + 8), &err);
        if (err) return err;
        const auto address = reinterpret_cast<uintptr_t>(groupBlock_.get());
        groups_ = groupBlock_.get() + ((64 - address % 64) % 64) / sizeof(double);
        groupFirst_.assign(static_cast<size_t>(groups), 0);
        for (int64_t g = 0; g < groups; ++g) {
            const int64_t base = wholeOf(g * lanes);
            groupFirst_[static_cast<size_t>(g)] = base;
            double* group = groups_ + g * span * lanes;
            for (int64_t j = 0; j < lanes && g * lanes + j < P; ++j) {
                const int64_t frame = g * lanes + j;
                const int64_t phase = static_cast<int64_t>(static_cast<__int128>(frame) * M % L_);
                const double* row = Row(phase);
                const int64_t offset = wholeOf(frame) - base;
                for (int64_t t = 0; t < K_; ++t) group[(offset + t) * lanes + j] = row[t];
            }
        }
        lanes_ = lanes;
        period_ = P;
        periodInput_ = m * M;
        span_ = span;
        return 0;
    }

    bool Grouped() const { return groups_ != nullptr; }
    int Lanes() const { return lanes_; }
    int64_t Period() const { return period_; }
    // Input frames a period advances.
    int64_t PeriodInput() const { return periodInput_; }
    int64_t Span() const { return span_; }
    // Group g's coefficients and its first frame's input frame within the period.
    const double* Group(int64_t g) const { return groups_ + g * span_ * lanes_; }
    int64_t GroupInput(int64_t g) const { return groupFirst_[static_cast<size_t>(g)]; }

    int64_t Left() const { return KL_; }
    int64_t Taps() const { return K_; }
    // Whether Row may be called from several threads at once (the rows are
    // laid out beforehand, not computed into one shared row).
    bool SharedRows() const { return matrix_ != nullptr; }

    const double* Row(int64_t phase) {
        if (matrix_) return matrix_.get() + phase * K_;
        FillRow(phase, row_.get());
        return row_.get();
    }

private:
    // The table at undecimated entry e (e / L input frames from the centre).
    double Tap(int64_t e) const {
        const auto len = static_cast<int64_t>(__gSincTableLength);
        if (step_ == 1) return e < len ? __gSincTable[e] : 0.0;
        const double pos = static_cast<double>(e) / static_cast<double>(step_);
        const auto i = static_cast<int64_t>(pos);
        if (i >= len) return 0.0;
        const double a = __gSincTable[i];
        const double b = i + 1 < len ? __gSincTable[i + 1] : 0.0;
        return a + (b - a) * (pos - static_cast<double>(i));
    }

    void FillRow(int64_t phase, double* row) const {
        for (int64_t t = 0; t < K_; ++t) {
            // Frame n - k (k = KL - 1 - t) lies phase / L before the instant,
            // frame n + 1 + k (k = t - KL) lies (L - phase) / L after it.
            row[t] = Tap(t < KL_ ? phase + (KL_ - 1 - t) * L_ : (L_ - phase) + (t - KL_) * L_);
        }
    }

    int64_t L_ = 1;
    int64_t step_ = 1;
    int64_t KL_ = 0;
    int64_t K_ = 0;
    Block matrix_;
    Block row_;
    Block groupBlock_;
    double* groups_ = nullptr;  // groupBlock_ from its first 64-byte boundary
    std::vector<int64_t> groupFirst_;
    int lanes_ = 1;
    int64_t period_ = 1;
    int64_t periodInput_ = 1;
    int64_t span_ = 0;
};

// ---- The conversion loop ----------------------------------------------------

// Converts one range with a built filter. A window holds source frames
// start .. end (counted from the range start, zero before it and from dataEnd_
// on), each channel apart; it is refilled when an output frame needs a frame
// past its end, keeping what the present frame still needs. The output goes in
// blocks, each computed whole from one window and then written. Alone, the
// converter takes the blocks in turn; with helpers, each thread takes the next
// block into a window of its own, reading and writing one at a time and the
// blocks written in order, so that a block's data stay with the thread that
// computes it.
class PolyphaseRun {
public:
    // outBlock: output frames per write; capacity: frames a window holds;
    // helpers: threads that share the arithmetic besides the caller's.
    PolyphaseRun(FrameMover& io, PhaseFilter& filter, int64_t L, int64_t M, uint32_t start,
                 uint32_t end, uint64_t outBlock, int64_t capacity, int helpers)
        : io_(io),
          filter_(filter),
          L_(L),
          M_(M),
          start_(start),
          dataEnd_(end > start ? end - start : 0),
          channels_(io.Values()),
          outBlock_(outBlock),
          capacity_(capacity),
          helpers_(helpers) {}

    OSErr Run(CConvSpec* conversion, uint32_t* outPos);

private:
    // A window and what a thread converts with it: the frames as read before
    // they are taken apart, and the block of output frames.
    struct Window {
        Block data;
        Block frames;
        int64_t frameRoom = 0;  // frames `frames` holds
        Block y;
        int64_t start = 0;
        int64_t end = 0;
    };
    struct Shared;

    OSErr RunAlone(uint64_t outFrames, double* peak, bool* produced, uint32_t* outPos);
    OSErr RunShared(uint64_t outFrames, double* peak, bool* produced, uint32_t* outPos);
    void Work(Shared& shared, int part);
    // Computes output frames index .. index + n (from `clock` on) into the
    // window's block, refilling the window as needed (under `io` when given);
    // *made receives the frames made, *peak is raised. Returns the read
    // status that stopped it early.
    OSErr ConvertBlock(Window& w, RateClock clock, uint64_t index, uint64_t n, uint64_t* made,
                       double* peak, std::mutex* io);
    // Fills window `to` from source frame keepFrom on, taking what `from`
    // (which may be `to` itself) holds of those frames; left empty on failure.
    OSErr Refill(Window& to, const Window& from, int64_t keepFrom);
    double* Plane(const Window& w, int c) const { return w.data.get() + c * capacity_; }
    // The source frames read so far for a window, for the progress.
    int64_t ReadUpTo(const Window& w) const {
        return std::clamp<int64_t>(std::min(w.end, dataEnd_), 0, dataEnd_);
    }
    // Output frames from `clock` on whose input frames all lie before `limit`.
    uint64_t FramesBefore(const RateClock& clock, int64_t limit) const;
    // The clock `frames` output frames after `clock`.
    RateClock After(const RateClock& clock, uint64_t frames) const;
    // Frames [k0, k1) of the frames from `clock` on (output frame `index` of the
    // range) into y (interleaved, from frame `clock` on); returns their peak.
    double ComputePart(const Window& w, const RateClock& clock, uint64_t index, uint64_t k0,
                       uint64_t k1, double* y);
    // The same for a grouped filter: whole groups through the group kernel,
    // each frame's lane kept.
    double ComputeGroups(const Window& w, uint64_t index, uint64_t k0, uint64_t k1, double* y);
    // The first input frame (from the range start) that output frame `index`'s
    // group reads; for a filter without groups, the frame's own first tap.
    int64_t FirstInputOf(const RateClock& clock, uint64_t index) const;

    FrameMover& io_;
    PhaseFilter& filter_;
    int64_t L_, M_;
    uint32_t start_;
    int64_t dataEnd_;
    int channels_;
    uint64_t outBlock_;
    int64_t capacity_;
    int helpers_;
    std::vector<Window> windows_;  // one a thread
    DotFunction dot_ = nullptr;
    GroupDotFunction groupDot_ = nullptr;
    int groupPeriods_ = 1;  // the most periods one group kernel call sums
};

uint64_t PolyphaseRun::FramesBefore(const RateClock& clock, int64_t limit) const {
    if (limit <= clock.whole) return 0;
    // Frame k lies at input position (whole × L + phase + k × M) / L.
    const __int128 room = static_cast<__int128>(limit - clock.whole) * L_ - clock.phase;
    const __int128 frames = (room + M_ - 1) / M_;
    return frames > static_cast<__int128>(UINT64_MAX) ? UINT64_MAX : static_cast<uint64_t>(frames);
}

RateClock PolyphaseRun::After(const RateClock& clock, uint64_t frames) const {
    RateClock later = clock;
    const __int128 position = static_cast<__int128>(clock.phase) + static_cast<__int128>(frames) * M_;
    later.whole = clock.whole + static_cast<int64_t>(position / L_);
    later.phase = static_cast<int64_t>(position % L_);
    return later;
}

int64_t PolyphaseRun::FirstInputOf(const RateClock& clock, uint64_t index) const {
    const int64_t left = filter_.Left();
    if (!filter_.Grouped()) return clock.whole - left + 1;
    const auto P = static_cast<uint64_t>(filter_.Period());
    const uint64_t period = index / P;
    const auto g = static_cast<int64_t>((index % P) / static_cast<uint64_t>(filter_.Lanes()));
    return static_cast<int64_t>(period) * filter_.PeriodInput() + filter_.GroupInput(g) - left + 1;
}

double PolyphaseRun::ComputeGroups(const Window& w, uint64_t index, uint64_t k0, uint64_t k1,
                                   double* y) {
    const auto C = static_cast<size_t>(channels_);
    const auto lanes = static_cast<uint64_t>(filter_.Lanes());
    const auto P = static_cast<uint64_t>(filter_.Period());
    const auto span = static_cast<size_t>(filter_.Span());
    const auto stride = static_cast<size_t>(filter_.PeriodInput());
    const int64_t left = filter_.Left();
    const auto Q = static_cast<uint64_t>(groupPeriods_);
    double lanesOut[kMaxGroupPeriods * 2 * 8];
    double peak = 0.0;
    const uint64_t a = index + k0;  // output frames of the range
    const uint64_t end = index + k1;
    if (a >= end) return peak;
    const uint64_t firstPeriod = a / P, lastPeriod = (end - 1) / P;
    const uint64_t head = a - firstPeriod * P;  // frames of the first period before the range
    const uint64_t tail = end - lastPeriod * P;  // frames of the last period in the range
    const uint64_t groups = (P + lanes - 1) / lanes;
    // Up to Q periods at a time, group by group; a group outside the range in
    // the first or last period is left out there.
    for (uint64_t pc = firstPeriod; pc <= lastPeriod; pc += Q) {
        const uint64_t pcEnd = std::min(pc + Q, lastPeriod + 1);
        for (uint64_t g = 0; g < groups; ++g) {
            const uint64_t g0 = g * lanes, g1 = std::min(g0 + lanes, P);  // within a period
            uint64_t p0 = pc, p1 = pcEnd;
            if (p0 == firstPeriod && g1 <= head) ++p0;
            if (p1 == lastPeriod + 1 && g0 >= tail) --p1;
            if (p0 >= p1) continue;
            const int64_t first = static_cast<int64_t>(p0) * filter_.PeriodInput() +
                                  filter_.GroupInput(static_cast<int64_t>(g)) - left + 1 - w.start;
            const double* coefficients = filter_.Group(static_cast<int64_t>(g));
            const auto periods = static_cast<int>(p1 - p0);
            for (size_t c = 0; c < C; c += 2) {  // channels in pairs
                const int pair = C - c >= 2 ? 2 : 1;
                const double* x[2] = {Plane(w, static_cast<int>(c)) + first,
                                      Plane(w, static_cast<int>(c) + pair - 1) + first};
                groupDot_(coefficients, x, pair, span, stride, periods, lanesOut);
                // Each period's lanes that lie in the range.
                for (int k = 0; k < periods; ++k) {
                    const uint64_t base = (p0 + static_cast<uint64_t>(k)) * P + g0;
                    const uint64_t from = std::max(base, a);
                    const uint64_t to = std::min(base + (g1 - g0), end);
                    const double* one = lanesOut + static_cast<size_t>(k * pair) * lanes + (from - base);
                    const double* two = one + lanes;
                    double* out = y + (from - index) * C + c;
                    if (pair == 2) {
                        for (uint64_t j = 0; j < to - from; ++j, out += C) {
                            out[0] = one[j];
                            out[1] = two[j];
                            peak = std::max(peak, std::max(std::fabs(one[j]), std::fabs(two[j])));
                        }
                    } else {
                        for (uint64_t j = 0; j < to - from; ++j, out += C) {
                            out[0] = one[j];
                            peak = std::max(peak, std::fabs(one[j]));
                        }
                    }
                }
            }
        }
    }
    return peak;
}

double PolyphaseRun::ComputePart(const Window& w, const RateClock& from, uint64_t index,
                                 uint64_t k0, uint64_t k1, double* y) {
    if (filter_.Grouped()) return ComputeGroups(w, index, k0, k1, y);
    const auto C = static_cast<size_t>(channels_);
    const auto taps = static_cast<size_t>(filter_.Taps());
    const int64_t left = filter_.Left();
    RateClock clock = After(from, k0);
    double peak = 0.0;
    y += k0 * C;
    for (uint64_t k = k0; k < k1; ++k) {
        const int64_t first = clock.whole - left + 1 - w.start;
        const double* row = filter_.Row(clock.phase);
        for (size_t c = 0; c < C; c += 2) {  // channels in pairs
            const int pair = C - c >= 2 ? 2 : 1;
            const double* x[2] = {Plane(w, static_cast<int>(c)) + first,
                                  Plane(w, static_cast<int>(c) + pair - 1) + first};
            dot_(row, x, pair, taps, y + c);
        }
        for (size_t c = 0; c < C; ++c) peak = std::max(peak, std::fabs(y[c]));
        y += C;
        clock.Advance();
    }
    return peak;
}

OSErr PolyphaseRun::Refill(Window& to, const Window& from, int64_t keepFrom) {
    const int64_t keep =
        keepFrom >= from.start ? std::max<int64_t>(0, from.end - keepFrom) : 0;
    for (int c = 0; c < channels_; ++c)
        if (keep > 0)
            std::memmove(Plane(to, c), Plane(from, c) + (keepFrom - from.start),
                         static_cast<size_t>(keep) * sizeof(double));
    to.start = keepFrom;
    to.end = keepFrom;  // empty until it is filled
    const int64_t limit = to.start + capacity_;
    int64_t at = keep;  // the next window index to fill
    // Silence before the range start.
    const int64_t before = std::max<int64_t>(0, std::min<int64_t>(limit, 0) - (to.start + at));
    for (int c = 0; c < channels_; ++c) std::fill(Plane(to, c) + at, Plane(to, c) + at + before, 0.0);
    at += before;
    // Source frames up to the range end (or the end of what the file holds).
    const int64_t first = to.start + at;
    if (first < std::min(limit, dataEnd_)) {
        const int64_t want = std::min(limit, dataEnd_) - first;
        uint32_t got = static_cast<uint32_t>(want);
        const uint32_t position = start_ + static_cast<uint32_t>(first);
        if (channels_ == 1) {
            if (OSErr err = io_.Read(position, &got, Plane(to, 0) + at)) return err;
        } else {
            // A piece at a time, so that the frames as read stay in the caches
            // until they are taken apart.
            const auto C = static_cast<size_t>(channels_);
            const auto piece = static_cast<uint32_t>(to.frameRoom);
            got = 0;
            while (got < static_cast<uint32_t>(want)) {
                uint32_t n = std::min(piece, static_cast<uint32_t>(want) - got);
                const uint32_t asked = n;
                if (OSErr err = io_.Read(position + got, &n, to.frames.get())) return err;
                for (size_t c = 0; c < C; ++c) {
                    const double* f = to.frames.get() + c;
                    double* plane = Plane(to, static_cast<int>(c)) + at + got;
                    for (uint32_t i = 0; i < n; ++i) plane[i] = f[i * C];
                }
                got += n;
                if (n < asked) break;
            }
        }
        if (got < want) dataEnd_ = first + got;
        at += got;
    }
    // Silence after it.
    for (int c = 0; c < channels_; ++c) std::fill(Plane(to, c) + at, Plane(to, c) + capacity_, 0.0);
    to.end = limit;
    return 0;
}

OSErr PolyphaseRun::Run(CConvSpec* conversion, uint32_t* outPos) {
    const uint64_t outFrames = OutputFramesCeil(static_cast<uint64_t>(dataEnd_), L_, M_);
    if (outFrames == 0) return 0;
    if (outFrames > UINT32_MAX - *outPos) return kParamErr;
    outBlock_ = std::min(outBlock_, outFrames);
    // More blocks than threads, or the helpers would have nothing to take.
    if (helpers_ > 0 && outFrames / outBlock_ <= static_cast<uint64_t>(helpers_)) helpers_ = 0;
    const auto C = static_cast<size_t>(channels_);
    OSErr err = 0;
    // A group reads up to its span past its first frame's first tap, beyond the
    // frames it is asked for: the window keeps zeros behind its last plane.
    const auto slack = static_cast<size_t>(filter_.Grouped() ? filter_.Span() + 8 : 0);
    const int64_t left = filter_.Left();
    windows_.resize(static_cast<size_t>(helpers_) + 1);
    for (Window& w : windows_) {
        w.data = AllocBlock(static_cast<size_t>(capacity_) * C + slack, &err);
        if (err) return err;
        w.y = AllocBlock(static_cast<size_t>(outBlock_) * C, &err);
        if (err) return err;
        if (C > 1) {
            w.frameRoom = std::min<int64_t>(capacity_, std::max<int64_t>(1, kReadPieceValues / C));
            w.frames = AllocBlock(static_cast<size_t>(w.frameRoom) * C, &err);
            if (err) return err;
        }
        w.start = w.end = -(left - 1);
    }
    dot_ = ChooseDot();
    const GroupKernel kernel = ChooseGroupKernel();  // the kernel the filter was laid out for
    groupDot_ = kernel.dot;
    groupPeriods_ = kernel.periods;

    double peak = conversion->GetMax();
    bool produced = false;
    const OSErr result = helpers_ > 0 ? RunShared(outFrames, &peak, &produced, outPos)
                                      : RunAlone(outFrames, &peak, &produced, outPos);
    if (produced) conversion->SetMax(peak);
    return result;
}

OSErr PolyphaseRun::ConvertBlock(Window& w, RateClock clock, uint64_t index, uint64_t n,
                                 uint64_t* made, double* peak, std::mutex* io) {
    const auto C = static_cast<size_t>(channels_);
    const int64_t reach = filter_.Taps() - filter_.Left();  // frames needed after n
    *made = 0;
    while (*made < n) {
        // Refilled when the window lacks the next frame, or the rest of the
        // block and refilling moves it on, so that a block is computed whole.
        uint64_t fit = FramesBefore(clock, w.end - reach);
        const int64_t keepFrom = FirstInputOf(clock, index + *made);
        if (fit == 0 || (fit < n - *made && keepFrom > w.start)) {
            std::unique_lock<std::mutex> lock;
            if (io) lock = std::unique_lock<std::mutex>(*io);
            if (OSErr err = Refill(w, w, keepFrom)) return err;
            fit = FramesBefore(clock, w.end - reach);
        }
        // The frames the window holds everything for, at most the block's rest.
        const uint64_t m = std::min(n - *made, fit);
        if (m == 0) return kParamErr;  // a window too small for one frame never advances
        *peak = std::max(*peak, ComputePart(w, clock, index + *made, 0, m, w.y.get() + *made * C));
        clock = After(clock, m);
        *made += m;
    }
    return 0;
}

OSErr PolyphaseRun::RunAlone(uint64_t outFrames, double* peak, bool* produced,
                             uint32_t* outPos) {
    Window& w = windows_[0];
    RateClock clock(L_, M_);
    uint64_t done = 0;
    OSErr result = 0;
    while (done < outFrames && result == 0) {
        const uint64_t n = std::min(outBlock_, outFrames - done);
        uint64_t made = 0;
        const OSErr readErr = ConvertBlock(w, clock, done, n, &made, peak, nullptr);
        if (made == 0) {  // nothing of this block could be made
            result = readErr;
            break;
        }
        *produced = true;
        auto count = static_cast<uint32_t>(made);
        result = io_.Write(*outPos, &count, w.y.get());
        *outPos += count;
        done += made;
        clock = After(clock, made);
        if (result == 0) {
            result = SetProgressPosition(static_cast<int>(start_ + ReadUpTo(w)));
            if (readErr) result = readErr;
        }
    }
    return result;
}

// What the threads of a shared run have in common.
struct PolyphaseRun::Shared {
    uint64_t outFrames = 0;
    uint64_t blocks = 0;
    uint32_t* outPos = nullptr;
    std::atomic<uint64_t> claims{0};  // the next block to take
    std::mutex io;                    // reads and writes, one at a time
    std::mutex turnMutex;
    std::condition_variable turn;
    // Under turnMutex:
    uint64_t nextRead = 0;              // the block whose turn it is to fill its window
    const Window* lastFilled = nullptr;  // the window the block before it filled
    uint64_t nextWrite = 0;             // the block whose turn it is to be written
    bool stop = false;
    OSErr result = 0;
    bool produced = false;
    double peaks[8] = {};
};

void PolyphaseRun::Work(Shared& shared, int part) {
    Window& w = windows_[static_cast<size_t>(part)];
    for (;;) {
        const uint64_t b = shared.claims.fetch_add(1, std::memory_order_relaxed);
        if (b >= shared.blocks) return;
        const uint64_t index = b * outBlock_;
        const uint64_t n = std::min(outBlock_, shared.outFrames - index);
        uint64_t made = 0;
        double peak = 0.0;
        OSErr err = 0;
        const RateClock clock = After(RateClock(L_, M_), index);
        // The blocks fill their windows in order, each taking from the window
        // before it what that holds of its frames, so that the source is read
        // once from start to end. That window is not filled again before this
        // one is: its thread's next block comes later.
        const Window* before = nullptr;
        {
            std::unique_lock<std::mutex> lock(shared.turnMutex);
            shared.turn.wait(lock, [&] { return shared.stop || shared.nextRead == b; });
            if (shared.stop) return;
            before = shared.lastFilled ? shared.lastFilled : &w;
        }
        OSErr readErr = 0;
        {
            std::lock_guard<std::mutex> lock(shared.io);
            readErr = Refill(w, *before, FirstInputOf(clock, index));
        }
        {
            std::lock_guard<std::mutex> lock(shared.turnMutex);
            shared.nextRead = b + 1;
            shared.lastFilled = &w;
        }
        shared.turn.notify_all();
        // A failed fill reaches the log at this block's turn to be written.
        if (readErr == 0) readErr = ConvertBlock(w, clock, index, n, &made, &peak, &shared.io);
        {
            std::unique_lock<std::mutex> lock(shared.turnMutex);
            shared.turn.wait(lock, [&] { return shared.stop || shared.nextWrite == b; });
            if (shared.stop) return;
        }
        // This block's turn: the blocks before it are written.
        int64_t readUpTo = 0;
        if (made == 0) {
            err = readErr;
        } else {
            std::lock_guard<std::mutex> lock(shared.io);
            auto count = static_cast<uint32_t>(made);
            err = io_.Write(*shared.outPos, &count, w.y.get());
            *shared.outPos += count;
            readUpTo = ReadUpTo(w);
            if (err == 0) err = readErr;
        }
        // Progress goes to the owner's thread context, from its own blocks.
        if (err == 0 && part == 0) err = SetProgressPosition(static_cast<int>(start_ + readUpTo));
        {
            std::lock_guard<std::mutex> lock(shared.turnMutex);
            if (made > 0) {
                shared.produced = true;
                shared.peaks[part] = std::max(shared.peaks[part], peak);
            }
            if (err) {
                shared.stop = true;
                shared.result = err;
            }
            ++shared.nextWrite;
        }
        shared.turn.notify_all();
        if (err) return;
    }
}

OSErr PolyphaseRun::RunShared(uint64_t outFrames, double* peak, bool* produced,
                              uint32_t* outPos) {
    Shared shared;
    shared.outFrames = outFrames;
    shared.blocks = (outFrames + outBlock_ - 1) / outBlock_;
    shared.outPos = outPos;
    FrameTeam team(helpers_);
    struct Context {
        PolyphaseRun* run;
        Shared* shared;
    } context{this, &shared};
    team.Run(
        [](void* c, int part) {
            auto* context = static_cast<Context*>(c);
            context->run->Work(*context->shared, part);
        },
        &context);
    for (double p : shared.peaks) *peak = std::max(*peak, p);
    *produced = shared.produced;
    return shared.result;
}

// Releases the table when it goes out of scope.
struct SincTableRelease {
    ~SincTableRelease() { freeSincTable(); }
};

OSErr ConvertPolyphase(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                       CConvSpec* conversion, SourceLayout in, short channel, OutputLayout out,
                       uint32_t* outPos) {
    std::lock_guard<std::mutex> lock(SincTableMutex());
    SincTableRelease release;
    gNumPeriodsPPh = static_cast<uint16_t>(MakeNumPeriodsDecision(conversion, source, output));
    if (gNumPeriodsPPh == 0) return kParamErr;  // a quality the settings never give
    int64_t L = 0, M = 0, step = 1;
    if (OSErr err =
            InitPolyPhase(conversion->GetSampleRate(), source->GetSampleRate(), &L, &M, &step))
        return err;

    const uint64_t values = FrameMover::WholeFrames(in) && source->GetNumChannels() > 0
                                ? static_cast<uint64_t>(source->GetNumChannels())
                                : 1;
    PhaseFilter filter;
    if (OSErr err = filter.Build(L, step)) return err;
    const GroupKernel kernel = ChooseGroupKernel();
    if (filter.SharedRows() && kernel.lanes > 0)
        if (OSErr err = filter.BuildGroups(M, kernel.lanes)) return err;
    // An output block is the output's buffer at the new rate (at least one
    // frame, at most kMaxBlockFrames); the window holds the source frames of one
    // block and the filter's span, each channel apart. Many channels take
    // smaller blocks, so that the windows together stay within kWindowValues.
    // Long conversions share the work among a few threads, each converting
    // blocks of several output buffers through a window of its own, so that
    // taking and writing a block costs little beside its arithmetic; alone,
    // the converter keeps to one buffer, which stays in the processor's caches.
    const uint64_t work = OutputFramesCeil(end > start ? end - start : 0, L, M) *
                          static_cast<uint64_t>(filter.Taps()) * values;
    const int helpers = filter.SharedRows() ? FrameTeam::HelpersFor(work) : 0;
    const uint64_t buffers = helpers > 0 ? kBuffersPerSharedBlock : 1;
    uint64_t outBlock = std::clamp<uint64_t>(
        OutputFramesFloor(buffers * output->GetBufferFrames(), L, M), 1, kMaxBlockFrames);
    const auto windowFor = [&](uint64_t block) {
        uint64_t span = std::min<uint64_t>(OutputFramesCeil(block, M, L), kMaxBlockValues);
        // A group's frames read from its first frame's first tap on, which lies
        // up to the group's reach before a block's first frame's: the window
        // holds that reach besides, and one frame's step beyond it, so that a
        // block is computed from one fill wherever it starts.
        if (filter.Grouped())
            span += static_cast<uint64_t>(filter.Span() - filter.Taps()) + OutputFramesCeil(1, M, L);
        return span + 2 + static_cast<uint64_t>(filter.Taps());
    };
    const uint64_t windowRoom = kWindowValues / values / (static_cast<uint64_t>(helpers) + 1);
    while (outBlock > 1 && windowFor(outBlock) > windowRoom) outBlock /= 2;
    const uint64_t window = windowFor(outBlock);
    if (window > kMaxBlockValues / values) return kMemBlockMissingErr;
    FrameMover io;
    if (OSErr err = io.Init(source, in, channel, output, out, window, outBlock)) return err;
    PolyphaseRun run(io, filter, L, M, start, end, outBlock, static_cast<int64_t>(window), helpers);
    return run.Run(conversion, outPos);
}

// Copies the regions, markers and loops that lie in start..end, the sampler data
// and the time stamp to the output, positions moved to the output rate.
OSErr CopyExtras(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                 CConvSpec* conversion, uint32_t outPos0) {
    int64_t L = 0, M = 0;
    if (OSErr err = ReduceRates(conversion->GetSampleRate(), source->GetSampleRate(), &L, &M))
        return err;
    const int64_t from = start;
    const int64_t to = end;
    // The output frame of a source frame: the range begins at outPos0.
    auto map = [&](int64_t p) {
        return static_cast<uint32_t>(static_cast<uint64_t>(outPos0 + ScaleTrunc(p - from, L, M)));
    };
    OSErr result = 0;
    for (uint16_t i = 0; i < source->GetNumRegions() && result == 0; ++i) {
        SFTRegion r;
        if ((result = source->GetIndRegion(i, &r))) break;
        if (r.start < from || r.end > to) continue;
        r.start = static_cast<int32_t>(map(r.start));
        r.end = static_cast<int32_t>(map(r.end));
        r.sync = static_cast<int32_t>(map(r.sync));
        r.timeStamp = static_cast<int32_t>(ScaleTrunc(r.timeStamp, L, M));
        result = output->AddRegion(&r);
    }
    for (uint16_t i = 0; result == 0 && i < source->GetNumMarkers(); ++i) {
        SFTMarker m;
        if ((result = source->GetIndMarker(i, &m))) break;
        if (m.position < from || m.position > to) continue;
        m.position = map(m.position);
        result = output->AddMarker(&m);
    }
    for (uint16_t i = 0; result == 0 && i < source->GetNumLoops(); ++i) {
        SFTLoop l;
        if ((result = source->GetIndLoop(i, &l))) break;
        if (l.start < from || l.end > to) continue;
        l.start = map(l.start);
        l.end = map(l.end);
        result = output->AddLoop(&l);
    }
    if (result == 0) {
        SFTSamplerInfo info;
        result = source->GetSamplerInfo(&info);
        if (result == kNoSamplerInfoErr)
            result = 0;
        else if (result == 0)
            result = output->SetSamplerInfo(&info);
    }
    if (source->IsTimeStampValid()) output->SetTimeStamp(map(source->GetTimeStamp()));
    return result;
}

// What every region converter does: the output's dither, the conversion
// (linear at quality 0), the peak marked valid, and the extras after a clean
// conversion into an output that no earlier pass has carried them to.
short ConvertRegion(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                    CConvSpec* conversion, SourceLayout in, short channel, OutputLayout out,
                    LinearBlocks linearBlocks, uint32_t* outPos) {
    if (!source || !output || !conversion || !outPos) return kParamErr;
    const uint32_t outPos0 = *outPos;
    output->SetDither(conversion->GetNeedsRedither() ? 1 : 0);
    OSErr result =
        conversion->GetSRConvertQuality() == 0
            ? ConvertLinear(source, output, start, end, conversion, in, channel, out, linearBlocks,
                            outPos)
            : ConvertPolyphase(source, output, start, end, conversion, in, channel, out, outPos);
    conversion->SetHasValidMax(1);
    if (result == 0 && conversion->GetCopyExtras() && !output->IsOneChannelDone())
        result = CopyExtras(source, output, start, end, conversion, outPos0);
    return result;
}

}  // namespace

PolyphaseKernel SetPolyphaseKernel(PolyphaseKernel kernel) { return gKernel.exchange(kernel); }

short MakeNumPeriodsDecision(CConvSpec* conversion, CSoundFile* source, CSoundFile* output) {
    if (!conversion) return 0;
    switch (conversion->GetSRConvertQuality()) {
        case 1:
            break;
        case 2:
            return 12;
        case 3:
            return 32;
        case 4:
            return 64;
        default:
            return 0;
    }
    if (!source || !output) return 0;
    const auto outBits = static_cast<uint16_t>(output->GetWordSize());
    const auto inBits = static_cast<uint16_t>(source->GetWordSize());
    const double outRate = output->GetSampleRate();
    const double inRate = source->GetSampleRate();
    if (outBits < 9) return 12;
    if (outRate > 96000.0 || inRate > 96000.0) return 64;
    if (outBits > 24 || inBits > 24) return 64;
    if (outBits != 24 && inBits != 24) return 32;
    if (outRate > 48000.0 || inRate > 48000.0) return 64;
    return 32;
}

double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k <= 14; ++k) {
        term *= (x / 2.0) / k;
        sum += term * term;
        if (term <= 1e-8) break;
    }
    return sum;
}

short InitSincTablePPh(int64_t L, int64_t M, int64_t* step) {
    const int64_t P = gNumPeriodsPPh;
    if (L < 1 || M < 1 || P < 1 || !step) return kParamErr;
    const double gain = L < M ? static_cast<double>(L) / static_cast<double>(M) : 1.0;
    const int64_t N = std::max(L, M);
    int64_t len = P * 2 * N;
    int64_t decimation = 1;
    while (len > kMaxTableEntries) {
        decimation *= 2;
        len /= 2;
    }
    freeSincTable();
    auto* table = static_cast<double*>(alloc(sizeof(double) * static_cast<size_t>(len)));
    if (OSErr err = MyMemError(table, 1)) return err;

    const double beta = P == 64 ? 12.0 : P == 32 ? 10.0 : 6.0;
    const double i0beta = besselI0(beta);
    const double d = static_cast<double>(decimation) * std::numbers::pi / static_cast<double>(N);
    table[0] = gain;
    for (int64_t i = 1; i < len; ++i) {
        const double x = static_cast<double>(i) * d;
        const double r = static_cast<double>(i) / static_cast<double>(len);
        table[i] = gain * std::sin(x) / x * besselI0(beta * std::sqrt(1.0 - r * r)) / i0beta;
    }
    __gSincTable = table;
    __gSincTableLength = static_cast<uint32_t>(len);
    __gSincMax = gain;
    __gSincFirst = 0;
    *step = decimation;
    return 0;
}

short InitPolyPhase(double outputRate, double inputRate, int64_t* L, int64_t* M, int64_t* step) {
    if (!L || !M || !step) return kParamErr;
    if (OSErr err = ReduceRates(outputRate, inputRate, L, M)) return err;
    return InitSincTablePPh(*L, *M, step);
}

void freeSincTable() {
    if (__gSincFirst != 0) return;
    dealloc(__gSincTable);
    __gSincTable = nullptr;
    __gSincTableLength = 0;
    __gSincFirst = 1;
}

short SRConvertStereoRegion(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                            CConvSpec* conversion, uint32_t* outPos) {
    return ConvertRegion(source, output, start, end, conversion, SourceLayout::kStereo, 0,
                         OutputLayout::kFrames, LinearBlocks::kBufferLessTwo, outPos);
}

short ConvertAllChannelsRegion(CSoundFile* source, CSoundFile* output, uint32_t start,
                               uint32_t end, CConvSpec* conversion, uint32_t* outPos) {
    return ConvertRegion(source, output, start, end, conversion, SourceLayout::kFrames, 0,
                         OutputLayout::kFrames, LinearBlocks::kBufferLessTwo, outPos);
}

short SRConvert1ChannelRegion(CSoundFile* source, CSoundFile* output, uint32_t start, uint32_t end,
                              CConvSpec* conversion, short channel, short, uint32_t* outPos) {
    return ConvertRegion(source, output, start, end, conversion, SourceLayout::kOneChannel, channel,
                         OutputLayout::kOneChannel, LinearBlocks::kBufferLessTwo, outPos);
}

short SRConvert1ChannelRegionMix(CSoundFile* source, CSoundFile* output, uint32_t start,
                                 uint32_t end, CConvSpec* conversion, uint32_t* outPos) {
    return ConvertRegion(source, output, start, end, conversion, SourceLayout::kMix, 0,
                         OutputLayout::kOneChannel, LinearBlocks::kBufferOverRoot, outPos);
}

short SRConvert1ChannelRegionM2S(CSoundFile* source, CSoundFile* output, uint32_t start,
                                 uint32_t end, CConvSpec* conversion, uint32_t* outPos) {
    return ConvertRegion(source, output, start, end, conversion, SourceLayout::kOneChannel, 0,
                         OutputLayout::kEveryChannel, LinearBlocks::kBufferOverRoot, outPos);
}
