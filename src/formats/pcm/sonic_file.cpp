#include "formats/pcm/sonic_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/pcm_io.h"
#include "foundation/pstring.h"
#include "soundfile/type_codes.h"

std::atomic<uint16_t> gPackingModeOfLastOpenedSonicFile{kSonicBigEndian24};

namespace {

constexpr uint32_t kFORM = FourCC("FORM");
constexpr uint32_t kAIFF = FourCC("AIFF");
constexpr uint32_t kCOMM = FourCC("COMM");
constexpr uint32_t kAESD = FourCC("AESD");
constexpr uint32_t kAPPL = FourCC("APPL");
constexpr uint32_t kSSND = FourCC("SSND");
constexpr uint32_t kMARK = FourCC("MARK");
constexpr uint32_t kINST = FourCC("INST");
constexpr uint32_t kMCSF = FourCC("MCSF");
constexpr uint32_t kOFFS = FourCC("OFFS");
constexpr uint32_t kAFPR = FourCC("AFPR");
constexpr uint32_t kSSYS = FourCC("SSYS");

constexpr uint32_t kBlockBytes = CSonicAIFFFile::kBlockBytes;
constexpr uint32_t kPackedPartBytes = CSonicAIFFFile::kPackedPartBytes;
constexpr uint32_t kPackedGapBytes = kBlockBytes - kPackedPartBytes;
constexpr uint32_t kMCSFBytes = CSonicAIFFFile::kMCSFBytes;
constexpr uint32_t kAFPRBytes = CSonicAIFFFile::kAFPRBytes;

// "COMM", its size 18, channels, frames, word size and the 80-bit rate.
constexpr uint32_t kCOMMBytes = 26;
// "AESD", its size 24 and 24 zero bytes.
constexpr uint32_t kAESDBytes = 32;
// "APPL", its size and the signature.
constexpr uint32_t kAPPLHeaderBytes = 12;
// The OFFS record takes 28 bytes (length 20), in modes 10 and 11 32 (length 24).
constexpr uint32_t kShortOFFSBytes = 28;
constexpr uint32_t kLongOFFSBytes = 32;
constexpr uint32_t kMaxSonicChunksBytes =
    kAESDBytes + kAPPLHeaderBytes + kMCSFBytes + kLongOFFSBytes + kAFPRBytes;
// Field offsets of the MCSF record.
constexpr size_t kMCSFIndex = 8, kMCSFFlags = 12, kMCSFLinked = 76, kMCSFMember = 80,
                 kMCSFName = 1108, kMCSFTime = 1120, kMCSFSecond = 1124;
// Mode 2 groups pass through a piece of this many samples on the stack.
constexpr size_t kPieceSamples = 2048;
// What a frame count or time stamp can hold.
constexpr double kTwoTo32 = 4294967296.0;

bool Is24BitMode(uint16_t mode) {
    return mode == kSonicUnpacked24 || mode == kSonicPacked24 || mode == kSonicLittleEndian24 ||
           mode == kSonicBigEndian24;
}

bool IsSupportedMode(uint16_t mode) {
    return mode == kSonic16Bit || Is24BitMode(mode);
}

bool HasLongOFFS(uint16_t mode) {
    return mode == kSonicLittleEndian24 || mode == kSonicBigEndian24;
}

// The bytes of [0, x) of a mode-3 file that lie outside the gaps.
uint64_t PackedBytesBefore(uint64_t x) {
    return x / kBlockBytes * kPackedPartBytes +
           std::min<uint64_t>(x % kBlockBytes, kPackedPartBytes);
}

// The mode of a new file; 0 when none fits.
uint16_t ModeForOutput(short wordSize, uint8_t code) {
    if (wordSize == 16) return kSonic16Bit;
    if (wordSize != 24) return 0;
    if (code == 0) {
        const uint16_t last = gPackingModeOfLastOpenedSonicFile.load();
        return Is24BitMode(last) ? last : static_cast<uint16_t>(kSonicBigEndian24);
    }
    return Is24BitMode(code) ? code : 0;
}

// The frame count of an OFFS time in seconds. A time written as stamp / rate
// may multiply back to a hair below the stamp, so a product within rounding of
// a whole number is that number; others are truncated, and what no stamp can
// hold gives 0.
uint32_t StampFromSeconds(double seconds, double rate) {
    double v = seconds * rate;
    if (!(v >= 0) || !(v < kTwoTo32)) return 0;
    const double nearest = std::round(v);
    if (nearest < kTwoTo32 && std::fabs(v - nearest) <= std::max(1.0, nearest) * 1e-12) v = nearest;
    return static_cast<uint32_t>(v);
}

uint64_t DoubleBits(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

double DoubleFromBits(uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Reads exactly `count` bytes at a position; a short file gives kEOFErr.
OSErr ReadExactly(int fork, uint64_t position, void* data, size_t count) {
    ForkSource source(fork);
    if (source.status()) return source.status();
    return source.ReadAt(position, data, count);
}

}  // namespace

// ---------------------------------------------------------------------------
// Life

CSonicAIFFFile::CSonicAIFFFile() = default;

CSonicAIFFFile::~CSonicAIFFFile() {
    if (IsOpen()) Close();
}

OSType CSonicAIFFFile::GetFType() {
    return FourCC("SAIF");
}

std::string CSonicAIFFFile::GetDescription() {
    switch (packingMode_) {
        case kSonic16Bit: return "Sonic 16 Bit Signed AIFF";
        case kSonicUnpacked24: return "Sonic Unpacked (SSP/USP) AIFF";
        case kSonicPacked24: return "Sonic Packed (USP) AIFF";
        case kSonicLittleEndian24: return "Sonic (HDSP 1.4 Little endian) AIFF";
        case kSonicBigEndian24: return "Sonic (HDSP 1.5 Big endian) AIFF";
        default: return "Sonic AIFF of unsupported type";
    }
}

// ---------------------------------------------------------------------------
// Chunks

OSErr CSonicAIFFFile::LocateChunk(uint32_t id, ChunkHeader* found) {
    if (forkRef_ < 0) return kFileNotOpenErr;
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    ChunkLayout layout;
    // The first chunk is looked at whatever the FORM size says.
    layout.limit = std::max<uint64_t>(formEnd_, layout.first + 1);
    layout.minSize = 1;
    OSErr error = 0;
    return FormChunkStatus(SearchChunk(source, layout, id, 1, found, &error), error);
}

OSErr CSonicAIFFFile::ReadFormHeader() {
    uint8_t raw[8];
    const OSErr err = ReadExactly(forkRef_, 0, raw, sizeof raw);
    if (err == kEOFErr || (err == 0 && LoadBE32(raw) != kFORM)) return kAIFFNoFormErr;
    if (err) return err;
    formEnd_ =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{LoadBE32(raw + 4)} + 8, UINT32_MAX));
    return 0;
}

