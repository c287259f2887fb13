#include "formats/pcm/aiff_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "foundation/log.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kFORM = FourCC("FORM");
constexpr uint32_t kCOMM = FourCC("COMM");
constexpr uint32_t kSSND = FourCC("SSND");
constexpr uint32_t kMARK = FourCC("MARK");
constexpr uint32_t kINST = FourCC("INST");
constexpr uint32_t kCHAN = FourCC("CHAN");
constexpr uint32_t kREGN = FourCC("regn");
constexpr uint32_t kAPPL = FourCC("APPL");
constexpr uint32_t kSSYS = FourCC("SSYS");

constexpr uint32_t kRegionRecordBytes = 88;

bool IsNotFound(OSErr err) {
    return err == kAIFFNotFoundErr || err == kAIFFChunkLimitErr || err == kAIFFBadChunkSizeErr;
}

// Writes a Pascal string of at most `limit` bytes into a 32-byte name field.
void SetNameField(unsigned char (&field)[32], const uint8_t* text, size_t length) {
    std::memset(field, 0, sizeof field);
    length = std::min<size_t>(length, 31);
    field[0] = static_cast<unsigned char>(length);
    if (length) std::memcpy(field + 1, text, length);
}

struct LayoutNames {
    uint32_t tag;
    std::vector<const char*> names;
};

const std::vector<LayoutNames>& ChannelNameTable() {
    static const std::vector<LayoutNames> table = {
        {0x6B0004, {"W", "X", "Y", "Z"}},
        {0x6C0004, {"Left", "Right", "Left surround", "Right surround"}},
        {0x6D0005, {"Left", "Right", "Left surround", "Right surround", "Center"}},
        {0x760005, {"Left", "Right", "Left surround", "Right surround", "Center"}},
        {0x6E0006,
         {"Left", "Right", "Left surround", "Right surroud", "Center", "Center surround"}},
        {0x6F0008,
         {"Left", "Right", "Left surround", "Right surround", "Center", "Center surround",
          "Left side", "Right side"}},
        {0x700008,
         {"Left", "Right", "Left surround", "Right surround", "Top left", "Top right",
          "Top left surround", "Top right surround"}},
        {0x710003, {"Left", "Right", "Center"}},
        {0x720003, {"Left", "Center", "Right"}},
        {0x730004, {"Left", "Right", "Center", "Center surround"}},
        {0x740004, {"Center", "Left", "Right", "Center surround"}},
        {0x750005, {"Left", "Right", "Center", "Left surround", "Right surround"}},
        {0x770005, {"Left", "Center", "Right", "Left surround", "Right surround"}},
        {0x780005, {"Center", "Left", "Right", "Left surround", "Right surround"}},
        {0x790006, {"Left", "Right", "Center", "LFE", "Left surround", "Right surround"}},
        {0x7A0006, {"Left", "Right", "Left surround", "Right surround", "Center", "LFE"}},
        {0x7B0006, {"Left", "Center", "Right", "Left surround", "Right surround", "LFE"}},
        {0x7C0006, {"Center", "Left", "Right", "Left surround", "Right surround", "LFE"}},
        {0x7D0007,
         {"Left", "Right", "Center", "LFE", "Left surround", "Right surround", "Center surround"}},
    };
    return table;
}

CSoundFile::ChannelConfiguration ConfigurationForTag(uint32_t tag) {
    switch (tag) {
        case 0x640001: return CSoundFile::kMono;
        case 0x650002: case 0x660002: case 0x670002: case 0x680002: case 0x690002:
        case 0x6A0002: return CSoundFile::kStereo;
        case 0x710003: case 0x720003: case 0x830003: case 0x960003: return CSoundFile::kLCR;
        case 0x6C0004: case 0x840004: return CSoundFile::kQuad;
        case 0x730004: case 0x740004: case 0x970004: return CSoundFile::kLCRS;
        case 0x6D0005: case 0x750005: case 0x760005: case 0x770005: case 0x780005:
            return CSoundFile::k50;
        case 0x790006: case 0x7A0006: case 0x7B0006: case 0x7C0006: return CSoundFile::k51;
        default: return CSoundFile::kMultichannel;
    }
}

