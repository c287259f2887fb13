// Markers, loops and regions: the plain records formats exchange with the base
// class, and the objects kept in a sound file's lists.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct SFTMarker {
    int32_t id;
    uint32_t position;
    unsigned char name[32];  // Pascal string of at most 31 characters
    int16_t type;
    int16_t number;
};

struct SFTLoop {
    int32_t id;
    uint32_t start;
    uint32_t end;
    int16_t type;
};

struct SFTRegion {
    int32_t id;
    int32_t start;
    int32_t end;
    int32_t sync;
    int32_t timeStamp;
    unsigned char name[32];  // Pascal string of at most 31 characters
};

// Record comparisons: true when equal.
bool EqualMarker(const SFTMarker& a, const SFTMarker& b);
bool EqualLoop(const SFTLoop& a, const SFTLoop& b);
bool EqualRegion(const SFTRegion& a, const SFTRegion& b);

// Reads a Pascal name from a fixed 32-byte field, bounded by the field, as UTF-8.
std::string NameFromField(const unsigned char (&field)[32]);
// Writes UTF-8 text into a 32-byte field as a Mac Roman Pascal string of at most 31 characters.
void NameToField(const std::string& name, unsigned char (&field)[32]);

class QFMarker {
public:
    QFMarker() = default;
    explicit QFMarker(const SFTMarker& m);
    void getMarker(SFTMarker* m) const;
    // Equal when positions and names are equal.
    bool isEqual(const QFMarker& o) const { return position == o.position && name == o.name; }
    // Ordering by position as signed 32-bit numbers; a missing other sorts after.
    int compare(const QFMarker* o) const;
    std::string description() const;

    int32_t markerID = 0;
    uint32_t position = 0;
    int16_t type = 0;
    int16_t number = 0;
    std::string name;
};

class QFLoop {
public:
    QFLoop() = default;
    explicit QFLoop(const SFTLoop& l);
    void getLoop(SFTLoop* l) const;
    bool isEqual(const QFLoop& o) const {
        return loopID == o.loopID && start == o.start && end == o.end && type == o.type;
    }
    int compare(const QFLoop* o) const;
    std::string description() const;

    int32_t loopID = 0;
    uint32_t start = 0;
    uint32_t end = 0;
    int16_t type = 0;
};

class QFRegion {
public:
    QFRegion() = default;
    explicit QFRegion(const SFTRegion& r);
    void getRegion(SFTRegion* r) const;
    // Equal when starts and ends are equal.
    bool isEqual(const QFRegion& o) const { return start == o.start && end == o.end; }
    int compare(const QFRegion* o) const;
    std::string description() const;
    uint32_t timeStampLow() const { return static_cast<uint32_t>(timeStamp & 0xFFFFFFFFu); }
    uint32_t timeStampHigh() const { return static_cast<uint32_t>(static_cast<uint64_t>(timeStamp) >> 32); }

    int32_t regionID = 0;
    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t sync = 0;
    int64_t timeStamp = 0;
    std::string name;
};

using QFMarkerPtr = std::shared_ptr<QFMarker>;
using QFLoopPtr = std::shared_ptr<QFLoop>;
using QFRegionPtr = std::shared_ptr<QFRegion>;
