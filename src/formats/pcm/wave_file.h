// WAVE files: uncompressed little-endian PCM in a RIFF/WAVE container, with the
// plain and the extensible format chunk (channel mask and SubFormat GUID), the
// cue points and their associated data ('cue ', LIST/'adtl' with 'labl', 'note'
// and 'ltxt') for markers and regions, 'smpl' for loops and 'inst' for sampler
// data. The base of the WAVE variants, which change the format chunk, the
// sample coding or add chunks through the virtual operations below.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "formats/chunk_reader.h"
#include "formats/pcm/framed_pcm_file.h"
#include "formats/pcm/pcm_io.h"
#include "formats/riff_wave.h"
#include "soundfile/type_codes.h"

// Status codes of the WAVE family.
enum : int {
    kWAVENotFoundErr = kRIFFNotFoundErr,          // not "RIFF", or the chunk sought is not there
    kWAVEBadChunkSizeErr = kRIFFBadChunkSizeErr,  // a chunk size negative as a signed 32-bit number
    kWAVEUnsupportedDataErr = -22700, // format tag, SubFormat, channels or word size not usable
    kWAVEFragmentedDataErr = -22701,  // no 'data' chunk, but a 'wavl' list
    kWAVENoDataErr = -22702,          // no 'data' chunk
    kWAVENoFormatErr = -22703,        // no format chunk
    kWAVEBadDataSizeErr = -22704,     // the data size cannot be read
};

class CWAVEFile : public CFramedPCMFile {
public:
    // The form type at bytes 8-11 of a RIFF file.
    static constexpr OSType classID = FourCC("WAVE");

    CWAVEFile() = default;
    ~CWAVEFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // The region count comes back through the pointer; the object is left closed.
    OSErr GetOfflineInfo(OSErr* regionCount) override;

    OSType GetFType() override;
    std::string GetDescription() override;
    bool CanBeSplit() override { return true; }
    std::string SplitExtension() override { return "(.L/.R)"; }
    std::string GetChannelName(short channel) override;

    // The operations the WAVE variants override, in this order.
    virtual OSErr WriteExtras();
    virtual OSErr ReadNumRegions(short* count);
    virtual OSErr Writefmt();
    virtual OSErr Readfmt();
    virtual OSErr WritefmtExtended();
    virtual OSErr ReadfmtExtended();
    virtual OSErr WriteSpecialized();

    // Positions the open fork just after the 4-byte ID of the given occurrence
    // (counted from 1) of a chunk; the ID is the four characters as a big-endian
    // number. Only the first kMaxChunksSearched chunks are looked at.
    OSErr FindID(uint32_t id, short occurrence = 1);
    OSErr ReadLoops();
    OSErr ReadInstrumentInfo();
    OSErr ReadExtras();
    OSErr WriteLoops();
    OSErr WriteInstrumentInfo();
    // Turns the data of an 'adtl' list (after its type) into markers and regions,
    // using the cue chunk held with its 8-byte header.
    OSErr ADTLToExtras(const uint8_t* cueChunk, uint32_t cueBytes, const uint8_t* data,
                       uint32_t size);

    uint32_t ChannelConfiguration2Mask();
    ChannelConfiguration Mask2ChannelConfiguration(uint32_t mask);

    // Probes of input detection, which need no object. FindChunk finds a chunk
    // of a stream as riff::ProbeChunk does, for a four-character id ("RIFF": the
    // first four bytes), and leaves the stream just after the ID.
    static OSErr FindChunk(const std::string& id, unsigned int occurrence, std::istream& in);
    // The channel count of the WAVE file at a path; 0 when it cannot be read.
    static short ReadNumChannels(const std::string& path);

protected:
    // The common part of a format chunk as stored.
    struct FormatFields {
        uint16_t tag;
        uint32_t channels;
        double sampleRate;
        short wordSize;
    };

    // Bytes of a sample as stored in the file.
    uint32_t BytesPerSample() const {
        if (storedSampleBytes_) return storedSampleBytes_;
        return static_cast<uint32_t>(wordSize_ >= 8 ? wordSize_ / 8 : 0);
    }
    uint64_t BytesPerFrame() const { return static_cast<uint64_t>(BytesPerSample()) * channels_; }
    uint64_t DataBytes() const { return static_cast<uint64_t>(numFrames_) * BytesPerFrame(); }

