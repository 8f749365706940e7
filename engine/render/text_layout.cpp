#include "engine/render/text_layout.h"

#include "engine/core/limits.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace swf::render {

namespace {

// The Flash player keeps 2 pixels between a field's edge and its text.
constexpr double kGutter = 40;

bool hasGlyphs(const std::shared_ptr<const FontDef>& f) { return f && !f->glyphs.empty(); }

std::shared_ptr<const FontDef> resolveByName(const FontResolver& fonts, const std::string& name, bool bold,
                                             bool italic) {
    return fonts.byName ? fonts.byName(name, bold, italic) : nullptr;
}

// Character code -> glyph index of an embedded font, built once per font.
class GlyphIndex {
public:
    int find(const std::shared_ptr<const FontDef>& font, char16_t code) {
        auto& e = m_fonts[font.get()];
        if (e.owner.expired() || e.owner.lock() != font) {
            e.owner = font;
            e.codes.clear();
            for (size_t i = 0; i < font->glyphs.size(); ++i) e.codes.emplace(font->glyphs[i].code, uint32_t(i));
        }
        auto it = e.codes.find(code);
        return it == e.codes.end() ? -1 : int(it->second);
    }

private:
    struct Entry {
        std::weak_ptr<const FontDef> owner;
        std::unordered_map<char16_t, uint32_t> codes;
    };
    std::unordered_map<const FontDef*, Entry> m_fonts;
};

// Layout runs on the runtime's thread; each thread keeps its own index.
GlyphIndex& glyphIndex() {
    thread_local GlyphIndex index;
    return index;
}

QColor parseColor(const QString& s, QColor fallback) {
    QString v = s.trimmed();
    if (v.startsWith(u'#')) v = v.mid(1);
    bool ok = false;
    uint rgb = v.toUInt(&ok, 16);
    return ok ? QColor::fromRgb(QRgb(rgb)) : fallback;
}

// Attributes of one tag: name="value" or name='value' or name=value.
std::vector<std::pair<QString, QString>> attributes(const QString& tag) {
    std::vector<std::pair<QString, QString>> out;
    qsizetype i = tag.indexOf(u' ');
    while (i >= 0 && i < tag.size()) {
        while (i < tag.size() && tag[i].isSpace()) ++i;
        qsizetype eq = tag.indexOf(u'=', i);
        if (eq < 0) break;
        QString name = tag.mid(i, eq - i).trimmed().toLower();
        qsizetype v = eq + 1;
        while (v < tag.size() && tag[v].isSpace()) ++v;
        QString value;
        if (v < tag.size() && (tag[v] == u'"' || tag[v] == u'\'')) {
            QChar q = tag[v];
            qsizetype end = tag.indexOf(q, v + 1);
            if (end < 0) end = tag.size();
            value = tag.mid(v + 1, end - v - 1);
            i = end + 1;
        } else {
            qsizetype end = v;
            while (end < tag.size() && !tag[end].isSpace()) ++end;
            value = tag.mid(v, end - v);
            i = end;
        }
        out.emplace_back(name, value);
    }
    return out;
}

QString decodeEntity(const QString& e) {
    if (e == u"lt") return QStringLiteral("<");
    if (e == u"gt") return QStringLiteral(">");
    if (e == u"amp") return QStringLiteral("&");
    if (e == u"quot") return QStringLiteral("\"");
    if (e == u"apos") return QStringLiteral("'");
    if (e == u"nbsp") return QString(QChar(0xa0));
    if (e.startsWith(u'#')) {
        bool ok = false;
        uint code = e.startsWith(u"#x") ? e.mid(2).toUInt(&ok, 16) : e.mid(1).toUInt(&ok, 10);
        if (ok && code > 0 && code < 0x110000) return QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
    }
    return QString();
}

struct Metrics {
    double ascent = 0, descent = 0, leading = 0;
};

// Per-format measuring, cached for one layout.
class Measurer {
public:
    Metrics metrics(const TextFormat& f) {
        if (hasGlyphs(f.embedded) && f.embedded->hasLayout && f.embedded->emSquare > 0) {
            double k = f.size / f.embedded->emSquare;
            return {f.embedded->ascent * k, f.embedded->descent * k, 0};
        }
        if (hasGlyphs(f.embedded)) return {f.size * 0.9, f.size * 0.25, 0};
        const QFontMetricsF& fm = deviceMetrics(f);
        return {fm.ascent() * 20, fm.descent() * 20, 0};
    }
    // Advance of one character in twips, without letter spacing.
    double advance(const TextFormat& f, QChar c) {
        if (hasGlyphs(f.embedded)) {
            int g = glyphIndex().find(f.embedded, char16_t(c.unicode()));
            if (g < 0 || f.embedded->emSquare <= 0) return 0;
            double k = f.size / f.embedded->emSquare;
            const Glyph& glyph = f.embedded->glyphs[size_t(g)];
            // Flash keeps advances in whole twips, cut toward zero.
            if (f.embedded->hasLayout) return std::trunc(glyph.advance * k);
            Rect b = glyph.shape.bounds;
            return b.empty() ? f.size / 2 : b.xMax * k;
        }
        return deviceMetrics(f).horizontalAdvance(c) * 20;
    }
    const QFontMetricsF& deviceMetrics(const TextFormat& f) {
        QString key = QString::fromStdString(f.font) + QString::number(f.size) + (f.bold ? u'b' : u'-') +
                      (f.italic ? u'i' : u'-');
        auto it = m_device.find(key);
        if (it == m_device.end()) it = m_device.emplace(key, QFontMetricsF(deviceFont(f))).first;
        return it->second;
    }

private:
    std::unordered_map<QString, QFontMetricsF> m_device;
};

struct Char {
    QChar c;
    int format; // index into the layout's formats
};

} // namespace

