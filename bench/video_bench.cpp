// Video figures, on FLV files the ffmpeg command makes when the benchmark
// starts (in /tmp):
//  - H264Aac640x360: decoding ten seconds of 640x360 30 fps H.264 with AAC
//    sound, video on the decode thread as a NetStream does; the counter
//    core_share is CPU time over media time (share of one core).
//  - TenMinuteDrift: a ten-minute H.263 + MP3 file played through a
//    NetStream frame by frame at 10 fps with its sound pulled as a device
//    would; at the stream's end, drift_ms is how far the clock that picks
//    the picture is from the sound heard, picture_lag_ms how far the shown
//    picture's own time trails the sound (under one frame at 10 fps).
// Run: nice -n 10 build/bench/video_bench
#include "engine/display/net_stream.h"
#include "engine/display/player.h"
#include "engine/sound/decoders.h"
#include "engine/sound/null_audio_output.h"
#include "engine/sound/sound_player.h"
#include "engine/video/flv_reader.h"
#include "engine/video/video_decoder.h"

#include <QFile>
#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

std::vector<uint8_t> makeFlv(const std::string& name, const std::string& args) {
    const std::string path = "/tmp/swiftreel_bench_" + name + ".flv";
    if (!QFile::exists(QString::fromStdString(path))) {
        const std::string cmd = "ffmpeg -nostdin -v error -y " + args + " " + path;
        if (std::system(cmd.c_str()) != 0) return {};
    }
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray all = f.readAll();
    return {all.begin(), all.end()};
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

void H264Aac640x360(benchmark::State& state) {
    const double seconds = 10;
    const auto flv = makeFlv("h264aac", "-f lavfi -i testsrc2=size=640x360:rate=30 -f lavfi -i sine=f=440:r=44100 -t 10 "
                                        "-c:v libx264 -pix_fmt yuv420p -b:v 800k -c:a aac -b:a 128k");
    if (flv.empty()) return state.SkipWithError("ffmpeg could not make the file");
    for (auto _ : state) {
        const double cpu0 = cpuSeconds();
        swf::video::FlvReader reader;
        swf::video::FlvTag tag;
        swf::video::VideoDecoder video(swf::video::VideoCodec::Avc, nullptr);
        std::unique_ptr<swf::CodecSoundDecoder> aac;
        std::vector<int16_t> pcm;
        size_t pictures = 0;
        while (reader.next(flv, true, tag) == swf::video::FlvReader::Status::Tag) {
            if (tag.type == swf::video::FlvTagType::Video) {
                if (auto v = swf::video::splitVideoTag(tag.body)) pictures += !video.decode(v->packet).isNull();
            } else if (tag.type == swf::video::FlvTagType::Audio) {
                auto a = swf::video::splitAudioTag(tag.body);
                if (!a || a->packet.empty()) continue;
                if (a->packet[0] == 0) aac = std::make_unique<swf::CodecSoundDecoder>(swf::SoundCodec::Aac, 0, 2, a->packet.subspan(1));
                else if (aac) aac->decode(a->packet.subspan(1), 1u << 16, pcm);
                pcm.clear();
            }
        }
        state.counters["core_share"] = (cpuSeconds() - cpu0) / seconds;
        state.counters["pictures"] = double(pictures);
    }
}
BENCHMARK(H264Aac640x360)->Unit(benchmark::kMillisecond)->Iterations(1);

void TenMinuteDrift(benchmark::State& state) {
    auto flv = makeFlv("tenminutes", "-f lavfi -i testsrc2=size=160x120:rate=10 -f lavfi -i sine=f=440:r=44100 -t 600 "
                                     "-c:v flv -c:a libmp3lame -b:a 64k");
    if (flv.empty()) return state.SkipWithError("ffmpeg could not make the file");
    for (auto _ : state) {
        swf::Player player;
        auto sound = std::make_unique<swf::SoundPlayer>();
        auto out = std::make_unique<swf::NullAudioOutput>(swf::NullAudioOutput::Mode::Manual);
        auto* output = out.get();
        sound->setOutput(std::move(out));
        auto* soundPlayer = sound.get();
        player.setSoundPlayer(std::move(sound));
        const std::vector<uint8_t> empty = {'F', 'W', 'S', 8, 21, 0, 0, 0, 0x00, 0x00, 0x0A, 0x01, 0x00, 0x40, 0x00, 0x00, 0x00};
        (void)player.load(empty, "empty.swf");
        swf::NetStream ns(player.runtime(), [soundPlayer] { return soundPlayer; });
        const uint64_t load = ns.loading();
        ns.dataArrived(load, flv, flv.size());
        ns.loadEnded(load, true);
        // Sound heard since the stream's sound started, and the picture's
        // time, when the stream reports its end.
        // Sound heard: from its first to its last sample that is not silence.
        int64_t pulled = 0, firstSound = -1, lastSound = -1;
        bool stopped = false;
        for (int frame = 0; frame < 7000 && !stopped; ++frame) {
            ns.advance(0.1);
            for (const auto& e : ns.takeEvents()) stopped |= e.code == "NetStream.Play.Stop";
            (void)ns.currentPicture();
            if (stopped) break;
            const auto part = output->pull(4410);
            for (size_t i = 0; i < part.size(); i += 2)
                if (part[i] != 0) {
                    if (firstSound < 0) firstSound = pulled + int64_t(i / 2);
                    lastSound = pulled + int64_t(i / 2);
                }
            pulled += int64_t(part.size() / 2);
        }
        const double heard = double(lastSound - firstSound) / 44100;
        // The clock picks the picture (the newest at or before it); a
        // picture at 10 fps stays up 100 ms, so it trails the sound by less.
        state.counters["drift_ms"] = std::abs(ns.time() - heard) * 1000;
        state.counters["picture_lag_ms"] = (heard - ns.pictureTime()) * 1000;
        state.counters["stream_time_s"] = ns.time();
        state.counters["heard_s"] = heard;
    }
}
BENCHMARK(TenMinuteDrift)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
