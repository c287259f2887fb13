// The strip walk over a file's region blocks.
#include "dsp/strip_walk.h"

#include <algorithm>
#include <cmath>

#include "soundfile/sound_file.h"

uint32_t StripMarginFrames(double rate, double marginMs) {
    const double frames = rate * marginMs / 1000.0;
    if (!(frames > 0.0)) return 0;  // also NaN
    if (frames >= 4294967295.0) return UINT32_MAX;
    return static_cast<uint32_t>(frames);
}

StripWalk::StripWalk(CSoundFile& file, uint32_t margin) : file_(file), margin_(margin) {}

OSErr StripWalk::Find(int64_t from, uint32_t* start, uint32_t* end) {
    // Region starts are compared as signed 32-bit numbers: none lies beyond.
    if (from > INT32_MAX) return kNoMoreRegionsErr;
    return file_.GetNextBlock(static_cast<uint32_t>(static_cast<int32_t>(from)), start, end);
}

uint32_t StripWalk::EndWithSiblings(uint32_t start, uint32_t end) {
    if (end > start) return end;
    for (uint32_t i = 0;; ++i) {
        const QFRegionPtr region = file_.GetIndRegion(i);
        if (!region) return end;
        if (region->start == start) end = std::max(end, region->end);
    }
}

OSErr StripWalk::Next(uint32_t* start, uint32_t* end) {
    while (ended_ == 0) {
        uint32_t blockStart = 0, rawEnd = 0;
        if (OSErr r = Find(from_, &blockStart, &rawEnd)) {
            ended_ = r;
            break;
        }
        // The signed start of the last block taken in: every later search
        // begins past it (and past the block's own end when it has one).
        int64_t taken = static_cast<int32_t>(blockStart);
        int64_t search = std::max<int64_t>(rawEnd, taken + 1);
        uint64_t blockEnd = EndWithSiblings(blockStart, rawEnd);
        const uint64_t reach = 2 * static_cast<uint64_t>(margin_);

        // Join the following blocks that start within two margins of the end.
        OSErr r = 0;
        for (;;) {
            uint32_t nextStart = 0, nextEnd = 0;
            r = Find(search, &nextStart, &nextEnd);
            if (r != 0 || nextStart > blockEnd + reach) break;
            taken = static_cast<int32_t>(nextStart);
            search = std::max<int64_t>(nextEnd, taken + 1);
            blockEnd = std::max<uint64_t>(blockEnd, EndWithSiblings(nextStart, nextEnd));
        }
        if (r != 0 && r != kNoMoreRegionsErr) {
            ended_ = r;
            break;
        }

        // Widen, floored at 0 and capped at the file's length.
        const uint32_t frames = file_.GetNumSFrames();
        const uint32_t widenedStart = std::max(blockStart, margin_) - margin_;
        const uint32_t widenedEnd =
            static_cast<uint32_t>(std::min<uint64_t>(blockEnd + margin_, frames));
        from_ = std::max<int64_t>(int64_t{widenedEnd} + 1, taken + 1);
        // A block that reaches the file's end is the last: what a later search
        // finds (a region merged into this block past the end, say) could only
        // repeat frames already given.
        if (widenedEnd >= frames) from_ = int64_t{INT32_MAX} + 1;
        if (widenedStart > widenedEnd) continue;  // the block lies past the end of the file
        *start = widenedStart;
        *end = widenedEnd;
        return 0;
    }
    return ended_;
}
