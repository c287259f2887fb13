// The registration table: for each registered type code, the class whose object
// the factory makes, and the slots of the per-output-type setting rules.
//
// Formats that are not written yet are registered with a stand-in
// (CPendingFormatFile) that reports the type, the description and the coding
// needs of the class to come; its Open and Create fail with -22017. Each such row
// is marked "pending" and is replaced by the real class when the format is done.
// The rule slots stay empty until the per-type rules are written; an empty slot
// answers its default.
#include "formats/register_sound_files.h"

#include <memory>

#include "formats/mpeg/bwf_mpeg_file.h"
#include "formats/mpeg/mpeg_file.h"
#include "formats/pcm/aifc_file.h"
#include "formats/pcm/aiff_file.h"
#include "formats/pcm/aiff_temp_file.h"
#include "formats/pcm/avr_file.h"
#include "formats/pcm/bwf_linear_file.h"
#include "formats/pcm/caf_file.h"
#include "formats/pcm/dawn_aiff_file.h"
#include "formats/pcm/iff_8svx_file.h"
#include "formats/pcm/image_dat_file.h"
#include "formats/pcm/next_sun_file.h"
#include "formats/pcm/paris_file.h"
#include "formats/pcm/sd1_file.h"
#include "formats/pcm/sd2_file.h"
#include "formats/pcm/snd_resource_file.h"
#include "formats/pcm/sonic_file.h"
#include "formats/pcm/sonic_split_file.h"
#include "formats/pcm/voc_file.h"
#include "formats/pcm/wave_file.h"
#include "formats/pcm/wave_variants.h"
#include "soundfile/coded_file.h"
#include "soundfile/pending_file.h"
#include "soundfile/registry.h"
#include "soundfile/snippet_file.h"
#include "soundfile/type_codes.h"

