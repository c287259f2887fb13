// Surround sets: binding, opening and creating the members, the interleaved
// buffers, what is asked of the first member and what is done to all of them,
// the naming rules, and the two tables with their checks.
#include "soundfile/surround_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <set>

#include "foundation/pcre_wrappers.h"
#include "foundation/pstring.h"
#include "foundation/string_utils.h"
#include "soundfile/split_file.h"
#include "soundfile/type_codes.h"

namespace {

constexpr OSType kBWLN = FourCC("BWLN");
constexpr OSType kSAIF = FourCC("SAIF");

const char* const kSurroundTableName = "surround.qfdb";
const char* const kChannelNameTableName = "channelnames.qfdb";

// Left-channel indicators, in the order they are tried, removed from the path
// an output set is bound with.
const char* const kSetPathIndicators[] = {".l", ".L", "-L", ".1", "(l)", "(L)"};
// Indicators of a first member, in the order they are tried, removed from its
// path to show the set's: left, and numbered and Sonic pairs. A set that leads
// with its centre (LCRS, 7.1) shows it.
const char* const kFirstMemberIndicators[] = {".l", ".L", "-L", ".1", ".3",
                                              ".5", ".7", "(l)", "(L)"};
// What ends a first member's base name.
const char* const kBaseNameIndicators[] = {".L", ".l", ".C", ".c"};

// ---- Small helpers -----------------------------------------------------------

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// `name` without the first of `indicators` that ends it.
template <size_t N>
std::string WithoutEndingIndicator(std::string name, const char* const (&indicators)[N]) {
    for (const char* indicator : indicators) {
        if (EndsWith(name, indicator)) {
            name.resize(name.size() - std::strlen(indicator));
            break;
        }
    }
    return name;
}

// `path` without one indicator of its file name (from `nameStart` on): the first
// of `indicators`, in their order, that stands alone there, at its first place
// where it does.
template <size_t N>
std::string WithoutFirstIndicator(const std::string& path, size_t nameStart,
                                  const char* const (&indicators)[N]) {
    for (const char* indicator : indicators) {
        const std::string text(indicator);
        for (size_t at = path.find(text, nameStart); at != std::string::npos;
             at = path.find(text, at + 1)) {
            if (StandsAlone(path, at, text)) return path.substr(0, at) + path.substr(at + text.size());
        }
    }
    return path;
}

// The status of a refusal made here, its text written as the diagnostic line.
OSErr Refuse(int code, const char* text) {
    return static_cast<OSErr>(error_code_exception(code, "%s", text).error_code());
}

OSErr IllegalWordSize(short wordSize) {
    return static_cast<OSErr>(error_code_exception(kIllegalWordSizeErr,
                                                   "illegal word size (%ld) in sound file",
                                                   static_cast<long>(wordSize))
                                  .error_code());
}

// Bytes per sample of the word sizes a set interleaves (8, 16, 24, 32); else 0.
uint32_t InterleavedBytes(short wordSize) {
    return (wordSize == 8 || wordSize == 16 || wordSize == 24 || wordSize == 32)
               ? static_cast<uint32_t>(wordSize / 8)
               : 0;
}

// Sample i of a mono block to sample i * channels + channel of an interleaved one.
template <size_t B>
void SpreadIn(unsigned char* to, const unsigned char* from, size_t frames, size_t channels,
              size_t channel) {
    for (size_t i = 0; i < frames; ++i)
        std::memcpy(to + (i * channels + channel) * B, from + i * B, B);
}

template <size_t B>
void GatherOut(unsigned char* to, const unsigned char* from, size_t frames, size_t channels,
               size_t channel) {
    for (size_t i = 0; i < frames; ++i)
        std::memcpy(to + i * B, from + (i * channels + channel) * B, B);
}

void CopyIntoChannel(unsigned char* to, const unsigned char* from, size_t frames, size_t channels,
                     size_t channel, uint32_t bytes) {
    switch (bytes) {
        case 1:
            SpreadIn<1>(to, from, frames, channels, channel);
            break;
        case 2:
            SpreadIn<2>(to, from, frames, channels, channel);
            break;
        case 3:
            SpreadIn<3>(to, from, frames, channels, channel);
            break;
        case 4:
            SpreadIn<4>(to, from, frames, channels, channel);
            break;
        default:
            break;
    }
}

void CopyOutOfChannel(unsigned char* to, const unsigned char* from, size_t frames, size_t channels,
                      size_t channel, uint32_t bytes) {
    switch (bytes) {
        case 1:
            GatherOut<1>(to, from, frames, channels, channel);
            break;
        case 2:
            GatherOut<2>(to, from, frames, channels, channel);
            break;
        case 3:
            GatherOut<3>(to, from, frames, channels, channel);
            break;
        case 4:
            GatherOut<4>(to, from, frames, channels, channel);
            break;
        default:
            break;
    }
}

// Silence for `frames` frames of one channel of an interleaved block.
void ClearChannel(unsigned char* to, size_t from, size_t frames, size_t channels, size_t channel,
                  uint32_t bytes) {
    for (size_t i = from; i < frames; ++i)
        std::memset(to + (i * channels + channel) * bytes, 0, bytes);
}

// ---- The tables ----------------------------------------------------------------

std::string FieldOf(const dbrecord& record, const char* field) {
    auto it = record.find(field);
    return it == record.end() ? std::string() : it->second;
}

// One punctuation character followed by one or more ASCII letters or digits.
bool WellFormedIndicator(const std::string& s) {
    if (s.size() < 2) return false;
    const unsigned char first = static_cast<unsigned char>(s[0]);
    const bool punctuation = first > 0x20 && first < 0x7F && !std::isalnum(first);
    if (!punctuation) return false;
    return std::all_of(s.begin() + 1, s.end(), [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u < 0x80 && std::isalnum(u);
    });
}

bool Compiles(const std::string& pattern) {
    const char* error = nullptr;
    int offset = 0;
    pcre* compiled = pcre_compile(pattern.c_str(), 0, &error, &offset, nullptr);
    if (!compiled) return false;
    pcre_free(compiled);
    return true;
}

std::string LineText(size_t recordIndex) {
    // The first line holds the column names.
    return "line " + std::to_string(recordIndex + 2) + ": ";
}

std::string MissingColumn(const dbresult& table, std::initializer_list<const char*> columns) {
    for (const char* column : columns)
        if (std::find(table.attributes.begin(), table.attributes.end(), column) ==
            table.attributes.end())
            return std::string("no column \"") + column + "\"";
    return std::string();
}

// Reads one table of the application's resources. A missing resource (-43) or a
// file that cannot be opened throws, so that the next use tries again; a table
// that fails its check is refused with a diagnostic line and read as empty.
dbresult ReadResourceTable(const char* name, std::string (*check)(const dbresult&)) {
    const std::string path = CSoundFile::GetPathForSoundFileResource(name);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw error_code_exception(kIOErr, "cannot open the table %s", path.c_str());
    dbresult table;
    in >> table;
    const std::string problem = check(table);
    if (!problem.empty()) {
        error_code_exception(kParamErr, "the table %s is refused: %s", path.c_str(),
                             problem.c_str());
        return dbresult();
    }
    return table;
}

struct LoadedTable {
    std::once_flag once;
    dbresult table;
};

const dbresult& LoadOnce(LoadedTable& store, const char* name,
                         std::string (*check)(const dbresult&)) {
    try {
        std::call_once(store.once, [&] { store.table = ReadResourceTable(name, check); });
        return store.table;
    } catch (const std::exception&) {
        static const dbresult kEmpty;
        return kEmpty;
    }
}

LoadedTable& ChannelNameStore() {
    static LoadedTable store;
    return store;
}

LoadedTable& SurroundStore() {
    static LoadedTable store;
    return store;
}

}  // namespace