OSErr CSonicAIFFFile::ReadCOMM() {
    ChunkHeader comm;
    if (LocateChunk(kCOMM, &comm) != 0) return kAIFFBadCommonErr;
    uint8_t raw[kCOMMBytes];
    if (ReadExactly(forkRef_, comm.offset, raw, sizeof raw) != 0) return kAIFFBadCommonErr;
    channels_ =
        static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(LoadBE16(raw + 8))));
    numFrames_ = LoadBE32(raw + 10);
    wordSize_ = static_cast<short>(LoadBE16(raw + 14));
    Float80 rate;
    std::memcpy(rate.bytes, raw + 16, sizeof rate.bytes);
    sampleRate_ = Ext80ToDbl(rate);
    return 0;
}

OSErr CSonicAIFFFile::WriteCOMM() {
    uint8_t raw[kCOMMBytes];
    StoreBE32(raw, kCOMM);
    StoreBE32(raw + 4, 18);
    StoreBE16(raw + 8, static_cast<uint16_t>(channels_));
    StoreBE32(raw + 10, GetNumSFrames());
    StoreBE16(raw + 14, static_cast<uint16_t>(wordSize_));
    const Float80 rate = DblToExt80(GetSampleRate());
    std::memcpy(raw + 16, rate.bytes, sizeof rate.bytes);
    return pcmio::WriteAt(forkRef_, 12, raw, sizeof raw);
}

OSErr CSonicAIFFFile::CheckDescription() const {
    // No channels, or more than a sound file takes.
    const int32_t channels = static_cast<int32_t>(channels_);
    if (channels < 1 || channels > static_cast<int32_t>(kMaxSoundFileChannels))
        return kIncompatibleChannelsErr;
    // The buffers hold 2 bytes a sample in mode 1 and 3 in the others.
    const short bits = packingMode_ == kSonic16Bit ? 16 : 24;
    if (!IsSupportedMode(packingMode_) || wordSize_ != bits) return kSonicUnsupportedDataErr;
    return 0;
}

