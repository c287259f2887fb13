// The search for the sibling files that form a set with a mono file: split
// pairs, numbered sets and the sets of the surround table, found by name
// whatever the letter case, each member detected as the same type.
#include "formats/channel_sets.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <fstream>
#include <map>
#include <mutex>

#include "formats/detection.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/paris_file.h"
#include "formats/pcm/sd2_file.h"
#include "formats/pcm/wave_file.h"
#include "foundation/dbresult.h"
#include "foundation/log.h"
#include "foundation/pcre_wrappers.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"

namespace {

// A numbered set counts its members from 1 up to this.
constexpr unsigned kMaxNumberedMembers = 16;

constexpr char kSurroundTableName[] = "surround.qfdb";
constexpr char kSplitStereoName[] = "Split stereo";
constexpr char kSplitMultichannelName[] = "Split Multichannel";

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
// Sets

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
        if (real.empty() || DetectMemberType(real) != type) return false;
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
        if (real.empty() || DetectMemberType(real) != type) break;
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
