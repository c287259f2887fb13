// The RIFF/WAVE container as the WAVE family, Microsoft ADPCM and detection
// read it: the chunk search after the RIFF header and the end of the chunks a
// RIFF size gives.
#pragma once

#include <cstdint>

#include "formats/chunk_reader.h"
#include "foundation/errors.h"
#include "soundfile/type_codes.h"

// Status codes of a search among a RIFF file's chunks.
enum : int {
    kRIFFNotFoundErr = -22004,      // not a RIFF file, or the chunk sought is not there
    kRIFFBadChunkSizeErr = -22009,  // a chunk passed over with a size of 2^31 or more
};

namespace riff {

constexpr uint32_t kRIFF = FourCC("RIFF");
constexpr uint32_t kWAVE = FourCC("WAVE");

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

// The `occurrence`-th chunk (from 1) with the ID among the chunks before `end`:
// 0 with its header, else as SearchStatus.
OSErr LocateChunk(ByteSource& source, uint64_t end, uint32_t id, unsigned occurrence,
                  ChunkHeader* found);

// The probe of files that need no object (detection, channel counts): the
// chunk as LocateChunk finds it among all the source's chunks, whatever the
// RIFF size says.
OSErr ProbeChunk(ByteSource& source, uint32_t id, unsigned occurrence, ChunkHeader* found);

}  // namespace riff
