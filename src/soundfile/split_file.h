// A split stereo pair: two mono files of one type (the member type), the left
// and the right channel, shown as one two-channel sound file ('Splt'; it
// reports the member type as its own). An input pair is bound from its two
// paths; an output pair from one path, from which both member names are made.
//
// Samples pass through the pair's own buffers, which hold both channels
// interleaved in the members' buffer form. Markers, loops, regions and the time
// stamp are read from the left member; additions and removals go to both. The
// pair is as long as its longer member; the shorter one reads as silence past
// its end. No exception leaves a public operation: each returns a status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundfile/sound_file.h"

// Status codes of split pairs.
enum : int {
    kSplitNotConsistentErr = -23100,  // members of different rates or word sizes, or not mono
    kSplitRightNotSetUpErr = -23101,  // no right member: the pair was not bound
    kSplitLeftNotSetUpErr = -23102,   // no left member: the pair was not bound
    // A later member of a pair or set that was converted with its first member.
    kAlreadyProcessedErr = -23015,
};

// The odd digit (".1", ".3", ".5", ".7") of the last path whose digit marker a
// split pair was named from, 0 when none; the next pair of Sonic members named
// without a marker takes its numbers from it, which clears it. Used on the
// conversion thread only.
extern char gInputNameLastChar;

// Whether the channel marker `marker`, found in `text` at `at`, is a whole piece
// of the name: one that ends in a letter or digit must not run on into another
// letter, digit or underscore, so that the ".l" of "Vox.lead.L" or the ".L" of
// "Bass.Line" is no channel marker. A byte above 127 (any character outside
// ASCII) counts as a letter, so neither is the ".l" of "Voix.légère.L". Split
// pairs and surround sets name their members by it.
bool StandsAlone(const std::string& text, size_t at, const std::string& marker);

class CSplitFile : public CSoundFile {
public:
    explicit CSplitFile(OSType memberType);
    // Closes the members when the pair is open, then destroys them.
    ~CSplitFile() override;

    // Binding. The path form names an output pair (or an input pair from its left
    // member's path); the list form takes exactly two paths, left first (-50
    // otherwise). A member that cannot be made gives -22017; any failure leaves
    // the pair without members.
    OSErr ISoundFile(const FSRef* ref) override;
    OSErr ISoundFile(const std::string& path) override;
    OSErr ISoundFile(const std::vector<std::string>& paths) override;

    // Opens both members. They must be mono with equal rates and word sizes
    // (-23100 otherwise; the members then stay open and the pair closed).
    OSErr Open() override;
    // Creates both members, mono, with the other arguments as given; the channel
    // count is used for the pair's own creation step only.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    OSErr Close() override;
    // The left member's answer when its data ends early, else the right one's.
    bool DataEndsEarly(uint32_t* held, uint32_t* declared) override;
    // Disposes of both members with the same keep flag when the pair is open, then
    // of the pair; the first member status that is not 0, else the pair's.
    OSErr Dispose(unsigned char keep) override;

    // Markers, loops and regions: read from the left member; changes go to the
    // left member and, when it took them, to the right one (-23102 when unbound).
    uint16_t GetNumMarkers() override;
    OSErr GetIndMarker(uint16_t index, SFTMarker* marker) override;
    QFMarkerPtr GetIndMarker(uint32_t index) override;
    OSErr GetMarkerByID(long id, SFTMarker* marker) override;
    OSErr AddMarker(const SFTMarker* marker) override;
    OSErr RemoveMarker(const SFTMarker* marker) override;
    uint16_t GetNumLoops() override;
    OSErr GetIndLoop(uint16_t index, SFTLoop* loop) override;
    QFLoopPtr GetIndLoop(uint32_t index) override;
    OSErr AddLoop(const SFTLoop* loop) override;
    OSErr RemoveLoop(const SFTLoop* loop) override;
    OSErr RemoveDuplicates() override;
    uint16_t GetNumRegions() override;
    // For Broadcast Wave members the channel marker ".L" that a region name
    // carries is dropped, with what follows it.
    OSErr GetIndRegion(uint16_t index, SFTRegion* region) override;
    QFRegionPtr GetIndRegion(uint32_t index) override;
    OSErr AddRegion(const SFTRegion* region) override;
    OSErr RemoveRegion(const SFTRegion* region) override;
    std::vector<QFRegionPtr>& GetRegionList() override;
    std::vector<QFMarkerPtr>& GetMarkerList() override;
    // The region walk and the name cleaning work on the left member's lists too,
    // as that is where the pair's regions are read from.
    bool IsRegion(uint32_t start, uint32_t end, QFRegionPtr* region) override;
    std::vector<QFLoopPtr>& GetLoopList() override;
    OSErr KillBadRegionNames() override;
    OSErr KillDuplicateRegionNames() override;

    // Names: the left member's, without its channel marker.
    std::string GetName() override;
    std::string base_name() override;
    std::string GetPath() override;
    OSErr GetNextBlock(uint32_t from, uint32_t* start, uint32_t* end) override;

    // Buffers: the members' and the pair's own.
    OSErr InitInputBuffer() override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    void DisposeBuffer() override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override;
    OSErr GetOfflineInfo(OSErr* status) override;
    void SetDither(unsigned char flag) override;
    void SetSFTBufferSize(uint32_t frames) override;

    uint32_t GetTimeStamp() override;
    void SetTimeStamp(uint32_t stamp) override;
    bool IsTimeStampValid() override;

    OSType GetFType() override { return memberType_; }
    // "Split stereo " and the left member's description.
    std::string GetDescription() override;
    plist::Dictionary& GetAttributes() override;
    bool IsSplit() override { return true; }
    // 4: a split pair.
    int GetChannelConfig() override { return 4; }

    OSType GetMemberType() const { return memberType_; }
    // The members, left first; empty until the pair is bound.
    const std::vector<CSoundFile*>& GetMemberList() const { return members_; }

protected:
    // The pair's own path: `path` without its channel marker.
    void SetPath(const std::string& path);
    // Makes both members and binds them to the two paths; on failure none is kept.
    OSErr MakeMembers(const std::string& leftPath, const std::string& rightPath);
    // Destroys both members (closing none) and empties the member list.
    void DeleteMembers();

    CSoundFile* left_ = nullptr;
    CSoundFile* right_ = nullptr;
    const OSType memberType_;
    std::vector<CSoundFile*> members_;

private:
    OSErr MembersSetUp() const;
    // Runs an operation on the left member and, when that gave 0, on the right one.
    template <class... Params, class... Args>
    OSErr OnBoth(OSErr (CSoundFile::*operation)(Params...), Args... args);
    uint32_t BytesPerSample() const;
    // Interleaves the members' buffers into the pair's buffer, or back.
    void Interleave(unsigned char* pair, const unsigned char* left, const unsigned char* right,
                    uint32_t frames) const;
    void Deinterleave(const unsigned char* pair, unsigned char* left, unsigned char* right,
                      uint32_t frames) const;
    // Frames the pair's and both members' blocks hold.
    uint32_t SharedBufferFrames() const;
};
