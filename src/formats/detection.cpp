// Input type recognition: Finder type, first bytes and chunks, name extension
// and raw-file settings settle the type; a mono file of a type that can be a
// group member is then handed to the search for its siblings (channel_sets).
#include "formats/detection.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>

#include "formats/chunk_reader.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/next_sun_file.h"
#include "formats/pcm/voc_file.h"
#include "formats/riff_wave.h"
#include "foundation/resource_file.h"
#include "foundation/resource_fork.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "soundfile/raw_settings.h"

namespace {

// The bytes the contents tests look at.
constexpr size_t kHeaderBytes = 24;
// The 'STR ' resources that make a Sound Designer II fork: word size, rate, channels.
constexpr short kSD2StringIDs[] = {1000, 1001, 1002};
// COMM data up to and including the compression type: channels 2, frames 4,
// sample size 2, rate 10, compression 4.
constexpr uint32_t kCompressedCommonBytes = 22;
constexpr uint32_t kCompressionOffset = 18;
// A block of the extended type makes a Creative Voice file 'VOC2'.
constexpr unsigned char kVOCExtendedBlock = 8;
// The NeXT/Sun encoding field sits after the magic, the data location and the size.
constexpr size_t kNeXTEncodingOffset = 12;


bool HeaderIs(const std::string& header, size_t offset, const char (&id)[5]) {
    return header.size() >= offset + 4 && header.compare(offset, 4, id, 4) == 0;
}

// Folders, pipes and devices are no sound files; reading a pipe could wait forever.
bool IsRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---------------------------------------------------------------------------
// Detection proper (throws where the group search throws)

// Steps 1-3 of the contents test: the family resolver the first bytes call for.
OSErr ResolveByContents(const std::string& path, unsigned int& type, const FileInfo& info) {
    try {
        errno = 0;
        std::ifstream file(path, std::ios::binary);
        if (!file.is_open()) return errno ? XWQF::ErrnoToStatus(errno) : OSErr(kIOErr);
        std::string header(kHeaderBytes, '\0');
        file.read(header.data(), static_cast<std::streamsize>(kHeaderBytes));
        if (static_cast<size_t>(file.gcount()) != kHeaderBytes) return kNotASoundFileErr;
        if (HeaderIs(header, 0, ".snd")) return ResolveNeXTSun(path, type, &info, file, header);
        if (HeaderIs(header, 8, "AIFF")) return ResolveAIFF(path, type, &info, file, header);
        if (HeaderIs(header, 8, "WAVE")) return ResolveWAVE(path, type, &info, file, header);
        if (HeaderIs(header, 0, "Crea")) return ResolveVOC(path, type, &info, file, header);
        if (HeaderIs(header, 8, "8SVX")) {
            type = FourCC("8SVX");
            return 0;
        }
        if (HeaderIs(header, 0, "2BIT")) {
            type = FourCC(".AVR");
            return 0;
        }
        if (HeaderIs(header, 8, "AIFC")) return ResolveAIFC(path, type, &info, file, header);
        if (HeaderIs(header, 0, " paf") || HeaderIs(header, 0, "fap ")) {
            type = FourCC(" paf");
            return 0;
        }
        return kNotASoundFileErr;
    } catch (const error_code_exception& e) {
        return NarrowStatus(e.error_code());
    } catch (...) {
        // Anything else the reading ran into leaves the decision to the name.
        return kNotASoundFileErr;
    }
}

OSErr DetectType(const std::string& path, unsigned int& type, bool& recognized,
                 std::vector<std::string>& members, std::string& setName,
                 CSoundFile::ChannelConfiguration& config, bool considerSplit) {
    recognized = true;
    FSRef ref;
    if (OSErr err = XWQF::MakeRef(path, &ref)) return err;
    FileInfo info;
    // A damaged sidecar tells nothing: the file is then known by its contents
    // and its name, as one without Finder information.
    if (OSErr err = GetFinderInfo(path, &info.fileType, &info.fileCreator)) {
        if (err != kMapReadErr) return err;
        info = FileInfo();
    }
    // Only a plain file is a sound file, whatever its name says.
    if (!IsRegularFile(path)) {
        recognized = false;
        return kNotASoundFileErr;
    }

    bool settled = false;
    bool testContents = true;
    switch (info.fileType) {
        case FourCC("8SVX"):
        case FourCC("MMIX"):
        case FourCC("Mp3 "):
        case FourCC("Mpg4"):
        case FourCC("sfil"):
            type = info.fileType;
            settled = true;
            break;
        case FourCC("SFIL"):
            type = FourCC("Sd1f");
            settled = true;
            break;
        // The CCITT code streams have no header: their writer names the type here.
        case FourCC("21-4"):
        case FourCC("23-2"):
        case FourCC("23-3"):
        case FourCC("23-5"):
        case FourCC("26-3"):
        case FourCC("26-4"):
        case FourCC("26-5"):
            type = info.fileType;
            settled = true;
            break;
        case FourCC("Sd2f"): {
            const OSErr err = ResolveSD2(path, type, &info);
            type = FourCC("Sd2f");
            if (err == 0)
                settled = true;
            else if (err == kNotASoundFileErr)
                testContents = false;
            else
                return err;
            break;
        }
        default: break;
    }
    if (!settled && testContents) {
        const OSErr err = ResolveByContents(path, type, info);
        if (err == 0)
            settled = true;
        else if (err != kNotASoundFileErr)
            return err;
    }
    if (!settled) {
        const std::string name = filename(path);
        const size_t dot = name.rfind('.');
        const std::string ext = dot == std::string::npos ? std::string() : lower_case(name.substr(dot + 1));
        const std::vector<std::string>* types = CSoundFile::GetTypesForExtension(ext);
        if (types && !types->empty() && HFSTypeCode(types->front()) != 0) {
            type = HFSTypeCode(types->front());
        } else {
            recognized = false;
            const RawSettings raw = CSoundFile::GetRawSettings();
            if (info.fileType == FourCC("AVFd"))
                type = FourCC("AVFd");
            else if (raw.GetAction() == RawSettings::kRawReadAsRaw)
                type = raw.GetFileType();
            else
                return kNotASoundFileErr;
        }
    }

    config = CSoundFile::kMultichannel;
    if (considerSplit && ConsiderFileForSplitOrSurround(path, type))
        config = GetFilesForChannelConfiguration(path, type, members, setName);
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public entry points

unsigned int DetectMemberType(const std::string& path) {
    unsigned int type = 0;
    bool recognized = true;
    std::vector<std::string> members;
    std::string setName;
    CSoundFile::ChannelConfiguration config = CSoundFile::kNotSet;
    if (OSErr err = DetectType(path, type, recognized, members, setName, config, false))
        throw error_code_exception(err, "group member candidate %s not detected", path.c_str());
    return type;
}

OSErr ResolveFileType(const std::string& path, unsigned int& type, bool& recognized,
                      std::vector<std::string>& members, std::string& setName,
                      CSoundFile::ChannelConfiguration& config, bool considerSplit) {
    // Callers run on worker threads: every failure comes back as a status.
    try {
        return DetectType(path, type, recognized, members, setName, config, considerSplit);
    } catch (const error_code_exception& e) {
        return NarrowStatus(e.error_code());
    } catch (const std::bad_alloc&) {
        return kMemFullErr;
    } catch (...) {
        return kParamErr;
    }
}

OSErr ResolveNeXTSun(const std::string&, unsigned int& type, const FileInfo*, std::ifstream&,
                     const std::string& header) {
    if (header.size() < kNeXTEncodingOffset + 4) return kNotASoundFileErr;
    const uint32_t encoding =
        LoadBE32(reinterpret_cast<const uint8_t*>(header.data()) + kNeXTEncodingOffset);
    switch (encoding) {
        case 1: type = FourCC("ulaw"); return 0;
        case 2:
        case 3:
        case 4:
        case 5: type = FourCC("NxTS"); return 0;
        // 27 is A-law; 25 is G.723 3-bit, which no class here decodes.
        case 27: type = FourCC("NSAL"); return 0;
        default: return kNeXTUnsupportedDataErr;
    }
}

bool IsSonicFile(std::ifstream& file) {
    StreamSource source(file);
    ChunkHeader appl;
    if (CAIFFFile::ProbeChunk(source, FourCC("APPL"), &appl) != 0) return false;
    uint8_t raw[4];
    if (source.ReadAt(appl.dataOffset(), raw, sizeof raw) != 0) return false;
    // The signature must lie inside the chunk.
    return appl.size >= 4 && LoadBE32(raw) == kSonicSignature;
}

OSErr ResolveAIFF(const std::string&, unsigned int& type, const FileInfo* finderInfo,
                  std::ifstream& file, const std::string&) {
    const unsigned int creator = finderInfo ? finderInfo->fileCreator : 0;
    if (creator == kSonicSignature || IsSonicFile(file))
        type = FourCC("SAIF");
    else if (creator == FourCC("CARI"))
        type = FourCC("Dawn");
    else
        type = FourCC("AIFF");
    return 0;
}

OSErr ResolveWAVE(const std::string&, unsigned int& type, const FileInfo*, std::ifstream& file,
                  const std::string& header) {
    using namespace riff;
    StreamSource source(file);
    uint64_t data = 0;  // where the format chunk's data begins
    uint32_t size = 0;
    uint8_t raw[2];
    if (HeaderIs(header, 12, "fmt ")) {
        data = 20;
        size = LoadLE32(reinterpret_cast<const uint8_t*>(header.data()) + 16);
    } else {
        ChunkHeader fmt;
        if (OSErr err = ProbeChunk(source, kFmt, 1, &fmt)) return err;
        size = fmt.size;
        data = fmt.dataOffset();
    }
    if (source.ReadAt(data + kFormatTagAt, raw, sizeof raw) != 0) return kNotASoundFileErr;
    uint16_t tag = LoadLE16(raw);
    if (tag == kTagExtensible) {
        // The sub-format decides which class decodes the samples; a chunk too short
        // to name one is read as PCM.
        tag = kTagPCM;
        if (size >= kSubFormatAt + 2) {
            if (source.ReadAt(data + kSubFormatAt, raw, sizeof raw) != 0) return kNotASoundFileErr;
            const uint16_t sub = LoadLE16(raw);
            if (sub == kTagFloat || sub == kTagALaw || sub == kTagMuLaw) tag = sub;
        }
    }
    ChunkHeader bext;
    switch (tag) {
        case kTagPCM:
            type = ProbeChunk(source, kBext, 1, &bext) == 0 ? FourCC("BWLN") : FourCC("WAVE");
            return 0;
        case kTagMSADPCM: type = FourCC("MSAP"); return 0;
        case kTagFloat: type = FourCC("WVfl"); return 0;
        case kTagALaw: type = FourCC("WVal"); return 0;
        case kTagMuLaw: type = FourCC("WVau"); return 0;
        case kTagG729A: type = FourCC("G729"); return 0;
        // MPEG audio in a RIFF file (Broadcast Wave MPEG) is read by the media library.
        case kTagMPEG: type = FourCC("AVFd"); return 0;
        default: return kNotASoundFileErr;
    }
}

OSErr ResolveVOC(const std::string&, unsigned int& type, const FileInfo*, std::ifstream& file,
                 const std::string&) {
    const OSErr err = CVOC_SBFile::FindVocID(kVOCExtendedBlock, file);
    type = err == kVOCBlockNotFoundErr ? FourCC("VOC ") : FourCC("VOC2");
    return 0;
}

OSErr ResolveAIFC(const std::string&, unsigned int& type, const FileInfo*, std::ifstream& file,
                  const std::string&) {
    StreamSource source(file);
    ChunkHeader comm;
    if (OSErr err = CAIFFFile::ProbeChunk(source, FourCC("COMM"), &comm)) return err;
    uint8_t raw[4];
    if (comm.size < kCompressedCommonBytes ||
        source.ReadAt(comm.dataOffset() + kCompressionOffset, raw, sizeof raw) != 0)
        return kNotASoundFileErr;
    switch (LoadBE32(raw)) {
        case FourCC("NONE"):
        case FourCC("none"):
        case FourCC("sowt"):
        case FourCC("fl32"):
        case FourCC("23lf"):
        case FourCC("in24"):
        case FourCC("42ni"):
        case FourCC("in32"):
        case FourCC("23ni"):
        case FourCC("able"): type = FourCC("AIFC"); break;
        case FourCC("ima4"): type = FourCC("A1t4"); break;
        // Every other compression is read through the media framework.
        default: type = FourCC("AVFd"); break;
    }
    return 0;
}

OSErr ResolveSD2(const std::string& path, unsigned int&, const FileInfo*) {
    try {
        // The reference form opens what is there and never creates a file or sidecar.
        FSRef ref;
        if (OSErr err = XWQF::MakeRef(path, &ref)) return err;
        QFResourceFile resources(ref, true);
        for (short id : kSD2StringIDs) resources.ReadStringResource(id);
        return 0;
    } catch (const error_code_exception& e) {
        const int code = e.error_code();
        if (code == kMapReadErr || code == kEOFErr || code == kResNotFoundErr) return kNotASoundFileErr;
        return NarrowStatus(code);
    }
}