// ---------------------------------------------------------------------------
// Table checks

namespace surround {

uint32_t LayoutChannelCount(int configuration) {
    // Stereo, LCR, quad, LCRS, 5.0, 5.1, 6.0, 6.1, 7.1, 10.2.
    static constexpr uint32_t kCounts[] = {2, 3, 4, 4, 5, 6, 6, 7, 8, 16};
    if (configuration < 1 || configuration > 10) return 0;
    return kCounts[configuration - 1];
}

std::string CheckSurroundTable(const dbresult& table) {
    if (std::string missing = MissingColumn(table, {"cc", "indicators", "name"}); !missing.empty())
        return missing;
    if (table.records.empty()) return "no layouts";
    std::set<int> seen;
    std::vector<std::set<std::string>> layouts;
    for (size_t r = 0; r < table.records.size(); ++r) {
        const dbrecord& record = table.records[r];
        const std::string cc = FieldOf(record, "cc");
        const bool digits =
            !cc.empty() && cc.size() <= 2 &&
            std::all_of(cc.begin(), cc.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int configuration = digits ? std::atoi(cc.c_str()) : 0;
        if (LayoutChannelCount(configuration) == 0)
            return LineText(r) + "configuration \"" + cc + "\" is not one of 1 to 10";
        if (!seen.insert(configuration).second)
            return LineText(r) + "a second record for configuration " + cc;
        if (FieldOf(record, "name").empty()) return LineText(r) + "no name";
        std::set<std::string> layout;
        const std::vector<std::string> indicators = split(FieldOf(record, "indicators"), "|");
        for (const std::string& indicator : indicators) {
            if (!WellFormedIndicator(indicator))
                return LineText(r) + "indicator \"" + indicator +
                       "\" is not a punctuation character followed by letters or digits";
            if (!layout.insert(lower_case(indicator)).second)
                return LineText(r) + "indicator \"" + indicator + "\" appears twice";
        }
        if (indicators.size() != LayoutChannelCount(configuration))
            return LineText(r) + std::to_string(indicators.size()) +
                   " indicators for a layout of " +
                   std::to_string(LayoutChannelCount(configuration)) + " channels";
        layouts.push_back(std::move(layout));
    }
    // Rows are tried from the last: a layout must come after every layout it contains.
    for (size_t i = 0; i < layouts.size(); ++i)
        for (size_t j = i + 1; j < layouts.size(); ++j)
            if (std::includes(layouts[i].begin(), layouts[i].end(), layouts[j].begin(),
                              layouts[j].end()))
                return LineText(i) + "the layout contains that of line " + std::to_string(j + 2) +
                       " but comes before it";
    return std::string();
}

std::string CheckChannelNameTable(const dbresult& table) {
    if (std::string missing = MissingColumn(table, {"indicator", "pattern", "name"});
        !missing.empty())
        return missing;
    std::set<std::string> seen;
    for (size_t r = 0; r < table.records.size(); ++r) {
        const dbrecord& record = table.records[r];
        const std::string indicator = FieldOf(record, "indicator");
        const std::string pattern = FieldOf(record, "pattern");
        if (!WellFormedIndicator(indicator))
            return LineText(r) + "indicator \"" + indicator +
                   "\" is not a punctuation character followed by letters or digits";
        if (!seen.insert(lower_case(indicator)).second)
            return LineText(r) + "indicator \"" + indicator + "\" appears twice";
        if (FieldOf(record, "name").empty()) return LineText(r) + "no name";
        if (pattern.empty() || !Compiles(pattern))
            return LineText(r) + "the pattern \"" + pattern + "\" does not compile";
    }
    // Every indicator, in either case, is named by its own record: the first
    // whose pattern recognises it.
    for (size_t r = 0; r < table.records.size(); ++r) {
        const std::string indicator = FieldOf(table.records[r], "indicator");
        for (const std::string& form : {indicator, lower_case(indicator), upper_case(indicator)}) {
            size_t first = 0;
            while (first < table.records.size() &&
                   !PCREMatch(FieldOf(table.records[first], "pattern").c_str(), form.c_str(), 0))
                ++first;
            if (first == table.records.size())
                return LineText(r) + "the pattern does not recognise \"" + form + "\"";
            if (first != r)
                return LineText(r) + "\"" + form + "\" is taken by the pattern of line " +
                       std::to_string(first + 2);
        }
    }
    return std::string();
}

std::string KnownIndicatorExpression(const std::vector<std::string>& indicators) {
    std::string expression;
    for (const std::string& indicator : indicators) {
        if (!expression.empty()) expression += "|";
        // The backslash takes the indicator's first character literally.
        expression += "(?i)\\" + indicator + "\\b";
    }
    // A dot and digits ending the name: numbered members.
    return expression.empty() ? std::string("\\.\\d+$") : expression + "|\\.\\d+$";
}

}  // namespace surround

// ---------------------------------------------------------------------------
// The process-wide tables and the naming rules

const dbresult& CSurroundFile::GetChannelNames() {
    return LoadOnce(ChannelNameStore(), kChannelNameTableName, &surround::CheckChannelNameTable);
}

const dbresult& CSurroundFile::GetSurroundTable() {
    return LoadOnce(SurroundStore(), kSurroundTableName, &surround::CheckSurroundTable);
}

const std::string& CSurroundFile::GetKnownChannelIndicators() {
    static std::once_flag once;
    static std::string expression;
    std::call_once(once, [] {
        expression =
            surround::KnownIndicatorExpression(GetChannelNames().get_values_for_field("indicator"));
    });
    return expression;
}

std::string CSurroundFile::GetName(const std::string& path) {
    try {
        const std::string name = CSoundFile::GetName(path);
        const size_t dot = name.rfind('.');
        if (dot == std::string::npos) return name;
        int start = -1, end = -1;
        // Only an indicator that runs from the last dot to the end of the name counts.
        if (PCREMatch(GetKnownChannelIndicators().c_str(), name.c_str(), static_cast<int>(dot),
                      &start, &end) &&
            static_cast<size_t>(start) == dot && static_cast<size_t>(end) == name.size())
            return name.substr(0, dot);
        return name;
    } catch (const std::exception&) {
        // Without the type table no extension is known: the file name as it is.
        return filename(path);
    }
}

void CSurroundFile::SetPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    path_ = slash == std::string::npos ? path
                                       : WithoutFirstIndicator(path, slash + 1, kSetPathIndicators);
}