OSErr CSonicAIFFFile::ReadSonicChunks() {
    OSErr err = [&]() -> OSErr {
        ChunkHeader appl;
        if (OSErr e = LocateChunk(kAPPL, &appl)) return e;
        // The records follow the size and the signature.
        uint64_t at = appl.dataOffset() + 4;
        uint8_t mcsf[kMCSFBytes];
        if (OSErr e = ReadExactly(forkRef_, at, mcsf, sizeof mcsf)) return e;
        std::memcpy(mcsf_, mcsf, sizeof mcsf_);
        at += kMCSFBytes;

        // The record after MCSF is OFFS when its length is one of the two forms;
        // otherwise it is already AFPR.
        double seconds = 0;
        uint8_t offs[kLongOFFSBytes];
        OSErr e = ReadExactly(forkRef_, at, offs, 8);
        if (e == 0) {
            const uint32_t length = LoadBE32(offs + 4);
            const uint32_t bytes = length == 20   ? kShortOFFSBytes
                                   : length == 24 ? kLongOFFSBytes
                                                  : 0;
            if (bytes) {
                e = ReadExactly(forkRef_, at, offs, bytes);
                if (e == 0)
                    seconds = DoubleFromBits(LoadBE64(offs + (bytes == kShortOFFSBytes ? 18 : 20)));
                at += bytes;
            }
        }
        SetTimeStamp(StampFromSeconds(seconds, sampleRate_));
        if (e) return e;

        uint8_t afpr[kAFPRBytes];
        if (OSErr f = ReadExactly(forkRef_, at, afpr, sizeof afpr)) return f;
        packingMode_ = LoadBE16(afpr + 8);
        gPackingModeOfLastOpenedSonicFile.store(packingMode_);
        return 0;
    }();
    if (wordSize_ == 32 && packingMode_ == kSonicUnpacked24) wordSize_ = 24;
    return err;
}

void CSonicAIFFFile::FillOwnMCSF() {
    std::memset(mcsf_, 0, sizeof mcsf_);
    StoreBE32(mcsf_, kMCSF);
    StoreBE32(mcsf_ + 4, kMCSFBytes - 8);
    mcsf_[kMCSFFlags] = 1;
    StoreBE32(mcsf_ + kMCSFLinked, 0xFFFFFFFF);
    // The name's length byte as it stands and its first 11 characters.
    Str255 name = {0};
    pascalStringFromString(EmbeddedName(), name);
    std::memcpy(mcsf_ + kMCSFName, name, 12);
    unsigned int now = 0;
    XWQF::GetDateTime(&now);
    StoreBE32(mcsf_ + kMCSFTime, now);
}

void CSonicAIFFFile::SetSonicAIFFExtras(unsigned char* first, unsigned char* second, short index) {
    std::memset(mcsf_, 0, sizeof mcsf_);
    StoreBE32(mcsf_, kMCSF);
    StoreBE32(mcsf_ + 4, kMCSFBytes - 8);
    const uint32_t member = static_cast<uint32_t>(static_cast<int32_t>(index));
    StoreBE32(mcsf_ + kMCSFIndex, member);
    mcsf_[kMCSFFlags] = 1;
    mcsf_[kMCSFFlags + 1] = 1;
    StoreBE32(mcsf_ + kMCSFLinked, index != 1 ? 1 : 0);
    StoreBE32(mcsf_ + kMCSFMember, member);
    // The first record's name bytes and time, then the whole second record.
    if (first) std::memcpy(mcsf_ + kMCSFName, first, 16);
    if (second) std::memcpy(mcsf_ + kMCSFSecond, second, 16);
    makeMCSF_ = false;
}

