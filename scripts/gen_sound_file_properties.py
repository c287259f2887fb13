#!/usr/bin/env python3
"""Writes resources/SoundFileProperties/: one property list per registered file
type, named "_" followed by the four characters of the type code ("_AIFF.plist",
"_VOC .plist").

This table is the one source of those files: edit it here, run the script, and
commit the lists it writes. The test "sound_file_properties_up_to_date" runs it
with --check, which fails when a list differs from what the table gives; the
C++ test type_table_consistency_test checks the lists against the per-type
rules of the conversion code.

Each list holds:
  text                 display name (menu title, log)
  extension            name extension of written files
  extensions           extensions by which input of this type is recognised
  canBeRead            the type is accepted as input (by its extensions)
  canBeWritten         the type is offered as output (the mp3 encoder type is
                       switched on at start-up when the encoder is found)
  fileType, creator    Finder type and creator written on output files
  numBitsPopup         word-length (or bit-rate) items: {"text", "tag"}; the
                       tag is the word length in bits, or the bit rate in kbit/s
  numBitsPopupDefault  item shown when the conversion's value has none
  numBitsCheckBoxTitle title of the word-length checkbox
  channelHandlingPopup channel items; the tag is the channel treatment
                       (1 interleave, 2 split, 3 mix, 4 left, 5 right,
                       6 only split pairs to interleaved); {"text": "-"} is a
                       separator
  channelHandlingPopupDefault
  sampleRateMin, sampleRateMax, sampleRateDefault (Hz)
  discreteSampleRates  only these rates (all among the dialog's built-in rates)
  forceSampleRate, forceWordSize, forceChannels
                       choosing the type ticks the matching checkbox
  optionsButtonTitle, optionsButtonEnabled
  specificsMustBeValid the type's option sheet must be completed first

Where a type's rules interpret popup indexes or tags, the items stand where
those rules expect them (Sonic AIFF packing 0..4, PARIS byte order 0..4,
integer/float 0..9, the MPEG stereo-mode items, Dialogic PCM 0 = 8 bits and
1 = 16 bits, mp3 joint/separate stereo under the tags 5 and 6, the telephony
rates 8000 and 6000 Hz, which are the built-in rate items 17 and 18).

Usage: scripts/gen_sound_file_properties.py [--check] [output folder]
"""

import os
import sys

# ---------------------------------------------------------------------------
# Popup items


def item(text, tag):
    return {"text": text, "tag": tag}


SEPARATOR = {"text": "-"}


def bits(*sizes):
    return [item("%d bits" % n, n) for n in sizes]


def kbits(*rates):
    return [item("%d kbit/s" % n, n) for n in rates]


INTERLEAVE = item("Make every file interleaved stereo", 1)
SPLIT = item("Split stereo files into two mono files", 2)
MIX = item("Mix stereo files to mono", 3)
LEFT = item("Copy only the left channel", 4)
RIGHT = item("Copy only the right channel", 5)
PAIRS = item("Interleave only split stereo pairs", 6)

# (items, default index)
CHANNELS_ANY = ([INTERLEAVE, SPLIT, MIX, LEFT, RIGHT, PAIRS], 1)
CHANNELS_MONO = ([SPLIT, MIX, LEFT, RIGHT], 1)
CHANNELS_STEREO = ([INTERLEAVE], 0)
# MPEG Layer II (also Broadcast Wave MPEG): joint stereo is item 4, separate
# stereo item 5; every other item stands at the index of its treatment.
CHANNELS_MPEG_LAYER2 = ([item("Stereo", 1), SEPARATOR, SPLIT, MIX,
                         item("Joint stereo", 1), item("Separate stereo", 1)], 4)
# MPEG Layer I: joint stereo is item 5, separate stereo item 6.
CHANNELS_MPEG_LAYER1 = ([item("Stereo", 1), SEPARATOR, SPLIT, MIX, LEFT,
                         item("Joint stereo", 1), item("Separate stereo", 1)], 5)
# mp3 through the encoder program: the stereo modes are told by their tags.
CHANNELS_MP3 = ([item("Stereo", 1), SPLIT, MIX, LEFT, SEPARATOR,
                 item("Joint stereo", 5), item("Separate stereo", 6)], 5)

