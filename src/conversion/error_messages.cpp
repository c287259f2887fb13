#include "conversion/error_messages.h"

#include <algorithm>
#include <array>
#include <limits>
#include <mutex>

namespace {

struct CatalogueEntry {
    short code;
    short errorClass;
    const char* text;
};

constexpr const char* kNewerClient =
    "RealAudio: You need a newer client to access this server. Please upgrade.";
constexpr const char* kPlayerLibraryError = "RealAudio: Error in the player library.";
constexpr const char* kEncoderError = "G2 Encoder reported an error";

constexpr std::array kCatalogue = std::to_array<CatalogueEntry>({
    // Format families, from the last block up. Ascending order throughout: the
    // lookup is a binary search.
    {-24702, 1, "input file must be mono or stereo"},
    {-24701, 1, "combination of bit rate and sample rate not allowed for stereo files"},
    {-24700, 1, "combination of bit rate and sample rate not allowed for mono files"},
    {-24602, 1, "the mp3 encoder (lame) was not found, could not be started or failed"},
    {-24601, 1, "has more than two channels (MP3)"},
    // Legacy streaming encoder (nothing raises these any more); codes without a
    // text of their own fall back to kEncoderError.
    {-24515, 1, "G2 Encoder found an illegal audio quality setting"},
    {-24509, 1, "G23 Encoder could not get an audio sample"},
    {-24503, 1, "G2 Build Engine failed"},
    {-24502, 1, "Input file could not be opened"},
    {-24501, 1, "the output file name appeared empty"},
    {-24500, 1, "RealAudio G2 Encoding Libraries not found"},
    // Platform media framework, audio CD images, PARIS, IMA, A-law, MPEG.
    {-24204, 1, "could not be encoded by the media library"},
    {-24203, 1, "cannot be written: this platform has no encoder for the chosen file type"},
    {-24202, 1, "QuickTime: no audio track in file"},
    {-24201, 1, "QuickTime 3.0 is not installed"},
    {-24102, 1, "Audio-CD read error"},
    {-24101, 1, "missed matching audio in CD-Track overlaps"},
    {-24100, 1, "can't be created as an Audio CD track"},
    {-24002, 1, "Paris does not take more than one channel"},
    {-24001, 1, "can't find paf header in Paris file"},
    {-24000, 1, "Paris data format not recognised"},
    {-23900, 1, "has incompatible # channels"},
    {-23804, 1, "IMA 4:1 does not take more than two channels"},
    {-23803, 1, "Cannot get soundconverter buffers, increase mem"},
    {-23801, 1, "No Soundmanager 3.2, Cannot convert to IMA 4:1 "},
    {-23800, 1, "this compression type is unsupported (AIFC)"},
    {-23704, 1, "has no SND chunk(Next/Sun alaw)"},
    {-23702, 1, "has no SND chunk(Next/Sun alaw)"},
    {-23701, 1, "has fragmented data (Next/Sun alaw)"},
    {-23700, 1, "Next/Sun alaw format not recognised"},
    {-23614, 2, "MPEG codecs out of memory"},
    {-23613, 1, "has more than two channels (MPEG1)"},
    {-23612, 1, "is stereo: incompatible with this bitrate MPEG1 L II "},
    {-23611, 1, "is mono or split: MPEG1 L II bitrate too high"},
    {-23610, 1, "is stereo: incompatible with 32kBit MPEG1 L I"},
    {-23605, 2, "Disk full"},
    {-23604, 1, "has incompatible samplerate for MPEG"},
    {-23602, 1, "output path is too long for MPEG"},
    {-23601, 1, "output path is too long for MPEG"},
    // Legacy streaming player and its library (nothing raises these any more);
    // library codes without a text of their own fall back to kPlayerLibraryError.
    {-23595, 1, "'/' in RealAudio filenames is illegal"},
    {-23594, 1, "the PNPlayer50.Lib is not installed"},
    {-23593, 1, "output path is too long for RealAudio"},
    {-23592, 1, "has incompatible samplerate (RealAudio)"},
    {-23591, 1, "selected RealAudio encoder was not found"},
    {-23590, 1, "RealAudio encoding and playing is not supported on 68k Macs"},
    {-23587, 1, "RealAudio: No RealAudio Codecs have been installed on your system."},
    {-23572, 1, "RealAudio: Unknown error."},
    {-23535, 1, kNewerClient},
    {-23533, 1, kNewerClient},
    {-23528, 1, "RealAudio: Server timeout. Server not responding."},
    {-23502, 1, "RealAudio: Out of memory."},
    {-23501, 1, "RealAudio: General error. An error occurred"},
    // Sound resources, AIFC, MS ADPCM, split pairs, AVR and the PCM formats.
    {-23406, 1, "has incompatible wordSize (must be 8 or 16 bit)"},
    {-23405, 1, "has incompatible samplerate (must be under 48000Hz)"},
    // What the 'snd ' resource reader finds in a damaged or foreign resource
    // concerns that one input.
    {-23404, 1, "System 7 sounds with multiple data types are not supported"},
    {-23403, 1, "undocumented System 7 sound format"},
    {-23402, 1, "System 7 sounds other than sampled ones are not supported"},
    {-23401, 0, "System 7 sound format 2 is not supported"},
    {-23400, 1, "System 7 sound bigger than 16 MB"},
    {-23303, 1, "has bad Loop-Marker connection"},
    {-23302, 1, "lacks COMM chunk (AIFC)"},
    {-23301, 1, "lacks SSND chunk (AIFC)"},
    {-23300, 1, "lacks FORM chunk (AIFC)"},
    {-23207, 1, "has incompatible # channels"},
    {-23206, 1, "a predictor is out of range (MS ADPCM)"},
    {-23205, 1, "lacks fact chunk (MS ADPCM)"},
    {-23204, 1, "has unsupported data (MS ADPCM)"},
    {-23202, 1, "has bad DATA chunksize (MS ADPCM)"},
    {-23201, 1, "lacks FMT chunk (MS ADPCM)"},
    {-23200, 1, "lacks DATA chunk (MS ADPCM)"},
    {-23103, 1, "left file of split hase no right counterpart"},
    {-23102, 1, "left part of split not inited"},
    {-23101, 1, "right part of split not inited"},
    {-23100, 1, "split stereo file not consistent"},
    {-23015, 5, "was already processed with left file"},
    {-23003, 1, "has incompatible wordSize (must be 8 or 16 bit)"},
    {-23002, 1, "has bad header (AVR)"},
    {-22904, 1, "has incompatible wordsize"},
    {-22903, 1, "has incompatible samplerate"},
    {-22902, 1, "has bad header (NeXT.au)"},
    {-22901, 1, "has fragmented data (NeXT.au)"},
    {-22900, 3, "has unsupported data (NeXT.au)"},
    {-22804, 3, "wordsize passed to create != 1 (8SVX)"},
    {-22803, 1, "has incompatible # channels"},
    {-22802, 1, "lacks FORM chunk (IFF/8SVX)"},
    {-22801, 1, "lacks BODY chunk (IFF/8SVX)"},
    {-22800, 1, "lacks VHDR chunk (IFF/8SVX)"},
    {-22704, 1, "has bad DATA chunksize (WAVE)"},
    {-22703, 1, "lacks FMT chunk (WAVE)"},
    {-22702, 1, "lacks DATA chunk (WAVE)"},
    {-22701, 1, "has fragmented data (WAVE)"},
    {-22700, 1, "has unsupported data"},
    {-22604, 1, "has fragmented data (NeXT)"},
    {-22603, 1, "has incompatible wordsize"},
    {-22602, 1, "has bad header (NeXT/SUN)"},
    {-22601, 1, "has incompatible samplerate"},
    {-22600, 1, "has unsupported data (NeXT)"},
    {-22505, 1, "lacks word size string from resource fork (SDII)"},
    {-22504, 1, "lacks # channels string from resource fork (SDII)"},
    {-22503, 1, "lacks sample rate string from resource fork (SDII)"},
    {-22502, 1, "lacks resource fork (SDII)"},
    {-22501, 1, "has bad marker resource (SDII)"},
    {-22500, 1, "has bad loop resource (SDII)"},
    {-22406, 1, "lacks type 8 chunk (VOC SB)"},
    {-22405, 1, "lacks FMT chunk (VOC SB)"},
    {-22404, 3, "has incompatible wordsize"},
    {-22403, 1, "has incompatible samplerate"},
    {-22400, 1, "has no linear data (VOCSB)"},
    {-22305, 1, "has fragmented data (VOC)"},
    {-22304, 1, "lacks FMT chunk (VOC)"},
    {-22303, 1, "has incompatible samplerate"},
    {-22302, 1, "has incompatible # channels"},
    {-22301, 1, "has no linear data (VOC)"},
    {-22300, 3, "has incompatible wordsize"},
    {-22206, 1, "has incompatible wordsize"},
    {-22205, 1, "has incompatible samplerate"},
    {-22204, 1, "has bad chunk structure or truncated data (AIFF)"},
    {-22203, 1, "has bad Loop-Marker connection"},
    {-22202, 1, "lacks COMM chunk (AIFF)"},
    {-22201, 1, "lacks SSND chunk (AIFF)"},
    {-22200, 1, "lacks FORM chunk (AIFF)"},
    {-22101, 1, "has incompatible wordSize (must be 8 or 16 bit)"},
    {-22100, 1, "has incompatible # channels"},
    // Sound-file base.
    {-22026, 0, "failed to create a temp file"},
    {-22024, 1, "is a link to a missing file"},
    {-22023, 1, "cannot be read: input/output error"},
    {-22022, 1, "cannot be read: permission denied"},
    {-22021, 1, "name was not extended, it was too long"},
    {-22020, 1, "has incompatible # channels"},
    {-22019, 1, "has incompatible samplerate"},
    {-22018, 1, "original of alias was not found"},
    {-22017, 1, "CreateSoundfile failed (-22017)"},
    {-22011, 3, "no disk file"},
    {-22010, 1, "has empty dataFork"},
    {-22009, 1, "has corrupt chunksize"},
    {-22008, 1, "has unknown file format"},
    {-22007, 3, "No valid sampler info"},
    {-22006, 3, "Wrong channel specified"},
    {-22005, 3, "File not opened"},
    {-22004, 3, "Chunk not in file"},
    {-22003, 2, "No buffer allocated"},
    {-22002, 3, "Wrong region specified"},
    {-22001, 3, "Wrong loop specified"},
    {-22000, 3, "Wrong marker specified"},
    // Application.
    {-21005, 1, "sample word size is not supported for playback"},
    {-21004, 2, "Could not create pointer/handle"},
    {-21003, 1, "was aliased to something within itself"},
    {-21001, 2, "Outputfolder was located in inputfolder"},
    // Conversion steps and the batch driver.
    {-20034, 2, "cannot write into folder"},
    {-20033, 1, "could not be listed"},
    {-20032, 1, "Not enough RAM for fade in and out, increase mem"},
    {-20029, 2, "User stopped Corvane"},
    {-20025, 1, "has more than two channels : no gain change"},
    {-20020, 1, "has unsupported wordsize"},
    {-20008, 1, "would yield a fragmented vocfile"},
    {-20003, 3, "No next region found"},
    {-20002, 3, "No block of regions found"},
    {-20001, 3, "Wrong channel specified"},
    {-20000, 1, "lacks regions to extract/compact"},
    // System codes.
    {-2019, 2, "User cancelled conversion"},
    {-1309, 1, "is too large (2 GB or more)"},
    {-128, 2, "User cancelled conversion"},
    {-108, 2, "Out of memory"},
    {-49, 1, "is already open"},
    {-48, 1, "duplicate filename error"},
    {-43, 2, "Expected input file not found"},
    {-40, 1, "was accessed before its start"},
    {-39, 1, "unexpected end of file"},
    {-37, 1, "has too long a name for .L/.R"},
    {-34, 2, "Disk full"},
    // Codes raised as positive numbers.
    {24204, 1, "no QuickTime export format specified"},
    {25000, 1, "corrupt CCITT G.729 file"},
    {25001, 1, "not recognized as a CCITT G.729 file"},
});

constexpr bool ByCode(const CatalogueEntry& a, const CatalogueEntry& b) {
    return a.code < b.code;
}
static_assert(std::is_sorted(kCatalogue.begin(), kCatalogue.end(), ByCode),
              "the catalogue must stay in ascending order of code");
static_assert(std::adjacent_find(kCatalogue.begin(), kCatalogue.end(),
                                 [](const CatalogueEntry& a, const CatalogueEntry& b) {
                                     return a.code == b.code;
                                 }) == kCatalogue.end(),
              "a code may appear only once");

// Ranges of the legacy streaming blocks whose codes share one text.
struct CatalogueRange {
    short low;
    short high;
    const char* text;
};

constexpr CatalogueRange kSharedRanges[] = {
    {-24514, -24504, kEncoderError},
    {-23587, -23579, kPlayerLibraryError},
    {-23574, -23574, kPlayerLibraryError},
    {-23572, -23501, kPlayerLibraryError},
};

// The code whose text names the folder that refused a write last.
constexpr short kFolderNotWritableCode = -20034;

std::mutex gUnwritableFolderMutex;
std::string gUnwritableFolder;

}  // namespace

void SetUnwritableFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gUnwritableFolderMutex);
    gUnwritableFolder = folder;
}

short MakeErrorMessage(int code, std::string& text) {
    text.clear();
    if (code < std::numeric_limits<short>::min() || code > std::numeric_limits<short>::max())
        return kErrorClassUnknown;
    const CatalogueEntry key{static_cast<short>(code), 0, nullptr};
    const auto it = std::lower_bound(kCatalogue.begin(), kCatalogue.end(), key, ByCode);
    if (it != kCatalogue.end() && it->code == code) {
        text = it->text;
        if (code == kFolderNotWritableCode) {
            std::lock_guard<std::mutex> lock(gUnwritableFolderMutex);
            if (!gUnwritableFolder.empty()) text += " '" + gUnwritableFolder + "'";
        }
        return it->errorClass;
    }
    for (const CatalogueRange& range : kSharedRanges) {
        if (code >= range.low && code <= range.high) {
            text = range.text;
            return kErrorClassFile;
        }
    }
    return kErrorClassUnknown;
}
