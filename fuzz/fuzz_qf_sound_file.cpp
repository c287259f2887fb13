// Feeds arbitrary bytes to the input list's entry: detection, the format object's
// opening and the reading of its properties, then every display text. The input
// is laid out as for the detection target (first byte: the name and whether a
// partner lies beside it; second: Finder type, creator and the raw-file action;
// the rest: the file). An entry must come out the same twice, be playable only
// with its properties read from a closed object of at least two frames, and show
// a well-formed length.
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "conversion/qf_sound_file.h"
#include "formats/register_sound_files.h"
#include "foundation/resource_fork.h"
#include "fuzz_support.h"
#include "soundfile/raw_settings.h"
#include "soundfile/type_codes.h"

namespace {

struct Naming {
    const char* name;
    const char* partner;  // null: none
};

const Naming kNames[] = {
    {"in.wav", nullptr},        {"in.L.wav", "in.R.wav"}, {"in.l.aif", "in.r.aif"},
    {"in-L.paf", "in-r.paf"},   {"in.1.wav", "in.2.wav"}, {"in.1.aif", "in.2.aif"},
    {"in.Ls.wav", "in.Rs.wav"}, {"in.au", nullptr},       {"in.sd2", nullptr},
    {"in", nullptr},            {"in.voc", nullptr},      {"in.aifc", nullptr},
};

const uint32_t kFinderTypes[] = {0, FourCC("Sd2f"), FourCC("AIFF"), FourCC("WAVE")};
const uint32_t kCreators[] = {0, FourCC("SSYS"), FourCC("CARI")};

// "HH:MM:SS.mmm" with at least two digits of hours.
bool IsTimeText(const std::string& t) {
    if (t.size() < 12) return false;
    const size_t h = t.size() - 10;
    for (size_t i = 0; i < t.size(); ++i) {
        const bool colon = i == h || i == h + 3, dot = i == h + 6;
        if (colon ? t[i] != ':' : dot ? t[i] != '.' : !std::isdigit(static_cast<unsigned char>(t[i])))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    error_code_exception::log_exception = false;
    CSoundFile::SetRecognizeNumberedFilesAsSplitMultichannel(true);
    RegisterSoundFiles(CSoundFile::GetFileTypeInfo());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string& folder = fuzzsupport::ScratchFolder("qfsound");
    const Naming& naming = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
    const uint32_t finderType = kFinderTypes[data[1] % (sizeof kFinderTypes / sizeof kFinderTypes[0])];
    const uint32_t creator = kCreators[(data[1] / 4) % (sizeof kCreators / sizeof kCreators[0])];
    const std::string path = folder + "/" + naming.name;
    for (const Naming& n : kNames) {
        ::unlink((folder + "/" + n.name).c_str());
        ::unlink((folder + "/._" + n.name).c_str());
        if (n.partner) ::unlink((folder + "/" + n.partner).c_str());
    }
    if (!fuzzsupport::WriteInput(path, data + 2, size - 2)) return 0;
    if ((finderType || creator) && SetFinderInfo(path, finderType, creator) != 0) std::abort();
    if (naming.partner && (data[1] & 0x80) &&
        !fuzzsupport::WriteInput(folder + "/" + naming.partner, data + 2, size - 2))
        return 0;
    CSoundFile::SetRawSettings(RawSettings(FourCC("DPCM"), 8000, true, 16,
                                           (data[1] & 0x40) ? RawSettings::kRawReadAsRaw
                                                            : RawSettings::kRawSkip));

    const auto entry = QFSoundFile::soundFileWithPath(path);
    if (!(entry->copy()->archive() == entry->archive())) std::abort();
    if (entry->infoAvailable() != (entry->soundFile() != nullptr)) std::abort();
    if (entry->soundFile() && entry->soundFile()->IsOpen()) std::abort();
    if (entry->isPlayable() && (!entry->infoAvailable() || entry->numFrames() < 2)) std::abort();
    if (entry->infoAvailable() && (!IsTimeText(entry->lengthStr()) || !IsTimeText(entry->timestamps())))
        std::abort();
    short error = 1;
    SoundFilePtr made = entry->createSoundFile(&error);
    if (entry->infoAvailable() && (!made || error != 0)) std::abort();

    const std::string texts = entry->displaySampleRate() + entry->displaySize() +
                              entry->displayWordSize() + entry->displayBits() +
                              entry->displayRegions() + entry->displayMarkers() +
                              entry->displayLoops() + entry->displayHFSType() +
                              entry->displayHFSCreator() + entry->displayPermissions() +
                              entry->name() + entry->description();
    if (texts.empty()) std::abort();
    return 0;
}