bool sameFormat(const TextFormat& a, const TextFormat& b) {
    return a.font == b.font && a.embedded == b.embedded && a.size == b.size && a.color == b.color &&
           a.bold == b.bold && a.italic == b.italic && a.underline == b.underline && a.url == b.url &&
           a.target == b.target && a.align == b.align && a.leftMargin == b.leftMargin &&
           a.rightMargin == b.rightMargin && a.indent == b.indent && a.leading == b.leading &&
           a.blockIndent == b.blockIndent && a.bullet == b.bullet && a.tabStops == b.tabStops &&
           a.letterSpacing == b.letterSpacing && a.kerning == b.kerning;
}

void appendRun(std::vector<TextRun>& runs, const QString& text, const TextFormat& format) {
    if (text.isEmpty()) return;
    if (!runs.empty() && sameFormat(runs.back().format, format)) runs.back().text += text;
    else runs.push_back({text, format});
}

int caretIndexAt(const TextLayout& l, double x, double y, int scroll, double hscroll) {
    if (l.lines.empty()) return 0;
    const size_t first = size_t(std::clamp(scroll, 1, int(l.lines.size()))) - 1;
    x += hscroll;
    y += l.lines[first].top - l.lines[0].top; // the text scrolled up out of view
    size_t n = first;
    while (n + 1 < l.lines.size() && y >= l.lines[n].top + l.lines[n].height()) ++n;
    const LineBox& line = l.lines[n];
    for (int k = line.firstChar; k < line.firstChar + line.charCount; ++k)
        if (x < l.charX[size_t(k)] + l.charWidth[size_t(k)] / 2) return k;
    // Past the end: after the last character, before a wrapped line's hanging space.
    int end = line.firstChar + line.charCount;
    if (line.wrapped && end > line.firstChar && l.chars[end - 1] == u' ') --end;
    return end;
}

std::vector<TextRun> plainRuns(const QString& text, const TextFormat& format) {
    // Every \r and \n starts a paragraph: "\r\n" is two.
    QString t = text;
    t.replace(u'\n', u'\r');
    std::vector<TextRun> runs;
    appendRun(runs, t, format);
    return runs;
}

QString runsText(const std::vector<TextRun>& runs) {
    QString out;
    for (const TextRun& r : runs) out += r.text;
    return out;
}

QFont deviceFont(const TextFormat& format) {
    QFont font;
    QString family = QString::fromStdString(format.font);
    if (family.isEmpty() || family == u"_sans") family = QStringLiteral("sans-serif");
    else if (family == u"_serif") family = QStringLiteral("serif");
    else if (family == u"_typewriter") family = QStringLiteral("monospace");
    font.setFamilies({family, QStringLiteral("sans-serif")});
    font.setStyleHint(family == u"serif" ? QFont::Serif : family == u"monospace" ? QFont::TypeWriter
                                                                                : QFont::SansSerif);
    font.setPixelSize(std::max(1, int(std::lround(format.size / 20))));
    font.setBold(format.bold);
    font.setItalic(format.italic);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(false);
    return font;
}

