// One input file on the batch thread: whether it is converted at all, its
// per-input context (long name, output folder, comment, mp3 tags, conversion
// view), the run on the whole input or on a snip window, and then the renaming
// of its outputs to their final names, or their deletion after a failure.
//
// Only outputs this input's pipeline made are ever renamed or deleted: files
// in the current folder whose names hold the placeholder and that were not
// there before the pipeline ran.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>

#include "engine/case_dispatch.h"
#include "engine/conversion_process.h"
#include "formats/mpeg/id3_tags.h"
#include "formats/mpeg/mp3_tag_readers.h"
#include "formats/telephony/dialogic_adpcm_file.h"
#include "foundation/finder_comment.h"
#include "foundation/resource_fork.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "platform/resource_dir.h"
#include "soundfile/progress.h"
#include "soundfile/snippet_file.h"
#include "soundfile/type_codes.h"

const char* const kJustCopiedComment = "(not recognized as a sound file, just copied)";

namespace {

constexpr OSType kSplitType = FourCC("Splt");
constexpr OSType kSurroundType = FourCC("Srnd");
constexpr OSType kSnippetType = FourCC("Snip");
constexpr uint16_t kFinderInvisibleFlag = 0x4000;
constexpr int kAlreadyProcessedErr = -23015;
constexpr int kNameNotExtendedErr = -22021;
const char* const kDotIgnoreResource = "dotignore";
// Bytes moved per step when an unrecognised input is copied.
constexpr int kCopyBlockBytes = 1 << 16;

// The encoder's option key for each tag, tried in this order (the first whose
// text the tag's key contains, ignoring case, wins).
struct TagOption {
    const char* tagKeyPart;
    const char* optionKey;
    bool number;
};
constexpr TagOption kTagOptions[] = {
    {"album", "LAMEAlbum", false},         {"performer", "LAMEArtist", false},
    {"title", "LAMETitle", false},         {"track", "LAMETrack", false},
    {"recording time", "LAMEYear", false}, {"content type", "LAMEGenre", true},
    {"comment", "LAMEComment", false},
};

// A status of 16 bits for an exception's code; 0 and codes that do not fit
// become -50.
OSErr StatusOf(int code) {
    if (code == 0 || code < INT16_MIN || code > INT16_MAX) return kParamErr;
    return static_cast<OSErr>(code);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// `text` with every occurrence of `from` replaced by `to`; false when none was.
bool ReplaceAll(const std::string& text, const std::string& from, const std::string& to,
                std::string* out) {
    *out = text;
    size_t at = out->find(from);
    if (at == std::string::npos) return false;
    for (; at != std::string::npos; at = out->find(from, at + to.size()))
        out->replace(at, from.size(), to);
    return true;
}

// The lines of the "dotignore" resource, read once.
const std::set<std::string>& DotIgnoreNames() {
    static std::set<std::string> names;
    static std::once_flag once;
    std::call_once(once, [] {
        std::ifstream in(platform::ResourcePath(kDotIgnoreResource));
        std::string line;
        while (std::getline(in, line)) {
            const size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos) continue;
            line.erase(0, first);
            while (!line.empty() && line.back() == '\r') line.pop_back();
            names.insert(line);
        }
    });
    return names;
}

// Copies the bytes of a file to a new file that must not exist yet; a copy
// that fails is removed again.
OSErr CopyNewFile(const std::string& from, const std::string& to) {
    FSRef source{from};
    int in = XWQF::kNoFork;
    if (OSErr err = XWQF::OpenFork(&source, XWQF::kPermRead, &in)) return err;
    FSRef made;
    OSErr err = XWQF::CreateFile(to, &made);
    if (err) {
        XWQF::CloseFork(in);
        return err;
    }
    int out = XWQF::kNoFork;
    err = XWQF::OpenFork(&made, XWQF::kPermWidest, &out);
    std::vector<char> block(kCopyBlockBytes);
    while (err == 0) {
        int count = kCopyBlockBytes;
        OSErr readErr = XWQF::Read(in, &count, block.data());
        if (readErr && readErr != kEOFErr) err = readErr;
        if (err == 0 && count > 0) err = XWQF::Write(out, &count, block.data());
        if (readErr == kEOFErr || count == 0) break;
    }
    XWQF::CloseFork(in);
    if (out != XWQF::kNoFork) {
        if (OSErr closeErr = XWQF::CloseFork(out); err == 0) err = closeErr;
    }
    if (err) ::unlink(made.path.c_str());
    return err;
}

}  // namespace

