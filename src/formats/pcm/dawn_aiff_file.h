// Dawn AIFF files: mono takes of a hard-disk recorder in plain AIFF chunks. The
// length comes from the end of the file, the SSND offset field holds the take's
// time position in 1/120 s, and the whole take is one region named after the file.
#pragma once

#include "formats/pcm/aiff_file.h"

class CDawnAIFFFile : public CAIFFFile {
public:
    CDawnAIFFFile() = default;
    ~CDawnAIFFFile() override;

    OSErr Open() override;
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSType GetFType() override;
    std::string GetDescription() override;

protected:
    // The recorder's MARK chunk ends 38 bytes after the start of its size field,
    // whatever its size says; a chunk passed over must have a size of at least 1.
    ChunkLayout FormLayout() const override;
};
