#include "engine/display/edit_text.h"

#include <QFontMetricsF>
#include <QRegularExpression>
#include <QStringList>
#include <QString>

namespace swf {

namespace {

// The text a field shows: HTML tags dropped and the common entities decoded,
// paragraphs turned into line breaks.
QString displayText(const std::string& text, bool html) {
    QString s = QString::fromUtf8(text.data(), qsizetype(text.size()));
    if (!html) return s;
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u'<') {
            qsizetype end = s.indexOf(u'>', i);
            if (end < 0) break;
            QString tagName = s.mid(i + 1, end - i - 1).trimmed().toLower();
            if (tagName.startsWith(u"br") || tagName == u"/p") out += u'\n';
            i = end;
        } else if (s[i] == u'&') {
            static const std::pair<const char16_t*, char16_t> entities[] = {
                {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&amp;", u'&'}, {u"&quot;", u'"'}, {u"&apos;", u'\''},
                {u"&nbsp;", u'\u00a0'}};
            bool done = false;
            for (const auto& [name, ch] : entities) {
                QString n = QString::fromUtf16(name);
                if (s.mid(i, n.size()) == n) {
                    out += QChar(ch);
                    i += n.size() - 1;
                    done = true;
                    break;
                }
            }
            if (!done) out += s[i];
        } else {
            out += s[i];
        }
    }
    if (out.endsWith(u'\n')) out.chop(1);
    return out;
}

QString deviceFamily(const std::string& name) {
    if (name.empty() || name == "_sans") return QStringLiteral("Sans Serif");
    if (name == "_serif") return QStringLiteral("Serif");
    if (name == "_typewriter") return QStringLiteral("Monospace");
    return QString::fromStdString(name);
}

} // namespace

EditTextObject::EditTextObject(Runtime& rt, std::shared_ptr<const EditTextDef> def)
    : DisplayObject(Type::EditText, rt, def->id), m_def(std::move(def)), m_text(m_def->initialText),
      m_bounds(m_def->bounds) {}

void EditTextObject::setText(std::string text) {
    if (text == m_text) return;
    m_text = std::move(text);
    markChanged();
}

void EditTextObject::setBounds(const Rect& r) {
    if (r == m_bounds) return;
    m_bounds = r;
    markChanged();
}

bool EditTextObject::hitTest(Point local) const { return DisplayObject::hitTest(local); }

void EditTextObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    const EditTextDef& d = *m_def;
    if (d.border) out.commands.push_back(render::DrawRect{m_bounds, Rgba{255, 255, 255, 255}, Rgba{0, 0, 0, 255}, world, cx});
    QString text = displayText(m_text, d.html);
    if (text.isEmpty()) return;
    Rgba color = d.color.value_or(Rgba{0, 0, 0, 255});
    const double height = d.fontHeight;
    const double gutter = 40; // Flash leaves 2 pixels between the border and the text
    const double left = m_bounds.xMin + gutter + d.leftMargin, right = m_bounds.xMax - gutter - d.rightMargin;
    std::shared_ptr<const FontDef> font;
    if (d.fontId && runtime().movie) font = runtime().movie->get<FontDef>(*d.fontId);
    bool outlines = d.useOutlines && font && !font->glyphs.empty();

    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    double y = m_bounds.yMin + gutter;
    if (outlines) {
        const double em = font->emSquare > 0 ? font->emSquare : 1024;
        const double ascent = font->ascent > 0 ? font->ascent * height / em : height * 0.8;
        const double lineHeight = (font->ascent + font->descent > 0 ? (font->ascent + font->descent) * height / em
                                                                     : height * 1.15) + d.leading;
        for (const QString& line : lines) {
            render::DrawGlyphs cmd;
            cmd.font = font;
            cmd.height = height;
            cmd.color = color;
            cmd.matrix = world;
            cmd.colorTransform = cx;
            double x = 0;
            for (QChar ch : line) {
                for (uint32_t gi = 0; gi < font->glyphs.size(); ++gi) {
                    if (font->glyphs[gi].code != ch.unicode()) continue;
                    cmd.glyphs.emplace_back(gi, Point{x, 0});
                    x += (font->hasLayout ? font->glyphs[gi].advance : em) * height / em;
                    break;
                }
            }
            double start = left + d.indent;
            if (d.align == TextAlign::Right) start = right - x;
            else if (d.align == TextAlign::Center) start = (left + right - x) / 2;
            for (auto& g : cmd.glyphs) {
                g.second.x += start;
                g.second.y = y + ascent;
            }
            if (!cmd.glyphs.empty()) out.commands.push_back(std::move(cmd));
            y += lineHeight;
        }
        return;
    }
    QFont qfont(font ? deviceFamily(font->name) : QStringLiteral("Sans Serif"));
    qfont.setPixelSize(std::max(1, int(height / 20.0 + 0.5)));
    if (font) {
        qfont.setBold(font->bold);
        qfont.setItalic(font->italic);
    }
    QFontMetricsF fm(qfont);
    for (const QString& line : lines) {
        double width = fm.horizontalAdvance(line) * 20.0;
        double x = left + d.indent;
        if (d.align == TextAlign::Right) x = right - width;
        else if (d.align == TextAlign::Center) x = (left + right - width) / 2;
        render::DrawDeviceText cmd;
        cmd.text = line;
        cmd.font = qfont;
        cmd.origin = Point{x, y + fm.ascent() * 20.0};
        cmd.color = color;
        cmd.matrix = world;
        cmd.colorTransform = cx;
        out.commands.push_back(std::move(cmd));
        y += fm.height() * 20.0 + d.leading;
    }
}

} // namespace swf