uint32_t TagForConfiguration(int configuration) {
    switch (configuration) {
        case CSoundFile::kMono: return 0x640001;
        case CSoundFile::kStereo: return 0x650002;
        case CSoundFile::kLCR: return 0x960003;
        case CSoundFile::kQuad: return 0x6C0004;
        case CSoundFile::kLCRS: return 0x740004;
        case CSoundFile::k50: return 0x780005;
        case CSoundFile::k51: return 0x7C0006;
        default: return 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The 80-bit sample rate

double Ext80ToDbl(const Float80& x) {
    const uint16_t word = LoadBE16(x.bytes);
    const int exponent = word & 0x7FFF;
    const uint32_t hi = LoadBE32(x.bytes + 2);
    const uint32_t lo = LoadBE32(x.bytes + 6);
    if (exponent == 0 && hi == 0 && lo == 0) return 0.0;
    double value = std::ldexp(static_cast<double>(hi), exponent - 16383 - 31) +
                   std::ldexp(static_cast<double>(lo), exponent - 16383 - 63);
    return (word & 0x8000) ? -value : value;
}

Float80 DblToExt80(double x) {
    Float80 out{};
    uint16_t sign = 0;
    if (x < 0) {
        sign = 0x8000;
        x = -x;
    }
    if (!(x > 0) || !std::isfinite(x)) {
        // 0 (and what is no rate at all) is the exponent of 1 with no significand.
        StoreBE16(out.bytes, static_cast<uint16_t>(sign | 16383));
        return out;
    }
    int binaryExponent = 0;
    std::frexp(x, &binaryExponent);
    const int e = binaryExponent - 1;  // x = 1.f * 2^e
    const double scaledHi = std::ldexp(x, 31 - e);
    const uint32_t hi = static_cast<uint32_t>(scaledHi);
    const double rest = x - std::ldexp(static_cast<double>(hi), e - 31);
    const uint32_t lo = static_cast<uint32_t>(std::ldexp(rest, 63 - e));
    StoreBE16(out.bytes, static_cast<uint16_t>(sign | ((e + 16383) & 0x7FFF)));
    StoreBE32(out.bytes + 2, hi);
    StoreBE32(out.bytes + 6, lo);
    return out;
}

// ---------------------------------------------------------------------------
// Life

CAIFFFile::~CAIFFFile() {
    if (IsOpen()) Close();
}

OSType CAIFFFile::GetFType() { return FourCC("AIFF"); }

std::string CAIFFFile::GetDescription() { return "AIFF"; }

// ---------------------------------------------------------------------------
// Small I/O helpers

OSErr CAIFFFile::WriteAt(uint32_t position, const void* data, int count) {
    return pcmio::WriteAt(forkRef_, position, data, count);
}

OSErr CAIFFFile::AppendAtEnd(const void* data, int count) {
    return pcmio::AppendAtEnd(forkRef_, data, count);
}

OSErr CAIFFFile::ReadAt(uint64_t position, void* out, size_t count) {
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    return source.ReadAt(position, out, count);
}

// ---------------------------------------------------------------------------
// Chunk search

ChunkLayout CAIFFFile::FormLayout() const {
    ChunkLayout layout;
    // The first chunk is looked at whatever the FORM size says.
    layout.limit = std::max<uint64_t>(formEnd_, layout.first + 1);
    return layout;
}

OSErr FormChunkStatus(ChunkSearch result, OSErr error) {
    switch (result) {
        case ChunkSearch::kFound: return 0;
        case ChunkSearch::kTooMany: return kAIFFChunkLimitErr;
        case ChunkSearch::kBadSize: return kAIFFBadChunkSizeErr;
        case ChunkSearch::kReadFailed: return error;
        case ChunkSearch::kNotThere: break;
    }
    return kAIFFNotFoundErr;
}

OSErr CAIFFFile::LocateChunk(uint32_t id, ChunkHeader* found) {
    if (forkRef_ < 0) return kFileNotOpenErr;
    ChunkSearch result = ChunkSearch::kNotThere;
    OSErr error = 0;
    if (!chunks_.Find(forkRef_, id, 1, found, &result, &error)) {
        ForkSource source(forkRef_);
        if (source.status()) return source.status();
        result = SearchChunk(source, FormLayout(), id, 1, found, &error);
    }
    return FormChunkStatus(result, error);
}

OSErr CAIFFFile::CheckForm() {
    if (forkRef_ < 0) return kFileNotOpenErr;
    uint8_t raw[4];
    const OSErr err = ReadAt(0, raw, sizeof raw);
    if (err) return err == kEOFErr ? OSErr(kAIFFNotFoundErr) : err;
    return LoadBE32(raw) == kFORM ? 0 : kAIFFNotFoundErr;
}

OSErr CAIFFFile::FindID(uint32_t id) {
    uint64_t after = 4;
    if (id == kFORM) {
        if (OSErr err = CheckForm()) return err;
    } else {
        ChunkHeader header;
        if (OSErr err = LocateChunk(id, &header)) return err;
        after = header.offset + 4;
    }
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(after));
}

OSErr CAIFFFile::ProbeChunk(ByteSource& source, uint32_t id, ChunkHeader* found) {
    ChunkLayout layout;
    OSErr error = 0;
    const ChunkSearch result = SearchChunk(source, layout, id, 1, found, &error);
    if (result == ChunkSearch::kFound) return 0;
    // Running off the end counts as not finding the chunk among the first ones.
    return result == ChunkSearch::kBadSize ? kAIFFBadChunkSizeErr : kAIFFChunkLimitErr;
}

OSErr CAIFFFile::FindChunk(const std::string& id, std::istream& in) {
    if (id.size() != 4) return kAIFFChunkLimitErr;
    const uint32_t wanted = LoadBE32(reinterpret_cast<const uint8_t*>(id.data()));
    StreamSource source(in);
    uint64_t after = 4;
    if (wanted == kFORM) {
        uint8_t raw[4];
        if (source.ReadAt(0, raw, sizeof raw) != 0 || LoadBE32(raw) != kFORM)
            return kAIFFNotFoundErr;
    } else {
        ChunkHeader header;
        if (OSErr err = ProbeChunk(source, wanted, &header)) return err;
        after = header.offset + 4;
    }
    in.clear();
    in.seekg(static_cast<std::streamoff>(after), std::ios::beg);
    return 0;
}

short CAIFFFile::ReadNumChannels(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw error_code_exception(kFileNotFoundErr, "cannot open %s", path.c_str());
    StreamSource source(in);
    ChunkHeader comm;
    if (OSErr err = ProbeChunk(source, kCOMM, &comm))
        throw error_code_exception(err, "no COMM chunk in %s", path.c_str());
    uint8_t raw[2];
    if (source.ReadAt(comm.dataOffset(), raw, sizeof raw) != 0)
        throw error_code_exception(kAIFFBadCommonErr, "short COMM chunk in %s", path.c_str());
    return static_cast<short>(LoadBE16(raw));
}

// ---------------------------------------------------------------------------
// COMM

OSErr CAIFFFile::CheckCommonAndFrames() {
    const int16_t channels = static_cast<int16_t>(channels_);
    // No channels, a negative count or more than a sound file takes; then a
    // sample size of no bits or more than 32 (1 to 7 bits were widened to 8).
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels)
        return kIncompatibleChannelsErr;
    if (wordSize_ < 8 || wordSize_ > 32) return kAIFFBadWordSizeErr;
    if (DataBytes() <= formEnd_) return 0;
    // COMM's frames cannot fit in the FORM: take the count that SSND holds.
    ChunkHeader ssnd;
    if (OSErr err = LocateChunk(kSSND, &ssnd))
        return err == kAIFFNotFoundErr ? OSErr(kAIFFNoSoundDataErr) : err;
    if (ssnd.size < 8) return kAIFFNoSoundDataErr;
    numFrames_ = static_cast<uint32_t>((ssnd.size - 8) / BytesPerFrame());
    return 0;
}

