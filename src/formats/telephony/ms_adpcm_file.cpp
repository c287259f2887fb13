#include "formats/telephony/ms_adpcm_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "formats/pcm/pcm_io.h"
#include "formats/pcm/wave_file.h"
#include "formats/telephony/coded_source.h"
#include "foundation/pstring.h"

namespace {

using namespace riff;

// The format chunk: the common fields, the extension's size, the frames per
// block and the number of coefficient pairs; 22 bytes before the pairs, 4
// bytes a pair.
constexpr uint32_t kSamplesPerBlockAt = 18;
constexpr uint32_t kCoefCountAt = 20;
constexpr uint32_t kFmtFixedBytes = 22;
// Block sizes and frames per block are 16-bit fields read back as signed numbers.
constexpr int32_t kMaxBlockField = 32767;
// Per channel, a block header holds an index byte, a delta and two samples.
constexpr int32_t kHeaderBytesPerChannel = 7;
// Delta past this is of no real file; it keeps the decoder's arithmetic in range.
constexpr int64_t kMaxDecodeDelta = INT32_MAX / 768;
// The header this class writes: RIFF, the format chunk with seven pairs, fact, data.
constexpr uint32_t kFmtBytes = kFmtFixedBytes + 4 * CMSADPCMFile::kStandardCoefs;
constexpr uint32_t kFactOffset = 12 + 8 + kFmtBytes;
constexpr uint32_t kDataHeaderOffset = kFactOffset + 12;
constexpr uint32_t kHeaderBytes = kDataHeaderOffset + 8;

constexpr const char* kTempIdentifier = "com.quillfen.msadpcm";
constexpr const char* kEncodingStep = "encoding to MicroSoft ADPCM wave file";

int16_t Clamp16(int64_t v) {
    return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
}

// Frames per block of `align` bytes with `channels` channels.
int32_t FramesPerBlock(int32_t align, int32_t channels) {
    return ((align - kHeaderBytesPerChannel * channels) * 8) / (4 * channels) + 2;
}

}  // namespace

const int16_t CMSADPCMFile::kStandardCoefTable[kStandardCoefs][2] = {
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

const int16_t CMSADPCMFile::gaiP4[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                         768, 614, 512, 409, 307, 230, 230, 230};

CMSADPCMFile::~CMSADPCMFile() {
    if (forkRef_ != XWQF::kNoFork) XWQF::CloseFork(forkRef_);
    forkRef_ = XWQF::kNoFork;
}

// ---------------------------------------------------------------------------
// Chunks

OSErr CMSADPCMFile::Locate(uint32_t id, short n, ChunkHeader* found) {
    if (forkRef_ == XWQF::kNoFork) return kFileNotOpenErr;
    OSErr err = 0;
    if (id == kRIFF) {
        ForkSource source(forkRef_);
        if (source.status()) return source.status();
        uint8_t raw[8];
        err = source.ReadAt(0, raw, sizeof raw);
        if (err) return err == kEOFErr ? OSErr(kRIFFNotFoundErr) : err;
        if (LoadBE32(raw) != kRIFF) return kRIFFNotFoundErr;
        *found = ChunkHeader{kRIFF, LoadLE32(raw + 4), 0};
    } else {
        if (n < 1) return kRIFFNotFoundErr;
        const uint64_t end = static_cast<uint64_t>(std::max<int64_t>(searchEnd, 0));
        ChunkSearch result = ChunkSearch::kNotThere;
        OSErr error = 0;
        if (chunks_.Find(forkRef_, id, static_cast<unsigned>(n), found, &result, &error))
            return riff::SearchStatus(result, error);
        // Nothing kept for this fork: walk it.
        ForkSource source(forkRef_);
        if (source.status()) return source.status();
        err = riff::LocateChunk(source, end, id, static_cast<unsigned>(n), found);
    }
    return err;
}

OSErr CMSADPCMFile::FindID(uint32_t id, short n) {
    ChunkHeader found;
    if (OSErr err = Locate(id, n, &found)) return err;
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(found.offset + 4));
}

riff::ChunkLocator CMSADPCMFile::Locator() {
    return [this](uint32_t id, unsigned n, ChunkHeader* found) {
        return Locate(id, static_cast<short>(std::min<unsigned>(n, INT16_MAX)), found);
    };
}

OSErr CMSADPCMFile::ReadRiffHeader() {
    ChunkHeader header;
    if (OSErr err = Locate(kRIFF, 1, &header)) return err;
    searchEnd = static_cast<int64_t>(header.size) + 8;
    return 0;
}

