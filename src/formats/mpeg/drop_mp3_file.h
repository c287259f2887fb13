// mp3 files written by the external encoder program (lame). While a conversion
// writes, the samples go as 16-bit PCM into a temporary WAVE file beside the
// output; closing the file runs the encoder on it, started directly with an
// argument vector (no shell), reads its progress through a pipe, and deletes
// the temporary file. A failing or stopped encoder leaves no output behind.
//
// The statics find the program (over the shared probe), read its version and
// its genre list, and launch it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "formats/mp3_encoder_probe.h"
#include "platform/property_list.h"
#include "soundfile/coded_file.h"

// Status codes of the mp3 writer.
enum : int {
    kMP3TooManyChannelsErr = -24601,  // three or more channels
    // The encoder could not be found or started, failed, was killed, or wrote no
    // output. A problem of this one file: the batch goes on.
    kLameEncoderFailedErr = -24602,
};

// What the argument vector is made from.
struct LameArgumentInputs {
    plist::Value options;       // the "QFOutputSpecifics" dictionary
    std::string inputFilePath;  // the conversion's current input ("XWCurInputFilePath")
    double sampleRate = 44100;
    int channels = 2;
    unsigned bitRate = 128;      // kbit/s
    std::string stereoModeText;  // the 21-byte Pascal string from the type's block
    std::string pcmPath;         // the file the encoder reads
    std::string outputPath;      // the file it writes
};

// The encoder's arguments (without the program itself), one element per option
// and value, in the order the encoder is given them; the two paths come last,
// a relative one led by "./" so that it cannot be taken for an option.
// Diagnostics for invalid settings go to standard error.
std::vector<std::string> BuildLameArguments(const LameArgumentInputs& inputs);

// True when tags are to be written ("LAMEWriteID3Tags" absent or YES).
bool LameWritesID3Tags(const plist::Value& options);
// The ID3v2 tag to put in front of the output, or null when tags are not written
// or there is no whole tag (its header's size matching its length).
const plist::Bytes* LameTagBlobToPrepend(const plist::Value& options);

// The number in a progress line "... (NN%) ...": the integer between the first
// "(" and the "%" that follows it (blanks before the digits allowed); -1 when
// the line has none of that shape.
int LameProgressPercent(const std::string& line);

// The genre list the encoder prints for --genre-list: one "<number> <name>" per
// line; malformed lines and a name cut off by the end of the text are dropped.
std::map<std::string, int> ParseLameGenreList(const std::string& text);

// Puts `tag` in front of the file's content: -24602 when it cannot be done (the
// file may then be damaged: the caller deletes it).
OSErr PrependToFile(const std::string& path, const plist::Bytes& tag);

// Makes the encoding use this program instead of probing for one (tests and
// callers that already chose it); an empty path restores the probe.
void SetLameEncoderPathOverride(const std::string& path);

class CDropMP3File : public CCodedFile {
public:
    CDropMP3File() = default;
    ~CDropMP3File() override;

    // ---- The encoder program
    // True when any candidate file of the probe exists, whatever its version.
    static bool LAMEEncoderAvailable();
    // Probes again; the path of the newest versioned program found so far (empty
    // when none ever answered).
    static std::string LAMEEncoderPath();
    static LameVersion LAMEEncoderVersion(const std::string& path);
    // The genre list (name -> number), read from the program at `path` on the
    // first call only; later calls return the same list.
    static const std::map<std::string, int>& LAMEEncoderGenreList(const std::string& path);
    // Runs the program with the arguments, reporting each "(NN%)" line with
    // SetProgressPercentage. 0 when it exits with status 0; -128 or -2019 when a
    // stop was asked for (the program and all it started are ended first);
    // -24602 when it cannot be started, exits otherwise or dies by a signal.
    static OSErr LAMEEncoderLaunch(const std::string& path,
                                   const std::vector<std::string>& arguments);

    // ---- The sound-file operations
    OSErr Open() override { return 0; }
    // `wordSize` is the bit rate in kbit/s; `specifics` the type's block.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // Encodes straight from `source`, which the encoder then reads itself.
    OSErr Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                 void* specifics, const unsigned char* extension) override;
    // Closes the temporary file, encodes it (unless the object is discarded),
    // deletes it, and answers the encoding's status.
    OSErr Close() override;

    // While the output is written, the temporary file's block at `frame`
    // (InitInputBuffer is the coded-file base's); otherwise nothing is read.
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr SetFilePos(uint32_t) override { return 0; }
    OSErr GetOfflineInfo(OSErr*) override { return 0; }
    OSType GetFType() override { return FourCC("DMP3"); }
    std::string GetDescription() override { return "LAME encoded mp3"; }

    // Runs the encoder on the PCM file into the output: the output is made
    // exclusively just before (-48 when it exists), and deleted again on every
    // failure and stop. With an ID3v2 tag to carry over, the tag is put in front
    // of the encoded stream.
    OSErr EncodeWithLame();

private:
    // The file the encoder reads: the temporary file, or the source.
    std::string PCMPath();

    CSoundFile* source_ = nullptr;  // the source of the one-pass form, not owned
    unsigned char stereoModeText_[21] = {};
};
