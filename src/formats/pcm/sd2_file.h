// Sound Designer II files ('Sd2f') and Dyaxis MacMix files ('MMIX'): headerless
// big-endian PCM in the data fork; sample size, rate and channel count as 'STR '
// resources 1000-1002 and markers, loops and regions as 'sdML', 'sdLL' and 'ddRL'
// resources 1000 in the resource fork (the "._name" sidecar here).
#pragma once

#include <cstdint>
#include <string>

#include "formats/pcm/framed_pcm_file.h"

// Status codes of the Sound Designer II formats.
enum : int {
    kSDIIBadLoopErr = -22500,         // a loop record runs past the end of 'sdLL'
    kSDIIBadMarkerErr = -22501,       // a marker record's head runs past the end of 'sdML'
    kSDIINoResourceForkErr = -22502,  // no resource fork, or one that cannot be read
    kSDIINoSampleRateErr = -22503,    // 'STR ' 1001 missing or not a usable rate
    kSDIINoChannelsErr = -22504,      // 'STR ' 1002 missing or not 1..1024
    kSDIINoWordSizeErr = -22505,      // 'STR ' 1000 missing or not 1..4 bytes
    kSDIIUnsupportedWordSizeErr = -20020,  // a written word size of 9 to 31 bits, not whole bytes
};

class CSDIIFile : public CFramedPCMFile {
public:
    ~CSDIIFile() override {
        if (IsOpen()) Close();
    }

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // Reads the description and the lists from the resources without opening the
    // data fork; *regionCount receives the number of region records found.
    OSErr GetOfflineInfo(OSErr* regionCount) override;
    OSType GetFType() override;
    bool CanBeSplit() override { return true; }
    std::string SplitExtension() override { return "(.L/.R)"; }
    std::string GetDescription() override;

    // The description from the 'STR ' resources and the frame count from the
    // data fork's length. A file with none of the three strings reads as 0
    // channels, 0 bits, rate 0 and no frames.
    OSErr ReadInfo();
    // Each list is read only while it is empty.
    OSErr ReadMarkers();
    OSErr ReadLoops();
    OSErr ReadRegions(short* count);
    OSErr WriteInfo();
    OSErr WriteMarkers();
    OSErr WriteLoops();
    OSErr WriteRegions();

    // The channel count that 'STR ' 1002 of the file at `path` gives: 0 when the
    // resource is missing or its text is not 1..1024. A missing file or an
    // unreadable resource fork throws error_code_exception; no file is made.
    static int ReadNumChannels(const std::string& path);

protected:
    // The data fork holds nothing but the samples.
    uint64_t FrameBytes() const override;
    // Big-endian samples; the same turn makes them stored again.
    void StoredToBuffer(unsigned char* data, uint64_t bytes) const override;
    // The description and the lists, as resources.
    OSErr FinishFile() override;

private:
    uint32_t BytesPerSample() const;
    // The file whose resources this object reads or writes.
    const std::string& ResourcePath() const;
};

class CDyaxisMacMixFile : public CSDIIFile {
public:
    OSType GetFType() override;
    std::string GetDescription() override;
};