OSErr CSonicAIFFFile::WriteSonicChunks() {
    uint8_t out[kMaxSonicChunksBytes] = {};
    uint8_t* p = out;
    StoreBE32(p, kAESD);
    StoreBE32(p + 4, kAESDBytes - 8);
    p += kAESDBytes;

    const bool longOFFS = HasLongOFFS(packingMode_);
    const uint32_t offsBytes = longOFFS ? kLongOFFSBytes : kShortOFFSBytes;
    StoreBE32(p, kAPPL);
    StoreBE32(p + 4, 4 + kMCSFBytes + offsBytes + kAFPRBytes);
    StoreBE32(p + 8, kSSYS);
    p += kAPPLHeaderBytes;

    if (makeMCSF_) FillOwnMCSF();
    std::memcpy(p, mcsf_, kMCSFBytes);
    p += kMCSFBytes;

    const double rate = GetSampleRate();
    const double seconds =
        IsTimeStampValid() && rate > 0 && std::isfinite(rate) ? GetTimeStamp() / rate : 0.0;
    StoreBE32(p, kOFFS);
    StoreBE32(p + 4, offsBytes - 8);
    StoreBE64(p + 8, DoubleBits(seconds));
    StoreBE64(p + (longOFFS ? 20 : 18), DoubleBits(seconds));
    p += offsBytes;

    StoreBE32(p, kAFPR);
    StoreBE32(p + 4, kAFPRBytes - 8);
    StoreBE16(p + 8, packingMode_);
    StoreBE32(p + 10, 1);
    p += kAFPRBytes;

    int n = static_cast<int>(p - out);
    return XWQF::Write(forkRef_, &n, out);
}

// ---------------------------------------------------------------------------
// Markers, loops and sampler data

OSErr CSonicAIFFFile::ReadMarkers() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    ChunkHeader header;
    OSErr err = LocateChunk(kMARK, &header);
    if (err == kAIFFNotFoundErr) return 0;
    if (err) return err;
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    // Only what the file holds is read, however large the size says the chunk is.
    std::vector<uint8_t> bytes;
    if ((err = ReadChunkData(source, header, kMaxMarkChunkBytes, &bytes)) != 0) return err;

    ByteView view(bytes.data(), bytes.size());
    uint16_t count = 0;
    if (!view.ReadU16BE(&count)) return 0;
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t id = 0;
        uint32_t where = 0;
        uint8_t length = 0;
        if (!view.ReadU16BE(&id) || !view.ReadU32BE(&where) || !view.ReadU8(&length)) break;
        const uint8_t* name = view.current();
        if (!view.Skip(length)) break;
        if (((length + 1) & 1) != 0) view.Skip(1);

        SFTMarker marker{};
        marker.id = static_cast<int16_t>(id);
        marker.position = where;
        NameMarker(&marker, name, length, length >= 1 && name[0] == '#');
        if ((err = AddMarker(&marker)) != 0) return err;
    }
    return 0;
}

OSErr CSonicAIFFFile::ReadInstrument(uint8_t (&chunk)[28]) {
    ChunkHeader inst;
    if (OSErr err = LocateChunk(kINST, &inst)) return err;
    return ReadExactly(forkRef_, inst.offset, chunk, sizeof chunk);
}

OSErr CSonicAIFFFile::TakeLoopMarker(int16_t id, uint32_t* position) {
    SFTMarker marker;
    if (OSErr err = GetMarkerByID(id, &marker)) return err;
    *position = marker.position;
    return RemoveMarker(&marker);
}

OSErr CSonicAIFFFile::ReadLoops() {
    uint8_t chunk[28];
    OSErr err = ReadInstrument(chunk);
    if (err == kAIFFNotFoundErr) return 0;
    if (err) return err;
    OSErr result = 0;
    // The sustain loop, then the release loop: play mode, begin and end marker IDs.
    for (int i = 0; i < 2; ++i) {
        const uint8_t* fields = chunk + 16 + 6 * i;
        const int16_t mode = static_cast<int16_t>(LoadBE16(fields));
        if (mode == 0) continue;
        SFTLoop loop{};
        loop.id = i + 1;
        loop.type = mode;
        // Each marker found is taken out of the list, also when the other is missing.
        bool found = true;
        for (const auto& [offset, end] : {std::pair{2, &loop.start}, std::pair{4, &loop.end}}) {
            err = TakeLoopMarker(static_cast<int16_t>(LoadBE16(fields + offset)), end);
            if (err == kNoSuchMarkerErr) {
                found = false;
                result = kSonicMissingLoopMarkerErr;
            } else if (err) {
                return err;
            }
        }
        if (found && (err = AddLoop(&loop)) != 0) return err;
    }
    return result;
}

