#include "formats/pcm/aiff_temp_file.h"

#include <sys/random.h>

#include <random>

CTempFile::~CTempFile() {
    if (IsOpen()) Close();
    if (madeFile_) XWQF::DeleteFile(path_);
}

CSoundFile* NewTempSoundFile() { return new CTempFile; }

std::string UniqueTempSoundFilePath(const std::string& folder, const std::string& identifier) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[10];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        std::random_device device;
        for (unsigned char& c : random) c = static_cast<unsigned char>(device());
    }
    std::string name = identifier + ".";
    for (unsigned char c : random) name += kLetters[c % (sizeof kLetters - 1)];
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}
