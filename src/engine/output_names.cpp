// Placeholders, renaming and removal of the outputs of one input. Only outputs
// this input's pipeline made are ever renamed or deleted: files in the current
// folder whose names hold a placeholder and that were not there before the
// pipeline ran.
#include "engine/output_names.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>

#include "conversion/error_messages.h"
#include "engine/conversion_process.h"
#include "foundation/finder_comment.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "soundfile/coded_file.h"
#include "soundfile/progress.h"
#include "soundfile/surround_file.h"

namespace {

// True when the process that made a placeholder has ended. A placeholder
// carrying this process's id and a number it never handed out was made by an
// earlier process of the same id. `lastOwn` is read after the folder was
// listed, so that this process's own placeholders listed are never taken.
bool MadeByEndedProcess(int64_t pid, uint64_t number, uint64_t lastOwn) {
    if (pid == static_cast<int64_t>(::getpid())) return number > lastOwn;
    if (pid <= 0 || pid > INT_MAX) return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// The number of a member of a numbered set (".1" to ".200") that begins `text`,
// with the length it takes; 0 when there is none.
size_t NumberedMemberLength(std::string_view text) {
    if (text.size() < 2 || text[0] != '.' || text[1] < '1' || text[1] > '9') return 0;
    size_t end = 1;
    size_t value = 0;
    while (end < text.size() && end <= 3 && text[end] >= '0' && text[end] <= '9')
        value = value * 10 + static_cast<size_t>(text[end++] - '0');
    return value <= CSurroundFile::kMaxMembers ? end : 0;
}

// The member indicators outputs are named with: those of split pairs and of
// every layout of the surround table.
std::vector<std::string> MemberIndicators() {
    std::vector<std::string> indicators = {".L", ".R"};
    for (const std::string& field :
         CSurroundFile::GetSurroundTable().get_values_for_field("indicators"))
        for (const std::string& indicator : split(field, "|"))
            if (std::find(indicators.begin(), indicators.end(), indicator) == indicators.end())
                indicators.push_back(indicator);
    return indicators;
}

// True when `tail`, what follows a placeholder in a name, is one this program
// writes: nothing or a member indicator, then at most one extension.
bool IsOutputTail(std::string_view tail, const std::vector<std::string>& indicators) {
    const auto endsWell = [](std::string_view rest) {
        return rest.empty() || IsHiddenNameExtension(rest);
    };
    if (endsWell(tail)) return true;
    for (const std::string& indicator : indicators)
        if (tail.starts_with(indicator) && endsWell(tail.substr(indicator.size()))) return true;
    const size_t numbered = NumberedMemberLength(tail);
    return numbered != 0 && endsWell(tail.substr(numbered));
}

// The names in a folder; none when it cannot be listed.
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) names.emplace_back(e->d_name);
        ::closedir(dir);
    }
    return names;
}

// Removes the placeholders and temporary files (with their sidecars) that
// processes of this machine which no longer run left in `folder`; those of
// running processes stay, and so do temporaries carrying this process's id,
// names with another machine's tag or none, and placeholders followed by more
// than a member indicator and one extension.
void RemoveStalePlaceholders(const std::string& folder) {
    const std::vector<std::string> names = FolderNames(folder);
    const uint64_t lastOwn = CorvaOutFile::LastPlaceholderNumber();
    const std::string& ownTag = MachineTag();
    std::vector<std::string> indicators;
    for (const std::string& name : names) {
        size_t at = 0, length = 0;
        int64_t pid = 0;
        uint64_t number = 0;
        std::string tag;
        if (CorvaOutFile::FindPlaceholder(name, &at, &length, &pid, &number, &tag) && at == 0) {
            if (tag != ownTag) continue;
            if (indicators.empty()) indicators = MemberIndicators();
            if (IsOutputTail(std::string_view(name).substr(length), indicators) &&
                MadeByEndedProcess(pid, number, lastOwn))
                XWQF::DeleteFile(JoinPath(folder, name));
        } else if (FindTemporaryName(name, &pid, &tag) && tag == ownTag &&
                   pid != static_cast<int64_t>(::getpid())) {
            if (MadeByEndedProcess(pid, 0, 0)) XWQF::DeleteFile(JoinPath(folder, name));
        }
    }
}

}  // namespace

