#include "tests/video/video_fixtures.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>

namespace videotest {

namespace {

const QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

} // namespace

void ensureGuiApplication() {
    static int argc = 1;
    static char name[] = "video_tests";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
}

std::string fixturePath(const std::string& name) {
    return QDir(folder().path()).filePath(QString::fromStdString(name)).toStdString();
}

bool ffmpeg(const std::string& args) {
    const std::string cmd = "cd '" + folder().path().toStdString() + "' && ffmpeg -nostdin -v error -y " + args;
    return std::system(cmd.c_str()) == 0;
}

std::vector<uint8_t> readFile(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray all = f.readAll();
    return {all.begin(), all.end()};
}

namespace {
std::string pattern(int frames) {
    return "-f lavfi -i testsrc2=size=" + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
           ":rate=" + std::to_string(kRate) + " -frames:v " + std::to_string(frames);
}
} // namespace

std::vector<uint8_t> encodePattern(const std::string& name, const std::string& codecArgs, int frames) {
    if (!ffmpeg(pattern(frames) + " " + codecArgs + " " + name + ".flv")) return {};
    return readFile(fixturePath(name + ".flv"));
}

std::vector<QImage> patternFrames(int frames) {
    std::vector<QImage> out;
    if (!ffmpeg(pattern(frames) + " -f rawvideo -pix_fmt rgb24 pattern.rgb")) return out;
    const auto raw = readFile(fixturePath("pattern.rgb"));
    const size_t size = size_t(kWidth) * kHeight * 3;
    for (size_t pos = 0; pos + size <= raw.size(); pos += size)
        out.push_back(QImage(raw.data() + pos, kWidth, kHeight, kWidth * 3, QImage::Format_RGB888)
                          .convertToFormat(QImage::Format_ARGB32));
    return out;
}

double meanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) return 255;
    const QImage x = a.convertToFormat(QImage::Format_ARGB32), y = b.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

FlvTags readTags(const std::vector<uint8_t>& flv) {
    FlvTags out;
    swf::video::FlvReader reader;
    swf::video::FlvTag tag;
    while (reader.next(flv, true, tag) == swf::video::FlvReader::Status::Tag) {
        if (tag.type == swf::video::FlvTagType::Video) {
            if (auto v = swf::video::splitVideoTag(tag.body)) out.video.push_back(*v);
        } else if (tag.type == swf::video::FlvTagType::Audio) {
            if (auto a = swf::video::splitAudioTag(tag.body)) out.audio.emplace_back(*a, tag.timeMs);
        }
    }
    return out;
}

std::vector<uint8_t> hugeH263KeyFrame() {
    // start code, version 0, reference 0, size code 1 (16-bit sizes), 5000 x 5000, intra.
    std::vector<uint8_t> packet(64, 0);
    size_t bit = 0;
    auto put = [&](uint32_t v, int count) {
        for (int i = count - 1; i >= 0; --i, ++bit)
            if ((v >> i) & 1) packet[bit / 8] |= uint8_t(0x80 >> (bit % 8));
    };
    put(1, 17), put(0, 5), put(0, 8), put(1, 3), put(5000, 16), put(5000, 16), put(0, 2);
    return packet;
}

} // namespace videotest
