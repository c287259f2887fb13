// AIFF files: uncompressed big-endian PCM in a FORM/AIFF container, with the
// optional chunks for markers (MARK), loops and sampler data (INST), the channel
// layout (CHAN) and regions ('regn'). The base of the AIFF-C, Dawn and temporary
// file classes, which change the layout through the virtual chunk operations.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "formats/chunk_reader.h"
#include "formats/pcm/framed_pcm_file.h"
#include "formats/pcm/pcm_io.h"

// Status codes of the AIFF family.
enum : int {
    kAIFFNotFoundErr = -22004,      // not "FORM", or the chunk sought is not there
    kAIFFBadChunkSizeErr = -22009,  // a chunk size negative as a signed 32-bit number
    kAIFFNoFormErr = -22200,        // no "FORM" at the start: opening, or finishing the header
    kAIFFNoSoundDataErr = -22201,   // no usable SSND chunk
    kAIFFBadCommonErr = -22202,     // no usable COMM chunk
    kAIFFChunkLimitErr = -22204,    // chunk not among the first searched
    kAIFFBadSampleRateErr = -22205, // sample rate not greater than 0, or not finite
    kAIFFBadWordSizeErr = -22206,   // sample size 0, negative or above 32 bits
};

// Room for the largest MARK chunk there can be: 65535 markers with 255-byte
// names (each with its ID, position, length byte and pad byte).
constexpr uint64_t kMaxMarkChunkBytes = 2 + 65535ull * (2 + 4 + 1 + 255 + 1);

// A chunk search's outcome among a FORM's chunks as a status: 0,
// kAIFFNotFoundErr, kAIFFChunkLimitErr (not among the first chunks),
// kAIFFBadChunkSizeErr, or the failure of a read.
OSErr FormChunkStatus(ChunkSearch result, OSErr error);

// The 80-bit IEEE 754 extended number of AIFF sample rates, as stored
// (big-endian: sign and 15-bit exponent, then a 64-bit significand).
struct Float80 {
    uint8_t bytes[10];
};

double Ext80ToDbl(const Float80& x);
Float80 DblToExt80(double x);

class CAIFFFile : public CFramedPCMFile {
public:
    CAIFFFile() = default;
    ~CAIFFFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr GetOfflineInfo(OSErr* status) override;

    // A file whose stored samples are wider than the buffer's is only read:
    // both refuse it (-61).
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;

    OSType GetFType() override;
    std::string GetDescription() override;
    bool CanBeSplit() override { return true; }
    std::string SplitExtension() override { return "(.L/.R)"; }
    std::string GetChannelName(short channel) override;

    // Positions the open fork just after the ID of the chunk (for "FORM", the
    // file's first four bytes); the status of LocateChunk.
    OSErr FindID(uint32_t id);

    // Chunk operations, each returning a status.
    virtual OSErr ReadMarkers();
    virtual OSErr WriteMarkers();
    virtual OSErr ReadLoops();
    virtual OSErr WriteLoopsAndSamplerInfo();
    virtual OSErr ReadSamplerInfo();
    virtual OSErr ReadCOMM();
    virtual OSErr WriteCOMM();
    virtual OSErr ReadChannelDescriptor();
    virtual OSErr WriteChannelDescriptor();
    virtual OSErr ReadRegions();
    virtual OSErr WriteRegions();

    // Probes of input detection, which need no object. ProbeChunk finds a chunk
    // after the FORM header of a source (its FORM size aside): 0 with its header,
    // kAIFFBadChunkSizeErr for a chunk passed over with a negative size, else
    // kAIFFChunkLimitErr. FindChunk does so on a stream for a four-character id
    // ("FORM": the first four bytes) and leaves the stream after the ID.
    static OSErr ProbeChunk(ByteSource& source, uint32_t id, ChunkHeader* found);
    static OSErr FindChunk(const std::string& id, std::istream& in);
    // The channel count of the AIFF file at a path; throws error_code_exception.
    static short ReadNumChannels(const std::string& path);

    uint32_t GetChannelLayoutTag() const { return channelLayoutTag_; }

protected:
    // Bytes per sample as stored (word size / 8, or the wider stored size) and per frame.
    uint32_t BytesPerSample() const {
        if (storedSampleBytes_) return storedSampleBytes_;
        return static_cast<uint32_t>(wordSize_ >= 8 ? wordSize_ / 8 : 0);
    }
    uint64_t BytesPerFrame() const { return static_cast<uint64_t>(BytesPerSample()) * channels_; }