std::string CSurroundFile::GetPath() {
    if (members_.empty()) return path_;
    const std::string path = members_.front()->GetPath();
    const size_t slash = path.rfind('/');
    return WithoutFirstIndicator(path, slash == std::string::npos ? 0 : slash + 1,
                                 kFirstMemberIndicators);
}

std::string CSurroundFile::base_name() {
    if (members_.empty()) return CSoundFile::base_name();
    return WithoutEndingIndicator(members_.front()->base_name(), kBaseNameIndicators);
}

std::string CSurroundFile::GetName() {
    return members_.empty() ? CSoundFile::GetName() : members_.front()->GetName();
}

std::string CSurroundFile::GetChannelName(short channel) {
    if (channel < 0 || static_cast<size_t>(channel) >= members_.size()) return std::string();
    CSoundFile* member = members_[static_cast<size_t>(channel)];
    std::string name;
    try {
        if (surroundSetName_ == kSplitMultichannelName) {
            name = std::to_string(channel + 1);
        } else {
            const std::string memberName = CSoundFile::GetName(member->GetPath());
            const size_t dot = memberName.rfind('.');
            const std::string indicator =
                dot == std::string::npos ? std::string() : memberName.substr(dot);
            for (const dbrecord& record : GetChannelNames().records) {
                if (PCREMatch(FieldOf(record, "pattern").c_str(), indicator.c_str(), 0)) {
                    name = FieldOf(record, "name");
                    break;
                }
            }
        }
        if (std::getenv("SurroundFileDebug")) name += " [" + filename(member->GetPath()) + "]";
    } catch (const std::exception&) {
        // No type table or a table that cannot be matched: the name found so far.
    }
    return name;
}

