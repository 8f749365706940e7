#pragma once
// Video and sound made at test time by the ffmpeg command, from its own
// test patterns and tones, and the FLV packets pulled out of them.
#include "engine/video/flv_reader.h"

#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace videotest {

// The QGuiApplication pictures and text need, made once.
void ensureGuiApplication();
// Runs `ffmpeg -v error -y ARGS` in the fixture folder; false when it failed.
bool ffmpeg(const std::string& args);
// A file of the fixture folder (a private temporary folder of this run).
std::string fixturePath(const std::string& name);
std::vector<uint8_t> readFile(const std::string& path);

// The pattern every video fixture shows: ffmpeg's testsrc2 at this size and rate.
inline constexpr int kWidth = 160, kHeight = 120, kRate = 10;
// Encodes `frames` frames of the pattern with `codecArgs` into NAME.flv;
// returns the file's bytes (empty on failure).
std::vector<uint8_t> encodePattern(const std::string& name, const std::string& codecArgs, int frames);
// The pattern's own frames, uncompressed.
std::vector<QImage> patternFrames(int frames);
// Mean absolute difference per channel over two pictures of the same size
// (255 when the sizes differ).
double meanDifference(const QImage& a, const QImage& b);

// A Sorenson H.263 intra picture header claiming 5000 x 5000 pixels.
std::vector<uint8_t> hugeH263KeyFrame();

struct FlvTags {
    std::vector<swf::video::FlvVideoPacket> video;
    std::vector<std::pair<swf::video::FlvAudioPacket, uint32_t>> audio; // with the tag's time
};
// Every audio and video tag of a whole FLV (spans point into `flv`).
FlvTags readTags(const std::vector<uint8_t>& flv);

} // namespace videotest
