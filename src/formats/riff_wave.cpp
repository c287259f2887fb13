#include "formats/riff_wave.h"

#include <algorithm>

namespace riff {

uint32_t RiffEnd(uint32_t size) {
    return (size == 0 || size > kProvisionalContainerSize - 8) ? kProvisionalContainerSize
                                                              : size + 8;
}

ChunkLayout Layout(uint64_t end) {
    ChunkLayout layout;
    layout.limit = std::max<uint64_t>(end, layout.first + 1);
    layout.order = ByteOrder::kLittle;
    return layout;
}

OSErr SearchStatus(ChunkSearch result, OSErr error) {
    switch (result) {
        case ChunkSearch::kFound: return 0;
        case ChunkSearch::kBadSize: return kRIFFBadChunkSizeErr;
        case ChunkSearch::kReadFailed: return error;
        case ChunkSearch::kNotThere:
        case ChunkSearch::kTooMany: break;
    }
    return kRIFFNotFoundErr;
}

OSErr LocateChunk(ByteSource& source, uint64_t end, uint32_t id, unsigned occurrence,
                  ChunkHeader* found) {
    if (occurrence < 1) return kRIFFNotFoundErr;
    OSErr error = 0;
    return SearchStatus(SearchChunk(source, Layout(end), id, occurrence, found, &error), error);
}

OSErr ProbeChunk(ByteSource& source, uint32_t id, unsigned occurrence, ChunkHeader* found) {
    return LocateChunk(source, source.Size(), id, occurrence, found);
}

}  // namespace riff
