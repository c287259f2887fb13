// The plain records of the platform's audio description that the sound-file
// classes exchange: stream descriptions and channel layouts, laid out as stored.
#pragma once

#include <cstdint>

typedef uint32_t OSType;

struct AudioStreamBasicDescription {
    double mSampleRate = 0;
    uint32_t mFormatID = 0;
    uint32_t mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    uint32_t mReserved = 0;
};

enum : uint32_t {
    kAudioFormatLinearPCM = 0x6C70636D,  // 'lpcm'
    kAudioFormatFlagIsFloat = 1u << 0,
    kAudioFormatFlagIsBigEndian = 1u << 1,
    kAudioFormatFlagIsSignedInteger = 1u << 2,
    kAudioFormatFlagIsPacked = 1u << 3,
};

struct AudioChannelDescription {
    uint32_t mChannelLabel;
    uint32_t mChannelFlags;
    float mCoordinates[3];
};

// 12 bytes of head, then mNumberChannelDescriptions descriptions of 20 bytes.
struct AudioChannelLayout {
    uint32_t mChannelLayoutTag;
    uint32_t mChannelBitmap;
    uint32_t mNumberChannelDescriptions;
    AudioChannelDescription mChannelDescriptions[1];
};
static_assert(sizeof(AudioChannelDescription) == 20);
static_assert(sizeof(AudioChannelLayout) == 32);

// Layout tags: the platform's layout number in the high 16 bits, channels in the low 16.
constexpr uint32_t LayoutTag(uint32_t number, uint32_t channels) { return (number << 16) | channels; }
enum : uint32_t {
    kAudioChannelLayoutTag_UseChannelDescriptions = 0,
    kAudioChannelLayoutTag_UseChannelBitmap = 1u << 16,
    kAudioChannelLayoutTag_Mono = LayoutTag(100, 1),
    kAudioChannelLayoutTag_Stereo = LayoutTag(101, 2),
    kAudioChannelLayoutTag_Quadraphonic = LayoutTag(108, 4),
    kAudioChannelLayoutTag_MPEG_4_0_B = LayoutTag(116, 4),
    kAudioChannelLayoutTag_MPEG_5_0_B = LayoutTag(118, 5),
    kAudioChannelLayoutTag_MPEG_5_1_A = LayoutTag(121, 6),
    kAudioChannelLayoutTag_MPEG_6_1_A = LayoutTag(125, 7),
    kAudioChannelLayoutTag_MPEG_7_1_B = LayoutTag(127, 8),
    kAudioChannelLayoutTag_AudioUnit_6_0 = LayoutTag(139, 6),
    kAudioChannelLayoutTag_TMH_10_2_std = LayoutTag(145, 16),
    kAudioChannelLayoutTag_DiscreteInOrder = LayoutTag(147, 0),
    kAudioChannelLayoutTag_AC3_3_0 = LayoutTag(150, 3),
};
