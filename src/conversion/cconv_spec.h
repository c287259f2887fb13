// CConvSpec: the view of one conversion that the sound-file classes, the signal
// processing and the pipelines get while one input is converted: the record,
// the folder that receives the outputs and the input's long name, with every
// setting through plain accessors (shorts for codes, 0/1 for flags, Pascal
// strings for texts, the raw 256-byte per-type block).
//
// Every accessor reads or writes the held record at once; nothing is cached.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "conversion/conv_spec.h"
#include "foundation/pstring.h"
#include "foundation/xwqf.h"

class CSoundFile;

class CConvSpec {
public:
    // The record alone (the dialog and the descriptions around a rule call).
    explicit CConvSpec(std::shared_ptr<ConvSpec> spec);
    // The record with the output folder and the input's long name, each only
    // when given. A null record is refused with an error_code_exception (-50).
    CConvSpec(std::shared_ptr<ConvSpec> spec, const FSRef* parentRef, const std::string* inputName);
    // Ends the facade; when it is the calling thread's current conversion, that
    // slot is emptied so that nothing reaches the ended facade through it.
    virtual ~CConvSpec();
    CConvSpec(const CConvSpec&) = delete;
    CConvSpec& operator=(const CConvSpec&) = delete;

    void SetObjCConvSpec(std::shared_ptr<ConvSpec> spec);
    const std::shared_ptr<ConvSpec>& GetObjCConvSpec() const { return spec_; }

    // Runs the pipeline of the case code that this conversion's options give
    // for the open input (which stays open); the pipeline's status, or -50 when
    // no pipeline exists for the code. Clears the stored peak's validity first.
    // Part of the engine library (src/engine/case_dispatch.cpp).
    short Run(CSoundFile* in);

    // The conversion being run on the calling thread (kept in its thread
    // context); not owned. Null when none is set.
    static void SetCurConvSpec(CConvSpec* spec);
    static CConvSpec* GetCurConvSpec();

    // The input's long name; null when made without one.
    const std::string* GetInputName() const { return inputName_ ? &*inputName_ : nullptr; }
    // The long name as a new string; empty when made without one.
    std::string GetInputNameStr() const { return inputName_ ? *inputName_ : std::string(); }
    // The folder the outputs go to; null when made without one.
    const FSRef* GetParentRef() const { return parentRef_ ? &*parentRef_ : nullptr; }

    short GetChecked() const;
    void SetChecked(short on);
    short GetNeedsSRateConversion() const;
    void SetNeedsSRateConversion(short on);
    short GetNeedsGain() const;
    void SetNeedsGain(short on);
    short GetNeedsStrip() const;
    void SetNeedsStrip(short on);
    float GetStripMargin() const;
    void SetStripMargin(float ms);
    short GetNeedsExtraction() const;
    void SetNeedsExtraction(short on);
    short GetNeedsChannelTreat() const;
    void SetNeedsChannelTreat(short on);
    short GetChannelTreat() const;
    void SetChannelTreat(short treat);
    double GetSampleRate() const;
    void SetSampleRate(double rate);
    OSType GetOutputFType() const;
    void SetOutputFType(OSType type);
    OSType GetFileType() const { return GetOutputFType(); }
    void SetFileType(OSType type) { SetOutputFType(type); }
    short GetNeedsStrictFType() const;
    void SetNeedsStrictFType(short on);
    bool GetNeedsNameExtension() const;
    void SetNeedsNameExtension(bool on);
    // The extension to add, with its dot: as stored when it begins with "."
    // (whatever the flag says), else "." and the stored text when the flag is
    // set, else empty. A lone dot is empty too, so that the output takes its
    // type's own extension.
    void GetNameExtension(Str255 extension) const;
    // Hands the text to the record, which drops one leading dot; the flag stays.
    void SetNameExtension(const unsigned char* extension);
    void GetConversionName(Str255 name) const;
    void SetConversionName(const unsigned char* name);
    short GetNeedsNormalize() const;
    void SetNeedsNormalize(short on);
    double GetCeiling() const;
    void SetCeiling(double dB);
    double GetMax() const;
    void SetMax(double max);
    short GetHasValidMax() const;
    void SetHasValidMax(short on);
    double GetCeiledMax() const;
    void SetCeiledMax(double value);
    short GetNeedsNewWordLength() const;
    void SetNeedsNewWordLength(short on);
    short GetWordLength() const;
    void SetWordLength(short bits);
    short GetNeedsRedither() const;
    void SetNeedsRedither(short on);
    short GetCopyExtras() const;
    void SetCopyExtras(short on);
    short GetNeedsFades() const;
    void SetNeedsFades(short on);
    float GetFadeInTime() const;
    float GetFadeOutTime() const;
    void SetFadeTime(float fadeIn, float fadeOut);
    short GetNeedsSnip() const;
    void SetNeedsSnip(short on);
    // The snip start, 0.0 when the conversion does not snip.
    float GetSnipFrom() const;
    // The snip end, -1.0 (to the end of the file) when it does not snip.
    float GetSnipTo() const;
    // Both of the above; does nothing unless both pointers are given.
    void GetSnip(float* from, float* to) const;
    void SetSnipFrom(float seconds);
    void SetSnipTo(float seconds);
    void SetSnip(float from, float to);
    short GetNeedsGate() const;
    void SetNeedsGate(short on);
    double GetGateThreshold() const;
    void SetGateThreshold(double dBFS);
    double GetGateGapLength() const;
    void SetGateGapLength(double seconds);
    double GetGateAttenuation() const;
    void SetGateAttenuation(double dB);
    short GetNeedsCompressor() const;
    void SetNeedsCompressor(short on);
    double GetCompBoost() const;
    void SetCompBoost(double dB);
    double GetCompRelease() const;
    void SetCompRelease(double release);
    short GetCompressionType() const;
    void SetCompressionType(short type);
    short GetSRConvertQuality() const;
    void SetSRConvertQuality(short quality);
    // The record's 256-byte per-type block, read and written in place while the
    // returned access lives (it holds the record's lock; keep it short).
    ConvSpec::SpecificsBlock<uint8_t> GetFiletypeSpecifics();
    // Copies 256 bytes from the given address into the block.
    void SetFiletypeSpecifics(const void* bytes);

private:
    std::shared_ptr<ConvSpec> spec_;
    std::optional<FSRef> parentRef_;
    std::optional<std::string> inputName_;
};