// ---------------------------------------------------------------------------
// The format chunk

OSErr CMSADPCMFile::Readfmt() {
    ChunkHeader fmt;
    OSErr err = Locate(kFmt, 1, &fmt);
    if (err) err = Locate(kFmtCR, 1, &fmt);
    if (err) return kMSADPCMNoFmtErr;
    ForkSource source(forkRef_);
    if (source.status()) return source.status();
    std::vector<uint8_t> body;
    if ((err = ReadChunkData(source, fmt, kFmtFixedBytes + 4 * kMaxCoefs, &body)) != 0)
        return err;
    if (body.size() < 2 || LoadLE16(body.data() + kFormatTagAt) != kTagMSADPCM)
        return kMSADPCMUnsupportedErr;
    if (body.size() < kFmtFixedBytes) return kMSADPCMUnsupportedErr;
    const uint32_t channels = LoadLE16(body.data() + kChannelsAt);
    const uint32_t rate = LoadLE32(body.data() + kSampleRateAt);
    const int32_t align = LoadLE16(body.data() + kBlockAlignAt);
    const int32_t perBlock = LoadLE16(body.data() + kSamplesPerBlockAt);
    const int coefCount = LoadLE16(body.data() + kCoefCountAt);
    // Refused before anything is allocated or divided by.
    if (channels < 1 || channels > 2) return kMSADPCMChannelsErr;
    const int32_t c = static_cast<int32_t>(channels);
    if (rate == 0 || coefCount < 1 || coefCount > kMaxCoefs ||
        body.size() < kFmtFixedBytes + 4u * static_cast<uint32_t>(coefCount) ||
        align < kHeaderBytesPerChannel * c || perBlock < 2 || perBlock > FramesPerBlock(align, c))
        return kMSADPCMUnsupportedErr;

    channels_ = channels;
    sampleRate_ = rate;
    wordSize_ = 16;
    numCoef = coefCount;
    for (int i = 0; i < coefCount; ++i) {
        coefs[i][0] = static_cast<int16_t>(LoadLE16(body.data() + kFmtFixedBytes + 4 * i));
        coefs[i][1] = static_cast<int16_t>(LoadLE16(body.data() + kFmtFixedBytes + 4 * i + 2));
    }
    blockAlign = align;
    samplesPerBlock = perBlock;

    ChunkHeader fact;
    if (Locate(kFact, 1, &fact) != 0) return kMSADPCMNoFactErr;
    uint8_t frames[4];
    if (fact.size < 4 || source.ReadAt(fact.offset + 8, frames, sizeof frames) != 0)
        return kMSADPCMBadFactErr;

    ChunkHeader data;
    err = Locate(kData, 1, &data);
    if (err == kRIFFNotFoundErr) return kMSADPCMNoDataErr;
    if (err) return err;
    // The data as far as the file holds it, and no more frames than its blocks hold.
    dataOffset = static_cast<uint32_t>(data.offset + 8);
    const uint64_t there = source.Size() > dataOffset ? source.Size() - dataOffset : 0;
    dataSize = static_cast<uint32_t>(std::min<uint64_t>(data.size, there));
    numFrames_ = static_cast<uint32_t>(
        std::min<uint64_t>(LoadLE32(frames), FramesInBytes(dataSize)));
    // A data chunk the file holds in part: the frames its size and the fact
    // chunk state are kept.
    const uint64_t declared = std::min<uint64_t>(LoadLE32(frames), FramesInBytes(data.size));
    declaredFrames_ = declared > numFrames_ ? static_cast<uint32_t>(declared) : 0;
    return 0;
}

uint64_t CMSADPCMFile::FramesInBytes(uint64_t bytes) const {
    if (blockAlign <= 0 || channels_ == 0) return 0;
    const uint64_t align = static_cast<uint64_t>(blockAlign);
    const uint64_t header = kHeaderBytesPerChannel * uint64_t{channels_};
    uint64_t frames = bytes / align * static_cast<uint64_t>(samplesPerBlock);
    const uint64_t rest = bytes % align;
    if (rest >= header)
        frames += std::min<uint64_t>(static_cast<uint64_t>(samplesPerBlock),
                                     (rest - header) * 2 / channels_ + 2);
    return frames;
}