OSErr CAIFFFile::ReadCOMM() {
    ChunkHeader comm;
    if (LocateChunk(kCOMM, &comm) != 0) return kAIFFBadCommonErr;
    if (comm.size != 18) return kAIFFBadCommonErr;
    uint8_t raw[18];
    if (ReadAt(comm.dataOffset(), raw, sizeof raw) != 0) return kAIFFBadCommonErr;
    Float80 rate;
    std::memcpy(rate.bytes, raw + 8, 10);
    sampleRate_ = static_cast<double>(static_cast<float>(Ext80ToDbl(rate)));
    channels_ = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(LoadBE16(raw))));
    wordSize_ = pcmio::ContainerWordSize(static_cast<int16_t>(LoadBE16(raw + 6)));
    storedSampleBytes_ = 0;
    writtenBits_ = 0;
    numFrames_ = LoadBE32(raw + 2);
    if (OSErr err = CheckCommonAndFrames()) return err;
    if (!(sampleRate_ > 0) || !std::isfinite(sampleRate_)) return kAIFFBadSampleRateErr;
    return 0;
}

OSErr CAIFFFile::WriteCOMM() {
    uint8_t raw[26];
    StoreBE32(raw, kCOMM);
    StoreBE32(raw + 4, 18);
    StoreBE16(raw + 8, static_cast<uint16_t>(channels_));
    StoreBE32(raw + 10, GetNumSFrames());
    StoreBE16(raw + 14, static_cast<uint16_t>(DeclaredBits()));
    Float80 rate = DblToExt80(GetSampleRate());
    std::memcpy(raw + 16, rate.bytes, 10);
    return WriteAt(12, raw, sizeof raw);
}