    // The layout of the samples for the framed base: little-endian integers, 8-bit
    // samples unsigned (silence 0x80), 32-bit floats as the 32-bit integers of the
    // buffer form; a created file's narrow samples are written with zeros below
    // their bits. Close finishes the header (the sizes, the extras, WriteSpecialized).
    uint64_t FrameBytes() const override { return BytesPerFrame(); }
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
    void BufferToStored(unsigned char* data, uint64_t bytes) const override;
    uint8_t SilenceByte() const override { return BytesPerSample() == 1 ? 0x80 : 0; }
    OSErr FinishFile() override;
    OSErr CloseNotOpenErr() const override { return kFileNotOpenErr; }
    OSErr NotOpenErr() const override { return kFileNotOpenErr; }

    // The given occurrence (from 1) of a chunk among the first chunks before the
    // RIFF end: 0 with its header, kWAVENotFoundErr, kWAVEBadChunkSizeErr or the
    // failure of a read. While an opening keeps the list of its chunks
    // (chunks_), the search looks there.
    OSErr LocateChunk(uint32_t id, short occurrence, ChunkHeader* found);
    // LocateChunk as the RIFF module's readers call it.
    riff::ChunkLocator Locator();
    // Refuses what cannot be read before anything divides by it: channels outside
    // 1..kMaxSoundFileChannels, word sizes outside 8..32.
    OSErr CheckFormat() const;
    // The common part of a format chunk from its bytes, header included.
    static FormatFields DecodeFormat(const uint8_t* chunk);
    // The plain format chunk ("fmt ", else "fmt\r"); kWAVENoFormatErr when there
    // is none or it is cut short.
    OSErr ReadPlainFormat(FormatFields* fields);
    // Takes the rate and channels of a format chunk and the given word size (a
    // size that is not whole bytes as its container), and checks them (CheckFormat).
    OSErr TakeFormat(const FormatFields& fields, short wordSize);
    // The configuration of the channels taken: mono and stereo by their count, more
    // channels by the extensible chunk's channel mask.
    ChannelConfiguration ConfigurationForMask(uint32_t mask);
    // The channel mask of the first "fmt " chunk when it is extensible and long
    // enough to hold one; kWAVENotFoundErr when it holds none.
    OSErr ReadChannelMask(uint32_t* mask);
    // Writes the 48-byte extensible format chunk (with its header) at the fork's
    // position: the word size as bits and valid bits, the mask of the channel
    // configuration and the given sub-format.
    OSErr WriteExtensibleFormat(uint32_t subFormat);
    // The coding of a format chunk: its tag, or for the extensible tag the first
    // two bytes of the sub-format when the chunk holds them (else the tag as it is).
    uint16_t CodingTag(const FormatFields& fields);
    // The opening steps of Open and GetOfflineInfo after the fork is open
    // (OpenForReading): the RIFF header with the end of the chunks, and the data
    // start of the 'data' chunk.
    OSErr ReadRiffHeader();
    OSErr LocateData();
    // The last step of GetOfflineInfo: closes the fork and leaves the object
    // closed; the first failure of the look, else that of closing.
    OSErr CloseAfterLook(OSErr err);

    // Step 4 of Readfmt: the frame count from the 'data' chunk, or the reason there is none.
    OSErr ReadFrameCount();
    // The size of the sample data to believe: the declared size, or the bytes there
    // when it is a placeholder (0 or 2^31 and more) or larger than what the file
    // holds. In the last case the frames declared (of `frameBytes` each) are kept
    // as the header's count (GetDeclaredSFrames).
    uint32_t UsableDataSize(uint32_t declared, uint32_t dataStart, uint32_t frameBytes);
    OSErr ReadAt(uint32_t position, void* data, int count);
    OSErr AppendAtEnd(const void* data, int count);
    // Adds a marker without a name for every cue point no sub-chunk spoke for.
    OSErr AddUnlabelledCuePoints(const std::vector<riff::CuePoint>& points,
                                 const std::vector<bool>& referenced, int32_t* counter);
    // The walk of ADTLToExtras, noting which cue points were referenced.
    OSErr WalkAssociatedData(const std::vector<riff::CuePoint>& points, const uint8_t* data,
                             uint32_t size, std::vector<bool>* referenced, int32_t* counter);

    // The sample size the format chunk declares: the word size, or the narrower
    // size a created file was asked for.
    short DeclaredBits() const { return writtenBits_ ? writtenBits_ : wordSize_; }

    uint32_t riffEnd_ = 0;
    // The chunk list of an opening (KeptChunks::Scope), for its many searches.
    KeptChunks chunks_;
    // Bytes of a stored sample when the file's samples are wider than the
    // buffer's (64-bit floats read as 32-bit integers); 0 when they are as wide.
    uint32_t storedSampleBytes_ = 0;
    // The sample size of a created file whose samples are narrower than their
    // whole bytes (20 bits in 3 bytes); 0 when the word size is whole bytes.
    short writtenBits_ = 0;
};
