#include "formats/pcm/aifc_file.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"
#include "soundfile/type_codes.h"

namespace {

constexpr uint32_t kVersion1Stamp = 0xA2805140;
constexpr uint32_t kCommonSize = 38;  // with "NONE" and its name
constexpr int kCommonDataMin = 22;    // the AIFF fields and the compression type

constexpr uint32_t kDoubleBytes = 8;

// The word size and data type of the buffers for a compression type and COMM's
// sample size, and the bytes of a stored sample when they are more than the
// word size's (0 otherwise); false for a type that is not read.
bool ChooseEncoding(uint32_t compression, short sampleSize, short* wordSize, short* dataType,
                    uint32_t* storedBytes) {
    *storedBytes = 0;
    // Integer types take the container of COMM's sample size (1 to 32 bits); any
    // other size makes "twos" and "sowt" 16-bit.
    const short container = pcmio::ContainerWordSize(sampleSize);
    const bool whole = container == 8 || container == 16 || container == 24 || container == 32;
    switch (compression) {
        case FourCC("NONE"): *wordSize = container; *dataType = kDataTypePCM; return true;
        case FourCC("twos"): *wordSize = whole ? container : 16; *dataType = kDataTypePCM; return true;
        case FourCC("in24"): *wordSize = 24; *dataType = kDataTypePCM; return true;
        case FourCC("in32"): *wordSize = 32; *dataType = kDataTypePCM; return true;
        case FourCC("sowt"):
            *wordSize = whole ? container : 16;
            *dataType = kDataTypeLittleEndianPCM;
            return true;
        case FourCC("42ni"): *wordSize = 24; *dataType = kDataTypeLittleEndianPCM; return true;
        case FourCC("23ni"): *wordSize = 32; *dataType = kDataTypeLittleEndianPCM; return true;
        // Some writers spell the float type in capitals.
        case FourCC("fl32"):
        case FourCC("FL32"): *wordSize = 32; *dataType = kDataTypeFloatBigEndian; return true;
        case FourCC("23lf"): *wordSize = 32; *dataType = kDataTypeFloatLittleEndian; return true;
        // Double precision is narrowed to the same buffer form while it is read.
        case FourCC("fl64"):
        case FourCC("FL64"):
            *wordSize = 32;
            *dataType = kDataTypeFloatBigEndian;
            *storedBytes = kDoubleBytes;
            return true;
        default: *wordSize = sampleSize; return false;
    }
}

}  // namespace

int32_t DoubleSampleToInt32(double sample) { return pcmio::SaturatedInt32(sample * 2147483647.0); }

int32_t FloatSampleToInt32(float sample) {
    const float product = static_cast<float>(static_cast<double>(sample) * 2147483647.0);
    if (!(product == product)) return 0;
    if (product >= 2147483648.0f) return INT32_MAX;
    if (product <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(product);
}

CAIFCFile::~CAIFCFile() {
    // Closed here, while this class's COMM writer is still the one called.
    if (IsOpen()) Close();
}

OSType CAIFCFile::GetFType() { return FourCC("AIFC"); }

std::string CAIFCFile::GetDescription() {
    if (dataType_ == kDataTypeFloatBigEndian)
        return storedSampleBytes_ ? "AIFC 64-bit float (big-endian)" : "AIFC 32-bit float (big-endian)";
    if (dataType_ == kDataTypeFloatLittleEndian) return "AIFC 32-bit float (little-endian)";
    return "AIFC";
}

OSErr CAIFCFile::ReadCOMM() {
    ChunkHeader comm;
    if (LocateChunk(FourCC("COMM"), &comm) != 0) return kAIFFBadCommonErr;
    if (comm.size < static_cast<uint32_t>(kCommonDataMin)) return kAIFFBadCommonErr;
    uint8_t raw[kCommonDataMin];
    if (ReadAt(comm.dataOffset(), raw, sizeof raw) != 0) return kAIFFBadCommonErr;
    const short sampleSize = static_cast<short>(LoadBE16(raw + 6));
    short wordSize = sampleSize, dataType = dataType_;
    uint32_t storedBytes = 0;
    const bool known = ChooseEncoding(LoadBE32(raw + 18), sampleSize, &wordSize, &dataType, &storedBytes);
    wordSize_ = wordSize;
    dataType_ = dataType;
    storedSampleBytes_ = storedBytes;
    writtenBits_ = 0;
    Float80 rate;
    std::memcpy(rate.bytes, raw + 8, 10);
    sampleRate_ = Ext80ToDbl(rate);
    channels_ = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(LoadBE16(raw))));
    numFrames_ = LoadBE32(raw + 2);
    if (!known) return kAIFCUnknownCompressionErr;
    if (OSErr err = CheckCommonAndFrames()) return err;
    if (!(sampleRate_ > 0) || !std::isfinite(sampleRate_)) return kAIFFBadSampleRateErr;
    return 0;
}

