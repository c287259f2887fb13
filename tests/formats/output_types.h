// Every output type this build writes, with settings its writer takes from the
// type table; a tone written through the sound-file API (optionally faded before
// the file is closed); and a file read back through input detection, with the
// level of its frames measured in short windows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "formats/detection.h"
#include "formats/mpeg/drop_mp3_file.h"
#include "formats/register_sound_files.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace outputtypes {

struct OutputType {
    OSType type = 0;
    short channels = 2;
    short wordSize = 16;  // bits; the bit rate in kbit/s for the MPEG and mp3 types
    float rate = 44100;
    // Every sample reads back as written.
    bool lossless = false;
};

// The number of the type table entry's key, or `otherwise`.
inline double TableNumber(const plist::Value& entry, const char* key, double otherwise) {
    const plist::Value* v = entry.find(key);
    return v ? v->asReal(otherwise) : otherwise;
}

// Types whose samples come back exactly: PCM of 16 bits or more, and 8-bit
// PCM for a tone that 8 bits hold.
inline bool Lossless(OSType type) {
    static const OSType kLossy[] = {
        FourCC("21-4"), FourCC("23-2"), FourCC("23-3"), FourCC("23-5"), FourCC("26-3"),
        FourCC("26-4"), FourCC("26-5"), FourCC("711a"), FourCC("711u"), FourCC("BWMP"),
        FourCC("DADP"), FourCC("DALW"), FourCC("DMP3"), FourCC("DULW"), FourCC("DVAP"),
        FourCC("G729"), FourCC("MPG1"), FourCC("MPG2"), FourCC("MSAP"), FourCC("Mpg4"),
        FourCC("NSAL"), FourCC("PADP"), FourCC("QTAL"), FourCC("QTIM"), FourCC("QTUL"),
        FourCC("WVal"), FourCC("WVau"), FourCC("ulaw"),
    };
    return std::find(std::begin(kLossy), std::end(kLossy), type) == std::end(kLossy);
}

// Every registered type the table marks writable, mp3 included when its encoder
// is installed, with the table's default rate and word size (bit rate), and one
// channel where the type forces it, else two.
inline std::vector<OutputType> WritableOutputTypes() {
    std::vector<OutputType> types;
    const plist::Dictionary& table = CSoundFile::GetFileTypeInfo();
    for (OSType code : RegisteredSoundFileTypes()) {
        auto entry = table.find(HFSTypeString(code));
        if (entry == table.end()) continue;
        const plist::Value& e = entry->second;
        const plist::Value* writable = e.find("canBeWritten");
        const bool mp3 = code == FourCC("DMP3") && !CDropMP3File::LAMEEncoderPath().empty();
        if (!mp3 && !(writable && writable->asBool())) continue;
        OutputType t;
        t.type = code;
        const plist::Value* forced = e.find("forceChannels");
        t.channels = forced && forced->asBool() ? 1 : 2;
        t.rate = static_cast<float>(TableNumber(e, "sampleRateDefault", 44100));
        if (const plist::Value* popup = e.find("numBitsPopup"); popup && popup->array()) {
            const auto index = static_cast<size_t>(TableNumber(e, "numBitsPopupDefault", 0));
            if (index < popup->array()->size())
                if (const plist::Value* tag = (*popup->array())[index].find("tag"))
                    t.wordSize = static_cast<short>(tag->asInteger());
        }
        t.lossless = Lossless(code);
        types.push_back(t);
    }
    return types;
}

// A tone of 400 Hz at half of full scale on every channel, as 16-bit values
// (8-bit values for an 8-bit type): `frames` interleaved frames.
inline std::vector<double> Tone(const OutputType& t, uint32_t frames) {
    const double step = t.wordSize == 8 ? 128.0 : 32768.0;
    std::vector<double> samples(size_t{frames} * t.channels);
    for (uint32_t i = 0; i < frames; ++i) {
        const double x = 0.5 * std::sin(2 * M_PI * 400.0 * i / t.rate);
        for (short c = 0; c < t.channels; ++c)
            samples[size_t{i} * t.channels + c] = std::round(x * step) / step;
    }
    return samples;
}

// Writes the samples into a new output of the type at `stem` (the type's
// extension is added), runs `beforeClose` on the open output and closes it.
// The path written, or empty after a failure (reported).
inline std::string WriteOutput(const OutputType& t, const std::string& stem,
                               const std::vector<double>& samples,
                               const std::function<OSErr(CSoundFile*)>& beforeClose = {}) {
    SoundFilePtr out(CSoundFile::CreateSoundFile(t.type));
    if (!out) {
        ADD_FAILURE() << "no object for " << FourCCText(t.type);
        return {};
    }
    unsigned char specifics[256] = {};
    OSErr err = out->ISoundFile(stem);
    if (err == 0) err = out->Create(t.channels, t.wordSize, t.rate, specifics, nullptr);
    out->SetDither(0);
    auto count = static_cast<uint32_t>(samples.size() / t.channels);
    std::vector<double> copy = samples;  // Write may clip in place
    if (err == 0) err = out->Write(0, &count, copy.data());
    if (err == 0 && beforeClose) err = beforeClose(out.get());
    const std::string path = out->GetPath();
    const OSErr closed = out.release()->Dispose(err == 0 ? 1 : 0);
    if (err == 0) err = closed;
    if (err) {
        ADD_FAILURE() << FourCCText(t.type) << " not written: " << err;
        return {};
    }
    return path;
}

// A file read back through detection: its type, whether detection recognised
// it, and its frames as doubles.
struct ReadBack {
    OSErr status = 0;
    OSType type = 0;
    bool recognized = false;
    short channels = 0;
    double rate = 0;
    std::vector<double> samples;
};

inline ReadBack ReadThroughDetection(const std::string& path) {
    ReadBack r;
    unsigned int type = 0;
    std::vector<std::string> members;
    std::string setName;
    CSoundFile::ChannelConfiguration config{};
    r.status = ResolveFileType(path, type, r.recognized, members, setName, config, false);
    r.type = type;
    if (r.status) return r;
    SoundFilePtr in(CSoundFile::CreateSoundFile(type));
    if (!in) {
        r.status = kCannotMakeFormatObjectErr;
        return r;
    }
    if ((r.status = in->ISoundFile(path)) != 0 || (r.status = in->Open()) != 0) return r;
    r.channels = in->GetNumChannels();
    r.rate = in->GetSampleRate();
    uint32_t frames = in->GetNumSFrames();
    r.samples.resize(size_t{frames} * std::max<short>(r.channels, 1));
    r.status = in->Read(0, &frames, r.samples.data());
    r.samples.resize(size_t{frames} * std::max<short>(r.channels, 1));
    return r;
}

// The root mean square of every channel of frames [from, to).
inline double Level(const std::vector<double>& samples, short channels, size_t from, size_t to) {
    to = std::min(to, samples.size() / std::max<short>(channels, 1));
    if (from >= to) return 0;
    double sum = 0;
    for (size_t i = from * channels; i < to * channels; ++i) sum += samples[i] * samples[i];
    return std::sqrt(sum / static_cast<double>((to - from) * channels));
}

}  // namespace outputtypes
