// ConvSpec: the settings of one user-defined conversion (output type, sample
// rate, word length, channel handling, processing steps, name extension, comment
// and the per-type options), with its persisted dictionary form and its keyed
// archive under the XWCS keys, copying, ordering and the check against the
// file-type table.
//
// A record is edited on the main thread; during a batch the conversion thread
// writes a few fields (the peak values, the extras flag and the per-type block)
// of the record it runs while the main thread may save the list. Every accessor
// therefore takes the record's lock. The per-type block ("oldData") is read and
// written in place through an access that holds the lock while it lives; its
// storage belongs to the record and never moves while the record lives.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/keyed_archive.h"
#include "platform/property_list.h"
#include "soundfile/core_audio_types.h"

// Keys of the dictionary form (user default "Conversions", resource
// "Factory_Conversions").
inline constexpr char XWCSActive[] = "XWCSActive";
inline constexpr char XWCSBitRatePerChannel[] = "XWCSBitRatePerChannel";
inline constexpr char XWCSCeiledMax[] = "XWCSCeiledMax";
inline constexpr char XWCSCeiling[] = "XWCSCeiling";
inline constexpr char XWCSChannelTreat[] = "XWCSChannelTreat";
inline constexpr char XWCSComment[] = "XWCSComment";
inline constexpr char XWCSCompressionBoost[] = "XWCSCompressionBoost";
inline constexpr char XWCSCompressionRelease[] = "XWCSCompressionRelease";
inline constexpr char XWCSCompressionType[] = "XWCSCompressionType";
inline constexpr char XWCSName[] = "XWCSName";
inline constexpr char XWCSCopyExtras[] = "XWCSCopyExtras";
inline constexpr char XWCSFadeInTime[] = "XWCSFadeInTime";
inline constexpr char XWCSFadeOutTime[] = "XWCSFadeOutTime";
inline constexpr char XWCSGateAttenuation[] = "XWCSGateAttenuation";
inline constexpr char XWCSGateGapLength[] = "XWCSGateGapLength";
inline constexpr char XWCSGateThreshold[] = "XWCSGateThreshold";
inline constexpr char XWCSHasValidMax[] = "XWCSHasValidMax";
inline constexpr char XWCSMax[] = "XWCSMax";
inline constexpr char XWCSNameExtension[] = "XWCSNameExtension";
inline constexpr char XWCSNeedsChannelTreat[] = "XWCSNeedsChannelTreat";
inline constexpr char XWCSNeedsCompression[] = "XWCSNeedsCompression";
inline constexpr char XWCSNeedsCompressor[] = "XWCSNeedsCompressor";
inline constexpr char XWCSNeedsExtraction[] = "XWCSNeedsExtraction";
inline constexpr char XWCSNeedsFades[] = "XWCSNeedsFades";
inline constexpr char XWCSNeedsGain[] = "XWCSNeedsGain";
inline constexpr char XWCSNeedsGate[] = "XWCSNeedsGate";
inline constexpr char XWCSNeedsNameExtension[] = "XWCSNeedsNameExtension";
inline constexpr char XWCSNeedsNewWordLength[] = "XWCSNeedsNewWordLength";
inline constexpr char XWCSNeedsNormalize[] = "XWCSNeedsNormalize";
inline constexpr char XWCSNeedsRedither[] = "XWCSNeedsRedither";
inline constexpr char XWCSNeedsSampleRateConversion[] = "XWCSNeedsSampleRateConversion";
inline constexpr char XWCSNeedsSnip[] = "XWCSNeedsSnip";
inline constexpr char XWCSNeedsStrictFileType[] = "XWCSNeedsStrictFileType";
inline constexpr char XWCSNeedsStrip[] = "XWCSNeedsStrip";
inline constexpr char XWCSOutputFileType[] = "XWCSOutputFileType";
inline constexpr char XWCSSampleRate[] = "XWCSSampleRate";
inline constexpr char XWCSSampleRateConvertQuality[] = "XWCSSampleRateConvertQuality";
inline constexpr char XWCSSnipFrom[] = "XWCSSnipFrom";
inline constexpr char XWCSSnipTo[] = "XWCSSnipTo";
inline constexpr char XWCSSpecifics[] = "XWCSSpecifics";
inline constexpr char XWCSSpecificsValid[] = "XWCSSpecificsValid";
inline constexpr char XWCSStripMargin[] = "XWCSStripMargin";
inline constexpr char XWCSWordLength[] = "XWCSWordLength";

