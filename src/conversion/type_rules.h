// Per-output-type setting rules: what each output type demands of a conversion's
// word length, channel handling and sample rate, which variant it keeps in the
// conversion's per-type block (byte order, packing, MPEG stereo mode, the name
// extension of the telephony types), which popup item shows the conversion's
// setting, and the word-length and channel lines of the log.
//
// A rule never refuses outright. A check writes its verdict into the
// conversion's specifics: a flag ("wordSizeValid", "channelHandlingValid",
// "sampleRateValid", always written) and, only when the flag is NO, a message
// ("wordSizeValidMessage", "channelHandlingInvalidMessage",
// "sampleRateInvalidMessage"). The Define Conversion dialog calls the handlers
// through each type's SoundFileDispatcher whenever the user picks an item of
// the word-length, channel or sample-rate popup (index, title and tag of the
// item; for sample rates the tag is the index of the built-in rate, -1 for a
// custom rate; for bit-rate types the word-length tag is the bit rate in
// kbit/s). The log description asks the popup-index and text functions on the
// conversion thread; those only read the record.
//
// Every handler takes a facade made around the record being edited; a null
// facade is answered with -50 (handlers), -1 (popup indexes) or an empty text.
#pragma once

#include <string>

#include "foundation/errors.h"
#include "platform/property_list.h"

class CConvSpec;

// Keys of the verdicts in the conversion's specifics.
inline constexpr char kWordSizeValidKey[] = "wordSizeValid";
inline constexpr char kWordSizeValidMessageKey[] = "wordSizeValidMessage";
inline constexpr char kChannelHandlingValidKey[] = "channelHandlingValid";
inline constexpr char kChannelHandlingInvalidMessageKey[] = "channelHandlingInvalidMessage";
inline constexpr char kSampleRateValidKey[] = "sampleRateValid";
inline constexpr char kSampleRateInvalidMessageKey[] = "sampleRateInvalidMessage";

// The MPEG stereo-mode texts kept as a Pascal string (length byte 20) in bytes
// 0 to 20 of the per-type block of the MPEG, Broadcast Wave MPEG and mp3 types.
inline constexpr char kMPEGJointStereoText[] = "MPEG joint stereo   ";
inline constexpr char kMPEGSeparateStereoText[] = "MPEG separate stereo";
// Offset in the per-type block of the sample rate that the platform mp3
// codec's options require (a 32-bit signed integer in the machine's order).
inline constexpr size_t kQTMP3RequiredRateOffset = 60;

// Fills the rule slots of the dispatchers that RegisterSoundFiles attached,
// each type with its own rules. Types without a dispatcher are left alone. Run
// on the main thread at start-up, right after RegisterSoundFiles and before any
// worker thread reads the registry.
void RegisterConversionRules(const plist::Dictionary& typeTable);

// ---------------------------------------------------------------------------
// Channel handlers of the types that must be mono: the verdict is YES when
// channel handling is on (CCITT: and the treatment is 2 to 5, that is split,
// mix, left or right).
OSErr CCITTFile_HandleChannelSettings(CConvSpec* spec, int index, const std::string& title,
                                      int tag);
OSErr CDawnAIFFFile_HandleChannelSettings(CConvSpec* spec, int index, const std::string& title,
                                          int tag);
OSErr CDialogicADPCMFile_HandleChannelSettings(CConvSpec* spec, int index,
                                               const std::string& title, int tag);
OSErr CDialogicALawFile_HandleChannelSettings(CConvSpec* spec, int index,
                                              const std::string& title, int tag);
OSErr CDialogicULawFile_HandleChannelSettings(CConvSpec* spec, int index,
                                              const std::string& title, int tag);
OSErr CDialogicVAPFile_HandleChannelSettings(CConvSpec* spec, int index,
                                             const std::string& title, int tag);

// Name extension by the rate popup's tag (17: 8000 Hz, 18: 6000 Hz), or by
// the word-length popup index for Dialogic PCM (0: "pc8", 1 to 3: "p16");
// anything else answers -50 and changes nothing.
OSErr CDialogicADPCMFile_HandleSampleRateSettings(CConvSpec* spec, int index,
                                                  const std::string& title, int tag);
OSErr CDialogicALawFile_HandleSampleRateSettings(CConvSpec* spec, int index,
                                                 const std::string& title, int tag);
OSErr CDialogicULawFile_HandleSampleRateSettings(CConvSpec* spec, int index,
                                                 const std::string& title, int tag);
OSErr CPikaADPCMFile_HandleSampleRateSettings(CConvSpec* spec, int index,
                                              const std::string& title, int tag);
OSErr CDialogicPCMFile_HandleWordLengthSettings(CConvSpec* spec, int index,
                                                const std::string& title, int tag);