// ---------------------------------------------------------------------------
// Invisible inputs

bool ConversionProcess::isDotInvisible(const std::string& name) {
    if (name.empty() || name[0] != '.') return false;
    return DotIgnoreNames().count(name) != 0;
}

bool ConversionProcess::isHFSInvisible(const std::string& path) {
    uint32_t type = 0, creator = 0;
    uint16_t flags = 0;
    if (GetFinderInfo(path, &type, &creator, &flags) != 0) return false;
    return (flags & kFinderInvisibleFlag) != 0;
}

// ---------------------------------------------------------------------------
// One input

void ConversionProcess::processFile(const std::string& path, const std::string* outputName) {
    std::optional<OSErr> result;
    try {
        result = convertFile(path, outputName);
    } catch (const error_code_exception& e) {
        result = StatusOf(e.error_code());
    } catch (const std::bad_alloc&) {
        result = kMemFullErr;
    } catch (...) {
        result = kParamErr;
    }
    CConvSpec::SetCurConvSpec(nullptr);
    inFile_.reset();
    if (result) {
        try {
            if (*result == 0) {
                plist::Dictionary info;
                info[kInputPathKey] = path;
                plist::Array paths(curOutputPaths_.begin(), curOutputPaths_.end());
                info[kConvertedFilePathKey] = std::move(paths);
                post(QFConversionSuccessNotification, info);
            } else {
                failInput(path, *result);
            }
        } catch (...) {
            // An observer failed; the input's outcome stands as it is.
        }
    }
    // Outputs still at a placeholder name (kept after -22021, or not deletable)
    // belong to no later input.
    for (const std::string& p : createdOutputs()) {
        if (XWQF::FileExists(p)) placeholdersBefore_.insert(filename(p));
    }
    CorvaOutFile::Clear();
}

