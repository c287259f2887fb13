// Helpers of the MPEG tests: a frame-header walker over a whole stream, sox-made
// signals, decoding with ffmpeg, and SNR after aligning by cross-correlation.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "format_test_support.h"
#include "test_support.h"

namespace mpegtest {

struct FrameHeader {
    int id, layer, protection, bitrateIndex, frequency, padding, mode, modeExt;
    size_t offset, size;
};

// Kilobits per second of MPEG-1 Layer I and II by index.
inline int Kbps(int layer, int index) {
    static const int kRates[2][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}};
    return kRates[layer - 1][index];
}

// Every frame of an MPEG-1 Layer I/II stream from `start`; fails the test when
// a header is not one we write or the frames do not tile the bytes exactly.
inline std::vector<FrameHeader> WalkFrames(const std::string& bytes, size_t start = 0) {
    static const int kRates[3] = {44100, 48000, 32000};
    std::vector<FrameHeader> frames;
    size_t at = start;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4) {
            ADD_FAILURE() << "stray bytes at " << at;
            break;
        }
        const auto* b = reinterpret_cast<const uint8_t*>(bytes.data() + at);
        FrameHeader h{};
        if (b[0] != 0xFF || (b[1] & 0xF0) != 0xF0) {
            ADD_FAILURE() << "no sync at " << at;
            break;
        }
        h.id = (b[1] >> 3) & 1;
        h.layer = 4 - ((b[1] >> 1) & 3);
        h.protection = b[1] & 1;
        h.bitrateIndex = b[2] >> 4;
        h.frequency = (b[2] >> 2) & 3;
        h.padding = (b[2] >> 1) & 1;
        h.mode = b[3] >> 6;
        h.modeExt = (b[3] >> 4) & 3;
        EXPECT_EQ(h.id, 1);
        EXPECT_TRUE(h.layer == 1 || h.layer == 2);
        EXPECT_EQ(h.protection, 1);
        EXPECT_EQ(b[2] & 1, 0);     // private bit
        EXPECT_EQ(b[3] & 0x0F, 0);  // copyright, original, emphasis
        if (h.bitrateIndex < 1 || h.bitrateIndex > 14 || h.frequency > 2 || h.layer > 2) {
            ADD_FAILURE() << "bad header at " << at;
            break;
        }
        const int kbps = Kbps(h.layer, h.bitrateIndex);
        if (h.layer == 1)
            h.size = static_cast<size_t>((12 * kbps * 1000 / kRates[h.frequency] + h.padding) * 4);
        else
            h.size = static_cast<size_t>(144 * kbps * 1000 / kRates[h.frequency] + h.padding);
        h.offset = at;
        frames.push_back(h);
        at += h.size;
    }
    EXPECT_EQ(at, bytes.size()) << "frames do not tile the stream";
    return frames;
}

// A file of raw 16-bit samples, read whole.
inline std::vector<int16_t> ReadRaw(const std::string& path) {
    const std::string bytes = testsupport::ReadFile(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Interleaved 16-bit samples that sox makes: `synth` arguments after "synth".
inline std::vector<int16_t> SoxSignal(const std::string& dir, int rate, int channels,
                                      const std::string& synth) {
    const std::string path = dir + "/signal.raw";
    const std::string command = "sox -R -n -r " + std::to_string(rate) + " -c " +
                                std::to_string(channels) + " -b 16 -e signed -t raw " +
                                formattest::Quote(path) + " synth " + synth;
    return formattest::RunCommand(command) ? ReadRaw(path) : std::vector<int16_t>();
}

inline void WriteRaw(const std::string& path, const std::vector<int16_t>& samples) {
    testsupport::WriteFile(path, std::string(reinterpret_cast<const char*>(samples.data()),
                                             samples.size() * 2));
}

// The stream decoded by ffmpeg as interleaved 16-bit samples; empty on failure.
inline std::vector<int16_t> DecodeWithFFmpeg(const std::string& path, int channels) {
    const std::string out = path + ".dec.raw";
    return formattest::RunCommand("ffmpeg -nostdin -v error -xerror -y -i " + formattest::Quote(path) +
                                  " -f s16le -ac " + std::to_string(channels) + " " +
                                  formattest::Quote(out))
               ? ReadRaw(out)
               : std::vector<int16_t>();
}

struct Quality {
    double snr = -100, segmentalSnr = -100;
    int lag = -1;
};

// SNR of a decoded signal against its source, decoded[i + lag] against
// source[i], at the lag (in sample frames, -6000..2000: a decoder may also drop
// leading frames) that matches them best: a coarse search on every 31st frame,
// refined on every 3rd. Segmental SNR: the mean of 1024-frame segments' SNRs,
// each held to -10..60 dB, skipping near-silent ones.
inline Quality Compare(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec,
                       int channels) {
    Quality q;
    const long frames = static_cast<long>(ref.size() / channels);
    const long decFrames = static_cast<long>(dec.size() / channels);
    auto error = [&](int lag, int step) {
        double sum = 0;
        long count = 0;
        for (long i = std::max(0L, -static_cast<long>(lag)); i < frames && i + lag < decFrames;
             i += step, ++count)
            for (int c = 0; c < channels; ++c) {
                const double e = double(ref[i * channels + c]) - dec[(i + lag) * channels + c];
                sum += e * e;
            }
        return count ? sum / count : 1e300;
    };
    double best = 1e300;
    for (int lag = -6000; lag <= 2000; ++lag)
        if (const double e = error(lag, 31); e < best) best = e, q.lag = lag;
    const int coarse = q.lag;
    best = 1e300;
    for (int lag = coarse - 64; lag <= coarse + 64; ++lag)
        if (const double e = error(lag, 3); e < best) best = e, q.lag = lag;

    double signal = 0, noise = 0, segSum = 0;
    int segments = 0;
    for (long start = std::max(0L, -static_cast<long>(q.lag)); start < frames; start += 1024) {
        double s = 0, n = 0;
        for (long i = start; i < std::min(frames, start + 1024) && i + q.lag < decFrames; ++i)
            for (int c = 0; c < channels; ++c) {
                const double r = ref[i * channels + c];
                const double e = r - dec[(i + q.lag) * channels + c];
                s += r * r;
                n += e * e;
            }
        signal += s;
        noise += n;
        if (s > 1e3 * 1024) {
            segSum += std::clamp(10 * std::log10(s / std::max(n, 1e-9)), -10.0, 60.0);
            ++segments;
        }
    }
    q.snr = 10 * std::log10(signal / std::max(noise, 1e-9));
    q.segmentalSnr = segments ? segSum / segments : 0;
    return q;
}

}  // namespace mpegtest