OSErr CAIFCFile::WriteCOMM() {
    uint8_t raw[8 + kCommonSize] = {};
    StoreBE32(raw, FourCC("COMM"));
    StoreBE32(raw + 4, kCommonSize);
    StoreBE16(raw + 8, static_cast<uint16_t>(channels_));
    StoreBE32(raw + 10, GetNumSFrames());
    StoreBE16(raw + 14, static_cast<uint16_t>(DeclaredBits()));
    Float80 rate = DblToExt80(GetSampleRate());
    std::memcpy(raw + 16, rate.bytes, 10);
    StoreBE32(raw + 26, FourCC("NONE"));
    raw[30] = 14;
    std::memcpy(raw + 31, "not compressed", 14);
    ChunkHeader comm;
    if (OSErr err = LocateChunk(FourCC("COMM"), &comm)) return err;
    return WriteAt(static_cast<uint32_t>(comm.offset), raw, sizeof raw);
}

OSErr CAIFCFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    OSErr err = OpenForm();
    if (err) return err;
    const KeptChunks::Scope listed(chunks_, forkRef_, FormLayout());
    if ((err = ReadCOMM()) != 0) return err;
    if ((err = ReadMarkers()) != 0) return err;
    if ((err = ReadLoops()) != 0) return err;
    if ((err = ReadSamplerInfo()) != 0) return err;
    if ((err = ReadSoundDataHeader()) != 0) return err;
    return AddWholeFileRegion();
}

OSErr CAIFCFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                        const unsigned char* extension) {
    OSErr err = BeginCreate(channels, wordSize, sampleRate, specifics, extension);
    if (err) return err;
    uint8_t head[70] = {};
    StoreBE32(head, FourCC("FORM"));
    StoreBE32(head + 4, kProvisionalContainerSize);
    StoreBE32(head + 8, FourCC("AIFC"));
    StoreBE32(head + 12, FourCC("FVER"));
    StoreBE32(head + 16, 4);
    StoreBE32(head + 20, kVersion1Stamp);
    StoreBE32(head + 24, FourCC("COMM"));
    StoreBE32(head + 28, kCommonSize);
    if ((err = WriteAt(0, head, sizeof head)) != 0) return err;
    return WriteSoundDataHeader();
}

OSErr CAIFCFile::ReadFrames(uint32_t frame, unsigned char* buffer) {
    if (storedSampleBytes_ != kDoubleBytes) return CAIFFFile::ReadFrames(frame, buffer);
    return ReadDoubleFrames(frame, buffer, true, 2147483647.0);
}

void CAIFCFile::StoredToBuffer(unsigned char* data, uint64_t bytes) const {
    const uint32_t sampleBytes = BytesPerSample();
    if (sampleBytes == 0) return;
    const uint64_t samples = bytes / sampleBytes;
    switch (dataType_) {
        case kDataTypePCM: pcmio::SwapBigEndianSamples(data, samples, sampleBytes); break;
        case kDataTypeLittleEndianPCM: pcmio::SwapLittleEndianSamples(data, samples, sampleBytes); break;
        case kDataTypeFloatBigEndian:
        case kDataTypeFloatLittleEndian: {
            const bool big = dataType_ == kDataTypeFloatBigEndian;
            for (uint64_t i = 0; i < samples; ++i) {
                const uint32_t bits = big ? LoadBE32(data + 4 * i) : LoadLE32(data + 4 * i);
                const int32_t value = FloatSampleToInt32(std::bit_cast<float>(bits));
                std::memcpy(data + 4 * i, &value, 4);
            }
            break;
        }
        default: break;
    }
}
