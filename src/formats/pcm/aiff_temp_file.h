// The temporary AIFF file of the coded formats and the conversion pipelines
// (type code 'Temp'): an AIFF file that deletes itself when the object goes.
#pragma once

#include <string>

#include "formats/pcm/aiff_file.h"

class CTempFile : public CAIFFFile {
public:
    CTempFile() = default;
    // Closes the file when it is open, then deletes it, but only when this object
    // made it: a name that was taken by another file is never deleted.
    ~CTempFile() override;

    std::string GetDescription() override { return "Temp"; }
};

// A new, unbound temporary sound file.
CSoundFile* NewTempSoundFile();

// A path in folder for a temporary file: the identifier, a full stop and random
// characters that cannot be guessed. The file is made exclusively by Create,
// which answers -48 should the name be taken after all.
std::string UniqueTempSoundFilePath(const std::string& folder, const std::string& identifier);