OSErr CSonicAIFFFile::ReadSamplerInfo() {
    uint8_t chunk[28];
    OSErr err = ReadInstrument(chunk);
    if (err == kAIFFNotFoundErr) return 0;
    if (err) return err;
    SFTSamplerInfo info{};
    info.baseNote = static_cast<int8_t>(chunk[8]);
    info.detune = static_cast<int8_t>(chunk[9]);
    info.lowNote = static_cast<int8_t>(chunk[10]);
    info.highNote = static_cast<int8_t>(chunk[11]);
    info.lowVelocity = static_cast<int8_t>(chunk[12]);
    info.highVelocity = static_cast<int8_t>(chunk[13]);
    info.gain = static_cast<int16_t>(LoadBE16(chunk + 14));
    info.valid = 1;
    return SetSamplerInfo(&info);
}

// ---------------------------------------------------------------------------
// Opening

OSErr CSonicAIFFFile::ReadDataStart() {
    ChunkHeader ssnd;
    OSErr err = LocateChunk(kSSND, &ssnd);
    if (err) return err == kAIFFNotFoundErr ? OSErr(kAIFFNoSoundDataErr) : err;
    uint8_t raw[4];
    err = ReadExactly(forkRef_, ssnd.dataOffset(), raw, sizeof raw);
    if (err) return err == kEOFErr ? OSErr(kAIFFNoSoundDataErr) : err;
    // The ID's position + 16 + the offset field.
    uint64_t start = ssnd.offset + 16 + LoadBE32(raw);
    if (packingMode_ == kSonicUnpacked24) start = (start + 3) & ~uint64_t{3};
    if (packingMode_ == kSonicPacked24) {
        while (start % kBlockBytes % 3) ++start;
        // A start inside a gap is the next block's first sample.
        if (start % kBlockBytes >= kPackedPartBytes) start += kBlockBytes - start % kBlockBytes;
    }
    int length = 0;
    if ((err = XWQF::GetEOF(forkRef_, &length)) != 0) return err;
    if (start > static_cast<uint64_t>(length)) return kAIFFNoSoundDataErr;
    dataStart_ = static_cast<uint32_t>(start);
    return 0;
}

OSErr CSonicAIFFFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) return err;
    open_ = true;
    OSErr err = ReadFormHeader();
    if (err == 0) err = ReadCOMM();
    if (err) return err;
    ReadSonicChunks();  // without them the object's mode stands, which the check refuses
    if ((err = CheckDescription()) != 0) return err;
    dataType_ = kDataTypePCM;
    if ((err = ReadMarkers()) != 0) return err;
    if ((err = ReadLoops()) != 0) return err;
    if ((err = ReadSamplerInfo()) != 0) return err;
    if ((err = ReadDataStart()) != 0) return err;
    int length = 0;
    if ((err = XWQF::GetEOF(forkRef_, &length)) != 0) return err;
    // Only the frames the file holds are taken; COMM's count stays as the
    // one the header states.
    const uint32_t held = FramesIn(static_cast<uint64_t>(length));
    declaredFrames_ = numFrames_ > held ? numFrames_ : 0;
    numFrames_ = std::min(numFrames_, held);
    if (GetNumRegions() == 0) return AddWholeFileRegion();
    return 0;
}

OSErr CSonicAIFFFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    // An open object holds its description already; a file being written has
    // no COMM fields yet, which would take it away.
    if (IsOpen()) return 0;
    FSRef ref{path_};
    OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_);
    if (err == 0) {
        err = ReadFormHeader();
        if (err == 0) {
            ReadCOMM();
            err = ReadSonicChunks();
            // Without its APPL chunk the file has no packing mode to be read in,
            // which opening refuses too.
            if (err == kAIFFNotFoundErr) err = kSonicUnsupportedDataErr;
            if (err == 0) err = CheckDescription();
        }
        const OSErr closeErr = XWQF::CloseFork(forkRef_);
        if (err == 0) err = closeErr;
    }
    forkRef_ = XWQF::kNoFork;
    return err;
}

// ---------------------------------------------------------------------------
// Creating and closing

