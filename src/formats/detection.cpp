// Input type detection: Finder type, first bytes and chunks, name extension and
// raw-file settings settle the type; then a mono file of a type that can be a
// group member is matched against its siblings (split pairs, numbered sets and
// the sets of the surround table).
#include "formats/detection.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <map>
#include <mutex>
#include <new>

#include "formats/chunk_reader.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/next_sun_file.h"
#include "formats/pcm/paris_file.h"
#include "formats/pcm/sd2_file.h"
#include "formats/pcm/voc_file.h"
#include "formats/pcm/wave_file.h"
#include "foundation/dbresult.h"
#include "foundation/log.h"
#include "foundation/pcre_wrappers.h"
#include "foundation/resource_file.h"
#include "foundation/resource_fork.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "soundfile/raw_settings.h"

namespace {

// The bytes the contents tests look at.
constexpr size_t kHeaderBytes = 24;
// A numbered set counts its members from 1 up to this.
constexpr unsigned kMaxNumberedMembers = 16;
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

constexpr char kSurroundTableName[] = "surround.qfdb";
constexpr char kSplitStereoName[] = "Split stereo";
constexpr char kSplitMultichannelName[] = "Split Multichannel";

bool HeaderIs(const std::string& header, size_t offset, const char (&id)[5]) {
    return header.size() >= offset + 4 && header.compare(offset, 4, id, 4) == 0;
}

// Folders, pipes and devices are no sound files; reading a pipe could wait forever.
bool IsRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

size_t NameStart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// ---------------------------------------------------------------------------
// Sibling files, found whatever the letter case of their names

// Finds the files of one folder by name with ASCII letter case ignored, listing
// the folder at most once. A name that exists exactly is taken as it is.
class SiblingFinder {
public:
    // The path of the entry named like `candidate`, as the folder spells it;
    // empty when there is none.
    std::string Find(const std::string& candidate) {
        if (XWQF::FileExists(candidate)) return candidate;
        const size_t nameStart = NameStart(candidate);
        const std::string prefix = candidate.substr(0, nameStart);
        if (!listed_ || prefix != prefix_) List(prefix);
        auto it = byFoldedName_.find(lower_case(candidate.substr(nameStart)));
        return it == byFoldedName_.end() ? std::string() : prefix + it->second;
    }

private:
    void List(const std::string& prefix) {
        listed_ = true;
        prefix_ = prefix;
        byFoldedName_.clear();
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(prefix.empty() ? "." : prefix.c_str())) {
            while (const dirent* e = ::readdir(dir)) {
                const std::string name = e->d_name;
                if (name != "." && name != ".." && !XWQF::IsSidecarName(name)) names.push_back(name);
            }
            ::closedir(dir);
        }
        // In name order, so that of two names that differ only in case the same one wins every time.
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) byFoldedName_.emplace(lower_case(name), name);
    }

    bool listed_ = false;
    std::string prefix_;
    std::map<std::string, std::string> byFoldedName_;
};

// ---------------------------------------------------------------------------
// Patterns

bool Matches(const pcre_stuff& pattern, const std::string& subject) {
    if (!pattern.compiled || subject.size() > static_cast<size_t>(INT_MAX)) return false;
    int ovector[30];
    return pcre_exec(pattern.compiled.get(), pattern.study.get(), subject.data(),
                     static_cast<int>(subject.size()), 0, 0, ovector, 30) >= 0;
}

bool AnyMatches(const std::vector<pcre_stuff>& patterns, const std::string& subject) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const pcre_stuff& p) { return Matches(p, subject); });
}

bool IsWordByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x80 && (std::isalnum(u) || c == '_');
}

// The indicators text with every "." followed by word characters written as
// `prefix`, a backslash, the marker and "\b": ".L|.R" with an empty prefix gives
// "\.L\b|\.R\b". Other text stays as it is.
std::string EscapeMarkers(const std::string& indicators, const std::string& prefix) {
    std::string out;
    for (size_t i = 0; i < indicators.size();) {
        size_t end = i + 1;
        if (indicators[i] == '.')
            while (end < indicators.size() && IsWordByte(indicators[end])) ++end;
        if (indicators[i] == '.' && end > i + 1) {
            out += prefix + "\\" + indicators.substr(i, end - i) + "\\b";
        } else {
            out += indicators[i];
        }
        i = end;
    }
    return out;
}

// ---------------------------------------------------------------------------
// The surround table

struct SurroundRow {
    CSoundFile::ChannelConfiguration config = CSoundFile::kMono;
    std::string name;
    std::vector<std::string> indicators;  // the channel markers in channel order
    std::string patternText;              // the whole set: "(?i)\.L\b|\.R\b"
    pcre_stuff pattern;
    std::vector<std::string> channelPatternTexts;  // one per channel: "(?i)\.L\b"
    std::vector<pcre_stuff> channelPatterns;
};

struct SurroundTable {
    std::vector<SurroundRow> rows;
};