// ---------------------------------------------------------------------------
// Opening

OSErr CAIFFFile::ReadSoundDataHeader() {
    ChunkHeader ssnd;
    OSErr err = LocateChunk(kSSND, &ssnd);
    if (err) return err == kAIFFNotFoundErr ? OSErr(kAIFFNoSoundDataErr) : err;
    if (ssnd.size < 8) return kAIFFNoSoundDataErr;
    uint8_t raw[8];
    if ((err = ReadAt(ssnd.dataOffset(), raw, sizeof raw)) != 0) return err;
    const uint64_t start = ssnd.dataOffset() + 8 + LoadBE32(raw);
    int length = 0;
    if ((err = XWQF::GetEOF(forkRef_, &length)) != 0) return err;
    if (start > static_cast<uint64_t>(length)) return kAIFFNoSoundDataErr;
    dataStart_ = static_cast<uint32_t>(start);
    const uint64_t dataBytes = std::min<uint64_t>(ssnd.size - 8, static_cast<uint64_t>(length) - start);
    declaredFrames_ = 0;
    if (dataBytes < DataBytes()) {
        declaredFrames_ = numFrames_;
        numFrames_ = static_cast<uint32_t>(dataBytes / BytesPerFrame());
    }
    return 0;
}

OSErr CAIFFFile::ReadFormHeader() {
    if (OSErr err = CheckForm()) return err == kAIFFNotFoundErr ? NoFormErr() : err;
    uint8_t raw[4];
    if (OSErr err = ReadAt(4, raw, sizeof raw)) return err;
    formEnd_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{LoadBE32(raw)} + 8, UINT32_MAX));
    return 0;
}

OSErr CAIFFFile::OpenForm() {
    if (OSErr err = OpenForReading()) return err;
    return ReadFormHeader();
}

OSErr CAIFFFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    OSErr err = OpenForm();
    if (err) return err;
    const KeptChunks::Scope listed(chunks_, forkRef_, FormLayout());
    if ((err = ReadCOMM()) != 0) return err;
    const std::string name = GetName();
    const size_t len = name.size();
    dataType_ = (len >= 4 && name[len - 4] == '.' && (name[len - 3] == 's' || name[len - 3] == 'S') &&
                 name[len - 2] == '3' && name[len - 1] == '2')
                    ? kDataType24In32
                    : kDataTypePCM;
    if ((err = ReadMarkers()) != 0) return err;
    if ((err = ReadLoops()) != 0) return err;
    if ((err = ReadSamplerInfo()) != 0) return err;
    if ((err = ReadChannelDescriptor()) != 0) return err;
    if ((err = ReadRegions()) != 0) return err;
    if ((err = ReadSoundDataHeader()) != 0) return err;
    if ((err = AddWholeFileRegion()) != 0) return err;
    ChunkHeader appl;
    if (LocateChunk(kAPPL, &appl) != 0) return 0;
    uint8_t raw[4];
    err = ReadAt(appl.dataOffset(), raw, sizeof raw);
    if (err == 0 && appl.size >= 4 && LoadBE32(raw) == kSSYS) {
        channels_ = 1;
        if (wordSize_ == 24) dataType_ = kDataTypeSonic24;
    }
    return err;
}

OSErr CAIFFFile::GetOfflineInfo(OSErr* status) {
    if (status) *status = 0;
    // An object that is already open keeps its fork; the look is taken on a second one.
    const bool wasOpen = open_;
    const OSErr err = pcmio::ReadOnSecondFork(path_, &forkRef_, [this] {
        open_ = true;
        OSErr e = ReadFormHeader();
        if (e) return e;
        const KeptChunks::Scope listed(chunks_, forkRef_, FormLayout());
        e = ReadCOMM();
        if (e == 0) e = ReadMarkers();
        if (e == 0) e = ReadLoops();
        if (e == 0) e = ReadChannelDescriptor();
        return e;
    });
    open_ = wasOpen;
    return err;
}

// ---------------------------------------------------------------------------
// Creating and closing

OSErr CAIFFFile::BeginCreate(short channels, short wordSize, float sampleRate, void* specifics,
                             const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (channels < 1 || static_cast<uint32_t>(channels) > kMaxSoundFileChannels)
        return kParamErr;
    if (wordSize < 8 || wordSize > 32) return kIllegalWordSizeErr;
    const short container = pcmio::ContainerWordSize(wordSize);
    if (OSErr err = CreateWritable(channels, container, sampleRate, specifics, extension))
        return err;
    storedSampleBytes_ = 0;
    writtenBits_ = wordSize != container ? wordSize : 0;
    madeFile_ = true;
    dataType_ = kDataTypePCM;
    formEnd_ = kProvisionalContainerSize;
    return 0;
}

