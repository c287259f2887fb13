// A surround set: mono member files of one type shown as one multichannel sound
// file, channel n being member n. Input sets are bound to the member paths that
// detection found; output sets derive their member paths from one path and the
// channel indicators of a layout in the surround table "surround.qfdb".
//
// The naming rules (member names <-> set names, channel names) and the two
// process-wide tables ("surround.qfdb", "channelnames.qfdb") live here too. The
// tables are loaded once, checked as they are loaded, and kept for the life of
// the process; a table that fails the check is logged and counts as empty.
//
// Members may differ in length: a shorter member reads as silence after its end,
// and the set is as long as its longest member. No public operation lets an
// exception out: failures come back as status codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/dbresult.h"
#include "soundfile/sound_file.h"

class CSurroundFile : public CSoundFile {
public:
    // The most member paths an input set takes (more: -42).
    static constexpr size_t kMaxMembers = 200;
    // The surround set name of numbered members, whose channels are named by number.
    static constexpr const char* kSplitMultichannelName = "Split Multichannel";

    explicit CSurroundFile(OSType memberType);
    // Closes an open set, then ends every member.
    ~CSurroundFile() override;

    // ---- Binding -------------------------------------------------------------

    using CSoundFile::ISoundFile;
    // An input set: one member per path, in channel order. Over 200 paths: -42 and
    // no members; a member type the factory cannot make: -22017. The first
    // failure ends the binding; members bound before it stay.
    OSErr ISoundFile(const std::vector<std::string>& paths) override;
    // An output set for `path`, the path of its first channel (its indicator is
    // removed, see SetPath). Configurations 1..10 take their member indicators
    // from the surround table; any other configuration makes `count` members
    // named ".1" ... The binding fails with -50 when the table has no record for
    // the configuration or `count` is below 1, with -42 when `count` exceeds 200.
    virtual OSErr ISoundFile(const std::string& path, ChannelConfiguration configuration,
                             long count);
    virtual std::string GetSurroundSetName() const { return surroundSetName_; }
    virtual void SetSurroundSetName(const std::string& name) { surroundSetName_ = name; }

    // ---- Opening, creating, closing ------------------------------------------

    // Opens every member; all must be mono with equal word size, sample rate and
    // data type (else -23100 and every member closed again).
    OSErr Open() override;
    // Creates every member with one channel; `channels` must equal the member count.
    OSErr Create(short channels, short wordSize, float sampleRate, void* specifics,
                 const unsigned char* extension) override;
    // A member that answers "not open" (-38, -22005) counts as closed.
    OSErr Close() override;
    OSErr GetOfflineInfo(OSErr* status) override;
    // The answer of the first member whose data ends early.
    bool DataEndsEarly(uint32_t* held, uint32_t* declared) override;
    // Disposes of every member with the same keep flag, then of the set.
    OSErr Dispose(unsigned char keep) override;

    // ---- Samples -------------------------------------------------------------

    using CSoundFile::Read;
    // One channel straight from its member; silence after a shorter member's end.
    OSErr Read(short channel, uint32_t start, uint32_t* count, float* samples) override;

    OSErr InitInputBuffer() override;
    OSErr RefreshInputBuffer(uint32_t frame) override;
    OSErr InitOutputBuffer() override;
    OSErr RefreshOutputBuffer(uint32_t frame) override;
    OSErr FlushOutputBuffer(uint32_t frames, uint32_t position) override;
    void DisposeBuffer() override;
    OSErr SetFilePos(uint32_t frame) override;
    OSErr UpdateSize() override;
    void SetSFTBufferSize(uint32_t frames) override;
    void SetDither(unsigned char flag) override;

    // ---- Markers, loops, regions: from the first member, changes to all -------

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
    // For 'BWLN' members a region name loses the ".L" its first member gave it.
    OSErr GetIndRegion(uint16_t index, SFTRegion* region) override;
    QFRegionPtr GetIndRegion(uint32_t index) override;
    OSErr AddRegion(const SFTRegion* region) override;
    OSErr RemoveRegion(const SFTRegion* region) override;
    std::vector<QFRegionPtr>& GetRegionList() override;
    std::vector<QFMarkerPtr>& GetMarkerList() override;
    OSErr GetNextBlock(uint32_t from, uint32_t* start, uint32_t* end) override;
    uint32_t GetTimeStamp() override;
    void SetTimeStamp(uint32_t stamp) override;
    bool IsTimeStampValid() override;
    plist::Dictionary& GetAttributes() override;

