// One input file on the batch thread: whether it is converted at all, its
// per-input context (long name, output folder, comment, mp3 tags, conversion
// view), the run on the whole input or on a snip window, and then the renaming
// of its outputs to their final names, or their deletion after a failure.
//
// Only outputs this input's pipeline made are ever renamed or deleted (see
// output_names.cpp).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>

#include "conversion/error_messages.h"
#include "engine/case_dispatch.h"
#include "engine/conversion_process.h"
#include "engine/output_names.h"
#include "formats/mpeg/id3_tags.h"
#include "formats/mpeg/mp3_tag_readers.h"
#include "foundation/finder_comment.h"
#include "foundation/resource_fork.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "platform/resource_dir.h"
#include "soundfile/progress.h"
#include "soundfile/snippet_file.h"
#include "soundfile/sound_file.h"
#include "soundfile/split_file.h"
#include "soundfile/type_codes.h"

const char* const kJustCopiedComment = "(not recognized as a sound file, just copied)";
const char* const kNotRecognizedComment = "skipped: not recognized as a sound file";
const char* const QFConversionSkippedNotification = "QFConversionSkippedNotification";

namespace {

constexpr OSType kSplitType = FourCC("Splt");
constexpr OSType kSurroundType = FourCC("Srnd");
constexpr OSType kSnippetType = FourCC("Snip");
constexpr uint16_t kFinderInvisibleFlag = 0x4000;
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

// True when the log stops the batch for a failure of this code: the
// catalogue does not know it, or it is serious.
bool StopsTheBatch(OSErr code) {
    std::string text;
    const short cls = MakeErrorMessage(code, text);
    return cls == kErrorClassUnknown || cls == kErrorClassSerious;
}

// The comment of an input whose data ends before its header says (for a pair
// or set of files, a member's); empty when it holds what the header promised.
std::string DataEndNote(CSoundFile* sf) {
    uint32_t frames = 0, declared = 0;
    if (!sf->DataEndsEarly(&frames, &declared)) return std::string();
    return "(data ends early: " + std::to_string(frames) + " of " + std::to_string(declared) +
           " frames)";
}

// True when the file's name ends in an extension of a readable type, compared
// without regard to case: the name itself claims a sound file.
bool HasReadableExtension(const std::string& path) {
    const std::string name = filename(path);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string ext = lower_case(name.substr(dot + 1));
    const std::set<std::string>& readable = CSoundFile::SupportedNameExtensions();
    return std::any_of(readable.begin(), readable.end(),
                       [&ext](const std::string& known) { return lower_case(known) == ext; });
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
    ++inputsHanded_;
    lastInputFailed_ = false;
    leftOutputs_.clear();
    inputNote_.clear();
    dataNote_.clear();
    skippedUnrecognized_ = false;
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
                if (!dataNote_.empty()) info[kCommentKey] = dataNote_;
                post(QFConversionSuccessNotification, info);
                // Converted as far as its data goes: a warning.
                if (!dataNote_.empty())
                    platform::NotificationCenter::Default().Post(
                        XWLogMessageNotification, nullptr, "'" + filename(path) + "' " + dataNote_);
            } else {
                failInput(path, *result);
            }
        } catch (...) {
            // An observer failed; the input's outcome stands as it is.
        }
    } else if (skippedUnrecognized_) {
        try {
            plist::Dictionary info;
            info[kInputPathKey] = path;
            info[kCommentKey] = kNotRecognizedComment;
            post(QFConversionSkippedNotification, info);
            // Left out on purpose, but never without a word: a warning.
            platform::NotificationCenter::Default().Post(
                XWLogMessageNotification, nullptr,
                "'" + filename(path) + "' " + kNotRecognizedComment);
        } catch (...) {
            // An observer failed; the skip stands.
        }
    }
    // Outputs still at a placeholder name (kept after -22021, or not deletable)
    // belong to no later input.
    for (const std::string& p : createdOutputs()) {
        if (XWQF::FileExists(p)) placeholdersBefore_.insert(filename(p));
    }
    for (const std::string& p : leftOutputs_) placeholdersBefore_.insert(filename(p));
    CorvaOutFile::Clear();
}