OSErr CAIFFFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                        const unsigned char* extension) {
    OSErr err = BeginCreate(channels, wordSize, sampleRate, specifics, extension);
    if (err) return err;
    uint8_t head[38] = {};
    StoreBE32(head, kFORM);
    StoreBE32(head + 4, kProvisionalContainerSize);
    StoreBE32(head + 8, FourCC("AIFF"));
    StoreBE32(head + 12, kCOMM);
    StoreBE32(head + 16, 18);
    if ((err = WriteAt(0, head, sizeof head)) != 0) return err;
    if ((err = WriteChannelDescriptor()) != 0) return err;
    return WriteSoundDataHeader();
}

OSErr CAIFFFile::WriteSoundDataHeader() {
    uint8_t ssnd[16] = {};
    StoreBE32(ssnd, kSSND);
    int n = sizeof ssnd;
    if (OSErr err = XWQF::Write(forkRef_, &n, ssnd)) return err;
    int position = 0;
    if (OSErr err = XWQF::GetPos(forkRef_, &position)) return err;
    dataStart_ = static_cast<uint32_t>(position);
    return 0;
}

OSErr CAIFFFile::FinishHeader() {
    OSErr err = pcmio::WritePadByte(forkRef_, dataStart_, DataBytes());
    if (err == 0) err = WriteCOMM();
    if (err == 0) err = WriteLoopsAndSamplerInfo();
    if (err == 0) err = WriteMarkers();
    if (err == 0) err = WriteRegions();
    if (err) return err;

    uint8_t raw[4];
    ChunkHeader ssnd;
    OSErr first = LocateChunk(kSSND, &ssnd);
    if (first == kAIFFNotFoundErr) first = kAIFFNoSoundDataErr;
    if (first == 0) {
        StoreBE32(raw, static_cast<uint32_t>(DataBytes() + 8));
        first = WriteAt(static_cast<uint32_t>(ssnd.offset + 4), raw, 4);
    }
    int length = 0;
    err = XWQF::GetEOF(forkRef_, &length);
    if (err == 0) {
        err = CheckForm();
        if (err == kAIFFNotFoundErr) err = kAIFFNoFormErr;
        if (err == 0) {
            StoreBE32(raw, static_cast<uint32_t>(length - 8));
            err = WriteAt(4, raw, 4);
        }
    }
    return first ? first : err;
}

// ---------------------------------------------------------------------------
// Samples

void CAIFFFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    const uint32_t sampleBytes = BytesPerSample();
    if (dataType_ == kDataTypePCM && sampleBytes)
        pcmio::SwapBigEndianSamples(data, bytes / sampleBytes, sampleBytes);
}

void CAIFFFile::BufferToStored(unsigned char* data, uint64_t bytes) const {
    const uint32_t sampleBytes = BytesPerSample();
    if (sampleBytes == 0) return;
    const uint64_t samples = bytes / sampleBytes;
    if (writtenBits_) pcmio::ClearBelowValidBits(data, samples, sampleBytes, writtenBits_);
    pcmio::SwapBigEndianSamples(data, samples, sampleBytes);
}

OSErr CAIFFFile::RefreshOutputBuffer(uint32_t frame) {
    if (IsOpen() && storedSampleBytes_) return kWritePermErr;
    return CFramedPCMFile::RefreshOutputBuffer(frame);
}

OSErr CAIFFFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (IsOpen() && storedSampleBytes_) return kWritePermErr;
    return CFramedPCMFile::FlushOutputBuffer(frames, position);
}

// ---------------------------------------------------------------------------
// Markers

void NameMarker(SFTMarker* marker, const uint8_t* name, size_t length, bool numbered) {
    if (!numbered) {
        marker->type = 2;
        marker->number = -1;
        SetNameField(marker->name, name, length);
        return;
    }
    // "#<number> <name>": the number up to the first blank, the name after it.
    size_t end = 1;
    while (end < length && name[end] != ' ') ++end;
    Str255 digits = {0};
    digits[0] = static_cast<unsigned char>(end - 1);
    std::memcpy(digits + 1, name + 1, end - 1);
    int number = 0;
    XWQF::StringToNum(digits, &number);
    marker->type = 1;
    marker->number = static_cast<int16_t>(number);
    if (end < length)
        SetNameField(marker->name, name + end + 1, length - end - 1);
    else
        SetNameField(marker->name, name, 0);
}

