#include "engine/display/edit_text.h"

#include <algorithm>
#include <cmath>

namespace swf {

void TextFormatPatch::applyTo(render::TextFormat& f) const {
    if (font && *font != f.font) {
        f.font = *font;
        f.embedded = nullptr; // the field finds the embedded font again
    }
    if (size) f.size = *size * 20;
    if (color) f.color = Rgba{uint8_t(*color >> 16), uint8_t(*color >> 8), uint8_t(*color), 255};
    if (bold) f.bold = *bold;
    if (italic) f.italic = *italic;
    if (underline) f.underline = *underline;
    if (url) f.url = *url;
    if (target) f.target = *target;
    if (align) f.align = *align;
    if (leftMargin) f.leftMargin = *leftMargin * 20;
    if (rightMargin) f.rightMargin = *rightMargin * 20;
    if (indent) f.indent = *indent * 20;
    if (leading) f.leading = *leading * 20;
    if (blockIndent) f.blockIndent = *blockIndent * 20;
    if (letterSpacing) f.letterSpacing = *letterSpacing * 20;
    if (bullet) f.bullet = *bullet;
    if (kerning) f.kerning = *kerning;
    if (tabStops) {
        f.tabStops.clear();
        for (double t : *tabStops) f.tabStops.push_back(t * 20);
    }
}

TextFormatPatch TextFormatPatch::from(const render::TextFormat& f) {
    TextFormatPatch p;
    p.font = f.font;
    p.size = f.size / 20;
    p.color = (uint32_t(f.color.r) << 16) | (uint32_t(f.color.g) << 8) | f.color.b;
    p.bold = f.bold;
    p.italic = f.italic;
    p.underline = f.underline;
    p.url = f.url;
    p.target = f.target;
    p.align = f.align;
    p.leftMargin = f.leftMargin / 20;
    p.rightMargin = f.rightMargin / 20;
    p.indent = f.indent / 20;
    p.leading = f.leading / 20;
    p.blockIndent = f.blockIndent / 20;
    p.letterSpacing = f.letterSpacing / 20;
    p.bullet = f.bullet;
    p.kerning = f.kerning;
    std::vector<double> stops;
    for (double t : f.tabStops) stops.push_back(t / 20);
    p.tabStops = stops;
    return p;
}

void TextFormatPatch::intersect(const TextFormatPatch& o) {
    auto keep = [](auto& mine, const auto& theirs) {
        if (mine && (!theirs || *mine != *theirs)) mine.reset();
    };
    keep(font, o.font); keep(url, o.url); keep(target, o.target); keep(size, o.size); keep(color, o.color);
    keep(bold, o.bold); keep(italic, o.italic); keep(underline, o.underline); keep(bullet, o.bullet);
    keep(kerning, o.kerning); keep(align, o.align); keep(leftMargin, o.leftMargin);
    keep(rightMargin, o.rightMargin); keep(indent, o.indent); keep(leading, o.leading);
    keep(blockIndent, o.blockIndent); keep(letterSpacing, o.letterSpacing); keep(tabStops, o.tabStops);
}

EditTextObject::EditTextObject(Runtime& rt, std::shared_ptr<const EditTextDef> def)
    : DisplayObject(Type::EditText, rt, def->id), m_def(std::move(def)),
      m_state(render::initialState(*m_def, rt.fonts)) {
    m_html = m_def->html;
    m_variable = m_def->variableName;
    m_options.selectable = !m_def->noSelect;
    m_options.editable = !m_def->readOnly;
    m_options.embedFonts = m_def->useOutlines;
    if (m_def->maxLength) m_options.maxChars = *m_def->maxLength;
}

void EditTextObject::changed() {
    m_layoutValid = false;
    m_sourceCurrent = false; // text changed otherwise than by setHtmlText
    int n = length();
    m_selBegin = std::min(m_selBegin, n);
    m_selEnd = std::min(m_selEnd, n);
    markChanged();
}

std::string EditTextObject::text() const {
    return (m_html ? htmlText() : plainText()).toStdString();
}

void EditTextObject::setText(const std::string& text) {
    QString t = QString::fromStdString(text);
    if (m_html) setHtmlText(t);
    else setPlainText(t);
}

QString EditTextObject::plainText() const { return render::runsText(m_state.runs); }

void EditTextObject::setPlainText(const QString& text) {
    auto runs = render::plainRuns(text, m_state.format);
    if (render::runsText(runs) == plainText() && runs.size() == m_state.runs.size()) {
        bool same = true;
        for (size_t i = 0; i < runs.size() && same; ++i) same = render::sameFormat(runs[i].format, m_state.runs[i].format);
        if (same) return;
    }
    m_state.runs = std::move(runs);
    changed();
}

QString EditTextObject::htmlText() const { return m_sourceCurrent ? m_htmlSource : render::toHtml(m_state.runs); }

void EditTextObject::setHtmlText(const QString& html) {
    render::HtmlStyler styler;
    if (m_styled) {
        // The tag's style first, then its class's.
        styler = [this](const QString& tag, const QString& cls, render::TextFormat& f) {
            if (auto it = m_styles.find(tag); it != m_styles.end()) it->second.applyTo(f);
            if (cls.isEmpty()) return;
            if (auto it = m_styles.find(u'.' + cls.toLower()); it != m_styles.end()) it->second.applyTo(f);
        };
    }
    m_state.runs = render::parseHtml(html, m_state.format, runtime().fonts, m_state.useOutlines,
                                     m_options.condenseWhite, m_state.multiline, styler);
    changed();
    m_htmlSource = html;
    m_sourceCurrent = m_styled;
}

void EditTextObject::setStyleSheet(std::unordered_map<QString, TextFormatPatch> styles) {
    m_styles = std::move(styles);
    m_styled = !m_styles.empty();
    if (!m_styled) m_sourceCurrent = false;
}

std::vector<render::TextFormat> EditTextObject::charFormats() const {
    std::vector<render::TextFormat> out;
    for (const render::TextRun& r : m_state.runs) out.insert(out.end(), size_t(r.text.size()), r.format);
    return out;
}

void EditTextObject::setFromChars(const QString& chars, const std::vector<render::TextFormat>& formats) {
    std::vector<render::TextRun> runs;
    for (qsizetype i = 0; i < chars.size(); ++i) render::appendRun(runs, QString(chars[i]), formats[size_t(i)]);
    m_state.runs = std::move(runs);
    changed();
}

TextFormatPatch EditTextObject::formatOf(int begin, int end) const {
    auto formats = charFormats();
    int n = int(formats.size());
    begin = std::clamp(begin, 0, n);
    end = std::clamp(end, begin, n);
    if (n == 0) return TextFormatPatch::from(m_state.format);
    if (begin == end) {
        // An empty range reads the character before it (the first one at the start).
        return TextFormatPatch::from(formats[size_t(std::max(0, std::min(begin, n) - (begin > 0 ? 1 : 0)))]);
    }
    TextFormatPatch p = TextFormatPatch::from(formats[size_t(begin)]);
    for (int i = begin + 1; i < end; ++i) p.intersect(TextFormatPatch::from(formats[size_t(i)]));
    return p;
}

void EditTextObject::setFormat(int begin, int end, const TextFormatPatch& patch) {
    QString chars = plainText();
    auto formats = charFormats();
    int n = int(formats.size());
    begin = std::clamp(begin, 0, n);
    end = std::clamp(end, begin, n);
    for (int i = begin; i < end; ++i) {
        patch.applyTo(formats[size_t(i)]);
        if (!formats[size_t(i)].embedded && m_state.useOutlines && runtime().fonts.byName) {
            auto& f = formats[size_t(i)];
            auto font = runtime().fonts.byName(f.font, f.bold, f.italic);
            if (font && !font->glyphs.empty()) f.embedded = font;
        }
    }
    // Paragraph settings hold for whole paragraphs.
    if (patch.align || patch.leftMargin || patch.rightMargin || patch.indent || patch.leading ||
        patch.blockIndent || patch.bullet || patch.tabStops) {
        TextFormatPatch para;
        para.align = patch.align; para.leftMargin = patch.leftMargin; para.rightMargin = patch.rightMargin;
        para.indent = patch.indent; para.leading = patch.leading; para.blockIndent = patch.blockIndent;
        para.bullet = patch.bullet; para.tabStops = patch.tabStops;
        int from = begin, to = end;
        while (from > 0 && chars[from - 1] != u'\r') --from;
        while (to < n && (to == from || chars[to - 1] != u'\r')) ++to;
        for (int i = from; i < to; ++i) para.applyTo(formats[size_t(i)]);
    }
    setFromChars(chars, formats);
}

void EditTextObject::setNewTextFormat(const TextFormatPatch& patch) {
    patch.applyTo(m_state.format);
    if (!m_state.format.embedded && m_state.useOutlines && runtime().fonts.byName) {
        auto font = runtime().fonts.byName(m_state.format.font, m_state.format.bold, m_state.format.italic);
        if (font && !font->glyphs.empty()) m_state.format.embedded = font;
    }
    m_layoutValid = false;
}

void EditTextObject::replaceText(int begin, int end, const QString& text) {
    QString chars = plainText();
    auto formats = charFormats();
    int n = int(chars.size());
    begin = std::clamp(begin, 0, n);
    end = std::clamp(end, begin, n);
    render::TextFormat f = n == 0 ? m_state.format : formats[size_t(std::min(begin, n - 1))];
    QString insert = text;
    insert.replace(u'\n', u'\r');
    chars.replace(begin, end - begin, insert);
    formats.erase(formats.begin() + begin, formats.begin() + end);
    formats.insert(formats.begin() + begin, size_t(insert.size()), f);
    setFromChars(chars, formats);
}

void EditTextObject::setSelection(int begin, int end) {
    int n = length();
    m_selBegin = std::clamp(std::min(begin, end), 0, n);
    m_selEnd = std::clamp(std::max(begin, end), 0, n);
    markChanged();
}

void EditTextObject::replaceSelection(const QString& text) {
    int begin = m_selBegin;
    replaceText(m_selBegin, m_selEnd, text);
    m_selBegin = m_selEnd = std::min(begin + int(text.size()), length());
}

QString EditTextObject::filterInput(const QString& typed) const {
    QString out;
    const QString& allowed = m_options.restrict ? *m_options.restrict : QString();
    // restrict: ranges "a-z", "^" starts excluded characters, "\" escapes.
    auto permitted = [&](QChar c) {
        if (!m_options.restrict) return true;
        if (allowed.isEmpty()) return false;
        bool include = true, anyInclude = false, result = false;
        bool decided = false;
        for (qsizetype i = 0; i < allowed.size(); ++i) {
            QChar a = allowed[i];
            if (a == u'^') { include = !include; continue; }
            if (a == u'\\' && i + 1 < allowed.size()) a = allowed[++i];
            QChar lo = a, hi = a;
            if (i + 2 < allowed.size() && allowed[i + 1] == u'-') {
                hi = allowed[i + 2];
                i += 2;
            }
            if (include) anyInclude = true;
            if (c >= lo && c <= hi) { result = include; decided = true; }
        }
        return decided ? result : !anyInclude;
    };
    int room = m_options.maxChars > 0 ? m_options.maxChars - (length() - (m_selEnd - m_selBegin)) : int(typed.size());
    for (QChar c : typed) {
        if (int(out.size()) >= room) break;
        if (permitted(c)) out += c;
    }
    return out;
}

void EditTextObject::setState(render::EditTextState state) {
    m_state = std::move(state);
    changed();
}

void EditTextObject::setBounds(const Rect& r) {
    if (r == m_state.bounds) return;
    m_state.bounds = r;
    changed();
}

const render::TextLayout& EditTextObject::layout() const {
    if (!m_layoutValid) {
        m_layout = render::layoutEditText(m_state, Matrix{}, ColorTransform{});
        m_layout.commands.clear();
        m_layoutValid = true;
    }
    return m_layout;
}

Rect EditTextObject::localBounds() const {
    if (m_state.autoSize == render::AutoSize::None) return m_state.bounds;
    return layout().bounds;
}

bool EditTextObject::hitTest(Point local) const { return DisplayObject::hitTest(local); }

int EditTextObject::charIndexAt(Point local) const {
    const render::TextLayout& l = layout();
    return render::caretIndexAt(l, local.x - l.bounds.xMin, local.y - l.bounds.yMin, m_state.scroll, m_state.hscroll);
}

void EditTextObject::draw(render::CommandList& out, const Matrix& world, const ColorTransform& cx) const {
    render::TextLayout l = render::layoutEditText(m_state, world, cx);
    for (auto& c : l.commands) out.commands.push_back(std::move(c));
}

} // namespace swf