EditTextState initialState(const EditTextDef& def, const FontResolver& fonts) {
    EditTextState s;
    s.wordWrap = def.wordWrap;
    s.multiline = def.multiline;
    s.password = def.password;
    s.useOutlines = def.useOutlines;
    s.autoSize = def.autoSize ? AutoSize::Left : AutoSize::None;
    s.bounds = def.bounds;
    s.border = s.background = def.border;
    TextFormat& f = s.format;
    f.size = def.fontHeight;
    if (def.color) f.color = *def.color;
    f.align = def.align;
    f.leftMargin = def.leftMargin;
    f.rightMargin = def.rightMargin;
    f.indent = def.indent;
    f.leading = def.leading;
    if (def.fontId && fonts.byId) {
        if (auto font = fonts.byId(*def.fontId)) {
            f.font = font->name;
            f.bold = font->bold;
            f.italic = font->italic;
            if (def.useOutlines && hasGlyphs(font)) f.embedded = font;
        }
    } else if (!def.fontClass.empty()) {
        f.font = def.fontClass;
        if (def.useOutlines) {
            auto font = resolveByName(fonts, f.font, false, false);
            if (hasGlyphs(font)) f.embedded = font;
        }
    }
    QString text = QString::fromStdString(def.initialText);
    s.runs = def.html ? parseHtml(text, f, fonts, def.useOutlines, false, def.multiline) : plainRuns(text, f);
    return s;
}