// The specifics key of the per-type parameter block, and its size.
inline constexpr char kOldDataKey[] = "oldData";
inline constexpr size_t kFileTypeSpecificsSize = 256;

// The user-defaults key that holds the conversions, and the resource file of
// the conversions a new user starts with.
inline constexpr char kConversionsDefaultsKey[] = "Conversions";
inline constexpr char kFactoryConversionsResource[] = "Factory_Conversions.plist";

// Channel treatment codes (channelTreat).
enum : int64_t {
    kChannelTreatInterleave = 1,
    kChannelTreatSplit = 2,
    kChannelTreatMixToMono = 3,
    kChannelTreatLeftOnly = 4,
    kChannelTreatRightOnly = 5,
    kChannelTreatOnlyPairsToInterleaved = 6,
    kChannelTreatMPEGJointStereo = 7,
    kChannelTreatMPEGSeparateStereo = 8,
};

// Cleans a conversion name so that it can serve as a folder name.
class ConvNameFormatter {
public:
    // Drops white space at the start and right after separator runs, turns each
    // separator ("\", "/", ":" and NUL) into "-", drops one leading ".", and cuts
    // the result to 255 bytes without splitting a character. A result that would
    // not name a folder of its own ("", "." or "..") becomes the default
    // conversion name.
    static std::string stringForObjectValue(const std::string& name);
    // Stores the text unchanged; always true.
    static bool getObjectValue(std::string* out, const std::string& text, std::string* error);
};

// Shows a name extension with its dot and stores it without.
class NameExtensionFormatter {
public:
    // The text itself when it begins with ".", else "." followed by the text.
    static std::string stringForObjectValue(const std::string& extension);
    // Stores the text with one leading "." removed; always true.
    static bool getObjectValue(std::string* out, const std::string& text, std::string* error);
};

class ConvSpec {
public:
    // A new conversion with the factory values.
    ConvSpec();
    // Decodes the dictionary form (start from an all-zero record, read every key,
    // then validate against the file-type table). Missing or wrongly typed
    // values read as zero, NO or empty; the per-type block always ends up as
    // exactly 256 bytes. With a table given, validation uses it instead of
    // CSoundFile::GetFileTypeInfo().
    explicit ConvSpec(const plist::Dictionary& dictionary,
                      const plist::Dictionary* typeTable = nullptr);
    // Copies every field, `valid` included; the specifics are a deep copy.
    ConvSpec(const ConvSpec& other);
    ConvSpec& operator=(const ConvSpec& other);
    ~ConvSpec();

    // A new record copied from this one.
    std::shared_ptr<ConvSpec> copy() const;

    // The localized name of a new conversion ("untitled conversion").
    static std::string defaultConversionName();

    // The dictionary form with all 43 persisted keys (everything but `valid`).
    plist::Dictionary dictionary() const;
    // The dictionary form as property-list text, for diagnostics.
    std::string description() const;

    // The keyed archive: the same 43 keys and value kinds as the dictionary
    // form. Decoding reads it as the dictionary form is read (missing or wrongly
    // typed values as zero, NO or empty, the factory specifics when there are
    // none) and validates the record, against the table when one is given.
    void encodeWithCoder(plist::KeyedArchiver& coder) const;
    static std::shared_ptr<ConvSpec> initWithCoder(const plist::KeyedUnarchiver& coder,
                                                   const plist::Dictionary* typeTable = nullptr);

    // Ordering by the class-wide sort key and direction.
    std::weak_ordering compare(const ConvSpec& other) const;
    static std::string sortKey();
    static void setSortKey(const std::string& key);
    static bool ascendingSort();
    static void setAscendingSort(bool ascending);

