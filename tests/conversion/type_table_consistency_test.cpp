// The shipped file-type table against the registry and the per-type rules:
// every registered type has a complete entry, and every popup item stands
// where its type's rules expect it.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "conversion/cconv_spec.h"
#include "conversion/type_rules.h"
#include "formats/register_sound_files.h"
#include "soundfile/registry.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"

namespace {

// The built-in items of the dialog's sample-rate popup: item tag = index here.
const double kBuiltInRates[] = {192000, 176400, 96000, 88200, 48000, 47952, 44100,
                                44055.9, 37800, 32000, 24000, 22554.545454545456,
                                22050, 18900, 16000, 12000, 11025, 8000, 6000, 5512.5};

int BuiltInTag(double rate) {
    for (int i = 0; i < 20; ++i)
        if (std::fabs(kBuiltInRates[i] - rate) < 0.00005) return i;
    return -1;
}

struct Item {
    int index;
    std::string text;
    int tag;
};

class TypeTableConsistency : public ::testing::Test {
protected:
    void SetUp() override {
        CSoundFile::Cleanup();
        table_ = &CSoundFile::GetFileTypeInfo();
        RegisterSoundFiles(*table_);
        RegisterConversionRules(*table_);
    }
    void TearDown() override { CSoundFile::Cleanup(); }

    const plist::Value& Row(OSType code) { return table_->at(HFSTypeString(code)); }

    // The non-separator items of a popup.
    std::vector<Item> Items(OSType code, const char* key) {
        std::vector<Item> items;
        const plist::Array* array = Row(code).find(key)->array();
        for (size_t i = 0; i < array->size(); ++i) {
            const plist::Value& v = (*array)[i];
            if (v.find("text")->asString() == "-") continue;
            items.push_back({static_cast<int>(i), v.find("text")->asString(),
                             static_cast<int>(v.find("tag")->asInteger())});
        }
        return items;
    }

    std::vector<double> DiscreteRates(OSType code) {
        std::vector<double> rates;
        if (const plist::Value* v = Row(code).find("discreteSampleRates"))
            for (const plist::Value& r : *v->array()) rates.push_back(r.asReal());
        return rates;
    }

