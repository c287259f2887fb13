// The quality of sample-rate conversion measured with our own analysis: the
// passband deviation of a multitone, the alias rejection of tones above the new
// Nyquist frequency, and THD+N of two tones and of a sweep, at 44.1 -> 48 kHz
// and 96 -> 44.1 kHz. Our qualities are held to what their filters imply; sox's
// rate (-q, -h, -v) and libsamplerate (linear and its three sinc qualities) are
// measured the same way as references, and their floors checked, so that the
// analysis itself is known to work. The table is printed.

#include <gtest/gtest.h>
#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "conversion/cconv_spec.h"
#include "dsp/polyphase_src.h"
#include "soundfile/memory_sound_file.h"
#include "memory_files.h"
#include "test_signals.h"
#include "test_support.h"

namespace {

using testsupport::MemorySoundFile;
using Samples = std::vector<double>;
using Converter = std::function<std::optional<Samples>(const Samples&, double from, double to)>;

constexpr double kScale = 2147483648.0;  // full scale of a 32-bit sample
constexpr double kTwoPi = 2 * std::numbers::pi;

// ---- Converters -----------------------------------------------------------------

// Ours on a whole mono file of 32-bit samples.
Converter Ours(short quality) {
    return [quality](const Samples& x, double from, double to) -> std::optional<Samples> {
        const auto n = static_cast<uint32_t>(x.size());
        MemorySoundFile src(1, 32, n, from), out(1, 32, 0, to);
        for (uint32_t i = 0; i < n; ++i) src.SetSample(i, 0, std::lround(x[i] * kScale));
        out.SetOpen(true);
        out.SetSFTBufferSize(12288);
        CConvSpec conversion(std::make_shared<ConvSpec>());
        conversion.SetSampleRate(to);
        conversion.SetSRConvertQuality(quality);
        conversion.SetCopyExtras(0);
        conversion.SetNeedsRedither(0);
        uint32_t pos = 0;
        if (SRConvert1ChannelRegion(&src, &out, 0, n, &conversion, 0, 0, &pos) != 0) return {};
        Samples y(out.GetNumSFrames());
        for (uint32_t i = 0; i < y.size(); ++i) y[i] = out.GetSample(i, 0) / kScale;
        return y;
    };
}

// sox's rate on raw doubles.
Converter Sox(const char* quality) {
    return [quality](const Samples& x, double from, double to) -> std::optional<Samples> {
        testsupport::TempDir dir;
        testsupport::WriteFile(dir / "in.raw", std::string(reinterpret_cast<const char*>(x.data()),
                                                           x.size() * sizeof(double)));
        const std::string raw = "-e floating-point -b 64 -c 1 ";
        std::string bytes;
        if (!dsptest::SoxToRaw("-D -t raw " + raw + "-r " + std::to_string(std::lround(from)) +
                                   " '" + (dir / "in.raw") + "'",
                               raw,
                               std::string("rate ") + quality + " " +
                                   std::to_string(std::lround(to)),
                               &bytes))
            return {};
        Samples y(bytes.size() / sizeof(double));
        std::memcpy(y.data(), bytes.data(), y.size() * sizeof(double));
        return y;
    };
}

// libsamplerate in one call (it converts floats).
Converter Libsamplerate(int type) {
    return [type](const Samples& x, double from, double to) -> std::optional<Samples> {
        std::vector<float> in(x.begin(), x.end());
        std::vector<float> out(static_cast<size_t>(std::ceil(x.size() * to / from)) + 16);
        SRC_DATA data{};
        data.data_in = in.data();
        data.data_out = out.data();
        data.input_frames = static_cast<long>(in.size());
        data.output_frames = static_cast<long>(out.size());
        data.end_of_input = 1;
        data.src_ratio = to / from;
        if (src_simple(&data, type, 1) != 0) return {};
        return Samples(out.begin(), out.begin() + data.output_frames_gen);
    };
}

// ---- Analysis ---------------------------------------------------------------------

// The least-squares fit of sines of the given frequencies to y[from..to) at
// `rate`: each one's amplitude and phase (of a·sin + b·cos), and the energy
// left beside them and of the fit.
struct Tones {
    std::vector<double> amplitude, phase;
    double residual = 0, fitted = 0;
};

// The sum of e^(jwi) over i in [from, to).
std::complex<double> ExpSum(double w, size_t from, size_t to) {
    const double n = static_cast<double>(to - from);
    const double half = std::sin(w / 2);
    if (std::fabs(half) < 1e-12) return {n, 0.0};
    return std::polar(std::sin(w * n / 2) / half,
                      w * (static_cast<double>(from) + static_cast<double>(to) - 1) / 2);
}

Tones FitTones(const Samples& y, double rate, const std::vector<double>& freqs, size_t from,
               size_t to) {
    const size_t k = 2 * freqs.size();
    std::vector<double> g(k * k, 0.0), r(k, 0.0), basis(k);
    auto fill = [&](size_t i) {
        for (size_t f = 0; f < freqs.size(); ++f) {
            const double w = kTwoPi * freqs[f] * static_cast<double>(i) / rate;
            basis[2 * f] = std::sin(w);
            basis[2 * f + 1] = std::cos(w);
        }
    };
    for (size_t i = from; i < to; ++i) {
        fill(i);
        for (size_t a = 0; a < k; ++a) r[a] += basis[a] * y[i];
    }
    // The products of the sines and cosines summed in closed form (lower triangle).
    for (size_t a = 0; a < freqs.size(); ++a) {
        for (size_t b = 0; b <= a; ++b) {
            const double wa = kTwoPi * freqs[a] / rate, wb = kTwoPi * freqs[b] / rate;
            const std::complex<double> d = ExpSum(wa - wb, from, to), p = ExpSum(wa + wb, from, to);
            g[2 * a * k + 2 * b] = (d.real() - p.real()) / 2;            // sin a · sin b
            g[2 * a * k + 2 * b + 1] = (p.imag() + d.imag()) / 2;        // sin a · cos b
            g[(2 * a + 1) * k + 2 * b] = (p.imag() - d.imag()) / 2;      // cos a · sin b
            g[(2 * a + 1) * k + 2 * b + 1] = (d.real() + p.real()) / 2;  // cos a · cos b
        }
    }
    // Cholesky: g = l·lᵀ in the lower triangle, then the two triangular solves.
    for (size_t a = 0; a < k; ++a) {
        for (size_t b = 0; b <= a; ++b) {
            double s = g[a * k + b];
            for (size_t c = 0; c < b; ++c) s -= g[a * k + c] * g[b * k + c];
            g[a * k + b] = a == b ? std::sqrt(s) : s / g[b * k + b];
        }
    }
    std::vector<double> z(k);
    for (size_t a = 0; a < k; ++a) {
        double s = r[a];
        for (size_t c = 0; c < a; ++c) s -= g[a * k + c] * z[c];
        z[a] = s / g[a * k + a];
    }
    for (size_t a = k; a-- > 0;) {
        double s = z[a];
        for (size_t c = a + 1; c < k; ++c) s -= g[c * k + a] * z[c];
        z[a] = s / g[a * k + a];
    }
    Tones t;
    for (size_t f = 0; f < freqs.size(); ++f) {
        t.amplitude.push_back(std::hypot(z[2 * f], z[2 * f + 1]));
        t.phase.push_back(std::atan2(z[2 * f + 1], z[2 * f]));
    }
    for (size_t i = from; i < to; ++i) {
        fill(i);
        double v = 0;
        for (size_t a = 0; a < k; ++a) v += z[a] * basis[a];
        t.residual += (y[i] - v) * (y[i] - v);
        t.fitted += v * v;
    }
    return t;
}

double Db(double ratio) {
    return 20 * std::log10(std::max(ratio, 1e-15));
}

using testsignals::Multitone;

// The sweep at amplitude 0.5.
double Sweep(double t, double seconds) { return 0.5 * testsignals::LogSweep(t, seconds); }

struct Figures {
    std::vector<double> passFreqs, passGains;  // 24 tones, 20 Hz .. 20 kHz
    double aliasDb = 0;  // worst alias of tones 24.25 .. 46.25 kHz (downsampling)
    double thd1k = 0, thd19k = 0, thdSweep = 0;  // THD+N in dB
    double delay = 0;                            // output delay in input frames (1 kHz tone)
    size_t frames = 0;                           // output frames