// ---------------------------------------------------------------------------
// Life and binding

CSurroundFile::CSurroundFile(OSType memberType) : memberType_(memberType) {}

CSurroundFile::~CSurroundFile() {
    if (open_) CloseAllMembers();
    open_ = false;
    DisposeBuffer();
    for (CSoundFile* member : members_) delete member;
    members_.clear();
}

OSErr CSurroundFile::AddMember(const std::string& path) {
    CSoundFile* member = CSoundFile::CreateSoundFile(memberType_);
    if (!member)
        return static_cast<OSErr>(
            error_code_exception(kCannotMakeFormatObjectErr,
                                 "no sound file object for the member type %s of a surround set",
                                 HFSTypeString(memberType_).c_str())
                .error_code());
    const OSErr err = StatusOfCall([&] {
        member->SetSFTBufferSize(bufferFrames_);
        if (OSErr e = member->ISoundFile(path)) return e;
        members_.push_back(member);
        return OSErr(0);
    });
    if (err) delete member;
    return err;
}

OSErr CSurroundFile::ISoundFile(const std::vector<std::string>& paths) {
    if (paths.size() > kMaxMembers) return kTooManyFilesErr;
    for (const std::string& path : paths) {
        const OSErr err = AddMember(path);
        channels_ = static_cast<uint32_t>(members_.size());
        if (err) return err;
    }
    return 0;
}

OSErr CSurroundFile::ISoundFile(const std::string& path, ChannelConfiguration configuration,
                                long count) {
    return BindOutputSet(path, configuration, count, GetSurroundTable());
}

OSErr CSurroundFile::BindOutputSet(const std::string& path, ChannelConfiguration configuration,
                                   long count, const dbresult& surroundTable) {
    return StatusOfCall([&]() -> OSErr {
        SetPath(path);
        SetChannelConfiguration(configuration);
        std::vector<std::string> indicators;
        if (configuration >= kStereo && configuration <= k102) {
            const dbresult rows = surroundTable.find("cc", std::to_string(configuration));
            if (rows.records.empty())
                return Refuse(kParamErr, "the surround table has no layout for this configuration");
            indicators = split(FieldOf(rows.records.front(), "indicators"), "|");
        } else {
            if (count < 1) return Refuse(kParamErr, "a surround set needs at least one channel");
            if (static_cast<unsigned long>(count) > kMaxMembers) return kTooManyFilesErr;
            for (long i = 1; i <= count; ++i) indicators.push_back("." + std::to_string(i));
        }
        channels_ = static_cast<uint32_t>(indicators.size());
        // Every member path is the set's own path followed by the indicator.
        const std::string setPath = path_;
        for (const std::string& indicator : indicators)
            if (OSErr err = AddMember(setPath + indicator)) return err;
        return 0;
    });
}

