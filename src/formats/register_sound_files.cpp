// The registration table: for each registered type code, the class whose object
// the factory makes, and the slots of the per-output-type setting rules (an
// empty slot answers its default).
#include "formats/register_sound_files.h"

#include <memory>

#include "formats/media/av_media_file.h"
#include "formats/media/platform_codec_files.h"
#include "formats/mpeg/bwf_mpeg_file.h"
#include "formats/mpeg/drop_mp3_file.h"
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
#include "formats/telephony/ccitt_file.h"
#include "formats/telephony/dialogic_adpcm_file.h"
#include "formats/telephony/dialogic_file.h"
#include "formats/telephony/g729_file.h"
#include "formats/telephony/ms_adpcm_file.h"
#include "soundfile/coded_file.h"
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

const Registration* Registrations(size_t* count) {
    static const Registration rows[] = {
        {FourCC("AIFC"), &CreateSoundFileObject<CAIFCFile>},
        {FourCC("AIFF"), &CreateSoundFileObject<CAIFFFile>},
        {FourCC(".AVR"), &CreateSoundFileObject<CAVRFile>},
        {FourCC("BWLN"), &CreateSoundFileObject<CBWFLinearFile>},
        {FourCC("BWMP"), &CreateSoundFileObject<CBWFMPEGFile>},
        {FourCC("21-4"), &CreateSoundFileObject<CCITT721File>},
        {FourCC("23-2"), &CreateSoundFileObject<CCITT723_16File>},
        {FourCC("23-3"), &CreateSoundFileObject<CCITT723_24File>},
        {FourCC("23-5"), &CreateSoundFileObject<CCITT723_40File>},
        {FourCC("26-3"), &CreateSoundFileObject<CCITT726_3File>},
        {FourCC("26-4"), &CreateSoundFileObject<CCITT726_4File>},
        {FourCC("26-5"), &CreateSoundFileObject<CCITT726_5File>},
        {FourCC("Dawn"), &CreateSoundFileObject<CDawnAIFFFile>},
        {FourCC("DADP"), &CreateSoundFileObject<CDialogicADPCMFile>},
        {FourCC("DALW"), &CreateSoundFileObject<CDialogicALawFile>},
        {FourCC("711a"), &CreateSoundFileObject<CDialogicALawFile>},
        {FourCC("DPCM"), &CreateSoundFileObject<CDialogicPCMFile>},
        {FourCC("DULW"), &CreateSoundFileObject<CDialogicULawFile>},
        {FourCC("711u"), &CreateSoundFileObject<CDialogicULawFile>},
        {FourCC("DVAP"), &CreateSoundFileObject<CDialogicVAPFile>},
        {FourCC("DMP3"), &CreateSoundFileObject<CDropMP3File>},
        {FourCC("MMIX"), &CreateSoundFileObject<CDyaxisMacMixFile>},
        {FourCC("8SVX"), &CreateSoundFileObject<CIFF8SVXFile>},
        {FourCC("IDAT"), &CreateSoundFileObject<CImageDATFile>},
        {FourCC("G729"), &CreateSoundFileObject<CG729File>},
        {FourCC("MPG1"), &CreateSoundFileObject<CMPEG1File>},
        {FourCC("MPG2"), &CreateSoundFileObject<CMPEG2File>},
        {FourCC("MSAP"), &CreateSoundFileObject<CMSADPCMFile>},
        {FourCC("NSAL"), &CreateSoundFileObject<CNeXTALawFile>},
        {FourCC("ulaw"), &CreateSoundFileObject<CNeXTAUFile>},
        {FourCC("NxTS"), &CreateSoundFileObject<CNeXT_SUNFile>},
        {FourCC(" paf"), &CreateSoundFileObject<CParisLinearFile>},
        {FourCC("PADP"), &CreateSoundFileObject<CPikaADPCMFile>},
        {FourCC("QTAL"), &CreateSoundFileObject<CQTAlawFile>},
        {FourCC("QTIM"), &CreateSoundFileObject<CQTIMAFile>},
        {FourCC("QTIF"), &CreateSoundFileObject<CQTIntFloatFile>},
        {FourCC("QTM3"), &CreateSoundFileObject<CQTMACE3File>},
        {FourCC("QTM6"), &CreateSoundFileObject<CQTMACE6File>},
        {FourCC("AVFd"), &CreateSoundFileObject<AVFoundationFile>},
        {FourCC("Mp3 "), &CreateSoundFileObject<CQTMP3File>},
        {FourCC("Mpg4"), &CreateSoundFileObject<CQTMP4File>},
        {FourCC("QTQP"), &CreateSoundFileObject<CQTQDesignProFile>},
        {FourCC("QTQ2"), &CreateSoundFileObject<CQTQDesignPro2File>},
        {FourCC("QTQD"), &CreateSoundFileObject<CQTQDesignRavesoundFile>},
        {FourCC("QTPV"), &CreateSoundFileObject<CQTQualcommPurevoiceFile>},
        {FourCC("QTUL"), &CreateSoundFileObject<CQTUlawFile>},
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