namespace {

struct Registration {
    OSType code;
    SoundFileDispatcher::CreateFunc create;
    // Rule slots: word length, channel and sample-rate handlers, the two popup
    // indexes and the two log texts.
    SoundFileDispatcher::SettingsFunc wordLength = nullptr;
    SoundFileDispatcher::SettingsFunc channels = nullptr;
    SoundFileDispatcher::SettingsFunc sampleRate = nullptr;
    SoundFileDispatcher::PopupIndexFunc channelIndex = nullptr;
    SoundFileDispatcher::PopupIndexFunc wordLengthIndex = nullptr;
    SoundFileDispatcher::TextFunc logWordLength = nullptr;
    SoundFileDispatcher::TextFunc logChannels = nullptr;
};

template <class T>
CSoundFile* CreateSoundFileObject() {
    return new T();
}

// A stand-in for a format class still to be written.
#define PENDING(code, reported, description, coded, decoded)                                 \
    +[]() -> CSoundFile* {                                                                   \
        return new CPendingFormatFile(FourCC(code), FourCC(reported), description, coded,    \
                                      decoded);                                              \
    }
#define PENDING_PCM(code, description) PENDING(code, code, description, false, false)
#define PENDING_CODED(code, description) PENDING(code, code, description, true, false)

const Registration* Registrations(size_t* count) {
    static const Registration rows[] = {
        {FourCC("AIFC"), &CreateSoundFileObject<CAIFCFile>},
        {FourCC("AIFF"), &CreateSoundFileObject<CAIFFFile>},
        {FourCC(".AVR"), &CreateSoundFileObject<CAVRFile>},
        {FourCC("BWLN"), &CreateSoundFileObject<CBWFLinearFile>},
        {FourCC("BWMP"), &CreateSoundFileObject<CBWFMPEGFile>},
        {FourCC("21-4"), PENDING_CODED("21-4", "CCITT G.721 4-bit")},
        {FourCC("23-2"), PENDING_CODED("23-2", "CCITT G.723 2-bit")},
        {FourCC("23-3"), PENDING_CODED("23-3", "CCITT G.723 3-bit")},
        {FourCC("23-5"), PENDING_CODED("23-5", "CCITT G.723 5-bit")},
        {FourCC("26-3"), PENDING_CODED("26-3", "CCITT G.726 3-bit")},
        {FourCC("26-4"), PENDING_CODED("26-4", "CCITT G.726 4-bit")},
        {FourCC("26-5"), PENDING_CODED("26-5", "CCITT G.726 5-bit")},
        {FourCC("Dawn"), &CreateSoundFileObject<CDawnAIFFFile>},
        {FourCC("DADP"), PENDING_CODED("DADP", "Dialogic ADPCM")},
        {FourCC("DALW"), PENDING_PCM("DALW", "Dialogic A-law")},
        {FourCC("711a"), PENDING("711a", "DALW", "Dialogic A-law", false, false)},
        {FourCC("DPCM"), PENDING_PCM("DPCM", "Dialogic PCM")},
        {FourCC("DULW"), PENDING_PCM("DULW", "Dialogic mu-law")},
        {FourCC("711u"), PENDING("711u", "DULW", "Dialogic mu-law", false, false)},
        {FourCC("DVAP"), PENDING_CODED("DVAP", "Dialogic VAP")},
        {FourCC("DMP3"), PENDING_CODED("DMP3", "MP3")},
        {FourCC("MMIX"), &CreateSoundFileObject<CDyaxisMacMixFile>},
        {FourCC("8SVX"), &CreateSoundFileObject<CIFF8SVXFile>},
        {FourCC("IDAT"), &CreateSoundFileObject<CImageDATFile>},
        {FourCC("G729"), PENDING("G729", "G729", "G.729", true, true)},
        {FourCC("MPG1"), &CreateSoundFileObject<CMPEG1File>},
        {FourCC("MPG2"), &CreateSoundFileObject<CMPEG2File>},
        {FourCC("MSAP"), PENDING_CODED("MSAP", "Microsoft ADPCM")},
        {FourCC("NSAL"), &CreateSoundFileObject<CNeXTALawFile>},
        {FourCC("ulaw"), &CreateSoundFileObject<CNeXTAUFile>},
        {FourCC("NxTS"), &CreateSoundFileObject<CNeXT_SUNFile>},
        {FourCC(" paf"), &CreateSoundFileObject<CParisLinearFile>},
        {FourCC("PADP"), PENDING_CODED("PADP", "Pika ADPCM")},
        {FourCC("QTAL"), PENDING_CODED("QTAL", "A-law")},
        {FourCC("QTIM"), PENDING_CODED("QTIM", "IMA 4:1")},
        {FourCC("QTIF"), PENDING_CODED("QTIF", "Integer/Float")},
        {FourCC("QTM3"), PENDING_CODED("QTM3", "MACE 3:1")},
        {FourCC("QTM6"), PENDING_CODED("QTM6", "MACE 6:1")},
        {FourCC("AVFd"), PENDING_CODED("AVFd", "Media file")},
        {FourCC("Mp3 "), PENDING_CODED("Mp3 ", "MPEG Layer III")},
        {FourCC("Mpg4"), PENDING_CODED("Mpg4", "MPEG-4 Audio")},
        {FourCC("QTQP"), PENDING_CODED("QTQP", "QDesign Music")},
        {FourCC("QTQ2"), PENDING_CODED("QTQ2", "QDesign Music 2")},
        {FourCC("QTQD"), PENDING_CODED("QTQD", "QDesign Ravesound")},
        {FourCC("QTPV"), PENDING_CODED("QTPV", "Qualcomm PureVoice")},
        {FourCC("QTUL"), PENDING_CODED("QTUL", "mu-law")},
        {FourCC("Sd1f"), &CreateSoundFileObject<CSD1File>},
        {FourCC("Sd2f"), &CreateSoundFileObject<CSDIIFile>},
        {FourCC("sfil"), &CreateSoundFileObject<CSndRsrcFile>},
        {FourCC("Snip"), &CreateSoundFileObject<CSnippetFile>},
        {FourCC("SAIF"), &CreateSoundFileObject<CSonicAIFFFile>},
        {FourCC("SpSc"), &CreateSoundFileObject<CSonicSplitFile>},
        {FourCC("Temp"), &CreateSoundFileObject<CTempFile>},
        {FourCC("VOC "), &CreateSoundFileObject<CVOCFile>},
        {FourCC("VOC2"), &CreateSoundFileObject<CVOC_SBFile>},
        {FourCC("WAVE"), &CreateSoundFileObject<CWAVEFile>},
        {FourCC("WVfl"), &CreateSoundFileObject<CWAVEFloatFile>},
        {FourCC("WVal"), &CreateSoundFileObject<CWAVE_ALawFile>},
        {FourCC("WVau"), &CreateSoundFileObject<CWAVE_AuFile>},
        {FourCC("caff"), &CreateSoundFileObject<CafFile>},
    };
    *count = sizeof rows / sizeof rows[0];
    return rows;
}

#undef PENDING_CODED
#undef PENDING_PCM
#undef PENDING

CSoundFile* CreateTemporarySoundFile(OSType type) { return CSoundFile::CreateSoundFile(type); }

}  // namespace

const std::vector<OSType>& RegisteredSoundFileTypes() {
    static const std::vector<OSType> codes = [] {
        size_t count = 0;
        const Registration* rows = Registrations(&count);
        std::vector<OSType> v;
        v.reserve(count);
        for (size_t i = 0; i < count; ++i) v.push_back(rows[i].code);
        return v;
    }();
    return codes;
}

void RegisterSoundFiles(const plist::Dictionary& typeTable) {
    size_t count = 0;
    const Registration* rows = Registrations(&count);
    for (size_t i = 0; i < count; ++i) {
        const Registration& row = rows[i];
        auto dispatcher = std::make_shared<SoundFileDispatcher>();
        dispatcher->setCreateFunc(row.create);
        dispatcher->setWordLengthSettingsFunc(row.wordLength);
        dispatcher->setChannelSettingsFunc(row.channels);
        dispatcher->setSampleRateSettingsFunc(row.sampleRate);
        dispatcher->setChannelHandlingPopupIndexFunc(row.channelIndex);
        dispatcher->setWordLengthPopupIndexFunc(row.wordLengthIndex);
        dispatcher->setLogWordLengthFunc(row.logWordLength);
        dispatcher->setLogChannelSettingsFunc(row.logChannels);
        AttachSoundFileDispatcher(typeTable, row.code, std::move(dispatcher));
    }
    SetTempSoundFileMaker(&CreateTemporarySoundFile);
}
