// What the format fuzz targets share: a scratch folder of their own, the input
// written there as a file, every frame of an accepted file read back, the
// bounds an accepted WAVE-family file must keep, and a copy written out and
// read back. Every broken promise aborts, which the fuzzer reports.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "formats/chunk_reader.h"
#include "soundfile/progress.h"
#include "soundfile/sound_file.h"

namespace fuzzsupport {

// A folder of the run's own under $TMPDIR (else /tmp), made on the first call;
// `tag` names the target in the folder's name.
inline const std::string& ScratchFolder(const char* tag) {
    static const std::string folder = [tag] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base && *base ? base : "/tmp") + "/corvane-fuzz-" + tag + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    return folder;
}

// The input as the file at `path`, replacing what was there.
inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    ::unlink(path.c_str());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// The bytes of every frame of an open file in the buffer form, block by block.
// What Open accepted is really in the file: a block that cannot be read aborts.
inline std::vector<uint8_t> ReadEveryFrame(CSoundFile& f) {
    std::vector<uint8_t> out;
    const uint64_t frameBytes = static_cast<uint64_t>(f.GetWordSize() / 8) * f.GetNumChannels();
    const uint32_t block = f.GetBufferFrames();
    for (uint32_t frame = 0; frame < f.GetNumSFrames(); frame += block) {
        if (f.RefreshInputBuffer(frame) != 0) std::abort();
        const uint64_t n = std::min<uint64_t>(block, f.GetNumSFrames() - frame) * frameBytes;
        out.insert(out.end(), f.GetInputBuffer(), f.GetInputBuffer() + n);
    }
    return out;
}

// An open file of the WAVE family describes itself within bounds: a channel
// count and word size it can have, and sample data and regions inside the file
// of `fileSize` bytes. `storedBytesPerSample` is the bytes of a sample in the
// file when they differ from the buffer's (the companded classes), else 0. Then
// every frame is read, in small blocks, as a file may declare many wide channels.
template <class File>
void CheckWithinBounds(File& f, size_t fileSize, uint32_t storedBytesPerSample) {
    const uint32_t channels = static_cast<uint32_t>(f.GetNumChannels());
    const short bits = f.GetWordSize();
    if (channels < 1 || channels > kMaxSoundFileChannels || bits < 8 || bits > 32) std::abort();
    const uint64_t frames = f.GetNumSFrames();
    const uint64_t frameBytes =
        static_cast<uint64_t>(storedBytesPerSample ? storedBytesPerSample : bits / 8) * channels;
    if (f.GetDataStart() > fileSize || frames * frameBytes > fileSize - f.GetDataStart())
        std::abort();
    for (uint16_t i = 0; i < f.GetNumRegions(); ++i) {
        SFTRegion r;
        if (f.GetIndRegion(i, &r) != 0 || r.start < 0 || static_cast<uint64_t>(r.end) > frames)
            std::abort();
    }
    f.SetSFTBufferSize(64);
    ReadEveryFrame(f);
}

// Writes `samples` (every frame of `in` in the buffer form) to a new file of
// the same class and shape in the scratch folder, reads it back and aborts
// unless the same frames come back. With `withExtras` the channel layout,
// markers, loops and regions are copied too.
template <class T>
void CopyAndCompare(T& in, const std::vector<uint8_t>& samples, const std::string& folder,
                    const char* extension, bool withExtras) {
    const std::string path = folder + "/copy";
    ::unlink((path + extension).c_str());
    const std::string pascalExtension =
        std::string(1, static_cast<char>(std::strlen(extension))) + extension;
    const uint32_t block = in.GetBufferFrames();
    T out;
    if (out.ISoundFile(path) != 0) std::abort();
    out.SetSFTBufferSize(block);
    if (withExtras) out.SetChannelConfiguration(in.GetChannelConfiguration());
    if (out.Create(in.GetNumChannels(), in.GetWordSize(), static_cast<float>(in.GetSampleRate()),
                   nullptr, reinterpret_cast<const unsigned char*>(pascalExtension.c_str())) != 0)
        std::abort();
    const uint64_t frameBytes = static_cast<uint64_t>(in.GetWordSize() / 8) * in.GetNumChannels();
    const uint32_t frames = in.GetNumSFrames();
    if (out.InitOutputBuffer() != 0) std::abort();
    for (uint32_t frame = 0; frame < frames; frame += block) {
        const uint32_t n = std::min(block, frames - frame);
        if (out.RefreshOutputBuffer(frame) != 0) std::abort();
        std::memcpy(out.GetOutputBuffer(), samples.data() + frame * frameBytes, n * frameBytes);
        if (out.FlushOutputBuffer(n, frame) != 0) std::abort();
    }
    if (withExtras) {
        for (uint16_t i = 0; i < in.GetNumMarkers(); ++i) {
            SFTMarker m;
            if (in.GetIndMarker(i, &m) == 0) out.AddMarker(&m);
        }
        for (uint16_t i = 0; i < in.GetNumLoops(); ++i) {
            SFTLoop l;
            if (in.GetIndLoop(i, &l) == 0) out.AddLoop(&l);
        }
        for (uint16_t i = 0; i < in.GetNumRegions(); ++i) {
            SFTRegion r;
            if (in.GetIndRegion(i, &r) == 0) out.AddRegion(&r);
        }
    }
    if (out.Close() != 0) std::abort();
    CorvaOutFile::Clear();
    T back;
    back.ISoundFile(out.GetPath());
    back.SetSFTBufferSize(block);
    if (back.Open() != 0) std::abort();
    if (back.GetNumSFrames() != frames || ReadEveryFrame(back) != samples) std::abort();
}

}  // namespace fuzzsupport