    double DeviationDb(const std::function<double(double)>& expected) const {
        double worst = 0;
        for (size_t i = 0; i < passFreqs.size(); ++i)
            worst = std::max(worst, std::fabs(Db(passGains[i] / expected(passFreqs[i]))));
        return worst;
    }
};

// Half a second of each signal through the converter; the analysis skips 20 ms
// at both ends.
std::optional<Figures> Measure(const Converter& convert, double from, double to) {
    const auto n = static_cast<size_t>(from / 2);
    const double seconds = n / from;
    Figures fig;
    auto run = [&](const Samples& x, Samples* y) {
        std::optional<Samples> out = convert(x, from, to);
        if (!out || out->size() < to / 4) return false;
        *y = std::move(*out);
        return true;
    };
    const auto edge = static_cast<size_t>(to / 50);
    Samples y;

    // Passband: 24 tones spread evenly on a log scale.
    for (int i = 0; i < 24; ++i)
        fig.passFreqs.push_back(std::round(20.0 * std::pow(1000.0, i / 23.0)));
    if (!run(Multitone(fig.passFreqs, 0.03, from, n), &y)) return {};
    fig.frames = y.size();
    const Tones p = FitTones(y, to, fig.passFreqs, edge, y.size() - edge);
    for (double a : p.amplitude) fig.passGains.push_back(a / 0.03);

    // Stopband: tones above the output's Nyquist frequency land on f - k·rate.
    if (from > to) {
        std::vector<double> stop, alias;
        for (double f = 24250; f < std::min(from / 2, 47000.0); f += 1000) {
            stop.push_back(f);
            alias.push_back(std::fabs(f - to * std::round(f / to)));
        }
        if (!run(Multitone(stop, 0.03, from, n), &y)) return {};
        const Tones s = FitTones(y, to, alias, edge, y.size() - edge);
        fig.aliasDb = -1000;
        for (double a : s.amplitude) fig.aliasDb = std::max(fig.aliasDb, Db(a / 0.03));
    }

    // Tones: what is left beside the fitted sine.
    for (double f : {1000.0, 19000.0}) {
        if (!run(Multitone({f}, 0.5, from, n), &y)) return {};
        const Tones t = FitTones(y, to, {f}, edge, y.size() - edge);
        const double thd = 10 * std::log10(std::max(t.residual, 1e-300) / t.fitted);
        if (f == 1000.0) {
            fig.thd1k = thd;
            fig.delay = std::remainder(-t.phase[0], kTwoPi) / kTwoPi / f * from;
        } else {
            fig.thd19k = thd;
        }
    }

    // The sweep against its exact value at the output's instants (less the delay).
    Samples x(n);
    for (size_t i = 0; i < n; ++i) x[i] = Sweep(i / from, seconds);
    if (!run(x, &y)) return {};
    double res = 0, sig = 0;
    for (size_t j = edge; j + edge < y.size() && j < seconds * to - edge; ++j) {
        const double want = Sweep(j / to - fig.delay / from, seconds);
        res += (y[j] - want) * (y[j] - want);
        sig += want * want;
    }
    fig.thdSweep = 10 * std::log10(std::max(res, 1e-300) / sig);
    return fig;
}

// ---- The table ----------------------------------------------------------------------

// Kaiser window: the stopband attenuation its β gives (dB).
double KaiserAttenuation(double beta) {
    return beta / 0.1102 + 8.7;
}

TEST(SRConvertQualityTable, OursAgainstTheirFiltersAndTheReferences) {
    const bool sox = testsupport::HaveProgram("sox");
    // Bounds: passband deviation (dB; for linear interpolation from its own
    // droop), worst alias, THD+N of the tones and of the sweep (dB).
    struct Row {
        const char* name;
        Converter convert;
        bool linear, ours;
        double maxDeviation, maxAlias, maxThd1k, maxThd19k, maxSweep;
    };
    // Our filters of 12, 32 and 64 periods have Kaiser windows of β 6, 10 and 12:
    // attenuation A of 63, 99 and 118 dB and a ripple of δ = 10^(-A/20) on both
    // sides of the cutoff. Every alias or image is at most δ; those of a 1 kHz
    // tone lie deep in the stopband, far below it.
    auto ours = [](const char* name, short quality, double beta) {
        const double a = KaiserAttenuation(beta);
        return Row{name,   Ours(quality), false,  true,   2 * Db(1 + std::pow(10, -a / 20)),
                   -a,     -a - 15,       -a - 5, -a - 5};
    };
    const Row rows[] = {
        {"ours, quality 0 (linear)", Ours(0), true, true, 0.05, 0, -55, 0, -15},
        ours("ours, quality 2 (12 periods)", 2, 6),
        ours("ours, quality 3 (32 periods)", 3, 10),
        ours("ours, quality 4 (64 periods)", 4, 12),
        {"sox rate -q", Sox("-q"), false, false, 8, 1, -100, 0, -20},
        {"sox rate -h", Sox("-h"), false, false, 0.01, -130, -130, -125, -125},
        {"sox rate -v", Sox("-v"), false, false, 0.01, -170, -170, -170, -130},
        {"libsamplerate linear", Libsamplerate(SRC_LINEAR), true, false, 0.05, 0, -55, 0, -15},
        {"libsamplerate sinc fastest", Libsamplerate(SRC_SINC_FASTEST), false, false, 30, -95, -95,
         -80, -80},
        {"libsamplerate sinc medium", Libsamplerate(SRC_SINC_MEDIUM_QUALITY), false, false, 5,
         -110, -130, -110, -115},
        {"libsamplerate sinc best", Libsamplerate(SRC_SINC_BEST_QUALITY), false, false, 1e-4, -150,
         -140, -130, -130},
    };
    const std::pair<double, double> rates[] = {{44100, 48000}, {96000, 44100}};

    std::string table =
        "| converter | kHz | passband deviation 20 Hz-20 kHz (dB) | worst alias of 24-46 kHz "
        "tones (dB) | THD+N 1 kHz | THD+N 19 kHz | THD+N sweep | delay (frames) |\n"
        "|---|---|---|---|---|---|---|---|\n";
    for (const Row& row : rows) {
        if (!sox && std::string(row.name).starts_with("sox")) continue;
        for (auto [from, to] : rates) {
            SCOPED_TRACE(::testing::Message() << row.name << " " << from << " -> " << to);
            const std::optional<Figures> fig = Measure(row.convert, from, to);
            ASSERT_TRUE(fig.has_value()) << "the conversion failed";
            EXPECT_NEAR(double(fig->frames), to / 2, 2.0);
            // Linear interpolation between input frames weighs a tone of f by
            // sinc²(f / input rate).
            const auto droop = [&, from = from](double f) {
                if (!row.linear) return 1.0;
                const double x = std::numbers::pi * f / from;
                return std::pow(std::sin(x) / x, 2);
            };
            EXPECT_LT(fig->DeviationDb(droop), row.maxDeviation);
            if (from > to) {
                EXPECT_LT(fig->aliasDb, row.maxAlias);
            }
            EXPECT_LT(fig->thd1k, row.maxThd1k);
            EXPECT_LT(fig->thd19k, row.maxThd19k);
            EXPECT_LT(fig->thdSweep, row.maxSweep);
            if (row.ours) {
                EXPECT_NEAR(fig->delay, 0.0, 1e-6) << "the output is shifted";
            }
            char line[320];
            std::snprintf(line, sizeof line,
                          "| %s | %g -> %g | %.2g | %s | %.1f | %.1f | %.1f | %.2g |\n", row.name,
                          from / 1000, to / 1000, fig->DeviationDb([](double) { return 1.0; }),
                          from > to ? std::to_string(std::lround(fig->aliasDb)).c_str() : "-",
                          fig->thd1k, fig->thd19k, fig->thdSweep, fig->delay);
            table += line;
        }
    }
    std::printf("%s", table.c_str());
}

}  // namespace