PCM_BITS = (bits(8, 16, 24, 32), 1)
SONIC_BITS = ([item("16 bits USP/HDSP", 16),
               item("24 bits 'unpacked' SSP/USP style", 24),
               item("24 bits 'packed' USP style", 24),
               item("24 bits HDSP 1.4 style (= Little Endian)", 24),
               item("24 bits HDSP 1.5 style (= Big Endian)", 24)], 0)
PARIS_BITS = ([item("8 bits", 8),
               item("16 bits big endian", 16), item("24 bits big endian", 24),
               item("16 bits little endian", 16), item("24 bits little endian", 24)], 1)
INT_FLOAT_BITS = ([item("8 bits integer", 8),
                   item("16 bits integer", 16),
                   item("24 bits integer big endian", 24),
                   item("24 bits integer little endian", 24),
                   item("32 bits integer big endian", 32),
                   item("32 bits integer little endian", 32),
                   item("32 bits floating point big endian", 32),
                   item("32 bits floating point little endian", 32),
                   item("64 bits floating point big endian", 64),
                   item("64 bits floating point little endian", 64)], 1)
DIALOGIC_PCM_BITS = ([item("8 bits (.pc8)", 8), item("16 bits (.p16)", 16)], 1)
ALAW_BITS = ([item("8 bits A-law", 8)], 0)
ULAW_BITS = ([item("8 bits \u00b5-law", 8)], 0)
ADPCM_BITS = ([item("4 bits ADPCM", 4)], 0)
# MPEG-1 bit rates of Layers I, II and III (ISO/IEC 11172-3).
LAYER1_RATES = (kbits(32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448), 11)
LAYER2_RATES = (kbits(32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384), 9)
LAYER3_RATES = (kbits(32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320), 8)
# AAC bit rates that some sample rate accepts.
AAC_RATES = (kbits(8, 16, 20, 24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224,
                   256), 13)


def ccitt_bits(code_bits, kbps):
    return ([item("%d bits ADPCM (%d kbit/s)" % (code_bits, kbps), code_bits)], 0)


# ---------------------------------------------------------------------------
# Sample rates: (min, max, default, discrete rates or None, force)

ANY_RATE = (1000.0, 768000.0, 44100.0, None, False)
TELEPHONY_RATES = (6000.0, 8000.0, 8000.0, [8000.0, 6000.0], True)
RATE_8000_ONLY = (8000.0, 8000.0, 8000.0, [8000.0], True)
MPEG1_RATES = (32000.0, 48000.0, 44100.0, [48000.0, 44100.0, 32000.0], True)
NINE_RATES = [48000.0, 44100.0, 32000.0, 24000.0, 22050.0, 16000.0, 12000.0, 11025.0, 8000.0]
MPEG_AUDIO_RATES = (8000.0, 48000.0, 44100.0, NINE_RATES, True)
MEDIA_RATES = (8000.0, 48000.0, 44100.0, None, False)
# Creative Voice: 1,000,000 / (256 - n) for n = 1..206, that is 1,000,000 / 255
# up to 20,000 Hz; the sample-rate sheet offers exactly these.
VOC_RATES = (1000000.0 / 255, 20000.0, 8000.0, None, True)
VOC_PRO_RATES = (1953.0, 44100.0, 22050.0, None, False)
CD_RATE = (44100.0, 44100.0, 44100.0, [44100.0], True)

BITS_TITLE = "Convert number of bits to"
BIT_RATE_TITLE = "Convert bit rate to"

# ---------------------------------------------------------------------------
# The types