OSErr CSonicAIFFFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                             const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels) return kParamErr;
    const uint8_t code = specifics ? *static_cast<const uint8_t*>(specifics) : 0;
    const uint16_t mode = ModeForOutput(wordSize, code);
    if (mode == 0) return kSonicUnsupportedWordSizeErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (OSErr err = CreateDataFork(channels, wordSize, sampleRate)) return err;
    packingMode_ = mode;
    dataType_ = kDataTypePCM;
    formEnd_ = kProvisionalContainerSize;

    // COMM's fields are written by Close.
    uint8_t head[12 + kCOMMBytes] = {};
    StoreBE32(head, kFORM);
    StoreBE32(head + 4, kProvisionalContainerSize);
    StoreBE32(head + 8, kAIFF);
    StoreBE32(head + 12, kCOMM);
    if (OSErr err = pcmio::WriteAt(forkRef_, 0, head, sizeof head)) return err;
    if (OSErr err = WriteSonicChunks()) return err;
    int position = 0;
    if (OSErr err = XWQF::GetPos(forkRef_, &position)) return err;
    // The offset places the data start on the first block boundary.
    uint8_t ssnd[16];
    StoreBE32(ssnd, kSSND);
    StoreBE32(ssnd + 4, 0);
    StoreBE32(ssnd + 8, kBlockBytes - 16 - static_cast<uint32_t>(position));
    StoreBE32(ssnd + 12, kBlockBytes);
    int n = sizeof ssnd;
    if (OSErr err = XWQF::Write(forkRef_, &n, ssnd)) return err;
    if (OSErr err = XWQF::SetEOF(forkRef_, static_cast<int>(kBlockBytes))) return err;
    dataStart_ = kBlockBytes;
    return 0;
}

OSErr CSonicAIFFFile::FinishHeader() {
    // An odd number of 1- or 3-byte samples is evened with a frame of silence
    // that the frame count leaves out.
    const uint32_t frames = numFrames_;
    const uint32_t bytes = SampleBytes();
    if ((frames & 1) && (channels_ & 1) && (bytes == 1 || bytes == 3)) {
        std::vector<double> silence(channels_, 0.0);
        uint32_t one = 1;
        const OSErr err = Write(frames, &one, silence.data());
        numFrames_ = frames;
        if (err) return err;
    }
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    // The file ends on the next block boundary above its data.
    const uint64_t padded = (static_cast<uint64_t>(length) / kBlockBytes + 1) * kBlockBytes;
    if (padded > static_cast<uint64_t>(XWQF::kMaxFileSize)) return kFileBoundsErr;
    if (OSErr err = XWQF::SetEOF(forkRef_, static_cast<int>(padded))) return err;
    if (OSErr err = WriteCOMM()) return err;
    if (OSErr err = WriteSonicChunks()) return err;

    ChunkHeader ssnd;
    OSErr err = LocateChunk(kSSND, &ssnd);
    if (err) return err == kAIFFNotFoundErr ? OSErr(kAIFFNoSoundDataErr) : err;
    uint8_t raw[4];
    StoreBE32(raw, static_cast<uint32_t>(padded - ssnd.dataOffset()));
    if ((err = pcmio::WriteAt(forkRef_, static_cast<uint32_t>(ssnd.offset + 4), raw, sizeof raw)) != 0)
        return err;

    err = ReadExactly(forkRef_, 0, raw, sizeof raw);
    if (err == kEOFErr || (err == 0 && LoadBE32(raw) != kFORM)) return kAIFFNoFormErr;
    if (err) return err;
    StoreBE32(raw, static_cast<uint32_t>(padded - 8));
    return pcmio::WriteAt(forkRef_, 4, raw, sizeof raw);
}

OSErr CSonicAIFFFile::Close() {
    if (!IsOpen()) return kFileNotOpenErr;
    if (headerDirty_) {
        const OSErr err = FinishHeader();
        if (err) {
            if (XWQF::CloseFork(forkRef_) == 0) {
                forkRef_ = XWQF::kNoFork;
                open_ = false;
            }
            return err;
        }
        headerDirty_ = 0;
    }
    const OSErr err = XWQF::CloseFork(forkRef_);
    if (err == 0) {
        forkRef_ = XWQF::kNoFork;
        open_ = false;
    }
    return err;
}

// ---------------------------------------------------------------------------
// Positions

uint32_t CSonicAIFFFile::StoredSampleBytes() const {
    return packingMode_ == kSonicUnpacked24 ? 4 : SampleBytes();
}

OSErr CSonicAIFFFile::FramePosition(uint32_t frame, uint64_t* position) const {
    uint64_t offset = uint64_t{frame} * channels_ * StoredSampleBytes();
    if (packingMode_ == kSonicPacked24) {
        // Each block's gap lies between its samples and the next block's.
        const uint64_t r = dataStart_ % kBlockBytes;
        offset += kPackedGapBytes * ((r + offset) / kPackedPartBytes);
    }
    *position = dataStart_ + offset;
    return *position > static_cast<uint64_t>(XWQF::kMaxFileSize) ? kFileBoundsErr : 0;
}