    // Valid unless the strict output type's row in the file-type table says it
    // cannot be written (or there is no row); stores the result in `valid`.
    bool validateSettings();
    bool validateSettings(const plist::Dictionary& typeTable);

    // Descriptions (descriptions.cpp, built from the output type's row of the
    // file-type table and its dispatcher): the lines at the head of the
    // conversion in the log, the one-line summary offered as automatic name,
    // and the display texts of the word length and the channel handling.
    std::string descriptionForLog() const;
    std::string descriptionForAutoName() const;
    std::string descriptionForWordLength() const;
    std::string descriptionForChannelHandling() const;

    // The 256 bytes of specifics["oldData"], read and written in place while an
    // access lives. The access holds the record's lock, so a copy made on
    // another thread (dictionary(), specifics(), a copied record) never sees
    // half a write: keep one only for the reads and writes at hand. Meanwhile
    // the same thread may call the record's other operations.
    template <class Byte>
    class SpecificsBlock {
    public:
        SpecificsBlock(std::recursive_mutex& mutex, Byte* bytes) : lock_(mutex), bytes_(bytes) {}
        // The first byte; the address stays the same for the record's lifetime,
        // but reads and writes through it are guarded only while the access lives.
        Byte* data() const { return bytes_; }
        Byte& operator[](size_t index) const { return bytes_[index]; }
        static constexpr size_t size() { return kFileTypeSpecificsSize; }

    private:
        std::unique_lock<std::recursive_mutex> lock_;
        Byte* bytes_;
    };
    SpecificsBlock<uint8_t> fileTypeSpecifics() { return {mutex_, oldData_.data()}; }
    SpecificsBlock<const uint8_t> fileTypeSpecifics() const { return {mutex_, oldData_.data()}; }
    // Copies 256 bytes in (the source may be the block itself).
    void setFileTypeSpecifics(const void* bytes);

    // The specifics dictionary, "oldData" included (a copy). setSpecifics takes
    // a copy of the given dictionary; its "oldData" is cut or zero-padded to 256
    // bytes (zeros when absent or not a data block).
    plist::Dictionary specifics() const;
    void setSpecifics(const plist::Dictionary& specifics);
    // One value of the specifics (a null value when absent); setting a null
    // value removes the key. "oldData" goes to and from the per-type block.
    plist::Value specificsValue(const std::string& key) const;
    void setSpecificsValue(const std::string& key, plist::Value value);