std::vector<TextRun> parseHtml(const QString& html, const TextFormat& base, const FontResolver& fonts,
                               bool useOutlines, bool condenseWhite, bool multiline, const HtmlStyler& styler) {
    std::vector<TextRun> runs;
    std::vector<TextFormat> stack{base};
    std::vector<QString> open; // tag names, to pop formats on close
    QString text;
    qsizetype flushed = 0; // characters in `runs`
    auto flush = [&] {
        flushed += text.size();
        appendRun(runs, text, stack.back());
        text.clear();
    };
    auto breakParagraph = [&] {
        flush();
        if (multiline) appendRun(runs, QStringLiteral("\r"), stack.back());
    };
    auto reresolve = [&](TextFormat& f) {
        if (!useOutlines) return;
        auto font = resolveByName(fonts, f.font, f.bold, f.italic);
        if (hasGlyphs(font)) f.embedded = font;
        else if (f.embedded && f.embedded->name != f.font) f.embedded = nullptr;
    };
    auto addChar = [&](QChar c) {
        if (c == u'\n' || c == u'\r') c = condenseWhite ? QChar(u' ') : QChar(u'\r');
        if (condenseWhite && c.isSpace()) {
            // White space folds into one space, and none after a line break.
            QChar last;
            if (!text.isEmpty()) last = text.back();
            for (auto r = runs.rbegin(); last.isNull() && r != runs.rend(); ++r)
                if (!r->text.isEmpty()) last = r->text.back();
            if (last.isNull() || last == u' ' || last == u'\r') return;
            c = u' ';
        }
        text += c;
    };
    bool paragraphOpen = false;
    for (qsizetype i = 0; i < html.size();) {
        // Text past what a field lays out is left out; so are tags nested
        // deeper than kMaxHtmlNesting (each would keep its own format).
        if (flushed + text.size() >= qsizetype(limits::kMaxTextLayoutChars)) break;
        QChar c = html[i];
        if (c == u'&') {
            qsizetype end = html.indexOf(u';', i);
            if (end > i && end - i < 10) {
                QString decoded = decodeEntity(html.mid(i + 1, end - i - 1));
                if (!decoded.isEmpty()) {
                    text += decoded;
                    i = end + 1;
                    continue;
                }
            }
            text += c;
            ++i;
            continue;
        }
        if (c != u'<') {
            if (c == u'\r' && i + 1 < html.size() && html[i + 1] == u'\n') ++i;
            addChar(c);
            ++i;
            continue;
        }
        qsizetype end = html.indexOf(u'>', i);
        if (end < 0) { // an unclosed tag is text
            text += html.mid(i);
            break;
        }
        QString tag = html.mid(i + 1, end - i - 1).trimmed();
        i = end + 1;
        bool closing = tag.startsWith(u'/');
        if (tag.endsWith(u'/')) tag.chop(1);
        QString name = (closing ? tag.mid(1) : tag).section(u' ', 0, 0).trimmed().toLower();
        if (closing) {
            // A list item ends its line; a paragraph breaks only where another one starts.
            if (name == u"li") breakParagraph();
            if (name == u"p" || name == u"li") paragraphOpen = false;
            // Pop back to the matching open tag.
            for (qsizetype k = qsizetype(open.size()) - 1; k >= 0; --k) {
                if (open[size_t(k)] == name) {
                    flush();
                    open.resize(size_t(k));
                    stack.resize(size_t(k) + 1);
                    break;
                }
            }
            continue;
        }
        if (name == u"br" || name == u"sbr") {
            breakParagraph();
            continue;
        }
        flush();
        if (open.size() >= limits::kMaxHtmlNesting) continue;
        TextFormat f = stack.back();
        if (name == u"p" || name == u"li") {
            // A paragraph starts on a new line after any text.
            if (paragraphOpen || (!runs.empty() && !runs.back().text.endsWith(u'\r'))) breakParagraph();
            paragraphOpen = true;
            if (name == u"li") f.bullet = true;
        }
        for (const auto& [key, value] : attributes(tag)) {
            if (name == u"p" && key == u"align") {
                QString a = value.toLower();
                f.align = a == u"right" ? TextAlign::Right : a == u"center" ? TextAlign::Center
                          : a == u"justify" ? TextAlign::Justify : TextAlign::Left;
            } else if (name == u"font" && key == u"face") {
                f.font = value.section(u',', 0, 0).trimmed().toStdString();
                reresolve(f);
            } else if (name == u"font" && key == u"size") {
                bool ok = false;
                double px = value.toDouble(&ok);
                if (ok) {
                    if (value.startsWith(u'+') || value.startsWith(u'-')) px += f.size / 20;
                    f.size = std::clamp(px, 1.0, 2000.0) * 20;
                }
            } else if (name == u"font" && key == u"color") {
                QColor q = parseColor(value, QColor(f.color.r, f.color.g, f.color.b));
                f.color = Rgba{uint8_t(q.red()), uint8_t(q.green()), uint8_t(q.blue()), f.color.a};
            } else if (name == u"font" && key == u"letterspacing") {
                f.letterSpacing = value.toDouble() * 20;
            } else if (name == u"font" && key == u"kerning") {
                f.kerning = value.toInt() != 0;
            } else if (name == u"a" && key == u"href") {
                f.url = value.toStdString();
            } else if (name == u"a" && key == u"target") {
                f.target = value.toStdString();
            } else if (name == u"textformat") {
                double v = value.toDouble() * 20;
                if (key == u"leftmargin") f.leftMargin = v;
                else if (key == u"rightmargin") f.rightMargin = v;
                else if (key == u"indent") f.indent = v;
                else if (key == u"leading") f.leading = v;
                else if (key == u"blockindent") f.blockIndent = v;
                else if (key == u"tabstops") {
                    f.tabStops.clear();
                    for (const QString& t : value.split(u',', Qt::SkipEmptyParts)) f.tabStops.push_back(t.toDouble() * 20);
                }
            }
        }
        if (name == u"b") {
            f.bold = true;
            reresolve(f);
        } else if (name == u"i") {
            f.italic = true;
            reresolve(f);
        } else if (name == u"u") {
            f.underline = true;
        }
        if (styler) {
            QString cls;
            for (const auto& [key, value] : attributes(tag))
                if (key == u"class") cls = value;
            styler(name, cls, f);
            reresolve(f);
        }
        // Unknown tags are skipped; their text keeps the current format.
        open.push_back(name);
        stack.push_back(f);
    }
    flush();
    // The closing paragraph's break adds no empty line after the last paragraph.
    if (!runs.empty() && runs.back().text.endsWith(u'\r')) {
        runs.back().text.chop(1);
        if (runs.back().text.isEmpty()) runs.pop_back();
    }
    return runs;
}