// ---------------------------------------------------------------------------
// Opening, creating, closing

OSErr CSurroundFile::Open() {
    if (open_) return kFileBusyErr;
    channels_ = static_cast<uint32_t>(members_.size());
    if (members_.empty()) {
        numFrames_ = 0;
        open_ = true;
        return 0;
    }
    const OSErr err = StatusOfCall([this]() -> OSErr {
        for (size_t i = 0; i < members_.size(); ++i) {
            CSoundFile* member = members_[i];
            if (OSErr e = member->Open()) return e;
            // Members that do not match are a fault of the input set, which fails
            // alone as an inconsistent split pair does.
            if (member->GetNumChannels() != 1)
                return Refuse(kSplitNotConsistentErr, "files in a surround set must be mono");
            if (i == 0) {
                wordSize_ = member->GetWordSize();
                sampleRate_ = member->GetSampleRate();
                dataType_ = member->GetDataType();
            } else if (member->GetWordSize() != wordSize_) {
                return Refuse(kSplitNotConsistentErr,
                              "files in a surround set must have same word size");
            } else if (member->GetSampleRate() != sampleRate_) {
                return Refuse(kSplitNotConsistentErr,
                              "files in a surround set must have same sample rate");
            } else if (member->GetDataType() != dataType_) {
                return Refuse(kSplitNotConsistentErr,
                              "files in a surround set must have same data type");
            }
        }
        return 0;
    });
    if (err) {
        CloseAllMembers();
        open_ = false;
        return err;
    }
    numFrames_ = LongestMemberFrames();
    open_ = true;
    return 0;
}

void CSurroundFile::LinkSonicPair() {
    unsigned char records[2][16];
    MakeSonicLinkRecords(EmbeddedName(), records[0], records[1]);
    members_[0]->SetSonicAIFFExtras(records[0], records[1], 0);
    members_[1]->SetSonicAIFFExtras(records[0], records[1], 1);
}

OSErr CSurroundFile::Create(short channels, short wordSize, float sampleRate, void* specifics,
                            const unsigned char* extension) {
    if (open_) return kFileBusyErr;
    if (members_.empty()) return Refuse(kParamErr, "a surround set without members is not created");
    if (channels < 0 || static_cast<size_t>(channels) != members_.size())
        return Refuse(kParamErr,
                      "the channels to create differ from the members of the surround set");
    const OSErr err = StatusOfCall([&]() -> OSErr {
        if (memberType_ == kSAIF && members_.size() == 2) LinkSonicPair();
        sampleRate_ = sampleRate;
        wordSize_ = wordSize;
        channels_ = static_cast<uint32_t>(members_.size());
        if (OSErr e = CSoundFile::Create(channels, wordSize, sampleRate, specifics, extension))
            return e;
        for (CSoundFile* member : members_)
            if (OSErr e = member->Create(1, wordSize, sampleRate, specifics, extension)) return e;
        return 0;
    });
    if (err) {
        // The members made so far, and one that failed half-way, are closed again.
        CloseAllMembers();
        return err;
    }
    wordSize_ = members_.front()->GetWordSize();
    dataType_ = members_.front()->GetDataType();
    numFrames_ = 0;
    open_ = true;
    return 0;
}

OSErr CSurroundFile::Close() {
    const OSErr result = StatusOfCall([this]() -> OSErr {
        for (CSoundFile* member : members_) {
            const OSErr err = member->Close();
            if (err && err != kFileNotOpenErr && err != kFileNotOpenBaseErr) return err;
        }
        return 0;
    });
    if (result) CloseAllMembers();
    open_ = false;
    return result;
}

void CSurroundFile::CloseAllMembers() {
    for (CSoundFile* member : members_) {
        StatusOfCall([member] { return member->Close(); });
    }
}