uint32_t CSonicAIFFFile::FramesIn(uint64_t length) const {
    const uint64_t frameBytes = uint64_t{StoredSampleBytes()} * channels_;
    if (frameBytes == 0 || length <= dataStart_) return 0;
    const uint64_t bytes = packingMode_ == kSonicPacked24
                               ? PackedBytesBefore(length) - PackedBytesBefore(dataStart_)
                               : length - dataStart_;
    return static_cast<uint32_t>(std::min<uint64_t>(bytes / frameBytes, UINT32_MAX));
}

OSErr CSonicAIFFFile::SetFilePos(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenErr;
    uint64_t position = 0;
    if (OSErr err = FramePosition(frame, &position)) return err;
    OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
    if (err == kEOFErr) {
        err = SetEndOfFile(frame);
        if (err == 0) err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
    }
    return err;
}

OSErr CSonicAIFFFile::SetEndOfFile(uint32_t frames) {
    if (!IsOpen()) return kFileNotOpenErr;
    uint64_t position = 0;
    if (OSErr err = FramePosition(frames, &position)) return err;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    if (position > static_cast<uint64_t>(length)) {
        if (OSErr err = XWQF::SetEOF(forkRef_, static_cast<int>(position))) return err;
    }
    numFrames_ = frames;
    return 0;
}

OSErr CSonicAIFFFile::UpdateSize() {
    if (!IsOpen()) return kFileNotOpenErr;
    int length = 0;
    if (OSErr err = XWQF::GetEOF(forkRef_, &length)) return err;
    numFrames_ = FramesIn(static_cast<uint64_t>(length));
    return 0;
}

// ---------------------------------------------------------------------------
// Sample data

OSErr CSonicAIFFFile::ReadPacked(unsigned char* buffer, uint64_t bytes, uint64_t position,
                                 uint64_t* got) {
    *got = 0;
    while (*got < bytes) {
        const uint64_t inBlock = position % kBlockBytes;
        if (inBlock >= kPackedPartBytes) {
            position += kBlockBytes - inBlock;
            if (position > static_cast<uint64_t>(XWQF::kMaxFileSize)) return kEOFErr;
            if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position)))
                return err;
            continue;
        }
        int n = static_cast<int>(std::min<uint64_t>(bytes - *got, kPackedPartBytes - inBlock));
        const OSErr err = XWQF::Read(forkRef_, &n, buffer + *got);
        *got += static_cast<uint64_t>(n);
        position += static_cast<uint64_t>(n);
        if (err) return err;
    }
    return 0;
}

OSErr CSonicAIFFFile::WritePacked(const unsigned char* data, uint64_t bytes, uint64_t position) {
    static const uint8_t kGap[kPackedGapBytes] = {};
    uint64_t done = 0;
    while (done < bytes) {
        const uint64_t inBlock = position % kBlockBytes;
        const bool gap = inBlock >= kPackedPartBytes;
        int n =
            static_cast<int>(gap ? kBlockBytes - inBlock
                                 : std::min<uint64_t>(bytes - done, kPackedPartBytes - inBlock));
        if (OSErr err = XWQF::Write(forkRef_, &n, gap ? kGap : data + done)) return err;
        position += static_cast<uint64_t>(n);
        if (!gap) done += static_cast<uint64_t>(n);
    }
    return 0;
}

// A mode-2 group holds bits 15-8, 23-16, nothing, 7-0 of its sample; the
// buffer form holds bits 7-0, 15-8, 23-16.
OSErr CSonicAIFFFile::ReadUnpacked(unsigned char* buffer, uint64_t samples, uint64_t* got) {
    uint8_t piece[kPieceSamples * 4];
    *got = 0;
    while (*got < samples) {
        const uint64_t wanted = std::min<uint64_t>(samples - *got, kPieceSamples);
        int n = static_cast<int>(wanted * 4);
        const OSErr err = XWQF::Read(forkRef_, &n, piece);
        const uint64_t groups = static_cast<uint64_t>(n) / 4;
        unsigned char* out = buffer + *got * 3;
        for (uint64_t g = 0; g < groups; ++g) {
            out[3 * g] = piece[4 * g + 3];
            out[3 * g + 1] = piece[4 * g];
            out[3 * g + 2] = piece[4 * g + 1];
        }
        *got += groups;
        if (err) return err;
    }
    return 0;
}