namespace {

QString escapeHtml(const QString& s) {
    QString out;
    for (QChar c : s) {
        if (c == u'<') out += QStringLiteral("&lt;");
        else if (c == u'>') out += QStringLiteral("&gt;");
        else if (c == u'&') out += QStringLiteral("&amp;");
        else if (c == u'"') out += QStringLiteral("&quot;");
        else if (c == u'\'') out += QStringLiteral("&apos;");
        else out += c;
    }
    return out;
}

QString alignName(TextAlign a) {
    switch (a) {
    case TextAlign::Right: return QStringLiteral("RIGHT");
    case TextAlign::Center: return QStringLiteral("CENTER");
    case TextAlign::Justify: return QStringLiteral("JUSTIFY");
    default: return QStringLiteral("LEFT");
    }
}

QString px(double twips) { return QString::number(std::round(twips / 20 * 100) / 100); }

} // namespace

QString toHtml(const std::vector<TextRun>& runs) {
    // Split into paragraphs of (text, format) pieces.
    struct Piece { QString text; const TextFormat* format; };
    std::vector<std::vector<Piece>> paragraphs(1);
    static const TextFormat kDefault;
    for (const TextRun& r : runs) {
        QStringList parts = r.text.split(u'\r');
        for (qsizetype k = 0; k < parts.size(); ++k) {
            if (k > 0) paragraphs.emplace_back();
            if (!parts[k].isEmpty()) paragraphs.back().push_back({parts[k], &r.format});
        }
    }
    const TextFormat* last = runs.empty() ? &kDefault : &runs.back().format;
    QString out;
    for (const auto& para : paragraphs) {
        const TextFormat& pf = para.empty() ? *last : *para.front().format;
        QString tf;
        if (pf.leftMargin) tf += QStringLiteral(" LEFTMARGIN=\"%1\"").arg(px(pf.leftMargin));
        if (pf.rightMargin) tf += QStringLiteral(" RIGHTMARGIN=\"%1\"").arg(px(pf.rightMargin));
        if (pf.indent) tf += QStringLiteral(" INDENT=\"%1\"").arg(px(pf.indent));
        if (pf.leading) tf += QStringLiteral(" LEADING=\"%1\"").arg(px(pf.leading));
        if (pf.blockIndent) tf += QStringLiteral(" BLOCKINDENT=\"%1\"").arg(px(pf.blockIndent));
        if (!pf.tabStops.empty()) {
            QStringList stops;
            for (double t : pf.tabStops) stops << px(t);
            tf += QStringLiteral(" TABSTOPS=\"%1\"").arg(stops.join(u','));
        }
        if (!tf.isEmpty()) out += QStringLiteral("<TEXTFORMAT") + tf + u'>';
        out += pf.bullet ? QStringLiteral("<LI>") : QStringLiteral("<P ALIGN=\"%1\">").arg(alignName(pf.align));
        auto fontOpen = [](const TextFormat& f) {
            QString s = QStringLiteral("<FONT FACE=\"%1\" SIZE=\"%2\" COLOR=\"#%3\" LETTERSPACING=\"%4\" KERNING=\"%5\">")
                            .arg(escapeHtml(QString::fromStdString(f.font)), px(f.size))
                            .arg(QString::asprintf("%02X%02X%02X", f.color.r, f.color.g, f.color.b), px(f.letterSpacing))
                            .arg(f.kerning ? 1 : 0);
            if (!f.url.empty())
                s += QStringLiteral("<A HREF=\"%1\" TARGET=\"%2\">")
                         .arg(escapeHtml(QString::fromStdString(f.url)), escapeHtml(QString::fromStdString(f.target)));
            if (f.bold) s += QStringLiteral("<B>");
            if (f.italic) s += QStringLiteral("<I>");
            if (f.underline) s += QStringLiteral("<U>");
            return s;
        };
        auto fontClose = [](const TextFormat& f) {
            QString s;
            if (f.underline) s += QStringLiteral("</U>");
            if (f.italic) s += QStringLiteral("</I>");
            if (f.bold) s += QStringLiteral("</B>");
            if (!f.url.empty()) s += QStringLiteral("</A>");
            return s + QStringLiteral("</FONT>");
        };
        if (para.empty()) out += fontOpen(pf) + fontClose(pf);
        for (const Piece& p : para) out += fontOpen(*p.format) + escapeHtml(p.text) + fontClose(*p.format);
        out += pf.bullet ? QStringLiteral("</LI>") : QStringLiteral("</P>");
        if (!tf.isEmpty()) out += QStringLiteral("</TEXTFORMAT>");
    }
    return out;
}