OSErr CMSADPCMFile::Writefmt() {
    std::vector<uint8_t> h;
    PutID(h, kFmt);
    Put32(h, kFmtBytes);
    Put16(h, kTagMSADPCM);
    Put16(h, static_cast<uint16_t>(channels_));
    Put32(h, static_cast<uint32_t>(pcmio::TruncatedRate(sampleRate_)));
    const double perSecond = std::trunc(blockAlign * (sampleRate_ / samplesPerBlock));
    Put32(h, static_cast<uint32_t>(std::clamp(perSecond, 0.0, 4294967295.0)));
    Put16(h, static_cast<uint16_t>(blockAlign));
    Put16(h, 4);
    Put16(h, kFmtBytes - 18);
    Put16(h, static_cast<uint16_t>(samplesPerBlock));
    Put16(h, kStandardCoefs);
    for (const auto& pair : kStandardCoefTable) {
        Put16(h, static_cast<uint16_t>(pair[0]));
        Put16(h, static_cast<uint16_t>(pair[1]));
    }
    PutID(h, kFact);
    Put32(h, 4);
    Put32(h, numFrames_);
    return pcmio::WriteAt(forkRef_, 12, h.data(), static_cast<int>(h.size()));
}

// ---------------------------------------------------------------------------
// Opening and markers

OSErr CMSADPCMFile::Open() {
    if (IsOpen()) return kFileBusyErr;
    dataType_ = 8;
    source_ = nullptr;
    discardOnClose_ = false;
    decodedBlock_ = UINT64_MAX;
    FSRef ref{path_};
    if (OSErr err = XWQF::OpenFork(&ref, XWQF::kPermRead, &forkRef_)) {
        forkRef_ = XWQF::kNoFork;
        return err;
    }
    open_ = true;
    writing_ = false;
    OSErr err = riff::RiffHeaderStatus(ReadRiffHeader());
    const KeptChunks::Scope listed(chunks_, err ? XWQF::kNoFork : forkRef_,
                                   riff::Layout(static_cast<uint64_t>(searchEnd)));
    if (err == 0) err = Readfmt();
    if (err) {
        CloseFork();
        return err;
    }
    err = ReadExtras();
    if (!GetSkipBadRegion()) {
        const OSErr unique = KillDuplicateRegionNames();
        if (err == 0) err = unique;
    }
    return err;
}

OSErr CMSADPCMFile::GetOfflineInfo(OSErr* numRegions) {
    if (numRegions) *numRegions = 0;
    short count = 0;
    const bool wasOpen = open_;
    const OSErr err = pcmio::ReadOnSecondFork(path_, &forkRef_, [&] {
        open_ = true;
        OSErr e = riff::RiffHeaderStatus(ReadRiffHeader());
        if (e == 0) e = Readfmt();
        if (e == 0) e = ReadNumRegions(&count);
        return e;
    });
    open_ = wasOpen;
    if (numRegions) *numRegions = count;
    return err;
}

