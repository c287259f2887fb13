// Case dispatch: the case code, the pipeline table and CConvSpec::Run; the
// checks before a run for Creative Voice inputs and outputs.
#include "engine/case_dispatch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "engine/pipelines_group0.h"
#include "engine/pipelines_interleave.h"
#include "engine/pipelines_mono.h"
#include "engine/pipelines_split.h"
#include "formats/chunk_reader.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/xwqf.h"
#include "soundfile/sample_conversion.h"
#include "soundfile/snippet_file.h"
#include "soundfile/split_file.h"
#include "soundfile/surround_file.h"
#include "soundfile/type_codes.h"

namespace {

constexpr OSType kVocType = FourCC("VOC ");
constexpr OSType kVoc2Type = FourCC("VOC2");

// The Creative Voice header keeps the offset of the first block at byte 20.
constexpr int kVocFirstBlockOffsetAt = 20;
// Block types that hold or stand for sound: data, continuation, silence, repeat.
constexpr uint8_t kVocTerminatorBlock = 0;
constexpr bool IsCountedVocBlock(uint8_t type) {
    return type == 1 || type == 2 || type == 3 || type == 6;
}

// Creative Voice rates: 1000000 / (256 - 8-bit constant) and, for the extended
// block, 256000000 / (65536 - 16-bit constant) / channels; the highest rates the
// nearest-rate functions take before they step one constant further.
constexpr double kVocTimeBase = 1000000.0;
constexpr uint32_t kVocTimeBaseHz = 1000000;
constexpr double kVocExtendedTimeBase = 256000000.0;
constexpr uint32_t kVocExtendedTimeBaseHz = 256000000;
constexpr uint32_t kVocHighestRate = 20000;
constexpr uint32_t kVoc16HighestRate = 44100;

// The pipelines by case code: Run000 (copy and format change), Run001..Run011
// (group 0), Run016..Run043 (interleave and split), Run048..Run107 (mix, left,
// right and per-configuration). Low parts 12 to 15 have none.
std::array<PipelineFunc, kNumCaseCodes> gPipelines = [] {
    std::array<PipelineFunc, kNumCaseCodes> table{};
    const PipelineFunc groups[][12] = {
        {&Run000, &Run001, &Run002, &Run003, &Run004, &Run005,  //
         &Run006, &Run007, &Run008, &Run009, &Run010, &Run011},
        {&Run016, &Run017, &Run018, &Run019, &Run020, &Run021,  //
         &Run022, &Run023, &Run024, &Run025, &Run026, &Run027},
        {&Run032, &Run033, &Run034, &Run035, &Run036, &Run037,  //
         &Run038, &Run039, &Run040, &Run041, &Run042, &Run043},
        {&Run048, &Run049, &Run050, &Run051, &Run052, &Run053,  //
         &Run054, &Run055, &Run056, &Run057, &Run058, &Run059},
        {&Run064, &Run065, &Run066, &Run067, &Run068, &Run069,  //
         &Run070, &Run071, &Run072, &Run073, &Run074, &Run075},
        {&Run080, &Run081, &Run082, &Run083, &Run084, &Run085,  //
         &Run086, &Run087, &Run088, &Run089, &Run090, &Run091},
        {&Run096, &Run097, &Run098, &Run099, &Run100, &Run101,  //
         &Run102, &Run103, &Run104, &Run105, &Run106, &Run107},
    };
    for (size_t group = 0; group < std::size(groups); ++group)
        std::copy(std::begin(groups[group]), std::end(groups[group]), table.begin() + 16 * group);
    return table;
}();

// Codes that can have a pipeline: low parts 0 to 11 of the groups 0 to 96.
bool HasPipelineSlot(int code) {
    return code >= 0 && code < kNumCaseCodes && (code & 15) < 12;
}

bool IsVocType(OSType type) {
    return type == kVocType || type == kVoc2Type;
}

// The files that hold an input's data: the file itself, the file a snippet
// shows, the members of a split pair or surround set.
void CollectDataFiles(CSoundFile* file, std::vector<CSoundFile*>* out) {
    if (!file) return;
    if (auto* snippet = dynamic_cast<CSnippetFile*>(file)) {
        CollectDataFiles(snippet->GetInnerFile(), out);
    } else if (auto* pair = dynamic_cast<CSplitFile*>(file)) {
        for (CSoundFile* member : pair->GetMemberList()) CollectDataFiles(member, out);
    } else if (auto* set = dynamic_cast<CSurroundFile*>(file)) {
        for (CSoundFile* member : set->GetMembers()) CollectDataFiles(member, out);
    } else {
        out->push_back(file);
    }
}

// a x b, held at the largest value instead of wrapping.
uint64_t SaturatingMul(uint64_t a, uint64_t b) {
    uint64_t r;
    return MulChecked(a, b, &r) ? r : std::numeric_limits<uint64_t>::max();
}

// A count from a double: truncated, 0 below zero or when not a number, held
// at `cap`.
uint64_t TruncatedCount(double value, uint64_t cap) {
    if (!(value > 0)) return 0;
    if (value >= static_cast<double>(cap)) return cap;
    return static_cast<uint64_t>(value);
}

// Frames a compacted output keeps: the region blocks widened by the margin on
// both sides and joined when their margins meet, each capped at the end of the
// file (the start is not floored, so a block at the very start counts its whole
// margin). The query position moves forward with every block read, so the walk
// ends on any regions, empty, inverted or past the end of the file included.
// 0 with the count when the walk ran out of blocks, else the failure.
OSErr CompactedFrames(CSoundFile* in, int64_t margin, uint64_t* counted) {
    const int64_t frames = in->GetNumSFrames();
    *counted = 0;
    int64_t query = -1;
    for (;;) {
        if (query > INT32_MAX) return kNoMoreRegionsErr;
        uint32_t s = 0, e = 0;
        if (OSErr err = in->GetNextBlock(static_cast<uint32_t>(query), &s, &e)) return err;
        const int64_t start = s;
        int64_t end = std::max<int64_t>(e, s);
        int64_t cursor = start + 1;  // past the start of every block taken so far
        OSErr walkEnd = 0;
        for (;;) {
            const int64_t next = std::max(end, cursor);
            if (next > INT32_MAX) {
                walkEnd = kNoMoreRegionsErr;
                break;
            }
            uint32_t s2 = 0, e2 = 0;
            if (OSErr err = in->GetNextBlock(static_cast<uint32_t>(next), &s2, &e2)) {
                walkEnd = err;
                break;
            }
            if (static_cast<int64_t>(s2) - margin > end + margin) break;
            cursor = static_cast<int64_t>(s2) + 1;
            end = std::max<int64_t>(end, e2);
        }
        const int64_t cappedEnd = std::min(end + margin, frames);
        const int64_t kept = cappedEnd - (start - margin);
        if (kept > 0) *counted += static_cast<uint64_t>(kept);
        if (walkEnd) return walkEnd;
        query = std::max(cappedEnd + 1, cursor);
    }
}

}  // namespace

