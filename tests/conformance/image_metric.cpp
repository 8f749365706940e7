#include "tests/conformance/image_metric.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace conformance {

namespace {
constexpr double kFloorPixels = 4;
QImage straight(const QImage& i) { return i.convertToFormat(QImage::Format_RGBA8888); }
} // namespace

const char* verdictName(Verdict v) {
    return v == Verdict::Pass ? "PASS" : v == Verdict::Close ? "CLOSE" : "FAIL";
}

ImageJudgement judgeImages(const QImage& expectedIn, const QImage& actualIn, int tolerance) {
    ImageJudgement j;
    if (expectedIn.size() != actualIn.size() || expectedIn.isNull()) {
        j.sizeMismatch = true;
        return j;
    }
    QImage e = straight(expectedIn), a = straight(actualIn);
    const long n = long(e.width()) * e.height();
    long over16 = 0, over32 = 0, over64 = 0, over128 = 0;
    double sq = 0;
    for (int y = 0; y < e.height(); ++y) {
        const uint8_t* pe = e.constScanLine(y);
        const uint8_t* pa = a.constScanLine(y);
        for (int x = 0; x < e.width() * 4; x += 4) {
            int d = 0;
            for (int c = 0; c < 4; ++c) {
                int dc = std::abs(int(pe[x + c]) - int(pa[x + c]));
                d = std::max(d, dc);
                if (dc > tolerance) ++j.outliers;
                if (c < 3) sq += double(dc) * dc;
            }
            j.maxDiff = std::max(j.maxDiff, d);
            over16 += d > 16;
            over32 += d > 32;
            over64 += d > 64;
            over128 += d > 128;
        }
    }
    auto pct = [n](long c) { return 100.0 * double(c) / double(n); };
    j.m16 = pct(over16);
    j.m32 = pct(over32);
    j.m64 = pct(over64);
    j.m128 = pct(over128);
    const double floor = 100.0 * kFloorPixels / double(n);
    auto within = [floor](double m, double limit) { return m <= std::max(limit, floor); };
    if (within(j.m16, 1.0) && within(j.m64, 0.25) && within(j.m128, 0.1)) j.verdict = Verdict::Pass;
    else if (within(j.m32, 3.0) && within(j.m128, 0.5)) j.verdict = Verdict::Close;
    double mse = sq / (double(n) * 3);
    j.psnr = mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
    return j;
}

QImage differenceImage(const QImage& expectedIn, const QImage& actualIn) {
    QImage e = straight(expectedIn), a = straight(actualIn);
    QSize size = e.size().expandedTo(a.size());
    QImage out(size, QImage::Format_RGB32);
    out.fill(Qt::black);
    for (int y = 0; y < std::min(e.height(), a.height()); ++y) {
        const uint8_t* pe = e.constScanLine(y);
        const uint8_t* pa = a.constScanLine(y);
        QRgb* po = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < std::min(e.width(), a.width()); ++x) {
            int d = 0;
            for (int c = 0; c < 4; ++c) d = std::max(d, std::abs(int(pe[x * 4 + c]) - int(pa[x * 4 + c])));
            po[x] = d == 0 ? qRgb(0, 0, 0) : qRgb(std::min(255, 64 + d), 0, 0);
        }
    }
    return out;
}

} // namespace conformance
