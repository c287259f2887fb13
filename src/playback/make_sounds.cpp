// Writes the program's short sounds into a folder at build time, through our
// own AIFF writer: "Bliep" (the tone between files), "Toeter" and "Pieieng"
// (the end of a batch). Usage: corvane_make_sounds <folder>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/pcm/aiff_file.h"
#include "soundfile/sound_file.h"

namespace {

constexpr double kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// Raised-cosine fades at both ends, so that the sound starts and ends without a click.
void Fade(std::vector<double>& s, size_t fadeFrames) {
    fadeFrames = std::min(fadeFrames, s.size() / 2);
    for (size_t i = 0; i < fadeFrames; ++i) {
        const double g = 0.5 - 0.5 * std::cos(kPi * double(i) / double(fadeFrames));
        s[i] *= g;
        s[s.size() - 1 - i] *= g;
    }
}

// A short high tone.
std::vector<double> Bliep() {
    std::vector<double> s(size_t(0.12 * kRate));
    for (size_t i = 0; i < s.size(); ++i) s[i] = 0.5 * std::sin(2 * kPi * 1318.5 * double(i) / kRate);
    Fade(s, size_t(0.005 * kRate));
    return s;
}

// Two low notes together with their odd harmonics, like a horn.
std::vector<double> Toeter() {
    std::vector<double> s(size_t(0.45 * kRate));
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        double v = 0;
        for (double f : {220.0, 277.18})
            for (int h = 1; h <= 7; h += 2) v += std::sin(2 * kPi * f * h * t) / h;
        s[i] = 0.2 * v;
    }
    Fade(s, size_t(0.01 * kRate));
    return s;
}

// A falling whistle that dies away.
std::vector<double> Pieieng() {
    std::vector<double> s(size_t(0.6 * kRate));
    double phase = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double f = 600 + 1400 * std::exp(-4 * t);
        phase += 2 * kPi * f / kRate;
        s[i] = 0.5 * std::exp(-3 * t) * std::sin(phase);
    }
    Fade(s, size_t(0.005 * kRate));
    return s;
}

bool WriteSound(const std::string& folder, const std::string& name, std::vector<double> samples) {
    const std::string base = folder + "/" + name;
    ::unlink((base + ".aiff").c_str());  // our own build product
    SoundFilePtr file(new CAIFFFile());
    file->SetDither(0);
    if (file->ISoundFile(base) != 0) return false;
    if (file->Create(1, 16, float(kRate), nullptr, reinterpret_cast<const unsigned char*>("\x04" "aiff")))
        return false;
    uint32_t count = static_cast<uint32_t>(samples.size());
    double* channels[1] = {samples.data()};
    if (file->Write(0, &count, channels) != 0 || count != samples.size()) return false;
    return file.release()->Dispose(1) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane_make_sounds <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = WriteSound(folder, "Bliep", Bliep());
    ok = WriteSound(folder, "Toeter", Toeter()) && ok;
    ok = WriteSound(folder, "Pieieng", Pieieng()) && ok;
    if (!ok) std::fprintf(stderr, "corvane_make_sounds: could not write the sounds into %s\n", argv[1]);
    return ok ? 0 : 1;
}
