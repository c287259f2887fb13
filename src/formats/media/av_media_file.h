// The sound file read and written through the media library (FFmpeg): any file
// one of its sound-file demuxers opens (platform::MediaDemuxerWhitelist) and its
// decoders decode is read as 24-bit little-endian interleaved PCM at the
// stream's own rate and channels;
// an output collects its samples in a temporary PCM file and is encoded from it
// when it is closed (AAC in an M4A container here; the platform-codec types
// derived from this class choose their own codec and container).
//
// Reading goes through a disk cache of decoded samples, never through memory:
// a compressed stream is decoded once at Open, which so learns its exact frame
// count; a PCM stream whose container states its length, whose file surely
// holds that many frames' bytes from its first sample on, and whose last
// stated frame the library delivers, is decoded into the cache only as far as
// the reads ask (a length the library estimated from the bit rate is not a
// stated one); other PCM is decoded whole as a compressed stream is. A Core
// Audio Format file's packets that lie in its 'data' chunk's header or edit
// count are no audio. Reads are positioned reads of the cache, so any window
// may be asked for in any order.
//
// A stream decoded whole that falls short of the length its container states
// by more than its padding and skipped samples, or two codec frames, ends
// early: DataEndsEarly answers the decoded and the stated frame counts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/media/export_session.h"
#include "soundfile/coded_file.h"

class QFTempFile;

// Status codes of a media read that fails, each saying what is wrong with the
// file, besides the base's: kFileNotOpenBaseErr for an operation on an object
// that is not open or no media library on this system, kNotASoundFileErr for a
// container no demuxer of the list opens or probes or one it makes no sense
// of (no stream parameters at all), kEOFErr for such a file that ends inside
// what the library read and whose first bytes alone name a demuxer of the list.
enum : int {
    // No decoder for the audio stream, one that will not open, or a stream
    // that decodes to nothing.
    kMediaUnsupportedDataErr = -22700,
    // The container holds no audio stream.
    kMediaNoAudioErr = -24202,
};

class AVFoundationFile : public CCodedFile {
public:
    AVFoundationFile();
    ~AVFoundationFile() override;

    // Reads the file's first audio stream. Besides the codes above: -43 when
    // there is no file, -22022/-22023 when the system refuses or fails a read
    // of it, -22019 for a stated rate below 1 Hz, -22020 for a stated channel
    // count of none or more than a sound file takes, -108 when memory runs
    // out, -1309 for more than 2^32 - 1 frames, -22026 without a cache file.
    OSErr Open() override;
    using CCodedFile::Create;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // Records the output's settings; on Close the output is encoded straight
    // from `source`, which stays the caller's (open, and never deleted).
    OSErr Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                 void* specifics, const unsigned char* extension) override;
    OSErr Close() override;

    // Fills the input buffer from `frame` on; the buffer's frames past the
    // stream's end are silence. -39 when a stream read by its stated length
    // ends before it (its file changed while it is read).
    OSErr RefreshInputBuffer(uint32_t frame) override;
    // Borrows the temporary file's buffer; -22026 when there is no temporary file.
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr GetOfflineInfo(OSErr* status) override;
    bool SampleInBuffer(uint32_t frame) override;
    OSType GetFType() override;
    std::string GetDescription() override;

    // Encodes the written samples into the output; 0 or a status code.
    virtual OSErr ConvertToMovie();
    // Bytes of the audio stream's compressed (or stored) data.
    virtual int64_t AudioDataSize();
    // Marks the object open and written and records rate, channels and the
    // word-size argument as the bit rate (kbit/s per channel).
    virtual OSErr CreateActual(short channels, short wordSize, float sampleRate,
                               void* specifics);

    // The data type the output's codec stands for, as recorded by CreateActual
    // (the buffers always hold the temporary file's PCM).
    short GetCodecDataType() const { return codecDataType_; }
    // Whether the stream read is a compressed one (decoded whole at Open).
    bool IsCompressed() const { return isCompressed_; }

protected:
    // What the export makes: container, encoder and stream bit rate.
    struct ExportFormat {
        const char* muxer;
        const char* encoder;
        int64_t bitRate;  // bits per second of the whole stream; 0: the encoder's choice
    };
    virtual ExportFormat GetExportFormat();
    // False for the types this platform has no encoder for: Create refuses them.
    virtual bool CanBeWritten() { return true; }
    // The word size of the temporary file the samples are collected in.
    virtual short TemporaryWordSize() { return 16; }
    // The progress text shown while the output is encoded (a Pascal string), or null.
    virtual const unsigned char* EncodingStepText() { return nullptr; }

    // Clears the open and header-dirty flags; 0.
    OSErr CloseActual();

    short codecDataType_ = 0;

private:
    struct Reader;
    OSErr DecodeUntil(uint64_t frames);
    void ReleaseReader();
    OSErr CloseWriting();

    std::unique_ptr<Reader> reader_;
    std::unique_ptr<QFTempFile> cache_;
    // Frames held by the cache, and whether the stream is decoded to its end.
    uint64_t cachedFrames_ = 0;
    bool decodedToEnd_ = false;
    bool isCompressed_ = false;
    int32_t framesPerPacket_ = 1;
    int64_t audioDataSize_ = 0;
    // The source of an output created from one (not owned).
    CSoundFile* exportSource_ = nullptr;
};