    plist::Dictionary* table_ = nullptr;
};

struct Edited {
    std::shared_ptr<ConvSpec> record = std::make_shared<ConvSpec>();
    CConvSpec facade{record};
    bool flag(const char* key) const { return record->specificsValue(key).asBool(); }
};

std::string Name(OSType code) { return "'" + FourCCText(code) + "'"; }

TEST_F(TypeTableConsistency, EveryRegisteredTypeHasACompleteEntry) {
    using T = plist::Value::Type;
    const std::map<std::string, T> keys = {
        {"text", T::String},
        {"extension", T::String},
        {"extensions", T::Array},
        {"canBeRead", T::Boolean},
        {"canBeWritten", T::Boolean},
        {"fileType", T::String},
        {"creator", T::String},
        {"numBitsPopup", T::Array},
        {"numBitsPopupDefault", T::Integer},
        {"numBitsCheckBoxTitle", T::String},
        {"channelHandlingPopup", T::Array},
        {"channelHandlingPopupDefault", T::Integer},
        {"optionsButtonTitle", T::String},
        {"optionsButtonEnabled", T::Boolean},
        {"specificsMustBeValid", T::Boolean},
        {"forceSampleRate", T::Boolean},
        {"forceWordSize", T::Boolean},
        {"forceChannels", T::Boolean},
        {"sampleRateMin", T::Real},
        {"sampleRateMax", T::Real},
        {"sampleRateDefault", T::Real},
    };
    std::set<std::string> texts;
    std::map<std::string, std::string> readableExtensions;
    for (OSType code : RegisteredSoundFileTypes()) {
        const std::string name = Name(code);
        ASSERT_EQ(table_->count(HFSTypeString(code)), 1u) << name;
        const plist::Value& row = Row(code);
        for (const auto& [key, type] : keys) {
            const plist::Value* v = row.find(key);
            ASSERT_NE(v, nullptr) << name << " lacks " << key;
            EXPECT_EQ(v->type(), type) << name << " " << key;
        }
        EXPECT_TRUE(texts.insert(row.find("text")->asString()).second)
            << name << ": the menu finds a type by its text";
        for (const char* key : {"fileType", "creator"})
            EXPECT_NE(HFSTypeCode(row.find(key)->asString()), 0u) << name << " " << key;
        if (row.find("canBeWritten")->asBool()) {
            EXPECT_FALSE(row.find("extension")->asString().empty()) << name;
        }
        if (row.find("canBeRead")->asBool()) {
            for (const plist::Value& ext : *row.find("extensions")->array()) {
                auto [it, fresh] = readableExtensions.emplace(ext.asString(), name);
                EXPECT_TRUE(fresh) << ext.asString() << " claimed by " << it->second << " and "
                                   << name;
            }
        }
        const std::string options = row.find("optionsButtonTitle")->asString();
        EXPECT_TRUE(options.size() > 3 && options.substr(options.size() - 3) == "...") << name;

        for (const char* popup : {"numBitsPopup", "channelHandlingPopup"}) {
            const plist::Array& items = *row.find(popup)->array();
            ASSERT_FALSE(items.empty()) << name << " " << popup;
            for (const plist::Value& item : items) {
                ASSERT_NE(item.find("text"), nullptr) << name << " " << popup;
                if (item.find("text")->asString() != "-") {
                    EXPECT_EQ(item.find("tag") ? item.find("tag")->type() : T::Null, T::Integer)
                        << name << " " << popup;
                }
            }
            const int64_t fallback = row.find(std::string(popup) + "Default")->asInteger();
            ASSERT_TRUE(fallback >= 0 && fallback < static_cast<int64_t>(items.size())) << name;
            EXPECT_NE(items[fallback].find("text")->asString(), "-") << name;
        }
        // Channel items are treatments the pipelines run.
        for (const Item& item : Items(code, "channelHandlingPopup"))
            EXPECT_TRUE(item.tag >= 1 && item.tag <= 6) << name << " " << item.text;

        const double lo = row.find("sampleRateMin")->asReal();
        const double hi = row.find("sampleRateMax")->asReal();
        const double fallback = row.find("sampleRateDefault")->asReal();
        EXPECT_TRUE(lo > 0 && lo <= fallback && fallback <= hi) << name;
        const std::vector<double> discrete = DiscreteRates(code);
        bool defaultIsDiscrete = discrete.empty();
        for (double rate : discrete) {
            EXPECT_NE(BuiltInTag(rate), -1) << name << ": " << rate << " has no built-in item";
            EXPECT_TRUE(rate >= lo && rate <= hi) << name << " " << rate;
            defaultIsDiscrete = defaultIsDiscrete || rate == fallback;
        }
        EXPECT_TRUE(defaultIsDiscrete) << name;
        if (!discrete.empty()) {
            EXPECT_TRUE(row.find("forceSampleRate")->asBool()) << name;
        }
    }
}

// With a popup-index rule the dialog shows the item the rule names; without one
// it looks the stored value up by tag. Either way the item the user picked
// must be the one shown again.
TEST_F(TypeTableConsistency, EveryPickedItemIsShownAgain) {
    for (OSType code : RegisteredSoundFileTypes()) {
        SoundFileDispatcherPtr d = GetSoundFileDispatcher(code);
        ASSERT_NE(d, nullptr);
        for (const char* popup : {"numBitsPopup", "channelHandlingPopup"}) {
            const bool words = std::string(popup) == "numBitsPopup";
            const bool indexed = words ? d->hasWordLengthIndexFunc() : d->hasChannelIndexFunc();
            const std::vector<Item> items = Items(code, popup);
            if (!indexed) {
                std::set<int> tags;
                for (const Item& item : items)
                    EXPECT_TRUE(tags.insert(item.tag).second)
                        << Name(code) << " " << popup << ": tag " << item.tag << " twice";
                continue;
            }
            for (const Item& item : items) {
                Edited e;
                if (words) {
                    e.record->setNeedsNewWordLength(true);
                    e.record->setWordLength(item.tag);
                    d->callHandleWordLengthSettings(&e.facade, item.index, item.text, item.tag);
                    EXPECT_EQ(d->callWordLengthIndexFunc(&e.facade), item.index)
                        << Name(code) << " " << item.text;
                    if (d->hasLogWordLengthFunc()) {
                        EXPECT_EQ(d->callLogWordLengthFunc(&e.facade).find("invalid"),
                                  std::string::npos)
                            << Name(code) << " " << item.text;
                    }
                } else {
                    e.record->setNeedsChannelTreat(true);
                    e.record->setChannelTreat(item.tag);
                    d->callHandleChannelSettings(&e.facade, item.index, item.text, item.tag);
                    EXPECT_EQ(d->callChannelIndexFunc(&e.facade), item.index)
                        << Name(code) << " " << item.text;
                }
            }
        }
    }
}

// Types whose channel rule asks for mono offer only mono treatments, force the
// choice, and every item they offer passes their rule.
TEST_F(TypeTableConsistency, MonoTypesOfferOnlyMonoItems) {
    const std::set<std::string> mono = {"21-4", "23-2", "23-3", "23-5", "26-3", "26-4",
                                        "26-5", "Dawn", "DADP", "DALW", "711a", "DULW",
                                        "711u", "DVAP"};
    for (OSType code : RegisteredSoundFileTypes()) {
        if (!mono.count(FourCCText(code))) continue;
        SoundFileDispatcherPtr d = GetSoundFileDispatcher(code);
        ASSERT_TRUE(d->hasHandleChannelFunc()) << Name(code);
        EXPECT_TRUE(Row(code).find("forceChannels")->asBool()) << Name(code);
        for (const Item& item : Items(code, "channelHandlingPopup")) {
            Edited e;
            e.record->setNeedsChannelTreat(true);
            e.record->setChannelTreat(item.tag);
            EXPECT_EQ(d->callHandleChannelSettings(&e.facade, item.index, item.text, item.tag), 0);
            EXPECT_TRUE(e.flag(kChannelHandlingValidKey)) << Name(code) << " " << item.text;
        }
    }
}

// The headerless telephony files carry their rate (or word size) in the name:
// every rate item the type allows names the output after that rate, and the
// type's default extension is the one of its default rate.
TEST_F(TypeTableConsistency, TelephonyItemsNameTheirOutputs) {
    for (const char* text : {"DADP", "DALW", "711a", "DULW", "711u", "PADP"}) {
        const OSType code = HFSTypeCode(text);
        SoundFileDispatcherPtr d = GetSoundFileDispatcher(code);
        ASSERT_TRUE(d->hasSampleRateFunc()) << text;
        const std::vector<double> rates = DiscreteRates(code);
        ASSERT_FALSE(rates.empty()) << text;
        for (double rate : rates) {
            Edited e;
            const int tag = BuiltInTag(rate);
            EXPECT_EQ(d->callHandleSampleRateSettings(&e.facade, tag, "", tag), 0) << text;
            const std::string ext = e.record->nameExtension();
            ASSERT_EQ(ext.size(), 3u) << text;
            EXPECT_EQ(ext.back(), rate == 6000 ? '6' : '8') << text << " " << rate;
            if (rate == Row(code).find("sampleRateDefault")->asReal()) {
                EXPECT_EQ(ext, Row(code).find("extension")->asString()) << text;
            }
        }
    }
    const OSType pcm = FourCC("DPCM");
    SoundFileDispatcherPtr d = GetSoundFileDispatcher(pcm);
    for (const Item& item : Items(pcm, "numBitsPopup")) {
        Edited e;
        EXPECT_EQ(d->callHandleWordLengthSettings(&e.facade, item.index, item.text, item.tag), 0);
        EXPECT_EQ(e.record->nameExtension(), item.tag == 8 ? "pc8" : "p16") << item.text;
        EXPECT_TRUE(item.tag == 8 || item.tag == 16) << item.text;
    }
}

TEST_F(TypeTableConsistency, BitRateItemsPassTheirRules) {
    // MPEG-1 Layer I: every bit rate is valid for mono output.
    const OSType layer1 = FourCC("MPG1");
    for (const Item& item : Items(layer1, "numBitsPopup")) {
        Edited e;
        e.record->setNeedsNewWordLength(true);
        e.record->setWordLength(item.tag);
        e.record->setChannelTreat(3);
        CMPEG1File_HandleWordLengthSettings(&e.facade, item.index, item.text, item.tag);
        EXPECT_TRUE(e.flag(kWordSizeValidKey)) << item.text;
    }
    // The MPEG writers take 32000, 44100 and 48000 Hz only.
    for (const char* text : {"MPG1", "MPG2", "BWMP"})
        for (double rate : DiscreteRates(HFSTypeCode(text)))
            EXPECT_TRUE(rate == 32000 || rate == 44100 || rate == 48000) << text << " " << rate;

    // AAC: every bit rate offered goes with some allowed sample rate, and every
    // allowed sample rate with some bit rate offered, by both rules.
    const OSType aac = FourCC("Mpg4");
    const std::vector<Item> bitRates = Items(aac, "numBitsPopup");
    const std::vector<double> rates = DiscreteRates(aac);
    auto accepted = [](const Item& bitRate, double rate) {
        Edited e;
        e.record->setSampleRate(rate);
        e.record->setWordLength(bitRate.tag);
        const int tag = BuiltInTag(rate);
        CQTMP4File_HandleWordLengthSettings(&e.facade, bitRate.index, bitRate.text, bitRate.tag);
        CQTMP4File_HandleSampleRateSettings(&e.facade, tag,
                                            std::to_string(static_cast<int>(rate)), tag);
        return e.flag(kWordSizeValidKey) && e.flag(kSampleRateValidKey);
    };
    for (const Item& bitRate : bitRates) {
        bool some = false;
        for (double rate : rates) some = some || accepted(bitRate, rate);
        EXPECT_TRUE(some) << bitRate.text;
    }
    for (double rate : rates) {
        bool some = false;
        for (const Item& bitRate : bitRates) some = some || accepted(bitRate, rate);
        EXPECT_TRUE(some) << rate;
    }
}

TEST_F(TypeTableConsistency, CreativeVoiceBoundsAndDefaultAreRatesItCanHold) {
    const plist::Value& row = Row(FourCC("VOC "));
    for (const char* key : {"sampleRateMin", "sampleRateMax", "sampleRateDefault"}) {
        Edited e;
        e.record->setNeedsSampleRateConversion(true);
        e.record->setSampleRate(row.find(key)->asReal());
        CVOCFile_HandleSampleRateSettings(&e.facade, 0, "", 0);
        EXPECT_TRUE(e.flag(kSampleRateValidKey)) << key;
    }
}

}  // namespace