def entry(code, text, extension, extensions, read, write, file_type, creator,
          word, channels, rates, force_word=False, force_channels=False,
          bits_title=BITS_TITLE, options=None, must_be_valid=False):
    items, word_default = word
    channel_items, channel_default = channels
    rate_min, rate_max, rate_default, discrete, force_rate = rates
    d = {
        "text": text,
        "extension": extension,
        "extensions": list(extensions),
        "canBeRead": read,
        "canBeWritten": write,
        "fileType": "'%s'" % file_type,
        "creator": "'%s'" % creator,
        "numBitsCheckBoxTitle": bits_title,
        "numBitsPopup": items,
        "numBitsPopupDefault": word_default,
        "channelHandlingPopup": channel_items,
        "channelHandlingPopupDefault": channel_default,
        "sampleRateMin": rate_min,
        "sampleRateMax": rate_max,
        "sampleRateDefault": rate_default,
        "forceSampleRate": force_rate,
        "forceWordSize": force_word,
        "forceChannels": force_channels,
        "optionsButtonTitle": options or "Options...",
        "optionsButtonEnabled": options is not None,
        "specificsMustBeValid": must_be_valid,
    }
    if discrete is not None:
        d["discreteSampleRates"] = discrete
    return code, d


C = "Crvn"  # creator of the files this program writes