    // The layout of the samples for the framed base: big-endian integers, turned
    // only for the plain data type (24-in-32 and Sonic data are read as stored);
    // a created file's narrow samples are written with zeros below their bits.
    uint64_t FrameBytes() const override { return BytesPerFrame(); }
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
    void BufferToStored(unsigned char* data, uint64_t bytes) const override;
    OSErr FinishFile() override { return FinishHeader(); }
    OSErr CloseNotOpenErr() const override { return kFileNotOpenErr; }
    OSErr NotOpenErr() const override { return kFileNotOpenErr; }

    // The part of ReadCOMM shared with AIFF-C: refuses a COMM without channels or
    // with a word size outside 8..32 and, when COMM's frames cannot fit in the
    // FORM, takes the count from SSND.
    OSErr CheckCommonAndFrames();
    // Finds SSND, checks its size and reads offset and block size: sets the data
    // start. A frame count larger than the data bytes really present is cut to
    // the frames there; the count COMM gave stays as the declared one.
    OSErr ReadSoundDataHeader();
    // The chunks after the FORM header, for the searches: from offset 12 up to
    // the FORM's end (the first one whatever that says), at most
    // kMaxChunksSearched, none passed over with a negative size.
    virtual ChunkLayout FormLayout() const;
    // The chunk with the ID after the FORM header: 0 with its header, or
    // kAIFFNotFoundErr, kAIFFChunkLimitErr (not among the first chunks),
    // kAIFFBadChunkSizeErr or the failure of a read. While an opening keeps the
    // list of its chunks (chunks_), the search looks there.
    OSErr LocateChunk(uint32_t id, ChunkHeader* found);
    // "FORM" at the start of the open fork: 0, kAIFFNotFoundErr or the read's failure.
    OSErr CheckForm();
    // Exactly `count` bytes at `position` of the open fork: 0, or -39 when they
    // are not all there (nothing is read then), or the failure of the read.
    OSErr ReadAt(uint64_t position, void* out, size_t count);
    // Opens the fork for reading (the framed base's step), checks "FORM" and
    // takes the FORM end.
    OSErr OpenForm();
    // Checks "FORM" on the open fork and takes the FORM end. A file that does not
    // begin with "FORM" (or holds fewer than four bytes) gives NoFormErr().
    OSErr ReadFormHeader();
    // The status of an opened file that lacks its FORM header: kAIFFNoFormErr.
    virtual OSErr NoFormErr() const { return kAIFFNoFormErr; }
    // The steps every Create shares: checks, the base step, the file (made
    // exclusively and remembered as made by this object) and the fields. A word
    // size that is not whole bytes is kept in the next whole byte, left-justified,
    // and declared with its own size.
    OSErr BeginCreate(short channels, short wordSize, float sampleRate, void* specifics,
                      const unsigned char* extension);
    // Writes the SSND header at the current position; the data start follows it.
    OSErr WriteSoundDataHeader();
    // Step 2 of Close: pad byte, COMM, INST, MARK, 'regn', SSND and FORM sizes.
    OSErr FinishHeader();

    OSErr WriteAt(uint32_t position, const void* data, int count);
    OSErr AppendAtEnd(const void* data, int count);
    // The frame count's bytes: frames x channels x bytes per sample.
    uint64_t DataBytes() const { return static_cast<uint64_t>(numFrames_) * BytesPerFrame(); }

    // The sample size COMM declares: the word size, or the narrower size a
    // created file was asked for.
    short DeclaredBits() const { return writtenBits_ ? writtenBits_ : wordSize_; }

    uint32_t formEnd_ = 0;
    // Bytes of a stored sample when the file's samples are wider than the
    // buffer's (64-bit floats read as 32-bit integers); 0 when they are as wide.
    // Such a file is only read.
    uint32_t storedSampleBytes_ = 0;
    // The sample size of a created file whose samples are narrower than their
    // whole bytes (20 bits in 3 bytes); 0 when the word size is whole bytes.
    short writtenBits_ = 0;
    uint32_t channelLayoutTag_ = 0;
    // The chunk list of an opening (KeptChunks::Scope), for its many searches.
    KeptChunks chunks_;
    // True once this object has made its file (only such a file is ever deleted by it).
    bool madeFile_ = false;

private:
    // Adds a plain marker for a loop end point; the ID it has in the list.
    int32_t AddLoopMarker(const char* name, uint32_t position);
    // Takes the position of the marker with the ID and removes the marker.
    bool TakeLoopMarker(int16_t id, uint32_t* position);
    // The 20 data bytes of INST.
    OSErr ReadInstrument(uint8_t (&data)[20]);
};

// Fills a marker's type, number and name from a MARK chunk's name text: with
// `numbered`, "#<number> <name>" gives a numbered marker (type 1); otherwise the
// whole text names a plain one (type 2).
void NameMarker(SFTMarker* marker, const uint8_t* name, size_t length, bool numbered);