    // ---- Identity and names --------------------------------------------------

    OSType GetFType() override { return memberType_; }
    // The surround set name, a blank, the first member's description.
    std::string GetDescription() override;
    bool IsSplit() override { return true; }
    int GetChannelConfig() override { return 5; }
    CSurroundFile* GetSurroundSet() override { return this; }
    const std::vector<CSoundFile*>& GetMembers() const { return members_; }

    // The first member's name.
    std::string GetName() override;
    // The first member's base name without the left or centre indicator that ends it.
    std::string base_name() override;
    // The first member's path without its indicator: the first of ".l", ".L",
    // "-L", ".1", ".3", ".5", ".7", "(l)", "(L)" that stands alone in its file
    // name (see StandsAlone), at its first place there; the name extension stays.
    // The set's own path while it has no members.
    std::string GetPath() override;
    // Stores `path` without its left-channel indicator: the first of ".l", ".L",
    // "-L", ".1", "(l)", "(L)" that stands alone in its file name, at its first
    // place there. A path without "/" is stored as it is.
    void SetPath(const std::string& path);
    // The display name of a channel: its number from 1 for a "Split Multichannel"
    // set, else the name the channel-name table gives the member's indicator
    // (empty when none does). With "SurroundFileDebug" in the environment the
    // member's file name follows in square brackets.
    std::string GetChannelName(short channel) override;

    // ---- Process-wide naming -------------------------------------------------

    // The name of the set a member file belongs to: its name without extension,
    // less a known channel indicator or a "." and digits that end it.
    static std::string GetName(const std::string& path);
    // The channel-name table, loaded on first use; empty while it cannot be read.
    static const dbresult& GetChannelNames();
    // The expression that recognises a known indicator, built once.
    static const std::string& GetKnownChannelIndicators();
    // The surround table, loaded on first use; empty while it cannot be read.
    static const dbresult& GetSurroundTable();

protected:
    // The output binding against a given surround table.
    OSErr BindOutputSet(const std::string& path, ChannelConfiguration configuration, long count,
                        const dbresult& surroundTable);

private:
    // A new member of the member type bound to `path`; the binding's status.
    OSErr AddMember(const std::string& path);
    // Every member's Close, results ignored.
    void CloseAllMembers();
    // The longest member's frame count.
    uint32_t LongestMemberFrames();
    // Runs `op` on every member in order; the first failure ends the run.
    template <class Op>
    OSErr ForEachMember(Op&& op);
    // Refreshes every member's input (or output) buffer at the first buffered
    // frame and copies it into channel m of the set's `buffer`, a whole buffer of
    // frames; on input, a member's frames past its end are silence.
    OSErr Interleave(unsigned char* buffer, bool fromMembersOutput);
    // Copies `frames` frames of each channel of the set's output buffer into its
    // member's output buffer.
    OSErr Deinterleave(uint32_t frames);
    // Builds the Sonic link records of a pair of 'SAIF' members.
    void LinkSonicPair();

    OSType memberType_;
    std::vector<CSoundFile*> members_;
    std::string surroundSetName_;
};

// The checks the two tables pass as they are loaded, and the expression built
// from the channel indicators; exposed for the tests.
namespace surround {

// An empty text when the surround table is sound, else what is wrong with it.
std::string CheckSurroundTable(const dbresult& table);
// An empty text when the channel-name table is sound, else what is wrong with it.
std::string CheckChannelNameTable(const dbresult& table);
// The known-indicator expression for indicators in table order.
std::string KnownIndicatorExpression(const std::vector<std::string>& indicators);
// The channel count of a layout (configurations 1..10); 0 for any other value.
uint32_t LayoutChannelCount(int configuration);

}  // namespace surround