int CaseCode(CSoundFile* in, CConvSpec* spec) {
    const bool rate = spec->GetNeedsSRateConversion() != 0;
    int code = (rate ? 1 : 0) + (spec->GetNeedsGain() ? 2 : 0) + (spec->GetNeedsStrip() ? 4 : 0) +
               (spec->GetNeedsExtraction() ? 8 : 0);
    if (spec->GetNeedsChannelTreat()) code |= spec->GetChannelTreat() * 16;
    if (rate && in->GetSampleRate() == spec->GetSampleRate()) code -= 1;
    return code;
}

PipelineFunc GetPipeline(int code) {
    if (!HasPipelineSlot(code)) return nullptr;
    return gPipelines[static_cast<size_t>(code)];
}

PipelineFunc SetPipeline(int code, PipelineFunc pipeline) {
    if (!HasPipelineSlot(code)) return nullptr;
    return std::exchange(gPipelines[static_cast<size_t>(code)], pipeline);
}

short CConvSpec::Run(CSoundFile* in) {
    SetHasValidMax(0);
    const int code = CaseCode(in, this);
    const PipelineFunc pipeline = GetPipeline(static_cast<int16_t>(code));
    if (!pipeline) {
        CORVANE_DLOG("fatal error: calculated non-existing case: " << code);
        return kParamErr;
    }
    return pipeline(in, this);
}

OSErr CheckForMultipleDataBlocksInVocFile(int forkRef) {
    const auto endIsNoError = [](OSErr err) -> OSErr { return err == kEOFErr ? 0 : err; };
    uint8_t offset[2];
    int count = sizeof offset;
    if (OSErr err = XWQF::SetPos(forkRef, XWQF::kFromStart, kVocFirstBlockOffsetAt))
        return endIsNoError(err);
    if (OSErr err = XWQF::Read(forkRef, &count, offset)) return endIsNoError(err);
    if (OSErr err = XWQF::SetPos(forkRef, XWQF::kFromStart, LoadLE16(offset)))
        return endIsNoError(err);

    // Every step reads a 4-byte head, so the count ends at the end of the file.
    int blocks = 0;
    OSErr ended = 0;
    while (blocks < 2) {
        uint8_t head[4];
        count = sizeof head;
        if ((ended = XWQF::Read(forkRef, &count, head)) != 0) break;
        if (head[0] == kVocTerminatorBlock) break;
        if (IsCountedVocBlock(head[0])) ++blocks;
        const int length = head[1] | (head[2] << 8) | (head[3] << 16);
        if ((ended = XWQF::SetPos(forkRef, XWQF::kFromMark, length)) != 0) break;
    }
    if (blocks >= 2) return kVocFragmentedInputErr;
    return endIsNoError(ended);
}