OSErr CSurroundFile::GetOfflineInfo(OSErr* status) {
    if (members_.empty()) {
        if (status) *status = 0;
        channels_ = 0;
        numFrames_ = 0;
        return 0;
    }
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = members_.front()->GetOfflineInfo(status)) return err;
        // Every member is looked at: the set is as long as the longest.
        for (size_t i = 1; i < members_.size(); ++i) {
            OSErr ignored = 0;
            if (OSErr err = members_[i]->GetOfflineInfo(&ignored)) return err;
        }
        sampleRate_ = members_.front()->GetSampleRate();
        wordSize_ = members_.front()->GetWordSize();
        numFrames_ = LongestMemberFrames();
        channels_ = static_cast<uint32_t>(members_.size());
        return 0;
    });
}

bool CSurroundFile::DataEndsEarly(uint32_t* held, uint32_t* declared) {
    for (CSoundFile* member : members_)
        if (member->DataEndsEarly(held, declared)) return true;
    return CSoundFile::DataEndsEarly(held, declared);
}

OSErr CSurroundFile::Dispose(unsigned char keep) {
    OSErr first = 0;
    std::vector<CSoundFile*> members;
    members.swap(members_);
    for (CSoundFile* member : members) {
        // A member's Dispose ends it whatever it reports.
        const OSErr err = StatusOfCall([member, keep] { return member->Dispose(keep); });
        if (!first) first = err;
    }
    const OSErr own = CSoundFile::Dispose(keep);
    return first ? first : own;
}

// ---------------------------------------------------------------------------
// Samples

uint32_t CSurroundFile::LongestMemberFrames() {
    uint32_t longest = 0;
    for (CSoundFile* member : members_) longest = std::max(longest, member->GetNumSFrames());
    return longest;
}

template <class Op>
OSErr CSurroundFile::ForEachMember(Op&& op) {
    return StatusOfCall([&]() -> OSErr {
        for (CSoundFile* member : members_)
            if (OSErr err = op(*member)) return err;
        return 0;
    });
}

OSErr CSurroundFile::Read(short channel, uint32_t start, uint32_t* count, float* samples) {
    if (!count || !samples) return kParamErr;
    if (channel < 0 || static_cast<size_t>(channel) >= members_.size()) return kParamErr;
    const uint64_t end = std::min<uint64_t>(numFrames_, static_cast<uint64_t>(start) + *count);
    if (end <= start) {
        *count = 0;
        return 0;
    }
    CSoundFile* member = members_[static_cast<size_t>(channel)];
    const uint64_t memberEnd = std::min<uint64_t>(end, member->GetNumSFrames());
    uint32_t got = 0;
    if (memberEnd > start) {
        got = static_cast<uint32_t>(memberEnd - start);
        if (OSErr err = StatusOfCall([&] { return member->Read(0, start, &got, samples); })) return err;
    }
    // After a shorter member's end: silence.
    const uint32_t wanted = static_cast<uint32_t>(end - start);
    std::fill(samples + std::min(got, wanted), samples + wanted, 0.0f);
    *count = wanted;
    return 0;
}

OSErr CSurroundFile::InitInputBuffer() {
    if (OSErr err = ForEachMember([](CSoundFile& m) { return m.InitInputBuffer(); })) return err;
    return CSoundFile::InitInputBuffer();
}

OSErr CSurroundFile::InitOutputBuffer() {
    if (OSErr err = ForEachMember([](CSoundFile& m) { return m.InitOutputBuffer(); })) return err;
    return CSoundFile::InitOutputBuffer();
}

void CSurroundFile::DisposeBuffer() {
    for (CSoundFile* member : members_) member->DisposeBuffer();
    CSoundFile::DisposeBuffer();
}

OSErr CSurroundFile::Interleave(unsigned char* buffer, bool fromMembersOutput) {
    const uint32_t bytes = InterleavedBytes(wordSize_);
    const size_t channels = members_.size();
    const size_t frames = bufferFrames_;
    for (size_t m = 0; m < channels; ++m) {
        CSoundFile* member = members_[m];
        if (member->GetWordSize() != wordSize_ || member->GetBufferFrames() != bufferFrames_)
            return kParamErr;
        size_t valid = frames;
        const unsigned char* from = nullptr;
        if (fromMembersOutput) {
            if (OSErr err = member->RefreshOutputBuffer(firstBufferedFrame_)) return err;
            if (!member->OutputBufferHolds(bufferFrames_)) return kMemBlockMissingErr;
            from = member->GetOutputBuffer();
        } else {
            const uint32_t memberFrames = member->GetNumSFrames();
            valid = firstBufferedFrame_ < memberFrames
                        ? std::min<size_t>(frames, memberFrames - firstBufferedFrame_)
                        : 0;
            if (valid) {
                if (OSErr err = member->RefreshInputBuffer(firstBufferedFrame_)) return err;
                from = member->GetInputBuffer();
                if (!from) return kMemBlockMissingErr;
            }
        }
        if (valid) CopyIntoChannel(buffer, from, valid, channels, m, bytes);
        // A shorter member reads as silence after its end.
        ClearChannel(buffer, valid, frames, channels, m, bytes);
    }
    return 0;
}