OSErr CAIFFFile::ReadMarkers() {
    if (!markers_.empty() || !IsOpen()) return 0;
    ChunkHeader header;
    if (LocateChunk(kMARK, &header) != 0) return 0;
    ForkSource source(forkRef_);
    std::vector<uint8_t> bytes;
    if (source.status() || ReadChunkData(source, header, kMaxMarkChunkBytes, &bytes) != 0) return 0;
    ByteView view(bytes.data(), bytes.size());
    uint16_t count = 0;
    if (!view.ReadU16BE(&count)) return 0;
    for (uint16_t i = 0; i < count; ++i) {
        uint16_t id = 0;
        uint32_t position = 0;
        uint8_t length = 0;
        if (!view.ReadU16BE(&id) || !view.ReadU32BE(&position) || !view.ReadU8(&length)) break;
        const uint8_t* name = view.current();
        if (!view.Skip(length)) break;
        if (((length + 1) & 1) != 0) view.Skip(1);

        SFTMarker marker{};
        marker.id = static_cast<int16_t>(id);
        marker.position = position;
        NameMarker(&marker, name, length,
                   length >= 2 && name[0] == '#' && name[1] >= '0' && name[1] <= '9');
        if (AddMarker(&marker) != 0) break;
    }
    return 0;
}

OSErr CAIFFFile::WriteMarkers() {
    const uint16_t count = GetNumMarkers();
    if (count == 0) return 0;
    std::vector<uint8_t> chunk(10, 0);
    uint16_t written = 0;
    int rank = 0;
    for (uint16_t i = 0; i < count; ++i) {
        SFTMarker marker;
        if (GetIndMarker(i, &marker) != 0) break;
        std::string name(reinterpret_cast<const char*>(marker.name + 1),
                         std::min<size_t>(marker.name[0], 31));
        if (marker.type == 1) {
            char digits[16];
            auto r = std::to_chars(digits, digits + sizeof digits, ++rank);
            std::string ranked = "#";
            ranked.append(digits, r.ptr);
            ranked += ' ';
            ranked += name;
            name = std::move(ranked);
        }
        if (name.size() > 255) name.resize(255);
        uint8_t head[7];
        StoreBE16(head, static_cast<uint16_t>(marker.id));
        StoreBE32(head + 2, marker.position);
        head[6] = static_cast<uint8_t>(name.size());
        chunk.insert(chunk.end(), head, head + 7);
        chunk.insert(chunk.end(), name.begin(), name.end());
        if (((name.size() + 1) & 1) != 0) chunk.push_back(0);
        ++written;
    }
    StoreBE32(chunk.data(), kMARK);
    StoreBE32(chunk.data() + 4, static_cast<uint32_t>(chunk.size() - 8));
    StoreBE16(chunk.data() + 8, written);
    return AppendAtEnd(chunk.data(), static_cast<int>(chunk.size()));
}

// ---------------------------------------------------------------------------
// Loops and sampler data

int32_t CAIFFFile::AddLoopMarker(const char* name, uint32_t position) {
    int64_t next = 1;
    for (const QFMarkerPtr& m : markers_) next = std::max<int64_t>(next, int64_t{m->markerID} + 1);
    SFTMarker marker{};
    marker.id = static_cast<int32_t>(std::min<int64_t>(next, INT32_MAX));
    marker.position = position;
    SetNameField(marker.name, reinterpret_cast<const uint8_t*>(name), std::strlen(name));
    marker.type = 2;
    marker.number = -1;
    AddMarker(&marker);
    for (const QFMarkerPtr& m : markers_)
        if (m->position == position && m->name == name) return m->markerID;
    return 0;
}