OSErr CMSADPCMFile::ReadNumRegions(short* count) {
    if (!count) return kParamErr;
    *count = 0;
    if (!IsOpen()) return kFileNotOpenBaseErr;
    try {
        std::vector<uint8_t> data;
        OSErr found = 0;
        if (OSErr err = ReadAssociatedData(forkRef_, Locator(), &data, &found)) return err;
        const uint32_t regions = CountRegionTexts(data);
        *count = static_cast<short>(std::min<uint32_t>(regions, INT16_MAX));
        return 0;
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CMSADPCMFile::ReadExtras() {
    if (!IsOpen()) return kFileNotOpenBaseErr;
    try {
        CueData cue;
        OSErr err = ReadCueData(forkRef_, Locator(), &cue);
        if (err) return err;
        // A cue chunk that cannot be found, for whatever reason, adds nothing.
        if (cue.cueFound == 0)
            err = ADTLToExtras(cue.cue.data(), static_cast<uint32_t>(cue.cue.size()), cue.adtl.data(),
                               static_cast<uint32_t>(cue.adtl.size()));
        if (err == 0 && GetNumRegions() == 0) err = AddWholeFileRegion();
        return err;
    } catch (const error_code_exception& e) {
        return static_cast<OSErr>(e.error_code());
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CMSADPCMFile::ADTLToExtras(const uint8_t* cueChunk, uint32_t cueBytes, const uint8_t* adtl,
                                 uint32_t size) {
    // The cue points the chunk holds: by its count, its length and its bytes.
    const std::vector<CuePoint> points = ReadCuePoints(cueChunk, cueBytes);
    if (!adtl || size == 0) return 0;
    const CuePointIndex byID(points);
    const uint64_t frames = numFrames_;
    int32_t item = 0;
    return ForEachSubChunk(adtl, size, [&](uint32_t id, const uint8_t* body, uint32_t bytes) -> OSErr {
        if ((id == kLabl || id == kNote) && bytes >= 4) {
            const CuePoint* p = byID.Find(LoadLE32(body));
            if (p && markers_.size() < kMaxMarkers) {
                SFTMarker marker{};
                marker.id = item;
                marker.position = p->position;
                NameFromText(body + 4, bytes - 4, marker.name);
                marker.type = 2;
                marker.number = -1;
                if (OSErr err = AddMarker(&marker)) return err;
                ++item;
            }
        } else if (id == kLtxt && bytes >= 8) {
            if (const CuePoint* p = byID.Find(LoadLE32(body))) {
                const uint64_t start = p->position;
                const uint64_t end = start + LoadLE32(body + 4);
                const bool whole = start == 0 && end == frames;
                if (!whole && end <= frames && regions_.size() < kMaxRegions) {
                    SFTRegion region{};
                    region.id = item;
                    region.start = static_cast<int32_t>(start);
                    region.end = static_cast<int32_t>(end);
                    region.sync = region.start;
                    char name[40];
                    std::snprintf(name, sizeof name, "Region nmbr %li", static_cast<long>(item));
                    NameToField(name, region.name);
                    if (OSErr err = AddRegion(&region)) return err;
                }
                ++item;
            }
        }
        return 0;
    });
}

OSErr CMSADPCMFile::WriteExtras() {
    try {
        std::vector<uint8_t> chunks;
        if (OSErr err = AppendWaveCueChunks(*this, &chunks)) return err;
        if (chunks.empty()) return 0;
        return pcmio::AppendAtEnd(forkRef_, chunks.data(), static_cast<int>(chunks.size()));
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

// ---------------------------------------------------------------------------
// The codec

int CMSADPCMFile::adpcmEncode4Bit_FirstDelta(int c1, int c2, const int16_t* s, uint32_t stride) {
    auto at = [&](int i) { return static_cast<int64_t>(s[static_cast<size_t>(i) * stride]); };
    int64_t sum = 0;
    for (int k = 0; k < 3; ++k) {
        const int64_t prediction = (at(k + 1) * c1 + at(k) * c2) >> 8;
        sum += std::abs(prediction - at(k + 2));
    }
    // The delta is stored as a signed 16-bit field.
    return static_cast<int>(std::clamp<int64_t>(sum / 12, 16, 32767));
}

OSErr CMSADPCMFile::adpcmDecode4Bit(const uint8_t* block, size_t bytes, int16_t* out,
                                    uint32_t* frames) const {
    *frames = 0;
    const uint32_t c = channels_;
    if (c < 1 || c > 2 || bytes < kHeaderBytesPerChannel * c) return 0;
    int c1[2], c2[2];
    int64_t delta[2], s1[2], s2[2];
    for (uint32_t ch = 0; ch < c; ++ch) {
        const int index = block[ch];
        if (index >= numCoef) return kMSADPCMPredictorErr;
        c1[ch] = coefs[index][0];
        c2[ch] = coefs[index][1];
        delta[ch] = static_cast<int16_t>(LoadLE16(block + c + 2 * ch));
        s1[ch] = static_cast<int16_t>(LoadLE16(block + 3 * c + 2 * ch));
        s2[ch] = static_cast<int16_t>(LoadLE16(block + 5 * c + 2 * ch));
        out[ch] = static_cast<int16_t>(s2[ch]);
        out[c + ch] = static_cast<int16_t>(s1[ch]);
    }
    const uint64_t held = (bytes - kHeaderBytesPerChannel * c) * 2 / c + 2;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(samplesPerBlock, held));
    const uint8_t* codes = block + kHeaderBytesPerChannel * c;
    size_t k = 0;
    for (uint32_t f = 2; f < n; ++f) {
        for (uint32_t ch = 0; ch < c; ++ch, ++k) {
            const int nibble = (k & 1) ? codes[k / 2] & 0x0F : codes[k / 2] >> 4;
            const int code = nibble >= 8 ? nibble - 16 : nibble;
            const int64_t prediction = (s1[ch] * c1[ch] + s2[ch] * c2[ch]) >> 8;
            const int16_t sample = Clamp16(prediction + delta[ch] * code);
            delta[ch] = std::clamp<int64_t>((gaiP4[nibble] * delta[ch]) >> 8, 16, kMaxDecodeDelta);
            s2[ch] = s1[ch];
            s1[ch] = sample;
            out[static_cast<size_t>(f) * c + ch] = sample;
        }
    }
    *frames = n;
    return 0;
}

size_t CMSADPCMFile::adpcmEncode4Bit(const int16_t* in, uint32_t frames, uint8_t* out) const {
    const uint32_t c = channels_;
    // A block of fewer than five frames is read as if padded with silence.
    int16_t padded[5 * 2] = {};
    const int16_t* s = in;
    if (frames < 5) {
        std::memcpy(padded, in, static_cast<size_t>(frames) * c * sizeof(int16_t));
        s = padded;
    }
    int index[2] = {0, 0};
    int firstDelta[2] = {16, 16};
    for (uint32_t ch = 0; ch < c; ++ch) {
        uint64_t best = UINT64_MAX;
        for (int i = 0; i < kStandardCoefs; ++i) {
            const int k1 = kStandardCoefTable[i][0], k2 = kStandardCoefTable[i][1];
            const int d0 = adpcmEncode4Bit_FirstDelta(k1, k2, s + ch, c);
            int32_t delta = d0;
            int32_t p1 = s[c + ch], p2 = s[ch];
            uint64_t sum = 0;
            // A pair whose sum reaches the best one's cannot win any more.
            for (uint32_t f = 2; f < frames && sum < best; ++f) {
                const int32_t x = in[static_cast<size_t>(f) * c + ch];
                const int32_t prediction = (p1 * k1 + p2 * k2) >> 8;
                const int32_t code = std::clamp((x - prediction) / delta, -8, 7);
                const int32_t r = std::clamp(prediction + code * delta, -32768, 32767);
                const int32_t e = r - x;
                sum += static_cast<uint32_t>(int64_t{e} * e) >> 7;
                delta = std::max((gaiP4[code & 15] * delta) >> 8, 16);
                p2 = p1;
                p1 = r;
            }
            if (sum < best) {
                best = sum;
                index[ch] = i;
                firstDelta[ch] = d0;
            }
        }
    }
    for (uint32_t ch = 0; ch < c; ++ch) {
        out[ch] = static_cast<uint8_t>(index[ch]);
        StoreLE16(out + c + 2 * ch, static_cast<uint16_t>(firstDelta[ch]));
        StoreLE16(out + 3 * c + 2 * ch, static_cast<uint16_t>(s[c + ch]));
        StoreLE16(out + 5 * c + 2 * ch, static_cast<uint16_t>(s[ch]));
    }
    int32_t delta[2] = {firstDelta[0], firstDelta[1]};
    int32_t p1[2] = {s[c], s[c > 1 ? c + 1 : c]};
    int32_t p2[2] = {s[0], s[c > 1 ? 1 : 0]};
    uint8_t* codes = out + kHeaderBytesPerChannel * c;
    size_t k = 0;
    for (uint32_t f = 2; f < frames; ++f) {
        for (uint32_t ch = 0; ch < c; ++ch, ++k) {
            const int k1 = kStandardCoefTable[index[ch]][0], k2 = kStandardCoefTable[index[ch]][1];
            const int32_t x = in[static_cast<size_t>(f) * c + ch];
            const int32_t prediction = (p1[ch] * k1 + p2[ch] * k2) >> 8;
            const int32_t code = std::clamp((x - prediction) / delta[ch], -8, 7);
            const int32_t r = std::clamp(prediction + code * delta[ch], -32768, 32767);
            delta[ch] = std::max((gaiP4[code & 15] * delta[ch]) >> 8, 16);
            p2[ch] = p1[ch];
            p1[ch] = r;
            const uint8_t nibble = static_cast<uint8_t>(code & 15);
            if (k & 1)
                codes[k / 2] |= nibble;
            else
                codes[k / 2] = static_cast<uint8_t>(nibble << 4);
        }
    }
    // An odd last code keeps its byte: the low half stays 0.
    return kHeaderBytesPerChannel * c + (k + 1) / 2;
}

// ---------------------------------------------------------------------------
// Reading samples

OSErr CMSADPCMFile::DecodeBlockAt(uint64_t block) {
    if (block == decodedBlock_) return 0;
    decodedBlock_ = UINT64_MAX;
    const uint64_t start = block * static_cast<uint64_t>(blockAlign);
    const size_t bytes =
        start < dataSize ? static_cast<size_t>(std::min<uint64_t>(blockAlign, dataSize - start)) : 0;
    if (blockBytes_.size() < static_cast<size_t>(blockAlign)) blockBytes_.resize(static_cast<size_t>(blockAlign));
    const size_t samples = static_cast<size_t>(samplesPerBlock) * channels_;
    if (decoded_.size() < samples) decoded_.resize(samples);
    decodedFrames_ = 0;
    if (bytes) {
        if (OSErr err = pcmio::ReadAt(forkRef_, static_cast<uint32_t>(dataOffset + start),
                                      blockBytes_.data(), static_cast<int>(bytes)))
            return err;
        if (OSErr err = adpcmDecode4Bit(blockBytes_.data(), bytes, decoded_.data(), &decodedFrames_))
            return err;
    }
    decodedBlock_ = block;
    return 0;
}

OSErr CMSADPCMFile::RefreshInputBuffer(uint32_t frame) {
    // While the output is written, what was written is read back.
    if (writing_ && GetTemporaryFile()) return RefreshTemporaryInput(frame);
    if (!IsOpen() || writing_ || forkRef_ == XWQF::kNoFork) return kFileNotOpenBaseErr;
    try {
        if (!inputBuffer_) {
            if (OSErr err = InitInputBuffer()) return err;
        }
        if (!inputBuffer_) return kMemBlockMissingErr;
        const uint64_t frameBytes = 2 * uint64_t{channels_};
        const uint32_t n = static_cast<uint32_t>(pcmio::BlockExtent(
            frame, numFrames_, bufferFrames_, 1, GetRealBufferSize() / frameBytes));
        OSErr err = 0;
        uint32_t done = 0;
        while (done < n) {
            const uint64_t at = uint64_t{frame} + done;
            const uint64_t block = at / static_cast<uint64_t>(samplesPerBlock);
            if ((err = DecodeBlockAt(block)) != 0) break;
            const uint32_t inBlock = static_cast<uint32_t>(at % static_cast<uint64_t>(samplesPerBlock));
            const uint32_t want = std::min<uint32_t>(n - done, static_cast<uint32_t>(samplesPerBlock) - inBlock);
            // Frames a short block does not hold read as silence.
            const uint32_t have = decodedFrames_ > inBlock ? std::min(want, decodedFrames_ - inBlock) : 0;
            std::memcpy(inputBuffer_ + done * frameBytes, decoded_.data() + uint64_t{inBlock} * channels_,
                        static_cast<size_t>(have * frameBytes));
            std::memset(inputBuffer_ + (done + have) * frameBytes, 0,
                        static_cast<size_t>((want - have) * frameBytes));
            done += want;
        }
        if (err) done = 0;
        std::memset(inputBuffer_ + done * frameBytes, 0,
                    static_cast<size_t>(GetRealBufferSize() - done * frameBytes));
        firstBufferedFrame_ = frame;
        ForgetBufferedInput();
        return err;
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    }
}

OSErr CMSADPCMFile::SetFilePos(uint32_t frame) {
    // While the output is written, frames are placed in the temporary file,
    // whose end a frame past it first moves.
    if (writing_) {
        CSoundFile* held = GetTemporaryFile();
        if (!held) return 0;
        return frame > held->GetNumSFrames() ? SetEndOfFile(frame) : held->SetFilePos(frame);
    }
    if (!IsOpen() || forkRef_ == XWQF::kNoFork || samplesPerBlock <= 0) return kFileNotOpenBaseErr;
    const uint64_t position =
        dataOffset + uint64_t{frame} / static_cast<uint64_t>(samplesPerBlock) * static_cast<uint64_t>(blockAlign);
    if (position > static_cast<uint64_t>(XWQF::kMaxFileSize)) return kFileBoundsErr;
    return XWQF::SetPos(forkRef_, XWQF::kFromStart, static_cast<int>(position));
}

// ---------------------------------------------------------------------------
// Writing

OSErr CMSADPCMFile::CreateActual(short channels, float sampleRate) {
    const int32_t c = channels;
    // 256 bytes a channel up to 11025 Hz, then 256 for each full 11000 Hz; in 32
    // bits, as high rates overflow 16.
    int32_t align = 256 * c;
    if (sampleRate > 11025.0f) {
        const double steps = std::min<double>(std::floor(sampleRate / 11000.0), 1 << 16);
        align = static_cast<int32_t>(steps) * 256 * c;
    }
    const int32_t smallest = kHeaderBytesPerChannel * c + 1;
    int32_t perBlock = FramesPerBlock(align, c);
    while (align > smallest &&
           (align > kMaxBlockField || perBlock > kMaxBlockField ||
            static_cast<uint32_t>(perBlock) > bufferFrames_)) {
        align = std::max(align / 2, smallest);
        perBlock = FramesPerBlock(align, c);
    }
    if (OSErr err = CreateDataFork(channels, 16, sampleRate)) return err;
    blockAlign = align;
    samplesPerBlock = perBlock;
    numCoef = kStandardCoefs;
    std::memcpy(coefs, kStandardCoefTable, sizeof kStandardCoefTable);
    dataType_ = 8;
    searchEnd = kProvisionalContainerSize;

    std::vector<uint8_t> h;
    PutID(h, kRIFF);
    Put32(h, kProvisionalContainerSize);
    PutID(h, kWAVE);
    OSErr err = pcmio::WriteAt(forkRef_, 0, h.data(), static_cast<int>(h.size()));
    if (err == 0) err = Writefmt();
    if (err == 0) {
        h.clear();
        PutID(h, kData);
        Put32(h, 0);
        err = pcmio::WriteAt(forkRef_, kDataHeaderOffset, h.data(), static_cast<int>(h.size()));
    }
    dataOffset = kHeaderBytes;
    if (err) {
        CloseFork();
        XWQF::DeleteFile(path_);
    }
    return err;
}

OSErr CMSADPCMFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                           const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (OSErr err = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
        return err;
    if (channels < 1 || channels > 2) return kMSADPCMChannelsErr;
    if (!(sampleRate >= 1.0f) || !std::isfinite(sampleRate)) return kParamErr;
    source_ = nullptr;
    if (OSErr err = CreateActual(channels, sampleRate)) return err;
    if (OSErr err = CreateTemporaryFile(kTempIdentifier, channels, sampleRate)) {
        CloseFork();
        XWQF::DeleteFile(path_);
        return err;
    }
    pendingFrames_ = 0;
    writing_ = true;
    return 0;
}

OSErr CMSADPCMFile::Create(CSoundFile* source, short channels, short wordSize, float sampleRate,
                           void* specifics, const unsigned char* extension) {
    if (IsOpen()) return kFileBusyErr;
    if (!source) return kParamErr;
    if (OSErr err = CCodedFile::Create(source, channels, wordSize, sampleRate, specifics, extension))
        return err;
    const short c = source->GetNumChannels();
    if (c < 1 || c > 2 || channels != c) return kMSADPCMChannelsErr;
    if (!(sampleRate >= 1.0f) || !std::isfinite(sampleRate)) return kParamErr;
    const uint32_t frames = numFrames_;
    if (OSErr err = CreateActual(c, sampleRate)) return err;
    // Regions carried over stay within the length the output will have.
    numFrames_ = frames;
    source_ = source;
    pendingFrames_ = 0;
    writing_ = true;
    return 0;
}

OSErr CMSADPCMFile::SetEndOfFile(uint32_t frame) {
    if (!IsOpen() || !writing_) return kFileNotOpenBaseErr;
    return ExtendTemporaryFile(frame);
}

OSErr CMSADPCMFile::FlushADPCMBuffer(const int16_t* samples, uint32_t frames, uint32_t start) {
    if (frames == 0) return 0;
    const uint64_t c = channels_;
    const uint64_t perBlock = static_cast<uint64_t>(samplesPerBlock);
    const uint64_t align = static_cast<uint64_t>(blockAlign);
    const uint64_t blocks = (uint64_t{frames} + perBlock - 1) / perBlock;
    const uint64_t at = dataOffset + align * (start / perBlock);
    if (at + blocks * align > static_cast<uint64_t>(XWQF::kMaxFileSize)) return kFileBoundsErr;
    if (blockBytes_.size() < blocks * align) blockBytes_.resize(static_cast<size_t>(blocks * align));
    // Each block at its own place; only the last can be short.
    size_t bytes = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
        const uint64_t first = b * perBlock;
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(perBlock, frames - first));
        bytes = static_cast<size_t>(b * align) +
                adpcmEncode4Bit(samples + first * c, n, blockBytes_.data() + b * align);
    }
    // A place past the end of the data is reached through blocks of zero bytes.
    if (OSErr err = pcmio::ExtendToFrames(forkRef_, dataOffset, align,
                                          static_cast<uint32_t>(start / perBlock), 0))
        return err;
    if (OSErr err = pcmio::WriteAt(forkRef_, static_cast<uint32_t>(at), blockBytes_.data(),
                                   static_cast<int>(bytes)))
        return err;
    const uint64_t end = uint64_t{start} + frames;
    if (end > numFrames_) numFrames_ = static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX));
    return 0;
}

OSErr CMSADPCMFile::EncodeBlock(const int16_t* samples, uint32_t frames, uint32_t position) {
    const uint32_t c = channels_;
    const uint32_t perBlock = static_cast<uint32_t>(samplesPerBlock);
    if (pending_.size() < static_cast<size_t>(perBlock) * c) pending_.resize(static_cast<size_t>(perBlock) * c);
    // The frames that complete a block begun by the last call go with it.
    if (pendingFrames_ > 0) {
        const uint32_t take = std::min(frames, perBlock - pendingFrames_);
        std::memcpy(pending_.data() + static_cast<size_t>(pendingFrames_) * c, samples,
                    static_cast<size_t>(take) * c * sizeof(int16_t));
        pendingFrames_ += take;
        samples += static_cast<size_t>(take) * c;
        frames -= take;
        position += take;
        if (pendingFrames_ < perBlock) return 0;
        pendingFrames_ = 0;
        if (OSErr err = FlushADPCMBuffer(pending_.data(), perBlock, pendingStart_)) return err;
    }
    // Whole blocks straight from the caller's samples; the rest waits for the
    // next call, or for the end of the coding.
    const uint32_t whole = frames - frames % perBlock;
    if (OSErr err = FlushADPCMBuffer(samples, whole, position)) return err;
    pendingFrames_ = frames - whole;
    pendingStart_ = position + whole;
    std::memcpy(pending_.data(), samples + static_cast<size_t>(whole) * c,
                static_cast<size_t>(pendingFrames_) * c * sizeof(int16_t));
    return 0;
}

OSErr CMSADPCMFile::EncodeOutput() {
    pendingFrames_ = 0;
    // The coding counts the frames again, as far as it comes.
    numFrames_ = 0;
    unsigned char step[256];
    pascalStringFromString(kEncodingStep, step);
    OSErr err = 0;
    try {
        if (source_) {
            if (!discardOnClose_)
                err = EncodeSourceFrames(
                    source_, channels_, bufferFrames_, step,
                    [this](const int16_t* s, uint32_t frames, uint32_t position) {
                        return EncodeBlock(s, frames, position);
                    });
            source_ = nullptr;
        } else {
            err = EncodeTemporaryFile(step);
        }
        // The last block, short when the frames end inside it.
        if (err == 0 && pendingFrames_ > 0) {
            const uint32_t frames = pendingFrames_;
            pendingFrames_ = 0;
            err = FlushADPCMBuffer(pending_.data(), frames, pendingStart_);
        }
    } catch (const std::bad_alloc&) {
        err = kMemFullErr;
    }
    return err;
}

OSErr CMSADPCMFile::CloseActual() {
    if (!IsOpen()) return kFileNotOpenErr;
    OSErr err = 0;
    if (writing_) {
        int end = 0;
        err = XWQF::GetEOF(forkRef_, &end);
        const uint32_t length = end > static_cast<int>(dataOffset) ? static_cast<uint32_t>(end) - dataOffset : 0;
        uint8_t raw[4];
        if (err == 0) {
            StoreLE32(raw, length);
            err = pcmio::WriteAt(forkRef_, kDataHeaderOffset + 4, raw, 4);
        }
        if (err == 0 && (length & 1)) {
            const uint8_t pad = 0;
            err = pcmio::AppendAtEnd(forkRef_, &pad, 1);
        }
        if (err == 0) err = WriteExtras();
        if (err == 0) {
            StoreLE32(raw, numFrames_);
            err = pcmio::WriteAt(forkRef_, kFactOffset + 8, raw, 4);
        }
        if (err == 0) err = XWQF::GetEOF(forkRef_, &end);
        if (err == 0) {
            StoreLE32(raw, static_cast<uint32_t>(end - 8));
            err = pcmio::WriteAt(forkRef_, 4, raw, 4);
        }
        writing_ = false;
        headerDirty_ = 0;
    }
    const OSErr closed = CloseFork();
    return err ? err : closed;
}

OSErr CMSADPCMFile::CloseFork() {
    if (forkRef_ != XWQF::kNoFork) {
        if (OSErr err = XWQF::CloseFork(forkRef_)) return err;
        forkRef_ = XWQF::kNoFork;
    }
    open_ = false;
    return 0;
}

OSErr CMSADPCMFile::Close() {
    if (!IsOpen()) return kFileNotOpenErr;
    OSErr err = 0;
    if (writing_) err = EncodeOutput();
    DisposeBuffer();
    decodedBlock_ = UINT64_MAX;
    const OSErr closed = CloseActual();
    return err ? err : closed;
}