TYPES = [
    entry("AIFC", "AIFF-C", "aifc", ["aifc"], True, True, "AIFC", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry("AIFF", "AIFF", "aif", ["aif", "aiff"], True, True, "AIFF", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry(".AVR", "AVR", "avr", ["avr"], True, True, "2BIT", C,
          (bits(8, 16), 1), CHANNELS_ANY, ANY_RATE, force_word=True),
    entry("BWLN", "Broadcast Wave", "wav", ["bwf"], True, True, "WAVE", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE, options="Annotation..."),
    entry("BWMP", "Broadcast Wave MPEG", "wav", [], False, True, "WAVE", C,
          LAYER2_RATES, CHANNELS_MPEG_LAYER2, MPEG1_RATES, force_word=True,
          bits_title=BIT_RATE_TITLE, options="Annotation..."),
    entry("21-4", "CCITT G.721 (4 bit)", "g721", ["g721"], True, True, "21-4", C,
          ccitt_bits(4, 32), CHANNELS_MONO, RATE_8000_ONLY, force_channels=True),
    # The CCITT streams have no header: written files carry their type as their
    # Finder type; a file without one is taken, by its name, for the usual rate.
    entry("23-2", "CCITT G.723 (2 bit)", "g723", [], True, True, "23-2", C,
          ccitt_bits(2, 16), CHANNELS_MONO, RATE_8000_ONLY, force_channels=True),
    entry("23-3", "CCITT G.723 (3 bit)", "g723", ["g723"], True, True, "23-3", C,
          ccitt_bits(3, 24), CHANNELS_MONO, RATE_8000_ONLY, force_channels=True),
    entry("23-5", "CCITT G.723 (5 bit)", "g723", [], True, True, "23-5", C,
          ccitt_bits(5, 40), CHANNELS_MONO, RATE_8000_ONLY, force_channels=True),
    entry("26-3", "CCITT G.726 (3 bit)", "g726", [], True, True, "26-3", C,
          ccitt_bits(3, 24), CHANNELS_MONO, RATE_8000_ONLY, force_channels=True),
    entry("26-4", "CCITT G.726 (4 bit)", "g726", ["g726"], True, True, "26-4", C,
          ccitt_bits(4, 32), CHANNELS_MONO, RATE_8000_ONLY, force_channels=True),
    entry("26-5", "CCITT G.726 (5 bit)", "g726", [], True, True, "26-5", C,
          ccitt_bits(5, 40), CHANNELS_MONO, RATE_8000_ONLY, force_channels=True),
    entry("Dawn", "Dawn AIFF", "aif", [], True, True, "AIFF", "CARI",
          (bits(16, 24), 0), CHANNELS_MONO, ANY_RATE, force_channels=True),
    entry("DADP", "Dialogic ADPCM", "ap8", ["vox", "ap6", "ap8", "ap9"], True, True, "DADP", C,
          ADPCM_BITS, CHANNELS_MONO, TELEPHONY_RATES, force_channels=True),
    entry("DALW", "Dialogic A-law", "al8", ["al6", "al8"], True, True, "DALW", C,
          ALAW_BITS, CHANNELS_MONO, TELEPHONY_RATES, force_channels=True),
    entry("711a", "G.711 A-law", "al8", [], False, True, "DALW", C,
          ALAW_BITS, CHANNELS_MONO, TELEPHONY_RATES, force_channels=True),
    entry("DPCM", "Dialogic PCM", "p16", ["pc8", "p16"], True, True, "DPCM", C,
          DIALOGIC_PCM_BITS, CHANNELS_MONO, RATE_8000_ONLY, force_word=True,
          force_channels=True),
    entry("DULW", "Dialogic \u00b5-law", "ul8", ["ul6", "ul8"], True, True, "DULW", C,
          ULAW_BITS, CHANNELS_MONO, TELEPHONY_RATES, force_channels=True),
    entry("711u", "G.711 \u00b5-law", "ul8", [], False, True, "DULW", C,
          ULAW_BITS, CHANNELS_MONO, TELEPHONY_RATES, force_channels=True),
    entry("DVAP", "Annotated Voice (vap)", "vap", ["vap"], True, True, "DVAP", C,
          ADPCM_BITS, CHANNELS_MONO, (1000.0, 48000.0, 8000.0, None, False),
          force_channels=True),
    entry("DMP3", "MP3", "mp3", [], False, False, "MPG3", C,
          LAYER3_RATES, CHANNELS_MP3, MPEG_AUDIO_RATES, force_word=True,
          bits_title=BIT_RATE_TITLE, options="Encoder Options...", must_be_valid=True),
    entry("MMIX", "Dyaxis MacMix", "mix", [], True, True, "MMIX", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry("8SVX", "IFF 8SVX", "iff", ["iff", "8svx"], True, True, "8SVX", C,
          (bits(8), 0), CHANNELS_MONO, (1000.0, 65535.0, 22050.0, None, False),
          force_word=True, force_channels=True),
    entry("IDAT", "Audio CD Image", "dat", [], True, False, "IDAT", C,
          (bits(16), 0), CHANNELS_STEREO, CD_RATE, force_word=True, force_channels=True),
    entry("G729", "G.729", "g729", ["g729"], True, True, "G729", C,
          ([item("G.729 at 8 kbit/s", 16)], 0), CHANNELS_MONO, RATE_8000_ONLY,
          force_channels=True, options="G.729 Options..."),
    entry("MPG1", "MPEG-1 Layer I", "mp1", [], False, True, "MPG1", C,
          LAYER1_RATES, CHANNELS_MPEG_LAYER1, MPEG1_RATES, force_word=True,
          bits_title=BIT_RATE_TITLE, options="MPEG Options..."),
    entry("MPG2", "MPEG-1 Layer II", "mp2", [], False, True, "MPG2", C,
          LAYER2_RATES, CHANNELS_MPEG_LAYER2, MPEG1_RATES, force_word=True,
          bits_title=BIT_RATE_TITLE, options="MPEG Options..."),
    entry("MSAP", "Microsoft ADPCM", "wav", [], True, True, "WAVE", C,
          ADPCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry("NSAL", "NeXT/Sun A-law", "au", [], True, True, "NSAL", C,
          ALAW_BITS, CHANNELS_ANY, ANY_RATE),
    entry("ulaw", "NeXT/Sun \u00b5-law", "au", [], True, True, "ULAW", C,
          ULAW_BITS, CHANNELS_ANY, ANY_RATE),
    entry("NxTS", "NeXT/Sun", "snd", ["au", "snd"], True, True, "NxTS", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry(" paf", "PARIS", "paf", ["paf"], True, True, " paf", C,
          PARIS_BITS, CHANNELS_ANY, ANY_RATE, force_word=True),
    entry("PADP", "Pika ADPCM", "pi8", ["pi6", "pi8", "pi9"], True, True, "PADP", C,
          ADPCM_BITS, CHANNELS_MONO, TELEPHONY_RATES, force_channels=True),
    entry("QTAL", "A-law (media)", "mov", [], False, True, "MooV", C,
          ALAW_BITS, CHANNELS_ANY, MEDIA_RATES),
    entry("QTIM", "IMA 4:1 (media)", "mov", [], False, True, "MooV", C,
          ADPCM_BITS, CHANNELS_ANY, MEDIA_RATES),
    entry("QTIF", "Integer/Float (media)", "mov", [], False, True, "MooV", C,
          INT_FLOAT_BITS, CHANNELS_ANY, MEDIA_RATES),
    entry("QTM3", "MACE 3:1 (media)", "m4a", [], False, False, "M4A ", C,
          ([item("MACE 3:1", 16)], 0), CHANNELS_ANY, MEDIA_RATES),
    entry("QTM6", "MACE 6:1 (media)", "m4a", [], False, False, "M4A ", C,
          ([item("MACE 6:1", 16)], 0), CHANNELS_ANY, MEDIA_RATES),
    entry("AVFd", "Media File", "m4a", [], True, False, "M4A ", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry("Mp3 ", "MPEG Layer III (media)", "mp3", ["mp3"], True, False, "MPG3", C,
          LAYER3_RATES, CHANNELS_ANY, MPEG_AUDIO_RATES, force_word=True,
          bits_title=BIT_RATE_TITLE, options="Codec Options...", must_be_valid=True),
    entry("Mpg4", "MPEG-4 Audio", "m4a", ["m4a"], True, True, "M4A ", C,
          AAC_RATES, CHANNELS_ANY, MPEG_AUDIO_RATES, force_word=True,
          bits_title=BIT_RATE_TITLE),
    entry("QTQP", "QDesign Music (media)", "m4a", [], False, False, "M4A ", C,
          ([item("16 bits", 16)], 0), CHANNELS_ANY, MEDIA_RATES,
          options="Codec Options...", must_be_valid=True),
    entry("QTQ2", "QDesign Music 2 (media)", "m4a", [], False, False, "M4A ", C,
          ([item("16 bits", 16)], 0), CHANNELS_ANY, MEDIA_RATES,
          options="Codec Options...", must_be_valid=True),
    entry("QTQD", "QDesign Ravesound (media)", "m4a", [], False, False, "M4A ", C,
          (kbits(8, 16, 24, 32, 40, 48), 2), CHANNELS_ANY, MEDIA_RATES,
          bits_title=BIT_RATE_TITLE),
    entry("QTPV", "Qualcomm PureVoice (media)", "m4a", [], False, False, "M4A ", C,
          ([item("Full rate (9:1 compression)", 20000),
            item("Half rate (19:1 compression)", 10000)], 0), CHANNELS_ANY, MEDIA_RATES,
          bits_title=BIT_RATE_TITLE),
    entry("QTUL", "\u00b5-law (media)", "mov", [], False, True, "MooV", C,
          ULAW_BITS, CHANNELS_ANY, MEDIA_RATES),
    entry("Sd1f", "SoundDesigner I", "sd1", ["sd1"], True, True, "SFIL", C,
          (bits(8, 16), 1), CHANNELS_MONO, ANY_RATE, force_word=True, force_channels=True),
    entry("Sd2f", "SoundDesigner II", "sd2", ["sd2"], True, True, "Sd2f", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry("sfil", "Sound Resource", "rsrc", [], True, True, "sfil", C,
          (bits(8, 16), 1), CHANNELS_ANY, (1000.0, 48000.0, 22050.0, None, False),
          force_word=True),
    entry("Snip", "Snippet", "", [], False, False, "????", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry("SAIF", "Sonic AIFF", "aif", [], True, True, "AIFF", "SSYS",
          SONIC_BITS, CHANNELS_ANY, ANY_RATE, force_word=True),
    entry("SpSc", "Sonic Split File", "aif", [], False, False, "AIFF", "SSYS",
          (bits(16, 24), 0), CHANNELS_ANY, ANY_RATE),
    entry("Temp", "Temp", "aif", [], False, False, "AIFF", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry("VOC ", "Creative Voice", "voc", ["voc"], True, True, "VOC ", C,
          (bits(8), 0), CHANNELS_MONO, VOC_RATES, force_word=True, force_channels=True,
          options="Sample Rates..."),
    entry("VOC2", "Creative Voice Pro", "voc", [], True, True, "VOC ", C,
          (bits(16), 0), CHANNELS_ANY, VOC_PRO_RATES, force_word=True),
    entry("WAVE", "Wave", "wav", ["wav"], True, True, "WAVE", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
    entry("WVfl", "Wave Float", "wav", [], True, True, "WAVE", C,
          ([item("32 bits floating point", 32)], 0), CHANNELS_ANY, ANY_RATE),
    entry("WVal", "Wave A-law", "wav", [], True, True, "WAVE", C,
          ALAW_BITS, CHANNELS_ANY, ANY_RATE),
    entry("WVau", "Wave \u00b5-law", "wav", [], True, True, "WAVE", C,
          ULAW_BITS, CHANNELS_ANY, ANY_RATE),
    entry("caff", "Core Audio Format", "caf", ["caf"], True, True, "caff", C,
          PCM_BITS, CHANNELS_ANY, ANY_RATE),
]

# ---------------------------------------------------------------------------
# Property-list text


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def real_text(value):
    text = repr(float(value))
    return text if ("e" in text or "." in text) else text + ".0"


def value_lines(value, depth):
    pad = "\t" * depth
    if isinstance(value, bool):
        return [pad + ("<true/>" if value else "<false/>")]
    if isinstance(value, int):
        return [pad + "<integer>%d</integer>" % value]
    if isinstance(value, float):
        return [pad + "<real>%s</real>" % real_text(value)]
    if isinstance(value, str):
        return [pad + "<string>%s</string>" % escape(value)]
    if isinstance(value, list):
        if not value:
            return [pad + "<array/>"]
        lines = [pad + "<array>"]
        for v in value:
            lines += value_lines(v, depth + 1)
        return lines + [pad + "</array>"]
    if isinstance(value, dict):
        lines = [pad + "<dict>"]
        for key in sorted(value):
            lines.append(pad + "\t<key>%s</key>" % escape(key))
            lines += value_lines(value[key], depth + 1)
        return lines + [pad + "</dict>"]
    raise TypeError("no property-list form for %r" % (value,))


def plist_text(value):
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', '<plist version="1.0">']
    lines += value_lines(value, 0)
    lines.append("</plist>")
    return "\n".join(lines) + "\n"


def file_name(code):
    return "_%s.plist" % code


# ---------------------------------------------------------------------------
# Sanity of the table itself (the C++ test checks the rules' side)


def check_table():
    codes = [code for code, _ in TYPES]
    assert len(codes) == 60 and len(set(codes)) == 60, "60 distinct codes expected"
    texts = [d["text"] for _, d in TYPES]
    assert len(set(texts)) == len(texts), "display texts must be unique"
    owner = {}
    for code, d in TYPES:
        assert len(code) == 4
        if d["canBeRead"]:
            for ext in d["extensions"]:
                assert ext not in owner, "%s claimed by %s and %s" % (ext, owner[ext], code)
                owner[ext] = code
        lo, hi, default = d["sampleRateMin"], d["sampleRateMax"], d["sampleRateDefault"]
        assert lo <= default <= hi, code
        for rate in d.get("discreteSampleRates", []):
            assert lo <= rate <= hi, code
        for key in ("numBitsPopup", "channelHandlingPopup"):
            items, default = d[key], d[key + "Default"]
            assert 0 <= default < len(items) and items[default] != SEPARATOR, (code, key)


def main():
    args = sys.argv[1:]
    check = "--check" in args
    args = [a for a in args if a != "--check"]
    here = os.path.dirname(os.path.abspath(__file__))
    folder = args[0] if args else os.path.join(here, "..", "resources", "SoundFileProperties")
    check_table()

    wanted = {file_name(code): plist_text(d) for code, d in TYPES}
    present = {n for n in os.listdir(folder) if n.endswith(".plist")} if os.path.isdir(folder) \
        else set()
    if check:
        problems = []
        for name, text in sorted(wanted.items()):
            path = os.path.join(folder, name)
            try:
                with open(path, encoding="utf-8") as f:
                    if f.read() != text:
                        problems.append("differs: " + name)
            except OSError:
                problems.append("missing: " + name)
        problems += ["not in the table: " + n for n in sorted(present - set(wanted))]
        for p in problems:
            print(p)
        if problems:
            print("run scripts/gen_sound_file_properties.py and commit its output")
            return 1
        print("%d property lists up to date" % len(wanted))
        return 0

    os.makedirs(folder, exist_ok=True)
    for name in sorted(present - set(wanted)):
        print("not in the table (left alone): " + name)
    for name, text in wanted.items():
        with open(os.path.join(folder, name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
