#include "soundfile/progress.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <mutex>

#include "foundation/pstring.h"
#include "platform/notification_center.h"
#include "platform/property_list.h"
#include "platform/thread_context.h"

const char* const ProgressNumSampleFrames = "ProgressNumSampleFrames";
const char* const ProgressPosition = "ProgressPosition";
const char* const ProgressPercentage = "ProgressPercentage";
const char* const ProgressNumChannels = "ProgressNumChannels";
const char* const ProgressChannel = "ProgressChannel";
const char* const ProgressNumSteps = "ProgressNumSteps";
const char* const ProgressStep = "ProgressStep";
const char* const ProgressRegion = "ProgressRegion";
const char* const ProgressLastError = "QFLastError";

namespace {

void Post(const char* name, plist::Value object) {
    platform::NotificationCenter::Default().Post(name, nullptr, object);
}

std::string NameText(const unsigned char* name) {
    return name ? stringFromPascalString(name) : std::string();
}

}  // namespace

OSErr GetLastError() {
    return static_cast<OSErr>(platform::CurrentThreadContext().lastError.load());
}

int GetNumInSamples() {
    return static_cast<int>(platform::CurrentThreadContext().numberOfInputSamples);
}

void SetProgressNumSampleFrames(int frames) {
    platform::CurrentThreadContext().numberOfInputSamples = frames;
    Post(ProgressNumSampleFrames, plist::Value(frames));
}

OSErr SetProgressPosition(int frame) {
    Post(ProgressPosition, plist::Value(frame));
    return GetLastError();
}

OSErr SetProgressPercentage(int percent) {
    Post(ProgressPercentage, plist::Value(percent));
    return GetLastError();
}

void SetProgressNumChannels(int channels) {
    Post(ProgressNumChannels, plist::Value(channels));
}

void SetProgressChannel(int channel, int channels) {
    Post(ProgressChannel, plist::Value(plist::Array{plist::Value(channel), plist::Value(channels)}));
}

void SetProgressNumSteps(int steps) { Post(ProgressNumSteps, plist::Value(steps)); }

void SetProgressStepWithoutSRC(const unsigned char* name, int indeterminate) {
    Post(ProgressStep,
         plist::Value(plist::Array{plist::Value(NameText(name)), plist::Value(indeterminate)}));
}

void SetProgressStep(const unsigned char* name, int indeterminate, double value) {
    Post(ProgressStep, plist::Value(plist::Array{plist::Value(NameText(name)),
                                                 plist::Value(indeterminate),
                                                 plist::Value(value)}));
}

void SetProgressCurRegionName(const unsigned char* name, int start, int end, int index,
                              int count) {
    Post(ProgressRegion,
         plist::Value(plist::Array{plist::Value(NameText(name)), plist::Value(start),
                                   plist::Value(end), plist::Value(index), plist::Value(count)}));
}

// The record of output files. Only the conversion thread uses it while a batch
// runs; the lock keeps a stray reader from another thread harmless.
namespace {
std::mutex gOutFilesMutex;
std::vector<std::string>& OutFileNames() {
    static std::vector<std::string> names;
    return names;
}
}  // namespace

const char* const CorvaOutFile::kCorvaOutFileNameStr = ".CorvaOutFile";

namespace {
std::atomic<uint64_t> gLastPlaceholderNumber{0};

// The decimal digits at `from`, at most `limit` of them, as a number; false
// when there are none or more than `limit`.
bool TakeDigits(const std::string& text, size_t* from, size_t limit, uint64_t* value) {
    size_t i = *from;
    uint64_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (i - *from == limit) return false;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        ++i;
    }
    if (i == *from) return false;
    *from = i;
    *value = v;
    return true;
}

// 32-bit FNV-1a: the same value for the same bytes in every build and process.
uint32_t Fnv1a(const std::string& bytes) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::string ComputeMachineTag() {
    std::string identity;
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0) identity = host;
    // The PID namespace as the kernel names it, such as "pid:[4026531836]";
    // nothing where /proc cannot be read.
    identity += '\n';
    char ns[64];
    const ssize_t n = ::readlink("/proc/self/ns/pid", ns, sizeof ns);
    if (n > 0 && static_cast<size_t>(n) < sizeof ns) identity.append(ns, static_cast<size_t>(n));
    static const char kHex[] = "0123456789abcdef";
    const uint32_t hash = Fnv1a(identity);
    std::string tag(kMachineTagLength, '0');
    for (size_t i = 0; i < kMachineTagLength; ++i)
        tag[i] = kHex[(hash >> (4 * (kMachineTagLength - 1 - i))) & 0xF];
    return tag;
}

}  // namespace

const std::string& MachineTag() {
    static const std::string tag = ComputeMachineTag();
    return tag;
}

bool IsMachineTag(const std::string& text) {
    if (text.size() != kMachineTagLength) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool IsHiddenNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHiddenNameExtension(std::string_view text) {
    return text.size() >= 2 && text.size() <= 9 && text[0] == '.' &&
           std::all_of(text.begin() + 1, text.end(), IsHiddenNameCharacter);
}

std::string CorvaOutFile::NewPlaceholderName() {
    const uint64_t n = ++gLastPlaceholderNumber;
    return std::string(kCorvaOutFileNameStr) + "-" + MachineTag() + "-" +
           std::to_string(::getpid()) + "-" + std::to_string(n);
}

uint64_t CorvaOutFile::LastPlaceholderNumber() { return gLastPlaceholderNumber.load(); }

bool CorvaOutFile::FindPlaceholder(const std::string& name, size_t* at, size_t* length,
                                   int64_t* pid, uint64_t* number, std::string* tag) {
    const std::string prefix = std::string(kCorvaOutFileNameStr) + "-";
    for (size_t start = name.find(prefix); start != std::string::npos;
         start = name.find(prefix, start + 1)) {
        size_t i = start + prefix.size();
        if (name.size() - i <= kMachineTagLength || name[i + kMachineTagLength] != '-' ||
            !IsMachineTag(name.substr(i, kMachineTagLength)))
            continue;
        const size_t tagAt = i;
        i += kMachineTagLength + 1;
        uint64_t p = 0, n = 0;
        // A process id has at most 10 digits, the number at most 19.
        if (!TakeDigits(name, &i, 10, &p) || i >= name.size() || name[i] != '-') continue;
        ++i;
        if (!TakeDigits(name, &i, 19, &n) || (i < name.size() && name[i] != '.')) continue;
        *at = start;
        *length = i - start;
        if (pid) *pid = static_cast<int64_t>(p);
        if (number) *number = n;
        if (tag) *tag = name.substr(tagAt, kMachineTagLength);
        return true;
    }
    return false;
}

void CorvaOutFile::Init() {}

void CorvaOutFile::AddFile(const std::string& path) {
    if (path.empty()) return;
    std::lock_guard<std::mutex> lock(gOutFilesMutex);
    OutFileNames().push_back(path);
}

std::vector<std::string> CorvaOutFile::OutputFiles() {
    std::lock_guard<std::mutex> lock(gOutFilesMutex);
    return OutFileNames();
}

void CorvaOutFile::Clear() {
    std::lock_guard<std::mutex> lock(gOutFilesMutex);
    OutFileNames().clear();
}

void CorvaOutFile::Cleanup() { Clear(); }