OSErr CAIFFFile::WriteLoopsAndSamplerInfo() {
    if (OSErr err = XWQF::SetPos(forkRef_, XWQF::kFromLEOF, 0)) return err;
    SFTSamplerInfo info;
    OSErr samplerStatus = GetSamplerInfo(&info);
    if (GetNumLoops() == 0 && samplerStatus != 0) return 0;
    if (samplerStatus == kNoSamplerInfoErr) {
        InitSamplerInfo();
        GetSamplerInfo(&info);
    }
    uint8_t raw[28] = {};
    StoreBE32(raw, kINST);
    StoreBE32(raw + 4, 20);
    raw[8] = static_cast<uint8_t>(info.baseNote);
    raw[9] = static_cast<uint8_t>(info.detune);
    raw[10] = static_cast<uint8_t>(info.lowNote);
    raw[11] = static_cast<uint8_t>(info.highNote);
    raw[12] = static_cast<uint8_t>(info.lowVelocity);
    raw[13] = static_cast<uint8_t>(info.highVelocity);
    StoreBE16(raw + 14, static_cast<uint16_t>(info.gain));
    static const char* const kNames[2][2] = {{"Sustainloop start", "Sustainloop end"},
                                             {"Releaseloop start", "Releaseloop end"}};
    for (uint16_t i = 0; i < 2; ++i) {
        SFTLoop loop;
        if (GetIndLoop(i, &loop) != 0) continue;
        const int32_t begin = AddLoopMarker(kNames[i][0], loop.start);
        const int32_t end = AddLoopMarker(kNames[i][1], loop.end);
        StoreBE16(raw + 16 + 6 * i, static_cast<uint16_t>(loop.type));
        StoreBE16(raw + 18 + 6 * i, static_cast<uint16_t>(begin));
        StoreBE16(raw + 20 + 6 * i, static_cast<uint16_t>(end));
    }
    return AppendAtEnd(raw, sizeof raw);
}

bool CAIFFFile::TakeLoopMarker(int16_t id, uint32_t* position) {
    SFTMarker marker;
    if (GetMarkerByID(id, &marker) != 0) return false;
    *position = marker.position;
    return RemoveMarker(&marker) == 0;
}

OSErr CAIFFFile::ReadInstrument(uint8_t (&data)[20]) {
    ChunkHeader inst;
    if (OSErr err = LocateChunk(kINST, &inst)) return err;
    if (inst.size < sizeof data) return kAIFFNotFoundErr;
    return ReadAt(inst.dataOffset(), data, sizeof data);
}

OSErr CAIFFFile::ReadLoops() {
    if (!loops_.empty()) return 0;
    uint8_t data[20];
    if (ReadInstrument(data) != 0) return 0;
    bool sustainFailed = false;
    for (int i = 0; i < 2; ++i) {
        const int16_t mode = static_cast<int16_t>(LoadBE16(data + 8 + 6 * i));
        if (mode == 0) continue;
        SFTLoop loop{};
        loop.id = i + 1;
        loop.type = mode;
        const bool haveStart = TakeLoopMarker(static_cast<int16_t>(LoadBE16(data + 10 + 6 * i)), &loop.start);
        const bool haveEnd = TakeLoopMarker(static_cast<int16_t>(LoadBE16(data + 12 + 6 * i)), &loop.end);
        const bool found = haveStart && haveEnd;
        if (i == 0) {
            if (found)
                AddLoop(&loop);
            else
                sustainFailed = true;
        } else if (found && !sustainFailed) {
            AddLoop(&loop);
        }
    }
    return 0;
}

OSErr CAIFFFile::ReadSamplerInfo() {
    uint8_t data[20];
    if (ReadInstrument(data) != 0) return 0;
    SFTSamplerInfo info{};
    info.baseNote = static_cast<int8_t>(data[0]);
    info.detune = static_cast<int8_t>(data[1]);
    info.lowNote = static_cast<int8_t>(data[2]);
    info.highNote = static_cast<int8_t>(data[3]);
    info.lowVelocity = static_cast<int8_t>(data[4]);
    info.highVelocity = static_cast<int8_t>(data[5]);
    info.gain = static_cast<int16_t>(LoadBE16(data + 6));
    info.valid = 1;
    SetSamplerInfo(&info);
    return 0;
}

// ---------------------------------------------------------------------------
// Channel layout

OSErr CAIFFFile::ReadChannelDescriptor() {
    ChunkHeader chan;
    OSErr err = LocateChunk(kCHAN, &chan);
    uint8_t raw[4];
    if (err == 0 && chan.size >= 4) {
        err = ReadAt(chan.dataOffset(), raw, sizeof raw);
        if (err == kEOFErr) err = kAIFFNotFoundErr;
    } else if (err == 0) {
        err = kAIFFNotFoundErr;
    }
    if (err && !IsNotFound(err)) return err;
    if (err) {
        SetChannelConfiguration(pcmio::ConfigurationForChannels(channels_));
        return 0;
    }
    channelLayoutTag_ = LoadBE32(raw);
    // A layout for another number of channels does not describe this file.
    if ((channelLayoutTag_ & 0xFFFF) == channels_)
        SetChannelConfiguration(ConfigurationForTag(channelLayoutTag_));
    else
        SetChannelConfiguration(pcmio::ConfigurationForChannels(channels_));
    return 0;
}

