// A window of frames [start, end) of another sound file, shown as a read-only
// sound file of its own (type code 'Snip'). The snippet owns the file it shows
// (the inner file): it binds, opens, reads and closes through it, and its sample
// buffers are the inner file's. Writing does nothing.
//
// Reads never leave the window: a count that runs past the window's end is cut
// at the end, and a window whose end lies before its start is empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundfile/sound_file.h"

class CSnippetFile : public CSoundFile {
public:
    CSnippetFile() = default;
    // Closes the inner file when the snippet is open, then destroys it.
    ~CSnippetFile() override;

    // Takes ownership of the file to show (a file the snippet held before is
    // destroyed). The window is kept.
    void SetInnerFile(CSoundFile* inner);
    CSoundFile* GetInnerFile() const { return inner_; }
    // Gives the inner file back to the caller, who owns it from then on; the
    // snippet shows nothing afterwards.
    CSoundFile* ReleaseInnerFile();

    // The window in frames of the inner file; the end is exclusive.
    void SetStartFrame(uint32_t frame);
    void SetEndFrame(uint32_t frame);
    uint32_t GetStartFrame() const { return startFrame_; }
    uint32_t GetEndFrame() const { return endFrame_; }

    using CSoundFile::ISoundFile;
    OSErr ISoundFile(const std::string& path) override;
    OSErr ISoundFile(const FSRef* ref) override;
    OSErr ISoundFile(const std::vector<std::string>& paths) override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr Close() override;

    using CSoundFile::Read;
    using CSoundFile::Write;
    OSErr Write(uint32_t start, uint32_t* count, double* interleaved) override;
    OSErr Read(uint32_t start, uint32_t* count, double* left, double* right) override;
    OSErr Read(uint32_t start, uint32_t* count, double* interleaved) override;
    OSErr Read(short channel, uint32_t start, uint32_t* count, double* samples) override;
    OSErr Add(short channel, uint32_t start, uint32_t* count, double* samples) override;

    // end - start, or 0 when the end does not lie after the start.
    uint32_t GetNumSFrames() override;

    OSErr InitInputBuffer() override;
    OSErr InitInputBuffer(const std::string& temporaryPath) override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    void DisposeBuffer() override;
    // The buffers are the inner file's, so their size is set there.
    void SetSFTBufferSize(uint32_t frames) override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override;
    OSErr GetOfflineInfo(OSErr* status) override;
    // Disposes of the inner file with the same keep flag and ends the snippet;
    // the inner file's result.
    OSErr Dispose(unsigned char keep) override;

    OSType GetFType() override;
    std::string GetDescription() override { return "Snippet"; }
    bool NeedsDecodingOnOpen() override;
    int GetChannelConfig() override;
    ChannelConfiguration GetChannelConfiguration() override;

private:
    // The inner file's description, buffer size and buffer, taken after it opened
    // or changed its buffers.
    void TakeInnerDescription();
    // Points the buffer fields at the inner file's input buffer (they never own memory).
    void TakeInnerBuffer();
    void ForgetBuffers();
    // The frames a read from `start` may deliver: the caller's count cut at the window's end.
    uint32_t FramesInWindow(uint32_t start, uint32_t count);
    // The inner file's frame for a snippet frame; false when it lies beyond 32 bits.
    bool InnerFrame(uint32_t frame, uint32_t* inner) const;

    CSoundFile* inner_ = nullptr;
    uint32_t startFrame_ = 0;
    uint32_t endFrame_ = 0;
};
