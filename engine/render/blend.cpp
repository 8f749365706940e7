#include "engine/render/blend.h"

#include <QPainter>

#include <algorithm>

namespace swf::render {

namespace {

// Separable blend of straight colours (0..1), combined with alpha the usual
// way: result = s*(1-da) + d*(1-sa) + sa*da*B(cs, cd).
template <typename Blend> void blendPixels(QImage& dest, const QImage& layer, QPoint at, Blend blend) {
    QRect area = QRect(at, layer.size()) & dest.rect();
    bool opaqueDest = !dest.hasAlphaChannel();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* d = reinterpret_cast<QRgb*>(dest.scanLine(y));
        auto* s = reinterpret_cast<const QRgb*>(layer.constScanLine(y - at.y()));
        for (int x = area.left(); x <= area.right(); ++x) {
            QRgb sp = s[x - at.x()];
            int sa = qAlpha(sp);
            if (sa == 0) continue;
            QRgb dp = d[x];
            double fsa = sa / 255.0, fda = opaqueDest ? 1.0 : qAlpha(dp) / 255.0;
            auto channel = [&](int sc, int dc) {
                double s01 = sc / 255.0, d01 = dc / 255.0; // premultiplied
                double cs = s01 / fsa, cd = fda > 0 ? d01 / fda : 0;
                double out = s01 * (1 - fda) + d01 * (1 - fsa) + fsa * fda * blend(cs, cd);
                return int(std::clamp(out * 255 + 0.5, 0.0, 255.0));
            };
            int a = opaqueDest ? 255 : int(std::clamp((fsa + fda - fsa * fda) * 255 + 0.5, 0.0, 255.0));
            d[x] = qRgba(channel(qRed(sp), qRed(dp)), channel(qGreen(sp), qGreen(dp)),
                         channel(qBlue(sp), qBlue(dp)), a);
        }
    }
}

void withPainter(QPainter& p, const QImage& layer, QPoint at, QPainter::CompositionMode mode) {
    p.setCompositionMode(mode);
    p.drawImage(at, layer);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

} // namespace

void blendLayer(QPainter& painter, QImage& dest, const QImage& layer, QPoint at, BlendMode mode, bool destIsLayer) {
    switch (mode) {
    case BlendMode::Normal:
    case BlendMode::Layer: withPainter(painter, layer, at, QPainter::CompositionMode_SourceOver); return;
    case BlendMode::Multiply: withPainter(painter, layer, at, QPainter::CompositionMode_Multiply); return;
    case BlendMode::Screen: withPainter(painter, layer, at, QPainter::CompositionMode_Screen); return;
    case BlendMode::Lighten: withPainter(painter, layer, at, QPainter::CompositionMode_Lighten); return;
    case BlendMode::Darken: withPainter(painter, layer, at, QPainter::CompositionMode_Darken); return;
    case BlendMode::Difference: withPainter(painter, layer, at, QPainter::CompositionMode_Difference); return;
    case BlendMode::Overlay: withPainter(painter, layer, at, QPainter::CompositionMode_Overlay); return;
    case BlendMode::Hardlight: withPainter(painter, layer, at, QPainter::CompositionMode_HardLight); return;
    case BlendMode::Add:
        blendPixels(dest, layer, at, [](double s, double d) { return std::min(1.0, s + d); });
        return;
    case BlendMode::Subtract:
        blendPixels(dest, layer, at, [](double s, double d) { return std::max(0.0, d - s); });
        return;
    case BlendMode::Invert: {
        // Inverts the premultiplied colours below wherever the layer covers
        // them, whatever the layer's colour: over nothing it gives white.
        QRect area = QRect(at, layer.size()) & dest.rect();
        bool opaqueDest = !dest.hasAlphaChannel();
        for (int y = area.top(); y <= area.bottom(); ++y) {
            auto* d = reinterpret_cast<QRgb*>(dest.scanLine(y));
            auto* s = reinterpret_cast<const QRgb*>(layer.constScanLine(y - at.y()));
            for (int x = area.left(); x <= area.right(); ++x) {
                int sa = qAlpha(s[x - at.x()]);
                if (sa == 0) continue;
                QRgb dp = d[x];
                auto inv = [sa](int c) { return ((255 - c) * sa + c * (255 - sa) + 127) / 255; };
                int a = opaqueDest ? 255 : qAlpha(dp) + sa - (qAlpha(dp) * sa + 127) / 255;
                d[x] = qRgba(std::min(inv(qRed(dp)), a), std::min(inv(qGreen(dp)), a), std::min(inv(qBlue(dp)), a), a);
            }
        }
        return;
    }
    case BlendMode::Alpha:
        if (!destIsLayer) return;
        {
            // The layer below keeps only what this layer covers, everywhere.
            painter.setCompositionMode(QPainter::CompositionMode_Clear);
            QRegion outside = QRegion(dest.rect()) - QRegion(QRect(at, layer.size()));
            for (const QRect& r : outside) painter.fillRect(r, Qt::transparent);
            withPainter(painter, layer, at, QPainter::CompositionMode_DestinationIn);
        }
        return;
    case BlendMode::Erase:
        if (destIsLayer) withPainter(painter, layer, at, QPainter::CompositionMode_DestinationOut);
        return;
    }
    withPainter(painter, layer, at, QPainter::CompositionMode_SourceOver);
}

} // namespace swf::render