TextLayout layoutEditText(const EditTextState& state, const Matrix& world, const ColorTransform& colorTransform) {
    // A field of device text is never turned or skewed, as the Flash player
    // draws it: only the scales and the offset of its matrix apply.
    const Matrix matrix = state.useOutlines ? world : Matrix{world.a, 0, 0, world.d, world.tx, world.ty};
    TextLayout out;
    out.bounds = state.bounds;

    // The text as characters, each with its format.
    std::vector<TextFormat> formats;
    std::vector<Char> chars;
    auto addRun = [&](const QString& text, const TextFormat& f) {
        formats.push_back(f);
        for (QChar c : text) {
            if (chars.size() >= limits::kMaxTextLayoutChars) return;
            if (c == u'\r') c = u'\n';
            chars.push_back({state.password && c != u'\n' ? QChar(u'*') : c, int(formats.size() - 1)});
        }
    };
    for (const TextRun& r : state.runs) addRun(r.text, r.format);
    // An empty field still has one line in its new text format.
    if (formats.empty()) formats.push_back(state.format);

    Measurer measure;
    const double fieldWidth = state.bounds.width();
    std::vector<double> advances(chars.size());
    for (size_t i = 0; i < chars.size(); ++i) {
        const TextFormat& f = formats[size_t(chars[i].format)];
        advances[i] = chars[i].c == u'\n' ? 0 : measure.advance(f, chars[i].c) + f.letterSpacing;
    }

    // Break into lines.
    std::vector<std::pair<const TextFormat*, double>> lineFormats; // paragraph format and indent per line
    double y = kGutter;
    size_t i = 0;
    bool paragraphStart = true;
    int paragraphFormat = 0;
    do {
        if (paragraphStart)
            paragraphFormat = i < chars.size() ? chars[i].format : chars.empty() ? 0 : chars.back().format;
        const TextFormat& pf = formats[size_t(paragraphFormat)];
        // A negative indent pulls the first line back no further than the left gutter.
        double indent = std::max((paragraphStart ? pf.indent : 0) + pf.blockIndent, -pf.leftMargin);
        double avail = fieldWidth - 2 * kGutter - pf.leftMargin - pf.rightMargin - indent;
        size_t start = i, breakAt = 0;
        double width = 0, widthAtBreak = 0;
        bool hardBreak = false;
        while (i < chars.size()) {
            if (chars[i].c == u'\n') {
                hardBreak = true;
                break;
            }
            // A space may hang over the edge: only a word's last character must fit.
            if (state.wordWrap && chars[i].c != u' ' && width + advances[i] > avail && i > start) {
                if (breakAt > start) {
                    i = breakAt;
                    width = widthAtBreak;
                }
                break;
            }
            width += advances[i];
            ++i;
            if (chars[i - 1].c == u' ') {
                breakAt = i;
                widthAtBreak = width;
            }
        }
        LineBox line;
        line.firstChar = int(start);
        line.charCount = int(i - start);
        double visible = width;
        for (size_t k = i; k > start && chars[k - 1].c == u' '; --k) visible -= advances[k - 1];
        line.width = visible;
        Metrics m = measure.metrics(pf);
        for (size_t k = start; k < i; ++k) {
            Metrics cm = measure.metrics(formats[size_t(chars[k].format)]);
            m.ascent = std::max(m.ascent, cm.ascent);
            m.descent = std::max(m.descent, cm.descent);
        }
        line.ascent = m.ascent;
        line.descent = m.descent;
        line.leading = pf.leading;
        line.top = y;
        line.wrapped = !hardBreak && i < chars.size();
        lineFormats.push_back({&pf, indent});
        out.textWidth = std::max(out.textWidth, visible + pf.leftMargin + pf.rightMargin + indent);
        y += line.height();
        out.lines.push_back(line);
        if (hardBreak) ++i;
        paragraphStart = hardBreak;
        if (hardBreak && i == chars.size()) {
            // Text ending in a newline has an empty last line.
            LineBox empty = line;
            empty.firstChar = int(i);
            empty.charCount = 0;
            empty.width = 0;
            empty.top = y;
            y += empty.height();
            out.lines.push_back(empty);
            lineFormats.push_back({&pf, 0.0});
        }
    } while (i < chars.size());
    out.textHeight = y - kGutter;
    // Flash does not count the leading under the last line.
    if (!out.lines.empty()) out.textHeight -= out.lines.back().leading;
    // An empty field measures nothing (autoSize shrinks it to its gutters).
    if (chars.empty()) out.textHeight = 0;

    for (const Char& c : chars) out.chars += c.c;

    // autoSize keeps one edge (or the centre) and fits the box around the text.
    if (state.autoSize != AutoSize::None) {
        int32_t h = int32_t(std::ceil(out.textHeight + 2 * kGutter));
        out.bounds.yMax = out.bounds.yMin + h;
        if (!state.wordWrap) {
            int32_t w = int32_t(std::ceil(out.textWidth + 2 * kGutter));
            if (state.autoSize == AutoSize::Right) out.bounds.xMin = out.bounds.xMax - w;
            else if (state.autoSize == AutoSize::Center) {
                int32_t mid = (state.bounds.xMin + state.bounds.xMax) / 2;
                out.bounds.xMin = mid - w / 2;
            }
            out.bounds.xMax = out.bounds.xMin + w;
        }
    }

    // Scrolling: the last first-line that still fills the box, and the last line shown.
    const double visibleHeight = out.bounds.height() - 2 * kGutter;
    {
        double used = 0;
        size_t first = out.lines.size();
        while (first > 0) {
            const LineBox& l = out.lines[first - 1];
            if (used + l.ascent + l.descent > visibleHeight + 0.5) break;
            used += l.height();
            --first;
        }
        out.maxScroll = int(std::min(first + 1, std::max<size_t>(out.lines.size(), 1)));
        const size_t top = size_t(std::clamp(state.scroll, 1, std::max(1, int(out.lines.size())))) - 1;
        out.bottomScroll = int(top) + 1;
        double bottom = out.lines.empty() ? 0 : out.lines[top].top;
        for (size_t n = top; n < out.lines.size(); ++n) {
            if (out.lines[n].top + out.lines[n].ascent + out.lines[n].descent - bottom > visibleHeight + 0.5 && n > top) break;
            out.bottomScroll = int(n) + 1;
        }
        out.maxHScroll = std::max(0.0, out.textWidth - (out.bounds.width() - 2 * kGutter));
    }

    // Align each line between the gutters and margins of its paragraph.
    out.charX.assign(chars.size(), 0);
    out.charWidth.assign(chars.size(), 0);
    for (size_t n = 0; n < out.lines.size(); ++n) {
        LineBox& line = out.lines[n];
        const auto& [pf, indent] = lineFormats[n];
        double left = kGutter + pf->leftMargin + indent;
        double right = out.bounds.width() - kGutter - pf->rightMargin;
        switch (pf->align) {
        case TextAlign::Right: line.x = right - line.width; break;
        case TextAlign::Center: line.x = (left + right - line.width) / 2; break;
        default: line.x = left; break;
        }
        // A line wider than the field starts at its left edge.
        if (line.width > right - left) line.x = left;
        // Justified lines that wrap spread the spare room over their inner spaces.
        if (pf->align == TextAlign::Justify && line.wrapped && line.width < right - left) {
            int end = line.firstChar + line.charCount;
            while (end > line.firstChar && chars[size_t(end - 1)].c == u' ') --end;
            int spaces = 0;
            for (int k = line.firstChar; k < end; ++k) spaces += chars[size_t(k)].c == u' ';
            if (spaces > 0) line.spaceExtra = (right - left - line.width) / spaces;
        }
        double x = line.x;
        for (int k = line.firstChar; k < line.firstChar + line.charCount; ++k) {
            double w = advances[size_t(k)] + (chars[size_t(k)].c == u' ' ? line.spaceExtra : 0);
            out.charX[size_t(k)] = x;
            out.charWidth[size_t(k)] = w;
            x += w;
        }
    }

    // Drawing commands.
    // The background fills the box; the border lines lie on its edges, the
    // right and bottom ones on the pixels just past it.
    if (state.background) {
        DrawRect r;
        r.rect = out.bounds;
        r.fill = state.backgroundColor;
        r.matrix = matrix;
        r.colorTransform = colorTransform;
        out.commands.push_back(r);
    }
    if (state.border) {
        DrawRect r;
        r.rect = out.bounds;
        double sx = std::hypot(matrix.a, matrix.b), sy = std::hypot(matrix.c, matrix.d);
        if (sx > 0) r.rect.xMax += int32_t(std::lround(1 / sx));
        if (sy > 0) r.rect.yMax += int32_t(std::lround(1 / sy));
        r.line = state.borderColor;
        r.matrix = matrix;
        r.colorTransform = colorTransform;
        out.commands.push_back(r);
    }
    std::vector<Command> text;
    const double ox = out.bounds.xMin - state.hscroll, oy = out.bounds.yMin;
    const size_t firstLine = size_t(std::max(1, state.scroll) - 1);
    const double scrollY = firstLine < out.lines.size() ? out.lines[firstLine].top - kGutter : 0;
    bool overflows = false;
    for (size_t li = firstLine; li < out.lines.size(); ++li) {
        const LineBox& line = out.lines[li];
        double baseline = oy + line.top - scrollY + line.ascent;
        if (line.top - scrollY + line.height() > out.bounds.height() || line.x + line.width > out.bounds.width() - kGutter)
            overflows = true;
        // Lines that do not fit whole are not drawn (the first one shown always is).
        if (li > firstLine && line.top - scrollY + line.ascent + line.descent > out.bounds.height() - kGutter + 1) break;
        double x = ox + line.x;
        int k = line.firstChar, end = line.firstChar + line.charCount;
        while (k < end) {
            // A run of characters with one format.
            int fi = chars[size_t(k)].format;
            const TextFormat& f = formats[size_t(fi)];
            int runEnd = k;
            while (runEnd < end && chars[size_t(runEnd)].format == fi) ++runEnd;
            double runX = x;
            if (hasGlyphs(f.embedded)) {
                DrawGlyphs g;
                g.font = f.embedded;
                g.height = f.size;
                g.color = f.color;
                g.matrix = matrix;
                g.colorTransform = colorTransform;
                for (int n = k; n < runEnd; ++n) {
                    int gi = glyphIndex().find(f.embedded, char16_t(chars[size_t(n)].c.unicode()));
                    if (gi >= 0 && chars[size_t(n)].c != u' ') g.glyphs.push_back({uint32_t(gi), Point{x, baseline}});
                    x += advances[size_t(n)];
                    if (chars[size_t(n)].c == u' ') x += line.spaceExtra;
                }
                if (!g.glyphs.empty()) text.push_back(std::move(g));
                if (f.underline) {
                    DrawRect u;
                    u.rect = Rect{int32_t(runX), int32_t(x), int32_t(baseline + 20), int32_t(baseline + 40)};
                    u.fill = f.color;
                    u.matrix = matrix;
                    u.colorTransform = colorTransform;
                    text.push_back(u);
                }
            } else {
                DrawDeviceText d;
                for (int n = k; n < runEnd; ++n) {
                    d.text += chars[size_t(n)].c;
                    x += advances[size_t(n)];
                    // Device text is drawn in one piece: a justified line splits at its spaces.
                    if (chars[size_t(n)].c == u' ' && line.spaceExtra > 0) {
                        runEnd = n + 1;
                        x += line.spaceExtra;
                        break;
                    }
                }
                d.font = deviceFont(f);
                d.font.setLetterSpacing(QFont::AbsoluteSpacing, f.letterSpacing / 20);
                d.origin = Point{runX, baseline};
                d.color = f.color;
                d.underline = f.underline;
                d.matrix = matrix;
                d.colorTransform = colorTransform;
                if (!d.text.trimmed().isEmpty()) text.push_back(std::move(d));
            }
            k = runEnd;
        }
    }
    if (overflows || state.hscroll != 0) {
        // Text is cut off at the inner edges of the 2 pixel gutters at the
        // sides, at the top of the box, and a gutter below its bottom.
        DrawRect clip;
        clip.rect = out.bounds;
        clip.rect.xMin += int32_t(kGutter);
        clip.rect.xMax = std::max(clip.rect.xMin, clip.rect.xMax - int32_t(kGutter));
        clip.rect.yMax += int32_t(kGutter);
        clip.fill = Rgba{0, 0, 0, 255};
        clip.matrix = matrix;
        out.commands.push_back(PushMask{});
        out.commands.push_back(clip);
        out.commands.push_back(ActivateMask{});
        for (auto& c : text) out.commands.push_back(std::move(c));
        out.commands.push_back(PopMask{});
    } else {
        for (auto& c : text) out.commands.push_back(std::move(c));
    }
    return out;
}

} // namespace swf::render
