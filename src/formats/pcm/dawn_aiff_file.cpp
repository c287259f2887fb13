#include "formats/pcm/dawn_aiff_file.h"

#include <algorithm>
#include <cstring>

#include "formats/chunk_reader.h"
#include "soundfile/type_codes.h"

namespace {

using pcmio::SaturatedInt32;

}  // namespace

CDawnAIFFFile::~CDawnAIFFFile() {
    // Closed here, while this class's chunk walk is still the one called.
    if (IsOpen()) Close();
}

OSType CDawnAIFFFile::GetFType() { return FourCC("Dawn"); }

std::string CDawnAIFFFile::GetDescription() { return "Dawn AIFF"; }

ChunkLayout CDawnAIFFFile::FormLayout() const {
    ChunkLayout layout = CAIFFFile::FormLayout();
    layout.minSize = 1;
    layout.fixedChunkId = FourCC("MARK");
    // The ID, then 38 bytes from the size field on.
    layout.fixedChunkBytes = 4 + 38;
    return layout;
}

OSErr CDawnAIFFFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    OSErr err = OpenForm();
    if (err) return err;
    const KeptChunks::Scope listed(chunks_, forkRef_, FormLayout());
    if ((err = CAIFFFile::ReadCOMM()) != 0) return err;
    dataType_ = kDataTypePCM;
    if ((err = ReadLoops()) != 0) return err;
    if ((err = ReadSamplerInfo()) != 0) return err;
    ChunkHeader ssnd;
    if ((err = LocateChunk(FourCC("SSND"), &ssnd)) != 0)
        return err == kAIFFNotFoundErr ? OSErr(kAIFFNoSoundDataErr) : err;
    uint8_t raw[4];
    if ((err = ReadAt(ssnd.dataOffset(), raw, sizeof raw)) != 0) return err;
    const uint32_t timePosition = LoadBE32(raw);
    dataStart_ = static_cast<uint32_t>(ssnd.offset + 16);
    int length = 0;
    if ((err = XWQF::GetEOF(forkRef_, &length)) != 0) return err;
    if (static_cast<int32_t>(formEnd_) > length) formEnd_ = static_cast<uint32_t>(length);

    // The take is what the file holds after the data start, in whole frames;
    // COMM's count stays as the one the header states.
    declaredFrames_ = numFrames_;
    if (static_cast<uint64_t>(length) > dataStart_) {
        const uint64_t held = (static_cast<uint64_t>(length) - dataStart_) / BytesPerFrame();
        numFrames_ = static_cast<uint32_t>(std::min<uint64_t>(numFrames_, held));
        if ((err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(dataStart_))) != 0)
            return err;
    } else {
        numFrames_ = 0;
    }

    SFTRegion region{};
    region.id = 0;
    region.start = 0;
    region.end = static_cast<int32_t>(numFrames_);
    region.sync = 0;
    region.timeStamp = SaturatedInt32(sampleRate_ / 120.0 * timePosition);
    NameToField(EmbeddedName(), region.name);
    return AddRegion(&region);
}

OSErr CDawnAIFFFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                            const unsigned char* extension) {
    OSErr err = BeginCreate(channels, wordSize, sampleRate, specifics, extension);
    if (err) return err;
    uint8_t head[38] = {};
    StoreBE32(head, FourCC("FORM"));
    StoreBE32(head + 4, kProvisionalContainerSize);
    StoreBE32(head + 8, FourCC("AIFF"));
    StoreBE32(head + 12, FourCC("COMM"));
    StoreBE32(head + 16, 18);
    if ((err = WriteAt(0, head, sizeof head)) != 0) return err;
    return WriteSoundDataHeader();
}