OSErr CSurroundFile::RefreshInputBuffer(uint32_t frame) {
    return StatusOfCall([&]() -> OSErr {
        if (InterleavedBytes(wordSize_) == 0) return IllegalWordSize(wordSize_);
        if (members_.empty() || channels_ != members_.size()) return kParamErr;
        if (OSErr err = InitInputBuffer()) return err;
        if (!inputBuffer_) return kMemBlockMissingErr;
        firstBufferedFrame_ = frame;
        return Interleave(inputBuffer_, false);
    });
}

OSErr CSurroundFile::RefreshOutputBuffer(uint32_t frame) {
    return StatusOfCall([&]() -> OSErr {
        if (InterleavedBytes(wordSize_) == 0) return IllegalWordSize(wordSize_);
        if (members_.empty() || channels_ != members_.size()) return kParamErr;
        if (OSErr err = InitOutputBuffer()) return err;
        if (!outputBuffer_) return kMemBlockMissingErr;
        firstBufferedFrame_ = frame;
        return Interleave(outputBuffer_, true);
    });
}

OSErr CSurroundFile::Deinterleave(uint32_t frames) {
    const uint32_t bytes = InterleavedBytes(wordSize_);
    const size_t channels = members_.size();
    for (size_t m = 0; m < channels; ++m) {
        CSoundFile* member = members_[m];
        if (member->GetWordSize() != wordSize_) return kParamErr;
        if (!member->OutputBufferHolds(frames)) return kMemBlockMissingErr;
        CopyOutOfChannel(member->GetOutputBuffer(), outputBuffer_, frames, channels, m, bytes);
    }
    return 0;
}

OSErr CSurroundFile::FlushOutputBuffer(uint32_t frames, uint32_t position) {
    return StatusOfCall([&]() -> OSErr {
        if (OSErr err = CSoundFile::FlushOutputBuffer(frames, position)) return err;
        if (InterleavedBytes(wordSize_) == 0) return IllegalWordSize(wordSize_);
        if (members_.empty() || channels_ != members_.size()) return kParamErr;
        if (!outputBuffer_) {
            if (OSErr err = InitOutputBuffer()) return err;
        }
        if (!OutputBufferHolds(frames)) return kParamErr;
        if (OSErr err = Deinterleave(frames)) return err;
        const OSErr err =
            ForEachMember([&](CSoundFile& m) { return m.FlushOutputBuffer(frames, position); });
        numFrames_ = LongestMemberFrames();
        return err;
    });
}

OSErr CSurroundFile::SetFilePos(uint32_t frame) {
    return ForEachMember([frame](CSoundFile& m) { return m.SetFilePos(frame); });
}

OSErr CSurroundFile::UpdateSize() {
    const OSErr err = ForEachMember([](CSoundFile& m) { return m.UpdateSize(); });
    numFrames_ = LongestMemberFrames();
    return err;
}

void CSurroundFile::SetSFTBufferSize(uint32_t frames) {
    for (CSoundFile* member : members_) member->SetSFTBufferSize(frames);
    CSoundFile::SetSFTBufferSize(frames);
}

void CSurroundFile::SetDither(unsigned char flag) {
    CSoundFile::SetDither(flag);
    for (CSoundFile* member : members_) member->SetDither(flag);
}

// ---------------------------------------------------------------------------
// Markers, loops, regions, time stamps: asked of the first member, done to all

uint16_t CSurroundFile::GetNumMarkers() {
    return members_.empty() ? CSoundFile::GetNumMarkers() : members_.front()->GetNumMarkers();
}

OSErr CSurroundFile::GetIndMarker(uint16_t index, SFTMarker* marker) {
    return members_.empty() ? CSoundFile::GetIndMarker(index, marker)
                            : members_.front()->GetIndMarker(index, marker);
}

QFMarkerPtr CSurroundFile::GetIndMarker(uint32_t index) {
    return members_.empty() ? CSoundFile::GetIndMarker(index)
                            : members_.front()->GetIndMarker(index);
}

OSErr CSurroundFile::GetMarkerByID(long id, SFTMarker* marker) {
    return members_.empty() ? CSoundFile::GetMarkerByID(id, marker)
                            : members_.front()->GetMarkerByID(id, marker);
}

