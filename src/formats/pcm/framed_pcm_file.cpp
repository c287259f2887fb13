#include "formats/pcm/framed_pcm_file.h"

#include <bit>
#include <cstring>

#include "formats/chunk_reader.h"
#include "formats/pcm/pcm_io.h"

// ---------------------------------------------------------------------------
// Opening, creating, closing

OSErr CFramedPCMFile::OpenForReading() {
    if (IsOpen()) return kFileBusyErr;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) return err;
    open_ = true;
    writable_ = false;
    held_.Forget();
    return 0;
}

OSErr CFramedPCMFile::CreateWritable(short channels, short wordSize, float sampleRate,
                                     void* specifics, const unsigned char* extension) {
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (OSErr err = CreateDataFork(channels, wordSize, sampleRate)) return err;
    writable_ = true;
    return 0;
}

OSErr CFramedPCMFile::Close() {
    if (!IsOpen()) return CloseNotOpenErr();
    held_.Forget();
    const OSErr first = headerDirty_ && writable_ ? FinishFile() : OSErr(0);
    const OSErr closed = XWQF::CloseFork(forkRef_);
    // The descriptor is released whatever close reports.
    forkRef_ = XWQF::kNoFork;
    open_ = false;
    headerDirty_ = 0;
    writable_ = false;
    return first ? first : closed;
}

// ---------------------------------------------------------------------------
// Positioning

OSErr CFramedPCMFile::SetFilePos(uint32_t frame) {
    if (!IsOpen()) return NotOpenErr();
    return pcmio::SeekFrame(forkRef_, dataStart_, FrameBytes(), frame,
                            [this](uint32_t end) { return SetEndOfFile(end); });
}

OSErr CFramedPCMFile::SetEndOfFile(uint32_t frames) {
    if (!IsOpen()) return NotOpenErr();
    if (OSErr err = writable_ ? CheckFrames(frames) : OSErr(0)) return err;
    if (OSErr err = pcmio::ExtendToFrames(forkRef_, dataStart_, FrameBytes(), frames,
                                          SilenceByte(), writable_))
        return err;
    numFrames_ = frames;
    return 0;
}

OSErr CFramedPCMFile::UpdateSize() {
    if (!IsOpen()) return NotOpenErr();
    return pcmio::CountFrames(forkRef_, dataStart_, FrameBytes(), &numFrames_);
}

// ---------------------------------------------------------------------------
// Buffers

OSErr CFramedPCMFile::ReadFrames(uint32_t frame, unsigned char* buffer) {
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t want =
        pcmio::BlockExtent(frame, numFrames_, bufferFrames_, FrameBytes(), bufferBytes);
    uint64_t got = 0;
    // Only the bytes read are turned: the zero-filled rest is silence already.
    return pcmio::RefreshKeeping(
        held_, HeldNow(), buffer, bufferBytes, frame, want,
        [this](uint32_t at) { return SetFilePos(at); },
        [this](unsigned char* data, uint64_t bytes) { StoredToBuffer(data, bytes); }, &got);
}

OSErr CFramedPCMFile::ReadDoubleFrames(uint32_t frame, unsigned char* buffer, bool bigEndian,
                                       double scale) {
    constexpr uint32_t kDoubleBytes = 8;
    held_.Forget();
    const uint64_t bufferBytes = GetRealBufferSize();
    const uint64_t samples =
        pcmio::BlockExtent(frame, numFrames_, bufferFrames_, channels_, bufferBytes / 4);
    if (OSErr err = samples ? SetFilePos(frame) : OSErr(0)) {
        std::memset(buffer, 0, bufferBytes);
        return err;
    }
    uint64_t got = 0;
    return pcmio::ReadNarrowed(
        forkRef_, buffer, bufferBytes, samples, kDoubleBytes, 4,
        [bigEndian, scale](unsigned char* to, const unsigned char* stored, uint64_t n) {
            // Front to back: sample i is read before its 4 bytes are written.
            for (uint64_t i = 0; i < n; ++i) {
                const unsigned char* at = stored + kDoubleBytes * i;
                const double d = std::bit_cast<double>(bigEndian ? LoadBE64(at) : LoadLE64(at));
                const int32_t value = pcmio::SaturatedInt32(d * scale);
                std::memcpy(to + 4 * i, &value, 4);
            }
        },
        &got);
}

OSErr CFramedPCMFile::RefreshInputBuffer(uint32_t frame) {
    if (!IsOpen()) return NotOpenErr();
    if (OSErr err = InitInputBuffer()) return err;
    if (!inputBuffer_) return kMemBlockMissingErr;
    const OSErr err = ReadFrames(frame, inputBuffer_);
    firstBufferedFrame_ = frame;
    return err;
}

OSErr CFramedPCMFile::RefreshOutputBuffer(uint32_t frame) {
    if (!IsOpen()) return NotOpenErr();
    if (OSErr err = InitOutputBuffer()) return err;
    if (!outputBuffer_) return kMemBlockMissingErr;
    const uint32_t frames = OutputFramesInUse();
    const uint64_t bufferFrameBytes =
        static_cast<uint64_t>(wordSize_ >= 8 ? wordSize_ / 8 : 0) * channels_;
    uint64_t got = 0;
    // Positioning past the end extends the file up to the frame; frames not
    // yet in the file are silence.
    const OSErr err = pcmio::RefreshOutputBlock(
        forkRef_, [&] { return SetFilePos(frame); }, outputBuffer_, frame, numFrames_, frames,
        FrameBytes(), frames * bufferFrameBytes, &got);
    StoredToBuffer(outputBuffer_, got);
    firstBufferedFrame_ = frame;
    return err;
}

OSErr CFramedPCMFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
    if (!IsOpen()) return NotOpenErr();
    if (!OutputBufferHolds(frames)) return kParamErr;
    if (!writable_) return kWritePermErr;
    // Refused before anything is written: what the file holds stays whole.
    if (OSErr err = CheckFrames(static_cast<uint64_t>(position) + frames)) return err;
    if (OSErr err = SetFilePos(position)) return err;
    const uint64_t bytes = static_cast<uint64_t>(frames) * FrameBytes();
    BufferToStored(outputBuffer_, bytes);
    return pcmio::WriteFrames(forkRef_, outputBuffer_, bytes, position, frames, &numFrames_);
}
