// Sound resources ('sfil'): a sound kept as a 'snd ' resource in a file's
// resource fork, which lives in the AppleDouble sidecar "._name". Reading takes
// the first 'snd ' resource of the fork (format 1 or 2, standard or extended
// sound header); writing lays out a whole fork holding one format 1 resource
// with an extended header, in memory, and stores it in the sidecar on Close.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundfile/sound_file.h"

// Status codes of sound resources.
enum : int {
    kSndRsrcTooLargeErr = -23400,         // sample data would exceed 16,777,215 bytes
    kSndRsrcNotSampledErr = -23402,       // format 1 whose data type is not sampled sound
    kSndRsrcUnknownFormatErr = -23403,    // resource format or header encoding not known
    kSndRsrcDataTypesErr = -23404,        // format 1 with more than one data type
    kSndRsrcRateTooHighErr = -23405,      // writing: sample rate above 48000 Hz
    kSndRsrcWordSizeErr = -23406,         // sample size other than 8 or 16 bits
    kSndRsrcUnsupportedDataErr = -22700,  // compressed header; no channels or no rate
};

class CSndRsrcFile : public CSoundFile {
public:
    // The most sample bytes a resource takes: its offsets in the fork have 24 bits.
    static constexpr uint32_t kMaxSampleBytes = 0xFFFFFF;

    ~CSndRsrcFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr Close() override;
    // Opens and closes again; the count of regions is 0 (a resource has none).
    OSErr GetOfflineInfo(OSErr* regionCount) override;

    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override;
    // Makes a file being written hold `frames` frames (never fewer than it
    // holds); the frame count then follows what it holds.
    OSErr SetEndOfFile(uint32_t frames);

    // Reads the first 'snd ' resource of the fork into the description.
    OSErr ReadInfo();

    OSType GetFType() override;
    std::string GetDescription() override;

    // Where the samples begin: within the resource when reading, within the
    // fork when writing.
    uint32_t GetDataOffset() const { return dataOffset_; }

private:
    uint32_t BytesPerSample() const { return wordSize_ == 8 ? 1u : 2u; }
    uint64_t FrameBytes() const { return static_cast<uint64_t>(BytesPerSample()) * channels_; }
    // The stored byte of a silent sample.
    uint8_t SilenceByte() const { return wordSize_ == 8 ? 0x80 : 0x00; }
    // Stored samples to the buffer form, in place; the same operation turns them back.
    void TurnSamples(unsigned char* data, uint64_t bytes) const;
    // Fills `buffer` from the frame on, from the bytes held, in the buffer form.
    void FillBuffer(uint32_t frame, unsigned char* buffer);
    // The fork image of a new file: header, resource length and sound header.
    void WriteSoundHeader();
    // Finishes the image: the final header, lengths, sound header and map.
    void UpdateSoundHeader();
    void PutSoundHeader(uint8_t* at) const;

    // Reading: the resource's bytes; writing: the whole fork as it will be stored.
    std::vector<uint8_t> bytes_;
    uint32_t dataOffset_ = 0;
    // The byte position SetFilePos last chose in bytes_.
    uint32_t position_ = 0;
    // True for a file this object created (only such a fork is ever stored).
    bool writable_ = false;
};