OSErr CSurroundFile::AddMarker(const SFTMarker* marker) {
    return ForEachMember([marker](CSoundFile& m) { return m.AddMarker(marker); });
}

OSErr CSurroundFile::RemoveMarker(const SFTMarker* marker) {
    return ForEachMember([marker](CSoundFile& m) { return m.RemoveMarker(marker); });
}

uint16_t CSurroundFile::GetNumLoops() {
    return members_.empty() ? CSoundFile::GetNumLoops() : members_.front()->GetNumLoops();
}

OSErr CSurroundFile::GetIndLoop(uint16_t index, SFTLoop* loop) {
    return members_.empty() ? CSoundFile::GetIndLoop(index, loop)
                            : members_.front()->GetIndLoop(index, loop);
}

QFLoopPtr CSurroundFile::GetIndLoop(uint32_t index) {
    return members_.empty() ? CSoundFile::GetIndLoop(index) : members_.front()->GetIndLoop(index);
}

OSErr CSurroundFile::AddLoop(const SFTLoop* loop) {
    return ForEachMember([loop](CSoundFile& m) { return m.AddLoop(loop); });
}

OSErr CSurroundFile::RemoveLoop(const SFTLoop* loop) {
    return ForEachMember([loop](CSoundFile& m) { return m.RemoveLoop(loop); });
}

OSErr CSurroundFile::RemoveDuplicates() {
    return ForEachMember([](CSoundFile& m) { return m.RemoveDuplicates(); });
}

uint16_t CSurroundFile::GetNumRegions() {
    return members_.empty() ? CSoundFile::GetNumRegions() : members_.front()->GetNumRegions();
}

OSErr CSurroundFile::GetIndRegion(uint16_t index, SFTRegion* region) {
    if (members_.empty()) return CSoundFile::GetIndRegion(index, region);
    const OSErr err = members_.front()->GetIndRegion(index, region);
    if (err == 0 && region && memberType_ == kBWLN) {
        // The whole-file region of a first member is named after it, ".L" and all.
        const size_t length = std::min<size_t>(region->name[0], sizeof region->name - 1);
        if (length >= 2 && region->name[length - 1] == '.' && region->name[length] == 'L')
            region->name[0] = static_cast<unsigned char>(length - 2);
    }
    return err;
}

QFRegionPtr CSurroundFile::GetIndRegion(uint32_t index) {
    if (members_.empty()) return CSoundFile::GetIndRegion(index);
    QFRegionPtr region = members_.front()->GetIndRegion(index);
    if (region && memberType_ == kBWLN && EndsWith(region->name, ".L"))
        region->name.resize(region->name.size() - 2);
    return region;
}

OSErr CSurroundFile::AddRegion(const SFTRegion* region) {
    return ForEachMember([region](CSoundFile& m) { return m.AddRegion(region); });
}

OSErr CSurroundFile::RemoveRegion(const SFTRegion* region) {
    return ForEachMember([region](CSoundFile& m) { return m.RemoveRegion(region); });
}

std::vector<QFRegionPtr>& CSurroundFile::GetRegionList() {
    return members_.empty() ? CSoundFile::GetRegionList() : members_.front()->GetRegionList();
}

std::vector<QFMarkerPtr>& CSurroundFile::GetMarkerList() {
    return members_.empty() ? CSoundFile::GetMarkerList() : members_.front()->GetMarkerList();
}

OSErr CSurroundFile::GetNextBlock(uint32_t from, uint32_t* start, uint32_t* end) {
    return members_.empty() ? CSoundFile::GetNextBlock(from, start, end)
                            : members_.front()->GetNextBlock(from, start, end);
}

uint32_t CSurroundFile::GetTimeStamp() {
    return members_.empty() ? CSoundFile::GetTimeStamp() : members_.front()->GetTimeStamp();
}

void CSurroundFile::SetTimeStamp(uint32_t stamp) {
    for (CSoundFile* member : members_) member->SetTimeStamp(stamp);
}

bool CSurroundFile::IsTimeStampValid() {
    return members_.empty() ? CSoundFile::IsTimeStampValid() : members_.front()->IsTimeStampValid();
}

plist::Dictionary& CSurroundFile::GetAttributes() {
    return members_.empty() ? CSoundFile::GetAttributes() : members_.front()->GetAttributes();
}

std::string CSurroundFile::GetDescription() {
    if (members_.empty()) return surroundSetName_;
    const std::string member = members_.front()->GetDescription();
    return surroundSetName_.empty() ? member : surroundSetName_ + " " + member;
}