// MPEG stereo mode: the channel popup's joint and separate items write the
// stereo-mode text into the block; the popup index shows it again.
OSErr CBWFMPEGFile_HandleChannelSettings(CConvSpec* spec, int index, const std::string& title,
                                         int tag);
int CBWFMPEGFile_ChannelHandlingPopupIndex(CConvSpec* spec);
OSErr CMPEG2File_HandleChannelSettings(CConvSpec* spec, int index, const std::string& title,
                                       int tag);
int CMPEG2File_ChannelHandlingPopupIndex(CConvSpec* spec);
OSErr CMPEG1File_HandleChannelSettings(CConvSpec* spec, int index, const std::string& title,
                                       int tag);
int CMPEG1File_ChannelHandlingPopupIndex(CConvSpec* spec);
OSErr CDropMP3File_HandleChannelSettings(CConvSpec* spec, int index, const std::string& title,
                                         int tag);
int CDropMP3File_ChannelHandlingPopupIndex(CConvSpec* spec);
std::string CDropMP3File_LogChannelTreatMessage(CConvSpec* spec);
std::string CMPEG1File_LogChannelTreatMessage(CConvSpec* spec);
std::string CMPEG2File_LogChannelTreatMessage(CConvSpec* spec);

// Bit-rate and sample-rate validators.
OSErr CDropMP3File_HandleWordLengthSettings(CConvSpec* spec, int index, const std::string& title,
                                            int tag);
OSErr CMPEG1File_HandleWordLengthSettings(CConvSpec* spec, int index, const std::string& title,
                                          int tag);
OSErr CQTMP3File_HandleSampleRateSettings(CConvSpec* spec, int index, const std::string& title,
                                          int tag);
OSErr CQTMP4File_HandleWordLengthSettings(CConvSpec* spec, int index, const std::string& title,
                                          int tag);
OSErr CQTMP4File_HandleSampleRateSettings(CConvSpec* spec, int index, const std::string& title,
                                          int tag);
OSErr CVOCFile_HandleSampleRateSettings(CConvSpec* spec, int index, const std::string& title,
                                        int tag);

// Byte writers into the per-type block, with the popup index that reads them back.
OSErr CParisLinearFile_HandleWordLengthSettings(CConvSpec* spec, int index,
                                                const std::string& title, int tag);
int CParisLinearFile_WordLengthPopupIndex(CConvSpec* spec);
OSErr CSonicAIFFFile_HandleWordLengthSettings(CConvSpec* spec, int index,
                                              const std::string& title, int tag);
int CSonicAIFFFile_WordLengthPopupIndex(CConvSpec* spec);
OSErr CQTIntFloatFile_HandleWordLengthSettings(CConvSpec* spec, int index,
                                               const std::string& title, int tag);
int CQTIntFloatFile_WordLengthPopupIndex(CConvSpec* spec);

// Word-length lines of the log; each begins with a line end and four spaces.
std::string CAIFCIMA1to4_LogWordLengthMessage(CConvSpec* spec);
std::string CDialogicADPCMFile_LogWordLengthMessage(CConvSpec* spec);
std::string CDialogicVAPFile_LogWordLengthMessage(CConvSpec* spec);
std::string CMSADPCMFile_LogWordLengthMessage(CConvSpec* spec);
std::string CPikaADPCMFile_LogWordLengthMessage(CConvSpec* spec);
std::string CQTIMAFile_LogWordLengthMessage(CConvSpec* spec);
std::string CDialogicALawFile_LogWordLengthMessage(CConvSpec* spec);
std::string CNeXTALawFile_LogWordLengthMessage(CConvSpec* spec);
std::string CQTAlawFile_LogWordLengthMessage(CConvSpec* spec);
std::string CDialogicULawFile_LogWordLengthMessage(CConvSpec* spec);
std::string CNeXTAUFile_LogWordLengthMessage(CConvSpec* spec);
std::string CQTUlawFile_LogWordLengthMessage(CConvSpec* spec);
std::string CMPEG1File_LogWordLengthMessage(CConvSpec* spec);
std::string CMPEG2File_LogWordLengthMessage(CConvSpec* spec);
std::string CQTQDesignRavesoundFile_LogWordLengthMessage(CConvSpec* spec);
std::string CQTQualcommPurevoiceFile_LogWordLengthMessage(CConvSpec* spec);
std::string CQTMACE3File_LogWordLengthMessage(CConvSpec* spec);
std::string CQTMACE6File_LogWordLengthMessage(CConvSpec* spec);
std::string CQTQDesignProFile_LogWordLengthMessage(CConvSpec* spec);
std::string CQTQDesignPro2File_LogWordLengthMessage(CConvSpec* spec);
std::string CQTIntFloatFile_LogWordLengthMessage(CConvSpec* spec);
std::string CSonicAIFFFile_LogWordLengthMessage(CConvSpec* spec);