// A row as detection uses it; false for a row it cannot use (no markers, a
// configuration outside 0..11, or a marker that is no valid expression).
bool MakeSurroundRow(const dbrecord& record, SurroundRow* row) {
    auto field = [&record](const char* key) {
        auto it = record.find(key);
        return it == record.end() ? std::string() : it->second;
    };
    const std::string indicators = field("indicators");
    const std::string cc = field("cc");
    unsigned config = 0;
    const auto parsed = std::from_chars(cc.data(), cc.data() + cc.size(), config);
    if (indicators.empty() || parsed.ec != std::errc() || parsed.ptr != cc.data() + cc.size() ||
        config > CSoundFile::kMultichannel)
        return false;
    row->config = static_cast<CSoundFile::ChannelConfiguration>(config);
    row->name = field("name");
    row->indicators = split(indicators, "|");
    row->patternText = "(?i)" + EscapeMarkers(indicators, "");
    row->channelPatternTexts = split(EscapeMarkers(indicators, "(?i)"), "|");
    try {
        row->pattern = MakePattern(row->patternText);
        for (const std::string& text : row->channelPatternTexts)
            row->channelPatterns.push_back(MakePattern(text));
    } catch (const error_code_exception&) {
        return false;
    }
    return true;
}

std::shared_ptr<const SurroundTable> LoadSurroundTable() {
    // Throws -43 when the resource is absent.
    const std::string path = CSoundFile::GetPathForSoundFileResource(kSurroundTableName);
    std::ifstream in(path, std::ios::binary);
    dbresult records;
    in >> records;
    auto table = std::make_shared<SurroundTable>();
    for (const dbrecord& record : records.records) {
        SurroundRow row;
        if (MakeSurroundRow(record, &row))
            table->rows.push_back(std::move(row));
        else
            CORVANE_DLOG("surround table row without usable indicators or cc in " << path);
    }
    return table;
}

std::mutex gSurroundLock;
std::shared_ptr<const SurroundTable> gSurroundTable;

// The loaded table, loaded on first need under the lock; a table without rows
// is loaded again at the next call.
std::shared_ptr<const SurroundTable> SurroundTableLoaded() {
    std::lock_guard<std::mutex> lock(gSurroundLock);
    if (!gSurroundTable || gSurroundTable->rows.empty()) gSurroundTable = LoadSurroundTable();
    return gSurroundTable;
}

// The fixed pairs of the PARIS and Sonic formats.
const std::vector<pcre_stuff>& ParisPatterns() {
    static const std::vector<pcre_stuff> patterns = {MakePattern("(?i)-l\\b"),
                                                     MakePattern("(?i)-r\\b")};
    return patterns;
}
const std::vector<std::string> kParisNames = {"-l", "-r"};

const std::vector<pcre_stuff>& SonicPatterns() {
    static const std::vector<pcre_stuff> patterns = {MakePattern("(?i)\\.1\\b"),
                                                     MakePattern("(?i)\\.2\\b")};
    return patterns;
}
const std::vector<std::string> kSonicNames = {".1", ".2"};

// ---------------------------------------------------------------------------
// Detection proper (throws where the group search throws)

OSErr DetectType(const std::string& path, unsigned int& type, bool& recognized,
                 std::vector<std::string>& members, std::string& setName,
                 CSoundFile::ChannelConfiguration& config, bool considerSplit);

// The type of a candidate member; a candidate that cannot be detected is raised.
unsigned int CandidateType(const std::string& path) {
    unsigned int type = 0;
    bool recognized = true;
    std::vector<std::string> members;
    std::string setName;
    CSoundFile::ChannelConfiguration config = CSoundFile::kNotSet;
    if (OSErr err = DetectType(path, type, recognized, members, setName, config, false))
        throw error_code_exception(err, "group member candidate %s not detected", path.c_str());
    return type;
}

bool CompleteSetIn(SiblingFinder& finder, const std::string& path, unsigned int type,
                   const std::vector<pcre_stuff>& patterns, const std::vector<std::string>& names,
                   std::vector<std::string>& members) {
    members.clear();
    // The marker lies inside the file name: a folder's name never makes one. The
    // extension is known in either letter case, as the name step takes it.
    const size_t nameStart = NameStart(path);
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart || names.empty()) return false;
    size_t markerStart = dot, markerEnd = path.size();
    if (CSoundFile::KnownNameExtensions().count(lower_case(path.substr(dot + 1)))) {
        if (names.front().empty() || dot == nameStart) return false;
        const size_t at = path.rfind(names.front().front(), dot - 1);
        if (at == std::string::npos || at < nameStart) return false;
        markerStart = at;
        markerEnd = dot;
    }
    // Which pattern recognises the marker makes no difference to the candidates.
    if (!AnyMatches(patterns, path.substr(markerStart, markerEnd - markerStart))) return false;
    std::vector<std::string> found;
    for (const std::string& name : names) {
        const std::string candidate = path.substr(0, markerStart) + name + path.substr(markerEnd);
        const std::string real = finder.Find(candidate);
        if (real.empty() || CandidateType(real) != type) return false;
        found.push_back(real);
    }
    members = std::move(found);
    return true;
}

