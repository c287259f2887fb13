// The strip walk: a file's blocks of regions, widened on both sides by a safety
// margin, joined when the widened blocks touch, floored at frame 0 and capped at
// the file's length. The copy steps, the scan, the gain pass and the sample-rate
// conversion steps all walk it, each with its own margin.
//
// The walk always ends and covers every region once: every search starts past
// the start of the last block taken in, so an empty region, one that ends
// before it starts or one past the file's end is never found twice, and the
// regions sharing such a region's start are taken in with it. A widened block
// that would end before it starts (beyond the file's end) is passed over, and a
// block that reaches the file's end is the last, so no frame is given twice.
//
// Use:  StripWalk walk(*file, StripMarginFrames(rate, conversion->GetStripMargin()));
//       while ((r = walk.Next(&start, &end)) == 0) { ...the step's range... }
//       return StripWalkStatus(r);
#pragma once

#include <cstdint>

#include "foundation/errors.h"
#include "soundfile/sound_file.h"

// `marginMs` milliseconds at `rate` Hz in whole frames (rate x ms / 1000,
// truncated); 0 for a margin or rate that is not positive, at most UINT32_MAX.
uint32_t StripMarginFrames(double rate, double marginMs);

// Turns the end of a walk into a step's status: kNoMoreRegionsErr (-20002) is the
// normal end and becomes 0; anything else stays.
inline OSErr StripWalkStatus(OSErr status) {
    return status == kNoMoreRegionsErr ? OSErr(0) : status;
}

class StripWalk {
public:
    // A walk over `file`'s regions with a margin in frames, from before the
    // first frame. Searching on from the end of a block or from one frame past
    // it finds the same blocks, so this one walk serves every step.
    StripWalk(CSoundFile& file, uint32_t margin);

    // The next widened block, frames start <= p < end (start == end for an empty
    // region without margin): 0. At the normal end of the walk kNoMoreRegionsErr
    // (-20002); when reading the regions fails, that status (a block whose joining
    // failed is not given). Once the walk has ended, every call repeats its status.
    OSErr Next(uint32_t* start, uint32_t* end);

    uint32_t Margin() const { return margin_; }

private:
    // GetNextBlock from a signed search position; a position beyond the signed
    // 32-bit range finds nothing.
    OSErr Find(int64_t from, uint32_t* start, uint32_t* end);
    // The end of a block found at `start`: when the block is empty or ends before
    // it starts, the regions beside it with the same start are not merged into it
    // and no search could reach them, so their ends count.
    uint32_t EndWithSiblings(uint32_t start, uint32_t end);

    CSoundFile& file_;
    uint32_t margin_;
    int64_t from_ = -1;
    OSErr ended_ = 0;
};

// Calls range(start, end, &outPos) for each block of the walk, the blocks
// written back to back from output frame 0; the first failure ends the walk and
// is the result.
template <class Range>
OSErr WalkStripBlocks(CSoundFile& file, uint32_t margin, Range range) {
    StripWalk walk(file, margin);
    uint32_t outPos = 0, start = 0, end = 0;
    OSErr err;
    while ((err = walk.Next(&start, &end)) == 0) {
        if (OSErr failed = range(start, end, &outPos)) return failed;
    }
    return StripWalkStatus(err);
}
