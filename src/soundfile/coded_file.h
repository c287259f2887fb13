// The base of the formats whose samples are encoded (ADPCM, G.72x, G.729, MPEG,
// mp3 and the formats written through the media framework). Such a format cannot
// take blocks of samples in any order, so while a conversion writes it the
// samples go, as 16-bit PCM, into a temporary sound file beside the output, and
// the temporary file is encoded in one pass when the coded file is closed.
//
// The protocol a coded format follows, with the pieces this class supplies:
//  1. Create: the CSoundFile::Create step, the format's own checks, the real
//     output, then CreateTemporaryFile, which makes the temporary file through
//     the factory ('Temp' unless told otherwise), binds it to a unique hidden
//     name in the output's folder (see TemporaryNameStem), creates it
//     exclusively as 16-bit PCM with the output's channels and rate, and marks
//     the coded file open.
//  2. Writing: InitOutputBuffer, RefreshOutputBuffer and FlushOutputBuffer pass
//     to the temporary file, and the output-buffer field points at its buffer,
//     so the Write and Add loops fill the temporary file. While it is written the
//     coded file describes itself as that file does: 16-bit PCM. Reads pass to
//     it too (InitInputBuffer here, RefreshTemporaryInput from the format's
//     RefreshInputBuffer), so that a finished output can be faded in place.
//  3. Close: EncodeTemporaryFile encodes the temporary file block by block
//     through EncodeBlock when something was written and discard on close is not
//     set, reporting a progress step and each block's position; a non-zero
//     position result (the user cancelled: -128) stops it. On every path, failure
//     and cancel included, the temporary file is destroyed and its file removed.
//     The format then finishes and closes its real output.
#pragma once

#include <cstdint>
#include <string>

#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

// The temporaries beside the outputs are hidden and carry the machine tag and
// the process id, as the output placeholders do, so that a later batch can
// tell those of ended processes of this machine:
// ".<identifier>-<machine tag>-<process id>.<ten letters or digits>", followed
// by the extension the temporary file's type adds, if any.
//
// The start of such a name for this process:
// "." identifier "-" machine tag "-" process id.
std::string TemporaryNameStem(const std::string& identifier);
// True when `name` is a temporary's name this program makes (its identifier is
// "mpegtemp", "mp3temp", "TempFile" or begins with "com.quillfen."); the
// process id and machine tag it carries go to *pid and *tag (each may be null).
bool FindTemporaryName(const std::string& name, int64_t* pid, std::string* tag = nullptr);

// Makes a new, unbound sound-file object for a type code; null when none can be
// made. The coded files make their temporary file through it.
using TempSoundFileMaker = CSoundFile* (*)(OSType type);

// Replaces the maker of temporary files (tests set a stand-in) and returns the
// one it replaces. Null restores the default, CSoundFile::CreateSoundFile.
TempSoundFileMaker SetTempSoundFileMaker(TempSoundFileMaker maker);

class CCodedFile : public CSoundFile {
public:
    CCodedFile() = default;
    // Destroys the temporary file when one is still held.
    ~CCodedFile() override;

    bool NeedsCodingOnClose() override { return true; }

    using CSoundFile::Create;
    // Creates an output coded straight from a source file in one pass. The base
    // performs the CSoundFile::Create step with the extension and takes the
    // source's length as the output's; the numbers are not used.
    virtual OSErr Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                         void* specifics, const unsigned char* extension);

    // While the output is written, what is read comes back from the temporary
    // file (so the fades of a finished output read what was written): the input
    // buffer is the temporary file's. Without one, the base operation.
    using CSoundFile::InitInputBuffer;
    OSErr InitInputBuffer() override;

    // Output buffer traffic goes to the temporary file while there is one.
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    void DisposeBuffer() override;
    void SetSFTBufferSize(uint32_t frames) override;

    // The temporary file while it exists (null otherwise), and its path.
    CSoundFile* GetTemporaryFile() const { return temp_; }
    const std::string& GetTemporaryPath() const { return tempPath_; }

protected:
    // Step 1 of the protocol. The name is <folder of the output>/.<identifier>-
    // <process id>.<random characters>, made exclusively (a taken name is tried
    // again with other characters). -22017 when no object can be made; a
    // failure to bind or create it is returned after the object is destroyed
    // and nothing is left on disk. An object of type 'Temp' deletes its own
    // file when destroyed; for any other type the file is deleted here.
    OSErr CreateTemporaryFile(const std::string& identifier, short channels, float sampleRate,
                              OSType type = FourCC("Temp"));

    // As CreateTemporaryFile, with the temporary file in `folder` (not beside the
    // output) and holding `wordSize`-bit samples; the coded file then describes
    // itself as that file does.
    OSErr CreateTemporaryFileIn(const std::string& folder, const std::string& identifier,
                                short channels, short wordSize, float sampleRate,
                                OSType type = FourCC("Temp"));

    // Step 3 of the protocol, for the format's Close: encodes the temporary file
    // when the coded file is open, something was written and discard on close is
    // not set, then destroys the temporary file. The first failure, or 0.
    OSErr EncodeTemporaryFile(const unsigned char* stepText);

    // True when Close will encode: open, written to, not discarded, a temporary file.
    bool IsEncodingDue() const;

    // Encodes one block of the temporary file: `frames` frames of interleaved
    // native 16-bit samples with the coded file's channel count, starting at frame
    // `position`. A coded format that writes supplies it; the base refuses (-50).
    virtual OSErr EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t position);

    // The input side of the temporary file, for a format's RefreshInputBuffer
    // while the temporary file exists: its block at `frame` becomes the input
    // buffer. -22005 when there is no temporary file.
    OSErr RefreshTemporaryInput(uint32_t frame);

    // Destroys the temporary file and removes it from disk.
    void DestroyTemporaryFile();

    // The end of the samples held for coding, for a format's SetEndOfFile while
    // its output is written: when `frames` lies past the end of the temporary
    // file, the file is extended with silence to it (and placed there); the coded
    // file's frame count follows the temporary file's. Nothing is cut; without a
    // temporary file (an output coded from a source) nothing changes.
    OSErr ExtendTemporaryFile(uint32_t frames);

    // After an operation passed to the temporary file (its input side too):
    // the buffer fields point at the temporary file's buffers as they now are.
    void MirrorTemporaryBuffers();

private:
    OSErr EncodeBlocks(const unsigned char* stepText);
    // Clears the buffer fields that point into the temporary file.
    void ForgetTemporaryBuffer();
    void TakeTemporaryBuffer();

    CSoundFile* temp_ = nullptr;
    std::string tempPath_;
    // The temporary file was created on disk by this object.
    bool tempMade_ = false;
    // Destroying the temporary object removes its file itself.
    bool tempDeletesItself_ = false;
    // The buffer of the temporary file the buffer fields point at, or null.
    unsigned char* borrowed_ = nullptr;
};