bool NumberedSetIn(SiblingFinder& finder, const std::string& path, unsigned int type,
                   unsigned long digitPos, std::vector<std::string>& members) {
    members.clear();
    if (digitPos >= path.size() || !std::isdigit(static_cast<unsigned char>(path[digitPos])))
        return false;
    const unsigned own = static_cast<unsigned>(path[digitPos] - '0');
    // A file numbered 0 is never part of a run counted from 1.
    if (own == 0) return false;
    std::vector<std::string> found;
    bool reachedOwn = false;
    for (unsigned n = 1; n <= kMaxNumberedMembers; ++n) {
        if (n == own) {
            found.push_back(path);
            reachedOwn = true;
            continue;
        }
        std::string candidate = path;
        candidate.replace(digitPos, 1, std::to_string(n));
        const std::string real = finder.Find(candidate);
        if (real.empty() || CandidateType(real) != type) break;
        found.push_back(real);
    }
    if (!reachedOwn || found.size() < 2) return false;
    members = std::move(found);
    return true;
}

// The position of the file's number when its name, without a readable
// extension (in either letter case), ends in "." and one digit; npos otherwise.
size_t NumberPosition(const std::string& path) {
    std::string stem = path;
    const size_t dot = stem.rfind('.');
    if (dot != std::string::npos &&
        CSoundFile::SupportedNameExtensions().count(lower_case(stem.substr(dot + 1))))
        stem.resize(dot);
    const size_t n = stem.size();
    if (n < 2 || stem[n - 2] != '.' || !std::isdigit(static_cast<unsigned char>(stem[n - 1])))
        return std::string::npos;
    return n - 1;
}

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

pcre_stuff MakePattern(const std::string& text) {
    pcre_stuff p;
    p.compiled.reset(PCRECompile(text.c_str()), [](pcre* re) { pcre_free(re); });
    p.study.reset(PCREStudy(p.compiled.get()), [](pcre_extra* extra) {
        if (extra) pcre_free_study(extra);
    });
    return p;
}

void ReleaseDetectionTables() {
    std::lock_guard<std::mutex> lock(gSurroundLock);
    gSurroundTable.reset();
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

bool ConsiderFileForSplitOrSurround(const std::string& path, unsigned int type) {
    switch (type) {
        case FourCC("AIFF"):
        case FourCC("AIFC"):
        case FourCC("SAIF"): return CAIFFFile::ReadNumChannels(path) == 1;
        case FourCC("WAVE"):
        case FourCC("BWLN"):
        case FourCC("WVfl"): return CWAVEFile::ReadNumChannels(path) == 1;
        case FourCC("Sd2f"): return CSDIIFile::ReadNumChannels(path) == 1;
        case FourCC(" paf"): return CParisLinearFile::ReadNumChannels(path) == 1;
        default: return false;
    }
}

CSoundFile::ChannelConfiguration GetFilesForChannelConfiguration(const std::string& path,
                                                                 unsigned int type,
                                                                 std::vector<std::string>& members,
                                                                 std::string& setName) {
    members.clear();
    setName.clear();
    SiblingFinder finder;
    switch (type) {
        case FourCC(" paf"):
            if (CompleteSetIn(finder, path, type, ParisPatterns(), kParisNames, members)) {
                setName = kSplitStereoName;
                return CSoundFile::kStereo;
            }
            break;
        case FourCC("SAIF"):
            if (CompleteSetIn(finder, path, type, SonicPatterns(), kSonicNames, members)) {
                setName = kSplitStereoName;
                return CSoundFile::kStereo;
            }
            break;
        case FourCC("AIFF"):
        case FourCC("AIFC"):
        case FourCC("BWLN"):
        case FourCC("WAVE"):
        case FourCC("WVfl"):
        case FourCC("Sd2f"): {
            if (CSoundFile::GetRecognizeNumberedFilesAsSplitMultichannel()) {
                const size_t digitPos = NumberPosition(path);
                if (digitPos != std::string::npos &&
                    NumberedSetIn(finder, path, type, digitPos, members)) {
                    setName = kSplitMultichannelName;
                    return CSoundFile::kMultichannel;
                }
            }
            const std::shared_ptr<const SurroundTable> table = SurroundTableLoaded();
            const std::string name = filename(path);
            // The later row wins: a set whose markers hold another's comes after it.
            for (auto row = table->rows.rbegin(); row != table->rows.rend(); ++row) {
                if (!Matches(row->pattern, name)) continue;
                if (CompleteSetIn(finder, path, type, row->channelPatterns, row->indicators, members)) {
                    setName = row->name;
                    return row->config;
                }
            }
            break;
        }
        default: break;
    }
    members.clear();
    setName.clear();
    return CSoundFile::kMono;
}

bool CompleteSet(const std::string& path, unsigned int type, const std::vector<pcre_stuff>& patterns,
                 const std::vector<std::string>& names, std::vector<std::string>& members) {
    SiblingFinder finder;
    return CompleteSetIn(finder, path, type, patterns, names, members);
}

bool IsNumberedSplitMultichannel(const std::string& path, unsigned int type,
                                 unsigned long digitPos, std::vector<std::string>& members) {
    SiblingFinder finder;
    return NumberedSetIn(finder, path, type, digitPos, members);
}