OSErr CAIFFFile::WriteChannelDescriptor() {
    const uint32_t tag = TagForConfiguration(GetChannelConfiguration());
    if (tag == 0 || (tag & 0xFFFF) != channels_) return 0;
    uint8_t raw[40] = {};
    StoreBE32(raw, kCHAN);
    StoreBE32(raw + 4, 32);
    StoreBE32(raw + 8, tag);
    int n = sizeof raw;
    if (OSErr err = XWQF::Write(forkRef_, &n, raw)) return err;
    channelLayoutTag_ = tag;
    return 0;
}

std::string CAIFFFile::GetChannelName(short channel) {
    if (channels_ == 1) return "1";
    if (channels_ == 2) return channel == 0 ? "Left" : "Right";
    for (const LayoutNames& entry : ChannelNameTable()) {
        if (entry.tag != channelLayoutTag_) continue;
        const size_t last = entry.names.size() - 1;
        const size_t index = channel < 0 ? 0 : std::min<size_t>(static_cast<size_t>(channel), last);
        return entry.names[index];
    }
    return std::string();
}

// ---------------------------------------------------------------------------
// Regions

OSErr CAIFFFile::ReadRegions() {
    if (!regions_.empty()) return 0;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    ChunkHeader header;
    OSErr err = LocateChunk(kREGN, &header);
    if (IsNotFound(err)) return 0;
    if (err) {
        CORVANE_DLOG("anerror");
        return err;
    }
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    const uint64_t available = AvailableChunkData(source, header);
    uint8_t raw[kRegionRecordBytes];
    if (available < 4) return AddWholeFileRegion();
    if ((err = source.ReadAt(header.dataOffset(), raw, 4)) != 0) return err;
    // Only the records that are really in the chunk are read.
    const uint64_t count = std::min<uint64_t>(LoadBE32(raw), (available - 4) / kRegionRecordBytes);
    for (uint64_t i = 0; i < count; ++i) {
        if ((err = source.ReadAt(header.dataOffset() + 4 + i * kRegionRecordBytes, raw, sizeof raw)) != 0)
            return err;
        SFTRegion region{};
        region.id = static_cast<int32_t>(i + 1);
        region.start = static_cast<int32_t>(LoadBE64(raw + 16));
        region.end = static_cast<int32_t>(LoadBE64(raw + 24));
        region.sync = static_cast<int32_t>(LoadBE64(raw + 32));
        region.timeStamp = static_cast<int32_t>(LoadBE64(raw + 40));
        SetNameField(region.name, raw + 57, raw[56]);
        if (GetIgnoreRegionsContainingWholeFile()) {
            const int64_t frames = numFrames_;
            const bool inside = region.start >= 0 && region.start <= region.end && region.end <= frames;
            const bool wholeFile = region.start == 0 && region.end == frames;
            if (!inside || wholeFile) {
                SetTimeStamp(static_cast<uint32_t>(region.timeStamp));
                continue;
            }
        }
        if ((err = AddRegion(&region)) != 0) return err;
    }
    if (!GetSkipBadRegion()) {
        if ((err = KillDuplicateRegionNames()) != 0) return err;
    }
    if (count == 0) return AddWholeFileRegion();
    return 0;
}

OSErr CAIFFFile::WriteRegions() {
    const uint16_t count = GetNumRegions();
    std::vector<uint8_t> chunk(12 + static_cast<size_t>(count) * kRegionRecordBytes, 0);
    StoreBE32(chunk.data(), kREGN);
    StoreBE32(chunk.data() + 4, 4 + static_cast<uint32_t>(count) * kRegionRecordBytes);
    StoreBE32(chunk.data() + 8, count);
    for (uint16_t i = 0; i < count; ++i) {
        SFTRegion region;
        if (OSErr err = GetIndRegion(i, &region)) return err;
        uint8_t* record = chunk.data() + 12 + static_cast<size_t>(i) * kRegionRecordBytes;
        const int64_t regionStamp = region.timeStamp;
        const int64_t firstStamp =
            (i == 0 && IsTimeStampValid()) ? static_cast<int64_t>(GetTimeStamp()) : regionStamp;
        StoreBE64(record + 16, static_cast<uint64_t>(static_cast<int64_t>(region.start)));
        StoreBE64(record + 24, static_cast<uint64_t>(static_cast<int64_t>(region.end)));
        StoreBE64(record + 32, static_cast<uint64_t>(static_cast<int64_t>(region.sync)));
        StoreBE64(record + 40, static_cast<uint64_t>(firstStamp));
        StoreBE64(record + 48, static_cast<uint64_t>(regionStamp));
        std::memcpy(record + 56, region.name, 32);
    }
    return AppendAtEnd(chunk.data(), static_cast<int>(chunk.size()));
}
