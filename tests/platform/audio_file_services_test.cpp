#include "platform/audio_file_services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>

#include "test_support.h"

using testsupport::TempDir;

namespace {

bool Has(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

TEST(AudioFileServices, ReadableExtensionsAreTheSoundFilesOfTheMediaLibrary) {
    const auto& list = platform::AudioFileReadableExtensions();
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    EXPECT_EQ(std::adjacent_find(list.begin(), list.end()), list.end());
    for (const std::string& ext : list) {
        EXPECT_FALSE(ext.empty());
        EXPECT_EQ(ext.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ. "), std::string::npos) << ext;
    }
    // The containers and codecs of sound files that Debian's library demuxes.
    for (const char* ext : {"mp3", "mp2", "flac", "m4a", "mp4", "ogg", "oga", "opus", "mka",
                            "webm", "wv", "ape", "tta", "w64", "ac3", "aac"})
        EXPECT_TRUE(Has(list, ext)) << ext;
    // Never video, subtitles, images or text, nor the formats left out on
    // purpose, nor those this system's own readers decide by their contents.
    for (const char* absent : {"wma", "wmv", "asf", "mkv", "mks", "mov", "m4v", "avi", "png",
                               "txt", "srt", "m3u8", "wav", "aif", "aiff", "aifc", "au",
                               "snd", "caf", "voc", "paf", "sd2"})
        EXPECT_FALSE(Has(list, absent)) << absent;
    EXPECT_LT(list.size(), 80u);

    // Every extension's demuxer may open a file, and so may those detection
    // hands files to by their contents; nothing that follows other files does.
    std::vector<std::string> allowed;
    std::stringstream whitelist(platform::MediaDemuxerWhitelist());
    for (std::string name; std::getline(whitelist, name, ',');) allowed.push_back(name);
    for (const char* name : {"mov", "ogg", "matroska", "wv", "aiff", "wav", "caf", "au", "avi",
                             "mpeg"})
        EXPECT_TRUE(Has(allowed, name)) << name;
    for (const char* name : {"hls", "concat", "image2", "tty", "srt", "sdp", "rtp", "data"})
        EXPECT_FALSE(Has(allowed, name)) << name;
}

bool MakeWithFfmpeg(const std::string& path, const std::string& extra) {
    std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
                      "anullsrc=r=8000:cl=mono -t 1 -metadata title='Quiet Take' "
                      "-metadata artist='Some Body' " +
                      extra + " '" + path + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

TEST(AudioFileServices, InfoDictionaryCarriesTheTagsAndTheDuration) {
    if (!testsupport::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not available";
    TempDir dir;
    int checked = 0;
    for (const char* name : {"take.flac", "take.m4a", "take.wav", "take:odd.mp3", "take.oga",
                             "take.mka", "take.wv"}) {
        std::string path = dir / name;
        if (!MakeWithFfmpeg(path, "")) continue;  // an encoder missing in this ffmpeg
        plist::Value info = platform::AudioFileInfoDictionary(path);
        ASSERT_TRUE(info.isDictionary()) << name;
        ASSERT_NE(info.find("title"), nullptr) << name;
        EXPECT_EQ(info.find("title")->asString(), "Quiet Take") << name;
        EXPECT_EQ(info.find("artist")->asString(), "Some Body") << name;
        ASSERT_NE(info.find("approximate duration in seconds"), nullptr) << name;
        double seconds = std::strtod(
            info.find("approximate duration in seconds")->asString().c_str(), nullptr);
        EXPECT_NEAR(seconds, 1.0, 0.2) << name;
        ++checked;
    }
    EXPECT_GE(checked, 2);
}

TEST(AudioFileServices, InfoDictionaryIsNullForWhatCannotBeRead) {
    TempDir dir;
    EXPECT_TRUE(platform::AudioFileInfoDictionary(dir / "missing.wav").isNull());
    EXPECT_TRUE(platform::AudioFileInfoDictionary("").isNull());
    testsupport::WriteFile(dir / "notes.txt", "not a sound at all\n");
    EXPECT_TRUE(platform::AudioFileInfoDictionary(dir / "notes.txt").isNull());
    testsupport::WriteFile(dir / "short.wav", "RIFF\x10\0\0\0WAVEfmt ");
    EXPECT_TRUE(platform::AudioFileInfoDictionary(dir / "short.wav").isNull());
    if (testsupport::HaveProgram("ffmpeg")) {
        // A container outside the list is not opened, whatever its name.
        for (const char* name : {"take.nut", "take.mka"}) {
            std::string nut = dir / name;
            if (MakeWithFfmpeg(nut, "-c:a pcm_s16le -f nut")) {
                EXPECT_TRUE(platform::AudioFileInfoDictionary(nut).isNull()) << name;
            }
        }
    }
}

}  // namespace