    bool active() const { return get(&Fields::active); }
    void setActive(bool v) { set(&Fields::active, v); }
    bool bitRatePerChannel() const { return get(&Fields::bitRatePerChannel); }
    void setBitRatePerChannel(bool v) { set(&Fields::bitRatePerChannel, v); }
    double ceiledMax() const { return get(&Fields::ceiledMax); }
    void setCeiledMax(double v) { set(&Fields::ceiledMax, v); }
    double ceiling() const { return get(&Fields::ceiling); }
    void setCeiling(double v) { set(&Fields::ceiling, v); }
    int64_t channelTreat() const { return get(&Fields::channelTreat); }
    void setChannelTreat(int64_t v) { set(&Fields::channelTreat, v); }
    std::string comment() const { return get(&Fields::comment); }
    void setComment(const std::string& comment);
    double compressionBoost() const { return get(&Fields::compressionBoost); }
    void setCompressionBoost(double v) { set(&Fields::compressionBoost, v); }
    double compressionRelease() const { return get(&Fields::compressionRelease); }
    void setCompressionRelease(double v) { set(&Fields::compressionRelease, v); }
    int64_t compressionType() const { return get(&Fields::compressionType); }
    void setCompressionType(int64_t v) { set(&Fields::compressionType, v); }
    std::string conversionName() const { return get(&Fields::conversionName); }
    void setConversionName(const std::string& name);
    bool copyExtras() const { return get(&Fields::copyExtras); }
    void setCopyExtras(bool v) { set(&Fields::copyExtras, v); }
    float fadeInTime() const { return get(&Fields::fadeInTime); }
    void setFadeInTime(float v) { set(&Fields::fadeInTime, v); }
    float fadeOutTime() const { return get(&Fields::fadeOutTime); }
    void setFadeOutTime(float v) { set(&Fields::fadeOutTime, v); }
    double gateAttenuation() const { return get(&Fields::gateAttenuation); }
    void setGateAttenuation(double v) { set(&Fields::gateAttenuation, v); }
    double gateGapLength() const { return get(&Fields::gateGapLength); }
    void setGateGapLength(double v) { set(&Fields::gateGapLength, v); }
    double gateThreshold() const { return get(&Fields::gateThreshold); }
    void setGateThreshold(double v) { set(&Fields::gateThreshold, v); }
    bool hasValidMax() const { return get(&Fields::hasValidMax); }
    void setHasValidMax(bool v) { set(&Fields::hasValidMax, v); }
    double max() const { return get(&Fields::max); }
    void setMax(double v) { set(&Fields::max, v); }
    std::string nameExtension() const { return get(&Fields::nameExtension); }
    void setNameExtension(const std::string& extension);
    bool needsChannelTreat() const { return get(&Fields::needsChannelTreat); }
    void setNeedsChannelTreat(bool v) { set(&Fields::needsChannelTreat, v); }
    bool needsCompression() const { return get(&Fields::needsCompression); }
    void setNeedsCompression(bool v) { set(&Fields::needsCompression, v); }
    bool needsCompressor() const { return get(&Fields::needsCompressor); }
    void setNeedsCompressor(bool v) { set(&Fields::needsCompressor, v); }
    bool needsExtraction() const { return get(&Fields::needsExtraction); }
    void setNeedsExtraction(bool v) { set(&Fields::needsExtraction, v); }
    bool needsFades() const { return get(&Fields::needsFades); }
    void setNeedsFades(bool v) { set(&Fields::needsFades, v); }
    bool needsGain() const { return get(&Fields::needsGain); }
    void setNeedsGain(bool v) { set(&Fields::needsGain, v); }
    bool needsGate() const { return get(&Fields::needsGate); }
    void setNeedsGate(bool v) { set(&Fields::needsGate, v); }
    bool needsNameExtension() const { return get(&Fields::needsNameExtension); }
    void setNeedsNameExtension(bool v) { set(&Fields::needsNameExtension, v); }
    bool needsNewWordLength() const { return get(&Fields::needsNewWordLength); }
    void setNeedsNewWordLength(bool v) { set(&Fields::needsNewWordLength, v); }
    bool needsNormalize() const { return get(&Fields::needsNormalize); }
    void setNeedsNormalize(bool v) { set(&Fields::needsNormalize, v); }
    bool needsRedither() const { return get(&Fields::needsRedither); }
    void setNeedsRedither(bool v) { set(&Fields::needsRedither, v); }
    bool needsSampleRateConversion() const { return get(&Fields::needsSampleRateConversion); }
    void setNeedsSampleRateConversion(bool v) { set(&Fields::needsSampleRateConversion, v); }
    bool needsSnip() const { return get(&Fields::needsSnip); }
    void setNeedsSnip(bool v) { set(&Fields::needsSnip, v); }
    bool needsStrictFileType() const { return get(&Fields::needsStrictFileType); }
    void setNeedsStrictFileType(bool v) { set(&Fields::needsStrictFileType, v); }
    bool needsStrip() const { return get(&Fields::needsStrip); }
    void setNeedsStrip(bool v) { set(&Fields::needsStrip, v); }
    OSType outputFileType() const { return get(&Fields::outputFileType); }
    void setOutputFileType(OSType v) { set(&Fields::outputFileType, v); }
    double sampleRate() const { return get(&Fields::sampleRate); }
    void setSampleRate(double v) { set(&Fields::sampleRate, v); }
    int64_t sampleRateConvertQuality() const { return get(&Fields::sampleRateConvertQuality); }
    void setSampleRateConvertQuality(int64_t v) { set(&Fields::sampleRateConvertQuality, v); }
    float snipFrom() const { return get(&Fields::snipFrom); }
    void setSnipFrom(float v) { set(&Fields::snipFrom, v); }
    float snipTo() const { return get(&Fields::snipTo); }
    void setSnipTo(float v) { set(&Fields::snipTo, v); }
    bool specificsValid() const { return get(&Fields::specificsValid); }
    void setSpecificsValid(bool v) { set(&Fields::specificsValid, v); }
    float stripMargin() const { return get(&Fields::stripMargin); }
    void setStripMargin(float v) { set(&Fields::stripMargin, v); }
    bool valid() const { return get(&Fields::valid); }
    void setValid(bool v) { set(&Fields::valid, v); }
    int64_t wordLength() const { return get(&Fields::wordLength); }
    void setWordLength(int64_t v) { set(&Fields::wordLength, v); }