OSErr CSonicAIFFFile::WriteUnpacked(const unsigned char* data, uint64_t samples) {
    uint8_t piece[kPieceSamples * 4];
    for (uint64_t done = 0; done < samples;) {
        const uint64_t k = std::min<uint64_t>(samples - done, kPieceSamples);
        const unsigned char* in = data + done * 3;
        for (uint64_t g = 0; g < k; ++g) {
            piece[4 * g] = in[3 * g + 1];
            piece[4 * g + 1] = in[3 * g + 2];
            piece[4 * g + 2] = 0;
            piece[4 * g + 3] = in[3 * g];
        }
        int n = static_cast<int>(k * 4);
        if (OSErr err = XWQF::Write(forkRef_, &n, piece)) return err;
        done += k;
    }
    return 0;
}

OSErr CSonicAIFFFile::ReadFrames(uint32_t frame, uint64_t frames, unsigned char* buffer,
                                 uint64_t bufferBytes) {
    const uint32_t bytes = SampleBytes();
    const uint64_t samples = bytes && IsSupportedMode(packingMode_)
                                 ? std::min(frames * channels_, bufferBytes / bytes)
                                 : 0;
    uint64_t filled = 0;
    OSErr err = samples ? SetFilePos(frame) : OSErr(0);
    if (samples && err == 0) {
        uint64_t got = 0;
        switch (packingMode_) {
            case kSonicUnpacked24:
                err = ReadUnpacked(buffer, samples, &got);
                filled = got * bytes;
                break;
            case kSonicPacked24: {
                uint64_t position = 0;
                FramePosition(frame, &position);  // SetFilePos has placed the fork there
                err = ReadPacked(buffer, samples * bytes, position, &got);
                filled = got - got % bytes;
                break;
            }
            default: {
                int n = static_cast<int>(samples * bytes);
                err = XWQF::Read(forkRef_, &n, buffer);
                filled = static_cast<uint64_t>(n) - static_cast<uint64_t>(n) % bytes;
                // Mode 10 is stored as the buffers hold it.
                if (packingMode_ != kSonicLittleEndian24)
                    pcmio::SwapBigEndianSamples(buffer, filled / bytes, bytes);
                break;
            }
        }
    }
    if (err == kEOFErr) err = 0;
    std::memset(buffer + filled, 0, static_cast<size_t>(bufferBytes - filled));
    return err;
}

OSErr CSonicAIFFFile::RefreshInputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenErr;
    if (OSErr err = InitInputBuffer()) return err;
    if (!inputBuffer_) return kMemBlockMissingErr;
    const uint64_t bufferBytes = GetRealBufferSize();
    const OSErr err =
        ReadFrames(frame, pcmio::BlockExtent(frame, numFrames_, bufferFrames_, 1, UINT32_MAX),
                   inputBuffer_, bufferBytes);
    firstBufferedFrame_ = frame;
    return err;
}

OSErr CSonicAIFFFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return kFileNotOpenErr;
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    // The whole block is read back: what lies past the frame count is silence
    // or samples written by an earlier block.
    const OSErr err = ReadFrames(frame, bufferFrames_, outputBuffer_, GetRealBufferSize());
    firstBufferedFrame_ = frame;
    return err;
}

OSErr CSonicAIFFFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!IsOpen()) return kFileNotOpenErr;
    if (!OutputBufferHolds(frames)) return kParamErr;
    if (!IsSupportedMode(packingMode_)) return 0;
    if (OSErr err = SetFilePos(position)) return err;
    const uint32_t bytes = SampleBytes();
    const uint64_t samples = uint64_t{frames} * channels_;
    OSErr err = 0;
    switch (packingMode_) {
        case kSonicUnpacked24:
            err = WriteUnpacked(outputBuffer_, samples);
            break;
        case kSonicPacked24: {
            uint64_t at = 0;
            FramePosition(position, &at);  // SetFilePos has placed the fork there
            err = WritePacked(outputBuffer_, samples * bytes, at);
            break;
        }
        default: {
            if (packingMode_ != kSonicLittleEndian24)
                pcmio::SwapBigEndianSamples(outputBuffer_, samples, bytes);
            int n = static_cast<int>(samples * bytes);
            err = XWQF::Write(forkRef_, &n, outputBuffer_);
            break;
        }
    }
    if (err) return err;
    const uint64_t end = uint64_t{position} + frames;
    if (end > numFrames_) numFrames_ = static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX));
    return 0;
}