std::optional<OSErr> ConversionProcess::convertFile(const std::string& path,
                                                    const std::string* outputName) {
    CorvaOutFile::Clear();
    curOutputPaths_.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        plist::Dictionary info;
        info[kInputPathKey] = path;
        info[kErrorKey] = static_cast<int64_t>(kFileNotFoundErr);
        post(QFConversionFailureNotification, info);
        return std::nullopt;
    }
    err_ = 0;
    if (shouldStop_) err_ = kUserCanceledErr;
    setLastError(0);
    setCurFile(path);
    // A sidecar holds another file's resource fork; it is never an input.
    if (XWQF::IsSidecarName(path)) return std::nullopt;

    inFile_ = QFSoundFile::soundFileWithPath(path);
    std::string longName = inFile_->name();
    if (isHFSInvisible(path) || isDotInvisible(longName)) return std::nullopt;
    // mp3 files often begin their names with a track number.
    if (extension(filename(path)) == "mp3" && longName.size() >= 3 &&
        std::isdigit(uint8_t(longName[0])) && std::isdigit(uint8_t(longName[1])) &&
        longName[2] == ' ')
        longName.erase(0, 3);
    context_.longName = longName;

    FSRef folderRef;
    if (OSErr err = getCurFolder(&folderRef)) return err;
    if (settings_.preserveFinderComments) comment_ = ReadFinderCommentFromFile(path);

    const std::shared_ptr<ConvSpec> conv = curConvSpec();
    // This input's own copy of the per-type options, with its own tags only.
    context_.values[kOutputSpecificsKey] = conv->specifics();
    context_.values.erase(kID3TagsKey);
    if (conv->nameExtension() == "mp3") readID3TagsFromFile(path);

    CConvSpec cs(conv, &folderRef, &longName);
    CConvSpec::SetCurConvSpec(&cs);
    context_.outputFolder = curFolder_;

    short code = 0;
    InputPtr sf(inFile_->createSoundFile(&code).release());
    const OSType groupType = inFile_->hfsFileType();
    const std::vector<std::string>& members = inFile_->surround_set();
    if (sf && !lastPathProcessed_.empty() &&
        (groupType == kSplitType || groupType == kSurroundType) &&
        std::find(members.begin(), members.end(), lastPathProcessed_) != members.end())
        code = kAlreadyProcessedErr;
    lastPathProcessed_ = path;

    if (!sf) {
        switch (settings_.unrecognizedInputFileAction) {
            case 0:
                return std::nullopt;
            case 1:
                copyUnrecognized(path);
                return std::nullopt;
            default:
                // Read as raw data: without a format object there is nothing to read.
                if (code == 0) code = kNotASoundFileErr;
                break;
        }
    }
    if (filename(path).starts_with(".")) return std::nullopt;
    if (code) return code;

    writeID3Tags();
    notePlaceholdersBefore();
    // The name that will replace the placeholder, for formats that embed it.
    context_.values[kFinalOutputNameKey] = outputName ? *outputName : longName;
    code = cs.GetNeedsSnip() ? processSnippet(sf.get(), &cs) : processOther(sf.get(), &cs);
    if (code == 0) {
        if (shouldStop_) return OSErr(kUserCanceledErr);
        plist::Dictionary info;
        info[kInputPathKey] = path;
        post(QFConversionWillRenameNotification, info);
        code = renameOutputTo(outputName ? *outputName : longName);
    }
    return code;
}

void ConversionProcess::failInput(const std::string& path, OSErr code) {
    err_ = code;
    setLastError(code);
    plist::Dictionary info;
    info[kInputPathKey] = path;
    info[kErrorKey] = static_cast<int64_t>(code);
    info[kConvertedFilePathKey] = plist::Array(curOutputPaths_.begin(), curOutputPaths_.end());
    post(QFConversionFailureNotification, info);
    // A name that could not be extended leaves the outputs where they are.
    if (code == kNameNotExtendedErr) return;
    for (const std::string& p : createdOutputs()) {
        if (XWQF::FileExists(p)) XWQF::DeleteFile(p);
    }
}

OSErr ConversionProcess::getCurFolder(FSRef* ref) const {
    return XWQF::MakeRef(curFolder_, ref);
}

// ---------------------------------------------------------------------------
// Running the pipeline

OSErr ConversionProcess::processOther(CSoundFile* sf, CConvSpec* cs) {
    if (OSErr err = sf->Open()) return err;
    if (OSErr err = CheckOpenedInput(*sf)) {
        sf->Close();
        return err;
    }
    curNumInSamples_ = sf->GetNumSFrames();
    SetProgressNumSampleFrames(static_cast<int>(sf->GetNumSFrames()));
    OSErr code = ResolveForRun(sf, cs);
    if (code == 0) code = cs->Run(sf);
    sf->Close();
    return code;
}

OSErr ConversionProcess::SnipWindow(int64_t frames, double rate, float from, float to,
                                    uint32_t* start, uint32_t* end) {
    // Seconds to frames, truncated, and held far beyond any frame index so
    // that the window arithmetic below cannot overflow.
    const auto toFrames = [rate](float seconds) -> int64_t {
        constexpr double kLimit = 1e12;
        const double f = std::trunc(static_cast<double>(seconds) * rate);
        return std::isnan(f) ? 0 : static_cast<int64_t>(std::clamp(f, -kLimit, kLimit));
    };
    const int64_t s = std::max<int64_t>(0, toFrames(from));
    const int64_t e = to == -1.0f ? frames : toFrames(to);
    int64_t first, last;
    if (frames > s) {
        first = s;
        last = std::min(frames, e);
    } else {
        first = std::max<int64_t>(0, frames - (e - s));
        last = frames;
    }
    if (last < first) return kParamErr;
    *start = static_cast<uint32_t>(first);
    *end = static_cast<uint32_t>(last);
    return 0;
}