OSErr ResolveForRun(CSoundFile* in, CConvSpec* spec) {
    const OSType inType = in->GetFType();
    const OSType outType = spec->GetNeedsStrictFType() ? spec->GetOutputFType() : inType;

    const short treat = spec->GetChannelTreat();
    const uint64_t channels = spec->GetNeedsChannelTreat() && treat != 0
                                  ? (treat == kChannelTreatInterleave ? 2 : 1)
                                  : static_cast<uint64_t>(std::max<short>(in->GetNumChannels(), 0));
    const short bits = spec->GetNeedsNewWordLength() ? spec->GetWordLength() : in->GetWordSize();
    const uint64_t bytes = bits > 0 ? Bits2Bytes(static_cast<uint16_t>(bits)) : 0;
    // The rate ratio, truncated (0 when downsampling); 1 when no ratio can be had.
    uint64_t ratio = 1;
    if (spec->GetNeedsSRateConversion()) {
        const double r = spec->GetSampleRate() / in->GetSampleRate();
        if (std::isfinite(r)) ratio = TruncatedCount(r, UINT32_MAX);
    }

    OSErr result = 0;
    if (IsVocType(inType)) {
        std::vector<CSoundFile*> files;
        CollectDataFiles(in, &files);
        for (CSoundFile* f : files) {
            if ((result = CheckForMultipleDataBlocksInVocFile(f->GetFileRefNum())) != 0) break;
        }
    }
    if (!IsVocType(outType)) return result;

    const uint64_t frames = in->GetNumSFrames();
    if (spec->GetNeedsStrip()) {
        const double marginFrames =
            static_cast<double>(spec->GetStripMargin()) * in->GetSampleRate() / 1000.0;
        const int64_t margin = static_cast<int64_t>(TruncatedCount(marginFrames, INT32_MAX));
        uint64_t counted = 0;
        const OSErr walk = CompactedFrames(in, margin, &counted);
        if (result == 0) {
            if (walk == kNoMoreRegionsErr) {
                const uint64_t estimate =
                    SaturatingMul(SaturatingMul(SaturatingMul(bytes, channels), ratio), counted);
                if (estimate > kMaxVocBlockBytes) result = kVocOutputTooLargeErr;
            } else {
                result = walk;
            }
        }
    }
    if (spec->GetNeedsExtraction()) {
        if (result == 0 && in->GetNumRegions() > 0) {
            uint64_t longest = 0;
            for (uint16_t i = 0; i < in->GetNumRegions(); ++i) {
                SFTRegion region;
                if (OSErr err = in->GetIndRegion(i, &region)) {
                    result = err;
                    break;
                }
                if (region.end > region.start)
                    longest = std::max<uint64_t>(
                        longest, static_cast<uint64_t>(int64_t(region.end) - region.start));
            }
            if (SaturatingMul(SaturatingMul(bytes, channels), longest) > kMaxVocBlockBytes)
                result = kVocOutputTooLargeErr;
        }
    } else if (frames > kMaxVocBlockBytes) {
        result = kVocOutputTooLargeErr;
    }
    return result;
}

uint32_t ClosestVOCSRate(double rate) {
    // NaN and rates at or below 0 stand where rates close to 0 go: constant 0.
    const double exact = rate > 0 ? 256.0 - kVocTimeBase / rate : 0.0;
    // The constant is a byte: rates from about 666667 Hz up take 255, which
    // keeps both divisors at 1 or more.
    const uint32_t constant =
        static_cast<uint32_t>(std::min(std::round(std::max(0.0, exact)), 255.0));
    const uint32_t closest = kVocTimeBaseHz / (256 - constant);
    if (closest <= kVocHighestRate) return closest;
    return kVocTimeBaseHz / std::max<uint32_t>(1, 255 - constant);
}

uint32_t ClosestVOC16SRate(double rate) {
    const double exact = rate > 0 ? 65536.0 - kVocExtendedTimeBase / (2.0 * rate) : 0.0;
    // The constant has 16 bits: rates above 256 MHz take the highest, 65535,
    // rather than wrapping round to the lowest rate.
    const uint32_t constant =
        static_cast<uint32_t>(std::min(std::round(std::max(0.0, exact)), 65535.0));
    const uint32_t closest = kVocExtendedTimeBaseHz / (65536 - constant) / 2;
    // Above the limit the constant is at least 62634, so one less stays positive.
    if (closest <= kVoc16HighestRate) return closest;
    return kVocExtendedTimeBaseHz / (65536 - (constant - 1)) / 2;
}

std::string CreateOutputhPathString(CConvSpec* spec, const std::string& name) {
    const std::optional<std::string> folder = QFPath::PathFromFSRef(spec->GetParentRef());
    if (!folder) return std::string();
    return name.empty() ? *folder : *folder + "/" + name;
}
