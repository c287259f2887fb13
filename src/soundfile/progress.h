// Progress reporting of the conversion thread, and the record of the output files
// made for the current input.
//
// Each progress function posts one notification on the calling thread; its object
// carries the values. SetProgressPosition and SetProgressPercentage return the
// thread's last error (-128 after the user cancelled), which stops sample loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/errors.h"

extern const char* const ProgressNumSampleFrames;
extern const char* const ProgressPosition;
extern const char* const ProgressPercentage;
extern const char* const ProgressNumChannels;
extern const char* const ProgressChannel;
extern const char* const ProgressNumSteps;
extern const char* const ProgressStep;
extern const char* const ProgressRegion;
extern const char* const ProgressLastError;  // "QFLastError"

void SetProgressNumSampleFrames(int frames);
OSErr SetProgressPosition(int frame);
OSErr SetProgressPercentage(int percent);
void SetProgressNumChannels(int channels);
void SetProgressChannel(int channel, int channels);
void SetProgressNumSteps(int steps);
void SetProgressStepWithoutSRC(const unsigned char* name, int indeterminate);
void SetProgressStep(const unsigned char* name, int indeterminate, double value);
void SetProgressCurRegionName(const unsigned char* name, int start, int end, int index,
                              int count);
// The thread's last error, without posting anything.
OSErr GetLastError();
// The frame count last announced with SetProgressNumSampleFrames on this thread.
int GetNumInSamples();

// The tag of this machine that the hidden names of outputs and temporaries
// carry before their process id: 8 lower-case hex digits of a hash of the host
// name and of this process's PID namespace. Processes that share both share
// the tag, so a process id under this tag can be asked about here; one under
// another tag belongs to another machine or namespace. Computed once.
const std::string& MachineTag();
// The length of a machine tag.
constexpr size_t kMachineTagLength = 8;
// True when `text` has a machine tag's form: 8 lower-case hex digits.
bool IsMachineTag(const std::string& text);
// True for an ASCII letter or digit, the characters of the random part and the
// extension of a hidden name.
bool IsHiddenNameCharacter(char c);
// True when `text` is the one extension a hidden output or temporary name may
// end in: "." and 1 to 8 ASCII letters or digits.
bool IsHiddenNameExtension(std::string_view text);

// The outputs asked for since the record was last emptied: CSoundFile::Create
// records each by its full path, in order; empty paths are not recorded.
//
// Every output is first written under a placeholder name of its own,
// ".CorvaOutFile-<machine tag>-<process id>-<n>" (plus the member suffixes and
// extension), so two outputs, or two running programs, never share one.
class CorvaOutFile {
public:
    static const char* const kCorvaOutFileNameStr;  // ".CorvaOutFile", how every placeholder begins
    // A placeholder no other output has: n counts up from 1 in this process.
    static std::string NewPlaceholderName();
    // The n of the placeholder handed out last by this process (0 before the first).
    static uint64_t LastPlaceholderNumber();
    // Where a whole placeholder stands in a file name: from *at, *length bytes,
    // ending at the end of the name or before a "."; the machine tag, process id
    // and number it carries go to *tag, *pid and *number (each may be null).
    // False when the name holds none.
    static bool FindPlaceholder(const std::string& name, size_t* at, size_t* length,
                                int64_t* pid = nullptr, uint64_t* number = nullptr,
                                std::string* tag = nullptr);
    static void Init();
    static void AddFile(const std::string& path);
    static std::vector<std::string> OutputFiles();
    static void Clear();
    static void Cleanup();
};
