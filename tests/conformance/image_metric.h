#pragma once
// The corpus's image verdict: for each pixel d = the largest of the four
// channel differences; M(T) = share of pixels with d > T. PASS, CLOSE or FAIL
// by limits on M(16), M(32), M(64) and M(128), each limit at least 4 pixels.
#include <QImage>

#include <string>

namespace conformance {

enum class Verdict { Pass, Close, Fail };
const char* verdictName(Verdict v);

struct ImageJudgement {
    Verdict verdict = Verdict::Fail;
    bool sizeMismatch = false;
    double m16 = 0, m32 = 0, m64 = 0, m128 = 0; // percent
    double psnr = 0;                             // RGB, 99 when identical
    int maxDiff = 0;
    // Channel values (R, G, B, A counted apart) differing by more than `tolerance`.
    long outliers = 0;
};

// `tolerance` feeds only the outlier count.
ImageJudgement judgeImages(const QImage& expected, const QImage& actual, int tolerance);
// A picture of where the images differ: black where equal, brighter red with larger d.
QImage differenceImage(const QImage& expected, const QImage& actual);

} // namespace conformance