std::optional<OSErr> ConversionProcess::convertFile(const std::string& path,
                                                    const std::string* outputName) {
    CorvaOutFile::Clear();
    curOutputPaths_.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        // A link met in an input folder that leads nowhere fails alone (hidden
        // ones, such as editors' lock links, are passed over); a listed input
        // that is missing is serious.
        if (!folderPath_.empty() && XWQF::IsLinkToMissingFile(path)) {
            if (filename(path).starts_with(".")) return std::nullopt;
            err_ = 0;
            setLastError(0);
            setCurFile(path);
            return OSErr(kLinkToMissingFileErr);
        }
        postFailure(path, kFileNotFoundErr, false);
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
    // A file whose bytes cannot be had is no unrecognised file: it fails with
    // the cause, unless it is a hidden one that would not be copied.
    if (OSErr unreadable = XWQF::CheckReadable(path)) {
        if (filename(path).starts_with(".") && settings_.unrecognizedInputFileAction != 1)
            return std::nullopt;
        return unreadable;
    }
    // mp3 files often begin their names with a track number.
    if (extension(filename(path)) == "mp3" && longName.size() >= 3 &&
        std::isdigit(uint8_t(longName[0])) && std::isdigit(uint8_t(longName[1])) &&
        longName[2] == ' ')
        longName.erase(0, 3);
    context_.longName = longName;

    FSRef folderRef;
    if (OSErr err = getCurFolder(&folderRef)) {
        // The output folder could not be made in a folder that refuses it.
        std::string above = parent(curFolder_);
        if (above.empty()) above = "/";
        if (err == kFileNotFoundErr && FolderRefusesWrites(above)) return FolderRefused(above);
        return err;
    }
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
                // Reported only where the user took the file for sound: an
                // input listed by name, or a file in a folder whose extension
                // is a readable type's. Hidden names and a folder's other
                // files (covers, notes) pass in silence.
                skippedUnrecognized_ = !filename(path).starts_with(".") &&
                                       (folderPath_.empty() || HasReadableExtension(path));
                return std::nullopt;
            case 1:
                if (OSErr err = copyUnrecognized(path)) return err;
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
    // An output the current folder refused says so, with the folder.
    if (IsWriteRefusal(code) && FolderRefusesWrites(curFolder_)) code = FolderRefused(curFolder_);
    err_ = code;
    setLastError(code);
    // A name that could not be extended leaves the outputs where they are.
    if (code != kNameNotExtendedErr) {
        for (const std::string& p : createdOutputs()) {
            if (XWQF::FileExists(p)) discardOutput(p);
        }
    }
    postFailure(path, code, true);
}

void ConversionProcess::postFailure(const std::string& path, OSErr code, bool withOutputs) {
    lastInputFailed_ = true;
    plist::Dictionary info;
    info[kInputPathKey] = path;
    info[kErrorKey] = static_cast<int64_t>(code);
    inputNote_.clear();
    if (withOutputs) {
        info[kConvertedFilePathKey] = plist::Array(curOutputPaths_.begin(), curOutputPaths_.end());
        for (const std::string& left : leftOutputs_)
            inputNote_ += (inputNote_.empty() ? "" : ", ") + ("could not remove '" + left + "'");
        if (!inputNote_.empty()) info[kCommentKey] = inputNote_;
    }
    const bool wasStopping = shouldStop_;
    struct ClearNote {
        std::string& note;
        ~ClearNote() { note.clear(); }
    } clearNote{inputNote_};
    post(QFConversionFailureNotification, info);
    // The failure stopped the batch (through the log), not a cancel meanwhile.
    if (!wasStopping && shouldStop_ && StopsTheBatch(code)) stopCode_ = code;
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
    dataNote_ = DataEndNote(sf);
    set(&Progress::curNumInSamples, int64_t(sf->GetNumSFrames()));
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
    dataNote_ = DataEndNote(sf);
    uint32_t start = 0, end = 0;
    OSErr code = SnipWindow(static_cast<int64_t>(sf->GetNumSFrames()), sf->GetSampleRate(),
                            cs->GetSnipFrom(), cs->GetSnipTo(), &start, &end);
    if (code == 0) {
        snippet->SetStartFrame(start);
        snippet->SetEndFrame(end);
        set(&Progress::curNumInSamples, int64_t(end - start));
        SetProgressNumSampleFrames(static_cast<int>(end - start));
        code = ResolveForRun(snippet, cs);
        if (code == 0) code = cs->Run(snippet);
    }
    snippet->Close();
    return code;
}

// ---------------------------------------------------------------------------
// Unrecognised inputs copied

OSErr ConversionProcess::copyUnrecognized(const std::string& path) {
    const std::string target = JoinPath(curFolder_, filename(path));
    if (OSErr err = CopyNewFile(path, target)) return err;
    // The resource fork and Finder information go along when there are any.
    const std::string sidecar = XWQF::SidecarPath(path);
    if (XWQF::FileExists(sidecar)) {
        if (OSErr err = CopyNewFile(sidecar, XWQF::SidecarPath(target))) {
            ::unlink(target.c_str());
            return err;
        }
    }
    plist::Dictionary info;
    info[kInputPathKey] = path;
    info[kCommentKey] = kJustCopiedComment;
    info[kConvertedFilePathKey] = target;
    post(QFConversionSuccessNotification, info);
    return 0;
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