OSErr ConversionProcess::processSnippet(CSoundFile* sf, CConvSpec* cs) {
    CSoundFile* made = CSoundFile::CreateSoundFile(kSnippetType);
    auto* snippet = dynamic_cast<CSnippetFile*>(made);
    if (!snippet) {
        if (made) made->Dispose(0);
        return kCannotMakeFormatObjectErr;
    }
    // The input stays its owner's: the wrapper gives it back before it ends,
    // whichever way this function is left.
    snippet->SetInnerFile(sf);
    struct Unwrap {
        CSnippetFile* snippet;
        ~Unwrap() {
            snippet->ReleaseInnerFile();
            snippet->Dispose(0);
        }
    } unwrap{snippet};

    if (OSErr err = snippet->Open()) return err;
    if (OSErr err = CheckOpenedInput(*snippet)) {
        snippet->Close();
        return err;
    }
    uint32_t start = 0, end = 0;
    OSErr code = SnipWindow(static_cast<int64_t>(sf->GetNumSFrames()), sf->GetSampleRate(),
                            cs->GetSnipFrom(), cs->GetSnipTo(), &start, &end);
    if (code == 0) {
        snippet->SetStartFrame(start);
        snippet->SetEndFrame(end);
        curNumInSamples_ = end - start;
        SetProgressNumSampleFrames(static_cast<int>(end - start));
        code = ResolveForRun(snippet, cs);
        if (code == 0) code = cs->Run(snippet);
    }
    snippet->Close();
    return code;
}

// ---------------------------------------------------------------------------
// Outputs

void ConversionProcess::notePlaceholdersBefore() {
    if (placeholderFolder_ == curFolder_) return;
    placeholderFolder_ = curFolder_;
    placeholdersBefore_.clear();
    if (DIR* dir = ::opendir(curFolder_.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (name.find(CorvaOutFile::kCorvaOutFileNameStr) != std::string::npos)
                placeholdersBefore_.insert(name);
        }
        ::closedir(dir);
    }
}

std::vector<std::string> ConversionProcess::createdOutputs() const {
    std::vector<std::string> outputs;
    if (placeholderFolder_ != curFolder_) return outputs;
    for (const std::string& p : CorvaOutFile::OutputFiles()) {
        if (FolderOf(p) != curFolder_) continue;
        const std::string name = filename(p);
        if (name.find(CorvaOutFile::kCorvaOutFileNameStr) == std::string::npos) continue;
        if (placeholdersBefore_.count(name)) continue;
        if (std::find(outputs.begin(), outputs.end(), p) == outputs.end()) outputs.push_back(p);
    }
    return outputs;
}

