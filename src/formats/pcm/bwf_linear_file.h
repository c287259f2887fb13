// Linear Broadcast Wave ('BWLN'): a WAVE file with a 'bext' chunk after the
// format chunk (the annotation as Description, the time stamp as TimeReference
// and OriginationTime) and a 'regn' chunk with the regions appended at close.
// No 'cue ', 'LIST', 'smpl' or 'inst' chunk is written; on read those of a
// foreign file are taken as in any WAVE file.
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/wave_file.h"

class CBWFLinearFile : public CWAVEFile {
public:
    // The data bytes of the 'bext' chunk this class writes.
    static constexpr uint32_t kBextDataBytes = 858;
    // The bytes of one record of the 'regn' chunk.
    static constexpr uint32_t kRegionRecordBytes = 88;
    // Where the annotation lies in the conversion's 256-byte per-type block.
    static constexpr uint32_t kAnnotationOffset = 22;
    static constexpr uint32_t kAnnotationBytes = 234;

    CBWFLinearFile() = default;
    ~CBWFLinearFile() override;

    // Fails with -22008 when the file has no RIFF header or no 'bext' chunk.
    OSErr Open() override;
    // Takes the annotation from the per-type block (`specifics`, 256 bytes, may be
    // null): the text at offset 22 up to its NUL, at most 234 bytes.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr GetOfflineInfo(OSErr* regionCount) override;

    OSType GetFType() override;
    std::string GetDescription() override;

    // Writes nothing: markers, loops and sampler data are not kept.
    OSErr WriteExtras() override;
    // The count of the 'regn' chunk (0 without one), bounded by the records there.
    OSErr ReadNumRegions(short* count) override;
    // The format chunk of CWAVEFile followed by the 'bext' chunk.
    OSErr Writefmt() override;
    OSErr WritefmtExtended() override;
    // At close: the 'bext' chunk again, in place, and the 'regn' chunk at the end.
    OSErr WriteSpecialized() override;

    // 'bext': the time stamp from TimeReference, the annotation from Description,
    // published as the attribute "bwfAnnotation". -22004 when there is none.
    OSErr ReadBEXT();
    // Writes "bext", 858 and the data at the current position.
    OSErr WriteBEXT();
    // The regions of the 'regn' chunk, only when the list is still empty.
    OSErr ReadRegions();
    // Appends the 'regn' chunk with every region of the list.
    OSErr WriteRegions();

    // The Description text, as bytes: from Create, or as read.
    const std::string& GetAnnotation() const { return annotation_; }

    // The OriginationTime field for a time stamp in frames: "hh:mm:ss", with the
    // digit 0 for every blank, its first 8 characters.
    static std::string OriginationTime(uint32_t frames, double sampleRate);

private:
    // The position of the 'regn' data and the number of records to believe.
    OSErr LocateRegionRecords(uint64_t* first, uint32_t* count);

    std::string annotation_;
};