    // Every field but the specifics; all zero, NO or empty to begin with.
    struct Fields {
        bool active = false;
        bool bitRatePerChannel = false;
        double ceiledMax = 0;
        double ceiling = 0;
        int64_t channelTreat = 0;
        std::string comment;
        double compressionBoost = 0;
        double compressionRelease = 0;
        int64_t compressionType = 0;
        std::string conversionName;
        bool copyExtras = false;
        float fadeInTime = 0;
        float fadeOutTime = 0;
        double gateAttenuation = 0;
        double gateGapLength = 0;
        double gateThreshold = 0;
        bool hasValidMax = false;
        double max = 0;
        std::string nameExtension;
        bool needsChannelTreat = false;
        bool needsCompression = false;
        bool needsCompressor = false;
        bool needsExtraction = false;
        bool needsFades = false;
        bool needsGain = false;
        bool needsGate = false;
        bool needsNameExtension = false;
        bool needsNewWordLength = false;
        bool needsNormalize = false;
        bool needsRedither = false;
        bool needsSampleRateConversion = false;
        bool needsSnip = false;
        bool needsStrictFileType = false;
        bool needsStrip = false;
        OSType outputFileType = 0;
        double sampleRate = 0;
        int64_t sampleRateConvertQuality = 0;
        float snipFrom = 0;
        float snipTo = 0;
        bool specificsValid = false;
        float stripMargin = 0;
        bool valid = false;
        int64_t wordLength = 0;
    };

private:
    template <class T>
    T get(T Fields::*member) const {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return fields_.*member;
    }
    template <class T>
    void set(T Fields::*member, T value) {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        fields_.*member = std::move(value);
    }
    // Takes the dictionary apart: "oldData" into the block, the rest kept. The
    // caller holds the lock.
    void adoptSpecificsLocked(const plist::Dictionary& specifics);
    plist::Dictionary specificsLocked() const;

    // Recursive, so that a thread holding the per-type block may still use the
    // record's other accessors.
    mutable std::recursive_mutex mutex_;
    Fields fields_;
    plist::Dictionary specifics_;  // without "oldData"
    std::array<uint8_t, kFileTypeSpecificsSize> oldData_{};
};

// The conversions for start-up: decoded from the user default "Conversions"
// (an array of dictionaries; `conversions` may be null when the key is missing)
// or, when that is missing, no array or empty, from the resource
// "Factory_Conversions". Each is validated against the file-type table (the
// given one, else CSoundFile::GetFileTypeInfo()). Entries that are no dictionary
// are skipped; a missing or unreadable resource gives an empty list.
std::vector<std::shared_ptr<ConvSpec>> LoadConvSpecs(const plist::Value* conversions,
                                                     const plist::Dictionary* typeTable = nullptr);
// The conversions of the resource "Factory_Conversions", validated.
std::vector<std::shared_ptr<ConvSpec>> LoadFactoryConvSpecs(
    const plist::Dictionary* typeTable = nullptr);
// The array to store under the user default "Conversions": the dictionary form
// of each conversion, in list order.
plist::Value EncodeConvSpecs(const std::vector<std::shared_ptr<ConvSpec>>& conversions);