OSErr ConversionProcess::renameOutputTo(const std::string& name) {
    curOutputPaths_.clear();
    OSErr result = 0;
    const std::string placeholder = CorvaOutFile::kCorvaOutFileNameStr;
    const auto moved = [this](const std::string& target) {
        if (settings_.preserveFinderComments && !comment_.empty())
            WriteFinderComment(comment_, target);
    };
    const auto failed = [&result](const std::string& source, const std::string& target, OSErr err) {
        std::fprintf(stderr, "renameOutputTo: error %d moving '%s' to '%s'\n", err, source.c_str(),
                     target.c_str());
        result = kDupFNErr;
        XWQF::DeleteFile(source);
    };
    for (const std::string& source : createdOutputs()) {
        if (!XWQF::FileExists(source)) continue;
        const std::string recorded = filename(source);
        std::string newName;
        if (!ReplaceAll(recorded, placeholder, name, &newName)) continue;
        const std::string target = JoinPath(curFolder_, newName);
        curOutputPaths_.push_back(target);
        if (!XWQF::FileExists(target)) {
            if (OSErr err = XWQF::RenameFile(source, target))
                failed(source, target, err);
            else
                moved(target);
            continue;
        }
        plist::Dictionary info;
        info[kNewNameKey] = newName;
        info[kOrigInputFileKey] = inFile_ ? inFile_->path() : std::string();
        post(QFConversionRenameDuplicateNotification, info);
        if (!settings_.numberDuplicateFiles) {
            result = kDupFNErr;
            XWQF::DeleteFile(source);
            continue;
        }
        // Numbered after the name, before any channel suffix and extension:
        // "Take 1-2.aif", "Take 1-2.L.aif". Renaming never replaces a file, so
        // a name taken meanwhile only moves on to the next number.
        for (unsigned long n = 1;; ++n) {
            std::string numberedName;
            ReplaceAll(recorded, placeholder, name + "-" + std::to_string(n), &numberedName);
            const std::string candidate = JoinPath(curFolder_, numberedName);
            if (XWQF::FileExists(candidate)) continue;
            const OSErr err = XWQF::RenameFile(source, candidate);
            if (err == kDupFNErr) continue;
            if (err) {
                failed(source, candidate, err);
            } else {
                curOutputPaths_.back() = candidate;
                moved(candidate);
            }
            break;
        }
    }
    CorvaOutFile::Clear();
    return result;
}

void ConversionProcess::copyUnrecognized(const std::string& path) {
    const std::string target = JoinPath(curFolder_, filename(path));
    if (OSErr err = CopyNewFile(path, target)) {
        std::fprintf(stderr, "processFile: Could not copy file '%s' to '%s' (error %d)\n",
                     path.c_str(), target.c_str(), err);
        return;
    }
    // The resource fork and Finder information go along when there are any.
    const std::string sidecar = XWQF::SidecarPath(path);
    if (XWQF::FileExists(sidecar)) CopyNewFile(sidecar, XWQF::SidecarPath(target));
    plist::Dictionary info;
    info[kInputPathKey] = path;
    info[kCommentKey] = kJustCopiedComment;
    info[kConvertedFilePathKey] = target;
    post(QFConversionSuccessNotification, info);
}

// ---------------------------------------------------------------------------
// mp3 tags

void ConversionProcess::readID3TagsFromFile(const std::string& path) {
    if (extension(filename(path)) != "mp3") return;
    plist::Dictionary tags;
    plist::Value& options = context_.values[kOutputSpecificsKey];
    // The whole tag, footer included, or none: a tag the file cannot hold is no tag.
    unsigned long size = 0;
    if (const std::unique_ptr<uint8_t[]> tag = Mp3TagReader(path).get_id3v2_tag(&size)) {
        options[kID3v2TagBlobKey] = plist::Value(plist::Bytes(tag.get(), tag.get() + size));
    } else {
        if (plist::Dictionary* d = options.dict()) d->erase(kID3v2TagBlobKey);
        ID3v1Tag v1;
        if (ReadID3v1Tag(path, &v1)) {
            tags["Title"] = v1.title;
            tags["performer"] = v1.artist;
            tags["Album"] = v1.album;
            tags["Recording time"] = v1.year;
            tags["Comment"] = v1.comment;
            if (v1.genre >= 0) tags["Content type"] = v1.genre;
        }
    }
    context_.values[kID3TagsKey] = std::move(tags);
}

void ConversionProcess::writeID3Tags() {
    const auto found = context_.values.find(kID3TagsKey);
    if (found == context_.values.end() || !found->second.dict()) return;
    const plist::Dictionary tags = *found->second.dict();
    plist::Value& options = context_.values[kOutputSpecificsKey];
    for (const auto& [key, value] : tags) {
        const std::string lowered = lower_case(key);
        for (const TagOption& row : kTagOptions) {
            if (lowered.find(row.tagKeyPart) == std::string::npos) continue;
            options[row.optionKey] =
                row.number ? plist::Value(value.asInteger()) : plist::Value(value.asString());
            break;
        }
    }
}