bool IsWriteRefusal(OSErr code) {
    return code == kPermErr || code == kWritePermErr || code == kVolLockedErr;
}

OSErr FolderRefused(const std::string& folder) {
    SetUnwritableFolder(folder);
    return kFolderNotWritableErr;
}

bool FolderRefusesWrites(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS);
}

// ---------------------------------------------------------------------------
// The outputs of the current input

void ConversionProcess::discardOutput(const std::string& path) {
    if (XWQF::DeleteFile(path) != 0 && XWQF::FileExists(path)) leftOutputs_.push_back(path);
}

void ConversionProcess::notePlaceholdersBefore() {
    if (placeholderFolder_ == curFolder_) return;
    placeholderFolder_ = curFolder_;
    placeholdersBefore_.clear();
    RemoveStalePlaceholders(curFolder_);
    for (const std::string& name : FolderNames(curFolder_)) {
        size_t at = 0, length = 0;
        if (CorvaOutFile::FindPlaceholder(name, &at, &length)) placeholdersBefore_.insert(name);
    }
}

std::vector<std::string> ConversionProcess::createdOutputs() const {
    std::vector<std::string> outputs;
    if (placeholderFolder_ != curFolder_) return outputs;
    for (const std::string& p : CorvaOutFile::OutputFiles()) {
        if (p.find('/') == std::string::npos || parent(p) != curFolder_) continue;
        const std::string name = filename(p);
        size_t at = 0, length = 0;
        if (!CorvaOutFile::FindPlaceholder(name, &at, &length)) continue;
        if (placeholdersBefore_.count(name)) continue;
        if (std::find(outputs.begin(), outputs.end(), p) == outputs.end()) outputs.push_back(p);
    }
    return outputs;
}

OSErr ConversionProcess::renameOutputTo(const std::string& name) {
    curOutputPaths_.clear();
    OSErr result = 0;
    const auto moved = [this](const std::string& target) {
        if (settings_.preserveFinderComments && !comment_.empty())
            WriteFinderComment(comment_, target);
    };
    // An output that cannot take its name: the first such status is the
    // input's, and the output goes (or is noted when it cannot).
    // A move refused by the system is the folder's refusal.
    const auto failed = [this, &result](const std::string& source, OSErr err) {
        if (result == 0) result = IsWriteRefusal(err) ? FolderRefused(curFolder_) : err;
        discardOutput(source);
    };
    for (const std::string& source : createdOutputs()) {
        if (!XWQF::FileExists(source)) continue;
        const std::string recorded = filename(source);
        size_t at = 0, length = 0;
        if (!CorvaOutFile::FindPlaceholder(recorded, &at, &length)) continue;
        // The recorded name with its whole placeholder replaced.
        const auto named = [&recorded, at, length](const std::string& text) {
            std::string out = recorded;
            return out.replace(at, length, text);
        };
        const std::string newName = named(name);
        const std::string target = JoinPath(curFolder_, newName);
        curOutputPaths_.push_back(target);
        if (!XWQF::FileExists(target)) {
            const OSErr err = XWQF::RenameFile(source, target);
            if (err == 0) {
                moved(target);
                continue;
            }
            // A name taken meanwhile is a name taken; any other failure is the move's.
            if (err != kDupFNErr) {
                failed(source, err);
                continue;
            }
        }
        plist::Dictionary info;
        info[kNewNameKey] = newName;
        info[kOrigInputFileKey] = inFile_ ? inFile_->path() : std::string();
        post(QFConversionRenameDuplicateNotification, info);
        if (!settings_.numberDuplicateFiles) {
            failed(source, kDupFNErr);
            continue;
        }
        // Numbered after the name, before any channel suffix and extension:
        // "Take 1-2.aif", "Take 1-2.L.aif". Renaming never replaces a file, so
        // a name taken meanwhile only moves on to the next number.
        for (unsigned long n = 1;; ++n) {
            const std::string candidate =
                JoinPath(curFolder_, named(name + "-" + std::to_string(n)));
            if (XWQF::FileExists(candidate)) continue;
            const OSErr err = XWQF::RenameFile(source, candidate);
            if (err == kDupFNErr) continue;
            if (err) {
                failed(source, err);
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
