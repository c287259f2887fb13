// The RIFF/WAVE container as the WAVE family, Microsoft ADPCM, G.729 and
// detection read and write it: chunk IDs, format tags, the SubFormat GUID and
// the field offsets of the format chunk, the chunk search after the RIFF header,
// and the cue points with their associated data ('cue ', LIST/'adtl') read into
// bounded pieces and written back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "formats/chunk_reader.h"
#include "foundation/errors.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

// Status codes of a search among a RIFF file's chunks.
enum : int {
    kRIFFNotFoundErr = -22004,      // not a RIFF file, or the chunk sought is not there
    kRIFFBadChunkSizeErr = -22009,  // a chunk passed over with a size of 2^31 or more
};

namespace riff {

// ---- Chunk IDs --------------------------------------------------------------

constexpr uint32_t kRIFF = FourCC("RIFF");
constexpr uint32_t kWAVE = FourCC("WAVE");
constexpr uint32_t kFmt = FourCC("fmt ");
// Some writers end the format chunk's ID with a carriage return.
constexpr uint32_t kFmtCR = FourCC("fmt\r");
constexpr uint32_t kFact = FourCC("fact");
constexpr uint32_t kData = FourCC("data");
constexpr uint32_t kLIST = FourCC("LIST");
constexpr uint32_t kCue = FourCC("cue ");
constexpr uint32_t kSmpl = FourCC("smpl");
constexpr uint32_t kInst = FourCC("inst");
constexpr uint32_t kBext = FourCC("bext");
// List types and the sub-chunks of associated data.
constexpr uint32_t kAdtl = FourCC("adtl");
constexpr uint32_t kWavl = FourCC("wavl");
constexpr uint32_t kLabl = FourCC("labl");
constexpr uint32_t kNote = FourCC("note");
constexpr uint32_t kLtxt = FourCC("ltxt");
constexpr uint32_t kRgn = FourCC("rgn ");

// ---- The format chunk -------------------------------------------------------

// Format tags; the SubFormat of the extensible tag begins with one of them.
enum : uint16_t {
    kTagPCM = 0x0001,
    kTagMSADPCM = 0x0002,
    kTagFloat = 0x0003,
    kTagALaw = 0x0006,
    kTagMuLaw = 0x0007,
    kTagMPEG = 0x0050,
    kTagG729A = 0x0083,
    kTagExtensible = 0xFFFE,
};

// Offsets of the fields in the format chunk's data (after its 8-byte header):
// the 16 common bytes, then for the extensible tag the extension size, the
// valid bits, the channel mask and the SubFormat GUID.
enum : uint32_t {
    kFormatTagAt = 0,
    kChannelsAt = 2,
    kSampleRateAt = 4,
    kBytesPerSecondAt = 8,
    kBlockAlignAt = 12,
    kBitsPerSampleAt = 14,
    kExtensionSizeAt = 16,
    kValidBitsAt = 18,
    kChannelMaskAt = 20,
    kSubFormatAt = 24,
    kExtensibleFormatBytes = 40,
};

// SubFormat GUIDs: Data1 (little-endian) is the format tag, the remaining 12
// bytes are these.
constexpr uint8_t kGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                   0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// ---- The chunk search -------------------------------------------------------

// The end of the chunks for the RIFF size read: a size of 0 or one that does not
// fit is a placeholder, and the chunks then run to the end of the file.
uint32_t RiffEnd(uint32_t size);

// The chunks after the RIFF header, from offset 12 up to `end` (the first one
// whatever `end` says), little-endian sizes, at most kMaxChunksSearched, none
// passed over with a size negative as a signed number.
ChunkLayout Layout(uint64_t end);

// A search's outcome as a status: 0, kRIFFNotFoundErr (not there, or not among
// the first chunks), kRIFFBadChunkSizeErr, or the failure of a read.
OSErr SearchStatus(ChunkSearch result, OSErr error);

// True for the statuses of a chunk that is not there to be read.
inline bool IsNotFound(OSErr err) { return err == kRIFFNotFoundErr || err == kRIFFBadChunkSizeErr; }

// The status an opening gives for the reading of its RIFF header: a file that
// does not begin with "RIFF" (or is too short to) is of no format known here.
inline OSErr RiffHeaderStatus(OSErr err) {
    return err == kRIFFNotFoundErr ? OSErr(kNotASoundFileErr) : err;
}

// The `occurrence`-th chunk (from 1) with the ID among the chunks before `end`:
// 0 with its header, else as SearchStatus.
OSErr LocateChunk(ByteSource& source, uint64_t end, uint32_t id, unsigned occurrence,
                  ChunkHeader* found);

// The probe of files that need no object (detection, channel counts): the
// chunk as LocateChunk finds it among all the source's chunks, whatever the
// RIFF size says.
OSErr ProbeChunk(ByteSource& source, uint32_t id, unsigned occurrence, ChunkHeader* found);

// A file's own chunk search (its LocateChunk, which may look in a kept list).
using ChunkLocator = std::function<OSErr(uint32_t id, unsigned occurrence, ChunkHeader* found)>;

// The first LIST whose data begins with the type: 0 with the LIST's header,
// else the status of the search that ended without it.
OSErr FindList(int fork, const ChunkLocator& locate, uint32_t type, ChunkHeader* list);

// ---- Cue points and associated data -----------------------------------------

constexpr uint32_t kCuePointBytes = 24;
// The marker, region and loop lists are indexed with 16 bits: no file adds
// more entries than that.
constexpr uint64_t kMaxListEntries = 0xFFFF;
// The associated data of a list is looked at up to this many bytes.
constexpr uint64_t kMaxAssociatedDataBytes = 16u << 20;
// The most markers and regions taken from one file. Each addition compares with
// every entry already listed (and a region sorts the list again), so more would
// let a crafted file keep opening for minutes.
constexpr size_t kMaxMarkers = 4096;
constexpr size_t kMaxRegions = 1024;

// One cue point: its ID, its play-order position and the frame it marks in the
// data chunk.
struct CuePoint {
    uint32_t id = 0;
    uint32_t position = 0;
    uint32_t sampleOffset = 0;
};

// The cue points a cue chunk (held with its 8-byte header) really holds: no more
// than its count, its size and its bytes allow, at most kMaxListEntries.
std::vector<CuePoint> ReadCuePoints(const uint8_t* chunk, size_t bytes);

// Finds cue points by their ID as a search from the front would: of several
// with one ID the first answers. Each lookup takes constant time, so a file of
// many labels and many cue points is read in time in proportion to them.
class CuePointIndex {
public:
    explicit CuePointIndex(const std::vector<CuePoint>& points);
    // The point with the ID (its index in the list in *index), or null.
    const CuePoint* Find(uint32_t id, size_t* index = nullptr) const;

private:
    const std::vector<CuePoint>& points_;
    std::unordered_map<uint32_t, size_t> byID_;
};

// Calls f(id, body, bodyBytes) for each sub-chunk of associated data. A sub-chunk
// is looked at only when its 8-byte header lies inside the data, and its body is
// cut at the end of the data; the walk stops at the first failure of f.
OSErr ForEachSubChunk(const uint8_t* data, uint32_t size,
                      const std::function<OSErr(uint32_t id, const uint8_t* body, uint32_t bytes)>& f);

// The number of 'ltxt' sub-chunks (regions) in associated data.
uint32_t CountRegionTexts(const std::vector<uint8_t>& adtl);

// A Pascal name of at most 31 bytes from text that ends at its NUL or its room.
void NameFromText(const uint8_t* text, size_t room, unsigned char (&field)[32]);

// The data of the first LIST 'adtl' after its type, as much as the file holds
// and at most kMaxAssociatedDataBytes: 0 with *found the status of the search
// for the list (0, or a status IsNotFound gives true for; *data then empty),
// or the failure of the search or of the read.
OSErr ReadAssociatedData(int fork, const ChunkLocator& locate, std::vector<uint8_t>* data,
                         OSErr* found);

// What a file's cue chunk and its first LIST 'adtl' hold.
struct CueData {
    // The status of the search for the cue chunk; the rest is read only when 0.
    OSErr cueFound = kRIFFNotFoundErr;
    // The status of the search for the list (as ReadAssociatedData's *found).
    OSErr listFound = kRIFFNotFoundErr;
    // The cue chunk with its 8-byte header and as many whole cue points as the
    // lists can take.
    std::vector<uint8_t> cue;
    // The associated data, as ReadAssociatedData reads it.
    std::vector<uint8_t> adtl;
};

// Reads the cue chunk and the associated data: 0 (the searches' outcomes in
// *out), or the failure of a read or of the search for the list.
OSErr ReadCueData(int fork, const ChunkLocator& locate, CueData* out);

// ---- Writing ------------------------------------------------------------------

// Append a little-endian 16- or 32-bit field, or a chunk ID, to a chunk being built.
inline void Put16(std::vector<uint8_t>& out, uint16_t v) {
    uint8_t b[2];
    StoreLE16(b, v);
    out.insert(out.end(), b, b + 2);
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    StoreLE32(b, v);
    out.insert(out.end(), b, b + 4);
}
inline void PutID(std::vector<uint8_t>& out, uint32_t id) {
    uint8_t b[4];
    StoreBE32(b, id);
    out.insert(out.end(), b, b + 4);
}

}  // namespace riff

// Appends to `out` the 'cue ' chunk and the 'LIST' 'adtl' chunk in which the
// WAVE family keeps a file's markers (a cue point and a label each) and regions
// (a cue point at the start and a text giving the length); nothing when the
// file has neither.
OSErr AppendWaveCueChunks(CSoundFile& file, std::vector<uint8_t>* out);
