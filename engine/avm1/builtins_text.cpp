// TextField, TextFormat and TextSnapshot (TextField.StyleSheet is in builtins_stylesheet.cpp).
#include "engine/avm1/builtins.h"
#include "engine/avm1/display_clip.h"
#include "engine/avm1/script_engine.h"
#include "engine/avm1/text_field.h"
#include "engine/core/limits.h"
#include "engine/display/edit_text.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"

#include <QFontDatabase>

#include <climits>
#include <set>
#include <cmath>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

// ---- Number conversions Flash uses for text settings ----------------------------------------

// Rounds half to even; anything outside the 32-bit range (NaN, infinities) becomes INT_MIN.
double roundedInt(double d) {
    if (!std::isfinite(d)) return double(INT_MIN);
    double r = std::nearbyint(d);
    return r < double(INT_MIN) || r > double(INT_MAX) ? double(INT_MIN) : r;
}
// Margins are never negative (NaN and -Infinity read as 0).
double marginValue(double d) { return std::isnan(d) || d < 0 ? 0 : roundedInt(d); }
double colorValue(Vm& vm, const Value& v) { return double(vm.toUint32(v)); }

std::optional<TextAlign> alignFromName(const QString& s) {
    QString a = s.toLower();
    if (a == u"left") return TextAlign::Left;
    if (a == u"center") return TextAlign::Center;
    if (a == u"right") return TextAlign::Right;
    if (a == u"justify") return TextAlign::Justify;
    return std::nullopt;
}
QString alignName(TextAlign a) {
    switch (a) {
    case TextAlign::Center: return QStringLiteral("center");
    case TextAlign::Right: return QStringLiteral("right");
    case TextAlign::Justify: return QStringLiteral("justify");
    default: return QStringLiteral("left");
    }
}

// ---- TextFormat -------------------------------------------------------------------------------

enum class Field {
    Font, Size, Color, Url, Target, Bold, Italic, Underline, Align, LeftMargin, RightMargin, Indent, Leading,
    BlockIndent, TabStops, Bullet, Kerning, LetterSpacing, Display, Count
};
constexpr const char* kFieldNames[] = {"font", "size", "color", "url", "target", "bold", "italic", "underline",
                                       "align", "leftMargin", "rightMargin", "indent", "leading", "blockIndent",
                                       "tabStops", "bullet", "kerning", "letterSpacing", "display"};
static_assert(std::size(kFieldNames) == size_t(Field::Count));

// The fields of one TextFormat object: primitives only (tabStops apart), so
// the collector needs not see them.
struct TextFormatData final : NativeState {
    Value fields[size_t(Field::Count)];
    std::optional<std::vector<double>> tabStops;
    TextFormatData() {
        for (Value& v : fields) v = Value::null();
    }
};

TextFormatData* formatData(Object* o) { return o ? o->nativeAs<TextFormatData>() : nullptr; }

Value tabStopsArray(Vm& vm, const std::optional<std::vector<double>>& stops) {
    if (!stops) return Value::null();
    std::vector<Value> items;
    for (double t : *stops) items.push_back(Value(t));
    return Value(vm.newArray(std::move(items)));
}

// Null-or-coerced values of the setters (`rounding` for the numeric fields).
Value coerceField(Vm& vm, Field f, const Value& v, const Value& old) {
    if (v.isUndefined() || v.isNull()) return f == Field::Align || f == Field::Display ? old : Value::null();
    switch (f) {
    case Field::Font: case Field::Url: case Field::Target: return Value(vm.toString(v));
    case Field::Size: case Field::Indent: case Field::Leading: case Field::BlockIndent:
        return Value(roundedInt(vm.toNumber(v)));
    case Field::LeftMargin: case Field::RightMargin: return Value(marginValue(vm.toNumber(v)));
    case Field::Color: return Value(colorValue(vm, v));
    case Field::Bold: case Field::Italic: case Field::Underline: case Field::Bullet: case Field::Kerning:
        return Value(vm.toBool(v));
    case Field::LetterSpacing: return Value(vm.toNumber(v));
    case Field::Align: {
        auto a = alignFromName(vm.toString(v));
        return a ? Value(alignName(*a)) : old;
    }
    case Field::Display: {
        QString d = vm.toString(v);
        return d == u"inline" || d == u"block" || d == u"none" ? Value(d) : old;
    }
    case Field::TabStops: // kept apart, see tabStopsOf
    case Field::Count: break;
    }
    return Value::null();
}

// tabStops: any array-like object, each entry rounded; anything else is null.
std::optional<std::vector<double>> tabStopsOf(Vm& vm, const Value& v) {
    if (!v.asObject()) return std::nullopt;
    double n = vm.toNumber(vm.getMember(v, QStringLiteral("length")));
    std::vector<double> stops;
    for (int i = 0; std::isfinite(n) && i < int(std::min(n, double(limits::kMaxTabStops))); ++i)
        stops.push_back(roundedInt(vm.toNumber(vm.getMember(v, QString::number(i)))));
    return stops;
}

Value formatGet(Vm& vm, CallArgs& a) {
    TextFormatData* d = formatData(a.thisObject());
    if (!d || !a.callee) return Value();
    auto f = Field(int(a.callee->data.asNumber()));
    if (f == Field::TabStops) return tabStopsArray(vm, d->tabStops);
    return d->fields[size_t(f)];
}

Value formatSet(Vm& vm, CallArgs& a) {
    TextFormatData* d = formatData(a.thisObject());
    if (!d || !a.callee) return Value();
    auto f = Field(int(a.callee->data.asNumber()));
    if (f == Field::TabStops) {
        auto stops = tabStopsOf(vm, a.at(0));
        if (!vm.hasException()) d->tabStops = stops;
        return Value();
    }
    Value v = coerceField(vm, f, a.at(0), d->fields[size_t(f)]);
    if (!vm.hasException()) d->fields[size_t(f)] = v;
    return Value();
}

Object* textFormatProto(Vm& vm) {
    Value ctor = vm.getMember(Value(vm.global()), QStringLiteral("TextFormat"));
    return vm.getMember(ctor, QStringLiteral("prototype")).asObject();
}

Value textFormatCtor(Vm& vm, CallArgs& a) {
    Object* o = newInstance(vm, a);
    TextFormatData* data = o->nativeOrMake<TextFormatData>();
    // The constructor truncates where the setters round, and keeps negative margins.
    const Field order[] = {Field::Font, Field::Size, Field::Color, Field::Bold, Field::Italic, Field::Underline,
                           Field::Url, Field::Target, Field::Align, Field::LeftMargin, Field::RightMargin,
                           Field::Indent, Field::Leading};
    for (size_t i = 0; i < std::size(order) && i < a.size(); ++i) {
        const Value& v = a.at(i);
        if (v.isUndefined() || v.isNull()) continue;
        Field f = order[i];
        Value& slot = data->fields[size_t(f)];
        switch (f) {
        case Field::Size: case Field::LeftMargin: case Field::RightMargin: case Field::Indent: case Field::Leading:
            slot = Value(double(vm.toInt32(v)));
            break;
        default: slot = coerceField(vm, f, v, slot); break;
        }
    }
    return Value(o);
}

// The patch's plain members by TextFormat field: text, numbers and flags.
// Colour and alignment need their own conversions.
struct PatchFields {
    std::pair<Field, std::optional<std::string> TextFormatPatch::*> text[3] = {
        {Field::Font, &TextFormatPatch::font}, {Field::Url, &TextFormatPatch::url},
        {Field::Target, &TextFormatPatch::target}};
    std::pair<Field, std::optional<double> TextFormatPatch::*> numbers[7] = {
        {Field::Size, &TextFormatPatch::size}, {Field::LeftMargin, &TextFormatPatch::leftMargin},
        {Field::RightMargin, &TextFormatPatch::rightMargin}, {Field::Indent, &TextFormatPatch::indent},
        {Field::Leading, &TextFormatPatch::leading}, {Field::BlockIndent, &TextFormatPatch::blockIndent},
        {Field::LetterSpacing, &TextFormatPatch::letterSpacing}};
    std::pair<Field, std::optional<bool> TextFormatPatch::*> flags[5] = {
        {Field::Bold, &TextFormatPatch::bold}, {Field::Italic, &TextFormatPatch::italic},
        {Field::Underline, &TextFormatPatch::underline}, {Field::Bullet, &TextFormatPatch::bullet},
        {Field::Kerning, &TextFormatPatch::kerning}};
};
const PatchFields kPatchFields;

Object* newTextFormat(Vm& vm, const TextFormatPatch& p) {
    Object* o = vm.newObject(textFormatProto(vm));
    TextFormatData* data = o->nativeOrMake<TextFormatData>();
    auto set = [&](Field f, const Value& v) { data->fields[size_t(f)] = v; };
    for (auto [f, member] : kPatchFields.text)
        if (p.*member) set(f, Value(QString::fromStdString(*(p.*member))));
    for (auto [f, member] : kPatchFields.numbers)
        if (p.*member) set(f, Value(*(p.*member)));
    for (auto [f, member] : kPatchFields.flags)
        if (p.*member) set(f, Value(*(p.*member)));
    if (p.color) set(Field::Color, Value(double(*p.color)));
    if (p.align) set(Field::Align, Value(alignName(*p.align)));
    data->tabStops = p.tabStops;
    set(Field::Display, Value(QStringLiteral("block")));
    return o;
}

// The fields a script TextFormat sets (null fields are left alone).
TextFormatPatch patchOf(Vm& vm, Object* o) {
    TextFormatPatch p;
    TextFormatData* d = formatData(o);
    if (!d) return p;
    auto field = [&](Field f) -> const Value& { return d->fields[size_t(f)]; };
    auto isSet = [&](Field f) { return !field(f).isNull() && !field(f).isUndefined(); };
    for (auto [f, member] : kPatchFields.text)
        if (isSet(f)) p.*member = vm.toString(field(f)).toStdString();
    for (auto [f, member] : kPatchFields.numbers)
        if (isSet(f)) p.*member = vm.toNumber(field(f));
    for (auto [f, member] : kPatchFields.flags)
        if (isSet(f)) p.*member = vm.toBool(field(f));
    if (!field(Field::Color).isNull()) p.color = vm.toUint32(field(Field::Color)) & 0xFFFFFF;
    if (field(Field::Align).isString()) p.align = alignFromName(field(Field::Align).asString());
    p.tabStops = d->tabStops;
    // Sizes below one pixel are not drawn; Flash keeps fields from going negative.
    if (p.size && (!std::isfinite(*p.size) || *p.size < 0)) p.size.reset();
    return p;
}

void installTextFormat(Vm& vm) {
    Object* proto = vm.newObject();
    vm.defineClass(QStringLiteral("TextFormat"), textFormatCtor, textFormatCtor, proto);
    for (int i = 0; i < int(Field::Count); ++i) {
        QString name = QString::fromLatin1(kFieldNames[i]);
        Property& p = proto->define(vm.key(name), name, Value(), kDontDelete);
        FunctionObject* g = vm.newNative(formatGet);
        g->data = Value(double(i));
        FunctionObject* s = vm.newNative(formatSet);
        s->data = Value(double(i));
        p.getter = g;
        p.setter = s;
    }
}

// ---- TextField properties -------------------------------------------------------------------

EditTextObject* fieldOf(const Value& v) {
    auto* c = dynamic_cast<DisplayClip*>(v.asObject());
    if (!c || !c->object() || c->object()->type() != DisplayObject::Type::EditText) return nullptr;
    return static_cast<EditTextObject*>(c->object());
}

double px(double twips) { return twips / 20; }
double rgbOf(const Rgba& c) { return double((uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b); }
Rgba rgbFrom(uint32_t v) { return Rgba{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), 255}; }

using FieldGet = Value (*)(Vm&, EditTextObject&);
using FieldSet = void (*)(Vm&, EditTextObject&, const Value&);
struct FieldProp {
    const char* name;
    FieldGet get;
    FieldSet set; // null: read-only
};

// Script-only settings (styleSheet, filters) are kept as hidden
// members of the field's script object, where the collector sees them.
// Parsing and laying out new text is the field's work: about a sixteenth of
// an action per character, charged to the script that set it.
bool chargeLayout(Vm& vm, const QString& text) { return vm.chargeWork(size_t(text.size()) / 16); }

Value storedGet(Vm& vm, EditTextObject& t, const char* name) {
    DisplayClip* c = vm.engine ? vm.engine->wrap(&t) : nullptr;
    const Property* p = c ? c->find(vm.key(QString::fromLatin1(name))) : nullptr;
    return p ? p->value : Value();
}
void storedSet(Vm& vm, EditTextObject& t, const char* name, const Value& v) {
    if (DisplayClip* c = vm.engine ? vm.engine->wrap(&t) : nullptr)
        vm.defineValue(c, QString::fromLatin1(name), v, kDontEnum);
}

// The field a script object shows, looked up again after script ran (it
// may have removed the field); null when gone.
EditTextObject* liveField(DisplayClip* c) { return c ? fieldOf(Value(static_cast<Object*>(c))) : nullptr; }

// A field bound to a variable shows the variable's current value: scripts
// reading the text see a change made earlier in the same frame. Reading the
// variable runs getters and toString: the field is returned looked up again.
EditTextObject* syncFromVariable(Vm& vm, EditTextObject& t) {
    if (t.variableName().empty() || !vm.engine || !t.parent()) return &t;
    DisplayClip* self = vm.engine->wrap(&t);
    DisplayClip* scope = vm.engine->wrap(t.parent());
    if (!scope) return &t;
    QString var = QString::fromStdString(t.variableName());
    qsizetype cut = std::max(var.lastIndexOf(u':'), var.lastIndexOf(u'.'));
    Value v;
    if (cut >= 0) {
        if (Object* target = vm.resolveTarget(scope, var.left(cut))) v = vm.getMember(Value(target), var.mid(cut + 1));
    } else {
        v = vm.getMember(Value(static_cast<Object*>(scope)), var);
    }
    if (v.isUndefined()) return liveField(self);
    std::string text = vm.toString(v).toStdString();
    EditTextObject* field = liveField(self);
    if (field) field->setText(text);
    return field;
}

const char* autoSizeName(render::AutoSize a) {
    switch (a) {
    case render::AutoSize::Left: return "left";
    case render::AutoSize::Center: return "center";
    case render::AutoSize::Right: return "right";
    default: return "none";
    }
}

void setAllColors(EditTextObject& t, Rgba c) {
    render::EditTextState& s = t.editState();
    s.format.color = c;
    for (render::TextRun& r : s.runs) r.format.color = c;
}

int clampScroll(int v, int max) { return std::clamp(v, 1, std::max(1, max)); }

// Creation order: for..in lists the newest first, as Flash does.
const FieldProp kFieldProps[] = {
    {"gridFitType", [](Vm&, EditTextObject& t) { return Value(t.options().gridFitType); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         QString s = vm.toString(v);
         if (s == u"none" || s == u"pixel" || s == u"subpixel") t.options().gridFitType = s;
     }},
    {"antiAliasType", [](Vm&, EditTextObject& t) { return Value(t.options().antiAliasType); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         QString s = vm.toString(v);
         if (s == u"normal" || s == u"advanced") t.options().antiAliasType = s;
     }},
    {"thickness", [](Vm&, EditTextObject& t) { return Value(t.options().thickness); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         double d = vm.toNumber(v);
         if (std::isfinite(d)) t.options().thickness = std::clamp(d, -200.0, 200.0);
     }},
    {"sharpness", [](Vm&, EditTextObject& t) { return Value(t.options().sharpness); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         double d = vm.toNumber(v);
         if (std::isfinite(d)) t.options().sharpness = std::clamp(d, -400.0, 400.0);
     }},
    {"filters",
     [](Vm& vm, EditTextObject& t) {
         Value f = storedGet(vm, t, "filters");
         return f.isObject() ? f : Value(vm.newArray());
     },
     [](Vm& vm, EditTextObject& t, const Value& v) { storedSet(vm, t, "filters", v.isObject() ? v : Value()); }},
    {"scroll", [](Vm&, EditTextObject& t) { return Value(double(clampScroll(t.state().scroll, t.layout().maxScroll))); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         double d = vm.toNumber(v);
         if (!std::isfinite(d)) return;
         int s = clampScroll(int(d), t.layout().maxScroll);
         if (s != t.state().scroll) t.editState().scroll = s;
     }},
    {"maxscroll", [](Vm&, EditTextObject& t) { return Value(double(t.layout().maxScroll)); }, nullptr},
    {"borderColor", [](Vm&, EditTextObject& t) { return Value(rgbOf(t.state().borderColor)); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.editState().borderColor = rgbFrom(vm.toUint32(v)); }},
    {"backgroundColor", [](Vm&, EditTextObject& t) { return Value(rgbOf(t.state().backgroundColor)); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.editState().backgroundColor = rgbFrom(vm.toUint32(v)); }},
    {"textColor", [](Vm&, EditTextObject& t) { return Value(rgbOf(t.newTextFormat().color)); },
     [](Vm& vm, EditTextObject& t, const Value& v) { setAllColors(t, rgbFrom(vm.toUint32(v))); }},
    {"tabIndex", [](Vm& vm, EditTextObject& t) { return vm.engine ? vm.engine->focus().tabIndex(t) : Value(); },
     [](Vm& vm, EditTextObject& t, const Value& v) { if (vm.engine) vm.engine->focus().setTabIndex(t, v); }},
    {"autoSize", [](Vm&, EditTextObject& t) { return Value(QString::fromLatin1(autoSizeName(t.state().autoSize))); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         render::AutoSize a = render::AutoSize::None;
         if (v.isBool()) a = v.asBool() ? render::AutoSize::Left : render::AutoSize::None;
         else {
             QString s = vm.toString(v);
             if (s == u"left") a = render::AutoSize::Left;
             else if (s == u"center") a = render::AutoSize::Center;
             else if (s == u"right") a = render::AutoSize::Right;
         }
         if (a != t.state().autoSize) {
             // The box keeps the size autoSize gave it.
             Rect b = t.layout().bounds;
             render::EditTextState& s = t.editState();
             if (s.autoSize != render::AutoSize::None) s.bounds = b;
             s.autoSize = a;
         }
     }},
    {"text",
     [](Vm& vm, EditTextObject& t) {
         EditTextObject* f = syncFromVariable(vm, t);
         return f ? Value(f->plainText()) : Value();
     },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         const QString s = vm.toString(v);
         if (chargeLayout(vm, s)) t.setPlainText(s);
     }},
    {"type", [](Vm&, EditTextObject& t) { return Value(t.options().editable ? QStringLiteral("input") : QStringLiteral("dynamic")); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         QString s = vm.toString(v).toLower();
         if (s == u"input") t.options().editable = true;
         else if (s == u"dynamic") t.options().editable = false;
     }},
    {"htmlText",
     [](Vm& vm, EditTextObject& t) {
         EditTextObject* f = syncFromVariable(vm, t);
         return f ? Value(f->html() ? f->htmlText() : f->plainText()) : Value();
     },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         if (!t.html()) {
             const QString s = vm.toString(v);
             if (chargeLayout(vm, s)) t.setPlainText(s);
             return;
         }
         // The style sheet may have changed since it was set; reading it runs script.
         DisplayClip* self = vm.engine ? vm.engine->wrap(&t) : nullptr;
         Value sheet = storedGet(vm, t, "styleSheet");
         auto formats = sheet.isObject() ? std::optional(styleSheetFormats(vm, sheet)) : std::nullopt;
         QString html = vm.toString(v);
         if (!chargeLayout(vm, html)) return;
         EditTextObject* f = liveField(self);
         if (!f) return;
         if (formats) f->setStyleSheet(*formats);
         f->setHtmlText(html);
     }},
    {"variable",
     [](Vm&, EditTextObject& t) {
         return t.variableName().empty() ? Value::null() : Value(QString::fromStdString(t.variableName()));
     },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         t.setVariableName(v.isNull() || v.isUndefined() ? std::string() : vm.toString(v).toStdString());
     }},
    {"hscroll", [](Vm&, EditTextObject& t) { return Value(std::round(px(t.state().hscroll))); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         double d = vm.toNumber(v);
         if (!std::isfinite(d)) return;
         double h = std::clamp(std::trunc(d) * 20, 0.0, t.layout().maxHScroll);
         if (h != t.state().hscroll) t.editState().hscroll = h;
     }},
    {"maxhscroll", [](Vm&, EditTextObject& t) { return Value(std::round(px(t.layout().maxHScroll))); }, nullptr},
    {"maxChars",
     [](Vm&, EditTextObject& t) { return t.options().maxChars ? Value(double(t.options().maxChars)) : Value::null(); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.options().maxChars = std::max(0, vm.toInt(v)); }},
    {"embedFonts", [](Vm&, EditTextObject& t) { return Value(t.state().useOutlines); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         bool on = vm.toBool(v);
         t.options().embedFonts = on;
         if (on == t.state().useOutlines) return;
         render::EditTextState& s = t.editState();
         s.useOutlines = on;
         const render::FontResolver& fonts = t.runtime().fonts;
         auto resolve = [&](render::TextFormat& f) {
             f.embedded = nullptr;
             if (!on || !fonts.byName) return;
             auto font = fonts.byName(f.font, f.bold, f.italic);
             if (font && !font->glyphs.empty()) f.embedded = font;
         };
         resolve(s.format);
         for (render::TextRun& r : s.runs) resolve(r.format);
     }},
    {"html", [](Vm&, EditTextObject& t) { return Value(t.html()); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.setHtml(vm.toBool(v)); }},
    {"border", [](Vm&, EditTextObject& t) { return Value(t.state().border); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.editState().border = vm.toBool(v); }},
    {"background", [](Vm&, EditTextObject& t) { return Value(t.state().background); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.editState().background = vm.toBool(v); }},
    {"wordWrap", [](Vm&, EditTextObject& t) { return Value(t.state().wordWrap); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.editState().wordWrap = vm.toBool(v); }},
    {"password", [](Vm&, EditTextObject& t) { return Value(t.state().password); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.editState().password = vm.toBool(v); }},
    {"multiline", [](Vm&, EditTextObject& t) { return Value(t.state().multiline); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.editState().multiline = vm.toBool(v); }},
    {"selectable", [](Vm&, EditTextObject& t) { return Value(t.options().selectable); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.options().selectable = vm.toBool(v); }},
    {"length", [](Vm&, EditTextObject& t) { return Value(double(t.length())); }, nullptr},
    {"bottomScroll", [](Vm&, EditTextObject& t) { return Value(double(t.layout().bottomScroll)); }, nullptr},
    // Whole pixels, cut down; the height counts from the field's top, over the 2 pixel gutter.
    {"textWidth", [](Vm&, EditTextObject& t) { return Value(std::floor(px(t.layout().textWidth))); }, nullptr},
    {"textHeight",
     [](Vm&, EditTextObject& t) {
         return Value(t.length() ? std::floor(px(t.layout().textHeight) + 2) : 0.0);
     },
     nullptr},
    {"restrict",
     [](Vm&, EditTextObject& t) { return t.options().restrict ? Value(*t.options().restrict) : Value::null(); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         if (v.isNull() || v.isUndefined()) t.options().restrict.reset();
         else t.options().restrict = vm.toString(v);
     }},
    {"condenseWhite", [](Vm&, EditTextObject& t) { return Value(t.options().condenseWhite); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.options().condenseWhite = vm.toBool(v); }},
    {"mouseWheelEnabled", [](Vm&, EditTextObject& t) { return Value(t.options().mouseWheelEnabled); },
     [](Vm& vm, EditTextObject& t, const Value& v) { t.options().mouseWheelEnabled = vm.toBool(v); }},
    {"styleSheet", [](Vm& vm, EditTextObject& t) { return storedGet(vm, t, "styleSheet"); },
     [](Vm& vm, EditTextObject& t, const Value& v) {
         // The field's HTML is formatted again with the new sheet (reading the sheet runs script).
         storedSet(vm, t, "styleSheet", v.isObject() ? v : Value());
         QString source = t.htmlText();
         DisplayClip* self = vm.engine ? vm.engine->wrap(&t) : nullptr;
         auto formats = v.isObject() ? styleSheetFormats(vm, v) : std::unordered_map<QString, TextFormatPatch>{};
         EditTextObject* f = liveField(self);
         if (!f) return;
         f->setStyleSheet(formats);
         if (f->html()) f->setHtmlText(source);
     }},
};
// The display settings added last (filters ... gridFitType) are answered on the field itself; the prototype only lists them.
constexpr size_t kPrototypeOnlyProps = 5;

const FieldProp* findProp(Vm& vm, const QString& name) {
    for (const FieldProp& p : kFieldProps)
        if (vm.namesEqual(name, QString::fromLatin1(p.name))) return &p;
    return nullptr;
}

// Sets a field property. An object value is converted here, as the setter
// would convert it: that runs script, which may remove the field the setter
// works on, so the field is looked up again. Flags take any object as
// true, and styleSheet and filters keep it.
void setFieldProp(Vm& vm, DisplayClip& clip, EditTextObject& field, const FieldProp& prop, const Value& v) {
    if (!prop.set) return;
    static const std::set<QString> kTextProps = {QStringLiteral("text"), QStringLiteral("htmlText"),
        QStringLiteral("type"), QStringLiteral("variable"), QStringLiteral("restrict"), QStringLiteral("autoSize"),
        QStringLiteral("antiAliasType"), QStringLiteral("gridFitType")};
    static const std::set<QString> kKeptProps = {QStringLiteral("html"), QStringLiteral("border"),
        QStringLiteral("background"), QStringLiteral("wordWrap"), QStringLiteral("password"),
        QStringLiteral("multiline"), QStringLiteral("selectable"), QStringLiteral("condenseWhite"),
        QStringLiteral("mouseWheelEnabled"), QStringLiteral("embedFonts"), QStringLiteral("styleSheet"),
        QStringLiteral("filters")};
    const QString exact = QString::fromLatin1(prop.name);
    if (!v.isObject() || kKeptProps.count(exact)) {
        prop.set(vm, field, v);
        return;
    }
    Value value = kTextProps.count(exact) ? Value(vm.toString(v))
                                          : Value(vm.primitiveToNumber(vm.toPrimitive(v, Vm::Hint::Number)));
    if (EditTextObject* f = liveField(&clip)) prop.set(vm, *f, value);
}

// Getters and setters on TextField.prototype answer for real fields only.
Value protoGet(Vm& vm, CallArgs& a) {
    EditTextObject* t = fieldOf(a.thisv);
    if (!t || !a.callee) return Value();
    return kFieldProps[size_t(a.callee->data.asNumber())].get(vm, *t);
}
Value protoSet(Vm& vm, CallArgs& a) {
    EditTextObject* t = fieldOf(a.thisv);
    if (!t || !a.callee) return Value();
    setFieldProp(vm, *static_cast<DisplayClip*>(a.thisObject()), *t, kFieldProps[size_t(a.callee->data.asNumber())], a.at(0));
    return Value();
}

// ---- TextField methods ------------------------------------------------------------------------

// The range [begin, end) of getTextFormat/setTextFormat arguments before `fixed` trailing ones.
std::pair<int, int> rangeArgs(Vm& vm, CallArgs& a, size_t count, int length) {
    if (count == 0) return {0, length};
    int begin = vm.toInt(a.at(0));
    int end = count >= 2 ? vm.toInt(a.at(1)) : begin + 1;
    if (begin < 0) begin = 0;
    if (end > length) end = length;
    return {begin, end};
}

Value tfGetTextFormat(Vm& vm, CallArgs& a) {
    EditTextObject* t = fieldOf(a.thisv);
    if (!t) return Value();
    auto [b, e] = rangeArgs(vm, a, std::min<size_t>(a.size(), 2), t->length());
    if (b > e || (a.size() && b >= t->length() && t->length() > 0)) return Value(newTextFormat(vm, TextFormatPatch{}));
    return Value(newTextFormat(vm, t->formatOf(b, e)));
}

Value tfSetTextFormat(Vm& vm, CallArgs& a) {
    EditTextObject* t = fieldOf(a.thisv);
    if (!t || !a.size()) return Value();
    Object* fmt = a.at(a.size() - 1).asObject();
    if (!formatData(fmt)) return Value();
    auto [b, e] = rangeArgs(vm, a, std::min<size_t>(a.size() - 1, 2), t->length());
    if (b < e) t->setFormat(b, e, patchOf(vm, fmt));
    return Value();
}

Value tfGetNewTextFormat(Vm& vm, CallArgs& a) {
    EditTextObject* t = fieldOf(a.thisv);
    return t ? Value(newTextFormat(vm, TextFormatPatch::from(t->newTextFormat()))) : Value();
}

Value tfSetNewTextFormat(Vm& vm, CallArgs& a) {
    EditTextObject* t = fieldOf(a.thisv);
    Object* fmt = a.at(0).asObject();
    if (t && formatData(fmt)) t->setNewTextFormat(patchOf(vm, fmt));
    return Value();
}

Value tfReplaceSel(Vm& vm, CallArgs& a) {
    EditTextObject* t = fieldOf(a.thisv);
    if (t && a.size()) t->replaceSelection(vm.toString(a.at(0)));
    return Value();
}

Value tfReplaceText(Vm& vm, CallArgs& a) {
    EditTextObject* t = fieldOf(a.thisv);
    if (!t || a.size() < 3) return Value();
    int b = vm.toInt(a.at(0)), e = vm.toInt(a.at(1));
    if (b < 0 || e < b) return Value();
    t->replaceText(b, e, vm.toString(a.at(2)));
    return Value();
}

Value tfRemoveTextField(Vm&, CallArgs& a) {
    auto* c = dynamic_cast<DisplayClip*>(a.thisObject());
    if (!fieldOf(a.thisv)) return Value();
    DisplayObject* o = c->object();
    // Only fields made by scripts (depth 0 and up) can be removed.
    MovieClip* parent = o->parent();
    if (parent && o->depth() >= kScriptDepthOffset) parent->removeChild(o->depth());
    return Value();
}

Value tfGetFontList(Vm& vm, CallArgs&) {
    std::vector<Value> names;
    for (const QString& f : QFontDatabase::families()) names.push_back(Value(f));
    return Value(vm.newArray(std::move(names)));
}

Value textFieldCtor(Vm& vm, CallArgs& a) { return Value(newInstance(vm, a)); }

// ---- TextSnapshot ------------------------------------------------------------------------------

// The static text of a clip as characters; a new text object or a record on
// a new line starts a line. Positions are the glyphs' origins in the clip.
struct SnapshotData final : NativeState {
    QString chars;
    std::vector<bool> lineStart, selected;
    std::vector<Point> origins;
    std::vector<double> heights;
    uint32_t selectColor = 0xFFFF00;
};
SnapshotData* snapshotOf(const Value& v) {
    Object* o = v.asObject();
    return o ? o->nativeAs<SnapshotData>() : nullptr;
}

void collectStaticText(const MovieClip& mc, SnapshotData& out) {
    for (const auto& [depth, child] : mc.children()) {
        if (child->type() != DisplayObject::Type::Text) continue;
        const TextDef& def = static_cast<const TextObject&>(*child).def();
        bool first = true;
        double lastY = 0;
        for (const TextRecord& r : def.records) {
            auto font = child->runtime().fonts.byId ? child->runtime().fonts.byId(r.fontId) : nullptr;
            double x = r.x;
            for (const TextGlyph& g : r.glyphs) {
                if (size_t(out.chars.size()) >= limits::kMaxTextLayoutChars) return;
                char16_t code = font && g.index < font->glyphs.size() ? font->glyphs[g.index].code : u'?';
                out.chars += QChar(code);
                out.lineStart.push_back(first || r.y != lastY);
                Point local = child->matrix().map(def.matrix.map(Point{x, r.y}));
                out.origins.push_back(local);
                out.heights.push_back(r.height);
                first = false;
                lastY = r.y;
                x += g.advance;
            }
        }
    }
    out.selected.assign(size_t(out.chars.size()), false);
}

Object* textSnapshotProto(Vm& vm) {
    Value ctor = vm.getMember(Value(vm.global()), QStringLiteral("TextSnapshot"));
    return vm.getMember(ctor, QStringLiteral("prototype")).asObject();
}

Object* newSnapshot(Object* o, const Value& clipV) {
    SnapshotData* data = o->nativeOrMake<SnapshotData>();
    auto* c = dynamic_cast<DisplayClip*>(clipV.asObject());
    if (MovieClip* mc = c ? c->movieClip() : nullptr) collectStaticText(*mc, *data);
    return o;
}

Value snapshotCtor(Vm& vm, CallArgs& a) { return Value(newSnapshot(newInstance(vm, a), a.at(0))); }

Value clipGetTextSnapshot(Vm& vm, CallArgs& a) {
    if (!dynamic_cast<DisplayClip*>(a.thisObject())) return Value();
    return Value(newSnapshot(vm.newObject(textSnapshotProto(vm)), a.thisv));
}

Value snapGetCount(Vm&, CallArgs& a) {
    SnapshotData* d = snapshotOf(a.thisv);
    return d ? Value(double(d->chars.size())) : Value();
}

// The characters [from, to) of a snapshot, with "\n" before each new line when asked.
QString snapshotText(const SnapshotData& d, int from, int to, bool lineEndings) {
    QString out;
    for (int i = from; i < to; ++i) {
        if (lineEndings && i > from && d.lineStart[size_t(i)]) out += u'\n';
        out += d.chars[i];
    }
    return out;
}

// Flash's range rule: the start is clamped into the text, and the range holds at least one character.
std::pair<int, int> snapshotRange(Vm& vm, const SnapshotData& d, const Value& a0, const Value& a1) {
    int n = int(d.chars.size());
    int from = std::clamp(vm.toInt(a0), 0, std::max(0, n - 1));
    int to = std::min(vm.toInt(a1), n);
    if (to <= from) to = std::min(from + 1, n);
    return {from, to};
}

Value snapGetText(Vm& vm, CallArgs& a) {
    SnapshotData* d = snapshotOf(a.thisv);
    if (!d || a.size() < 2 || a.size() > 3) return Value();
    auto [from, to] = snapshotRange(vm, *d, a.at(0), a.at(1));
    return Value(snapshotText(*d, from, to, a.size() == 3 && vm.toBool(a.at(2))));
}

Value snapFindText(Vm& vm, CallArgs& a) {
    SnapshotData* d = snapshotOf(a.thisv);
    if (!d || a.size() < 3) return Value();
    int from = std::max(0, vm.toInt(a.at(0)));
    QString needle = vm.toString(a.at(1));
    if (from > d->chars.size()) return Value(-1);
    qsizetype at = d->chars.indexOf(needle, from, vm.toBool(a.at(2)) ? Qt::CaseSensitive : Qt::CaseInsensitive);
    return Value(double(at));
}

Value snapSetSelected(Vm& vm, CallArgs& a) {
    SnapshotData* d = snapshotOf(a.thisv);
    if (!d || a.size() < 3 || d->chars.isEmpty()) return Value();
    auto [from, to] = snapshotRange(vm, *d, a.at(0), a.at(1));
    for (int i = from; i < to; ++i) d->selected[size_t(i)] = vm.toBool(a.at(2));
    return Value();
}

Value snapGetSelected(Vm& vm, CallArgs& a) {
    SnapshotData* d = snapshotOf(a.thisv);
    if (!d || a.size() < 2) return Value();
    if (d->chars.isEmpty()) return Value(false);
    auto [from, to] = snapshotRange(vm, *d, a.at(0), a.at(1));
    for (int i = from; i < to; ++i)
        if (d->selected[size_t(i)]) return Value(true);
    return Value(false);
}

Value snapGetSelectedText(Vm& vm, CallArgs& a) {
    SnapshotData* d = snapshotOf(a.thisv);
    if (!d) return Value();
    bool lineEndings = a.size() && vm.toBool(a.at(0));
    QString out;
    bool any = false;
    for (int i = 0; i < int(d->chars.size()); ++i) {
        if (!d->selected[size_t(i)]) continue;
        if (lineEndings && any && d->lineStart[size_t(i)]) out += u'\n';
        out += d->chars[i];
        any = true;
    }
    return Value(out);
}

Value snapHitTestTextNearPos(Vm& vm, CallArgs& a) {
    SnapshotData* d = snapshotOf(a.thisv);
    if (!d || a.size() < 2) return Value();
    double x = vm.toNumber(a.at(0)) * 20, y = vm.toNumber(a.at(1)) * 20;
    double maxDistance = a.size() > 2 ? vm.toNumber(a.at(2)) * 20 : 0;
    int best = -1;
    double bestDistance = 0;
    for (size_t i = 0; i < d->origins.size(); ++i) {
        // Distance to the glyph's box: from its origin up by the text height.
        const Point& o = d->origins[i];
        double dx = std::abs(x - o.x);
        double top = o.y - d->heights[i];
        double dy = y < top ? top - y : y > o.y ? y - o.y : 0;
        double dist = std::hypot(dx, dy);
        if (dist <= maxDistance && (best < 0 || dist < bestDistance)) {
            best = int(i);
            bestDistance = dist;
        }
    }
    return Value(double(best));
}

Value snapSetSelectColor(Vm& vm, CallArgs& a) {
    if (SnapshotData* d = snapshotOf(a.thisv); d && a.size()) d->selectColor = vm.toUint32(a.at(0)) & 0xFFFFFF;
    return Value();
}

Value snapGetTextRunInfo(Vm& vm, CallArgs& a) {
    SnapshotData* d = snapshotOf(a.thisv);
    if (!d || a.size() < 2) return Value();
    std::vector<Value> items;
    if (!d->chars.isEmpty()) {
        auto [from, to] = snapshotRange(vm, *d, a.at(0), a.at(1));
        for (int i = from; i < to; ++i) {
            Object* o = vm.newObject();
            vm.setMember(o, QStringLiteral("indexInRun"), Value(double(i)));
            vm.setMember(o, QStringLiteral("selected"), Value(bool(d->selected[size_t(i)])));
            vm.setMember(o, QStringLiteral("height"), Value(d->heights[size_t(i)] / 20));
            vm.setMember(o, QStringLiteral("matrix_tx"), Value(d->origins[size_t(i)].x / 20));
            vm.setMember(o, QStringLiteral("matrix_ty"), Value(d->origins[size_t(i)].y / 20));
            items.push_back(Value(o));
        }
    }
    return Value(vm.newArray(std::move(items)));
}

Value snapMethodGet(Vm& vm, CallArgs& a) { return vm.version() >= 6 && a.callee ? a.callee->data : Value(); }
Value snapMethodSet(Vm& vm, CallArgs& a) {
    if (Object* o = a.thisObject(); o && a.callee) vm.defineValue(o, a.callee->data.asString(), a.at(0), 0);
    return Value();
}

void installTextSnapshot(Vm& vm) {
    Object* proto = vm.newObject();
    vm.defineClass(QStringLiteral("TextSnapshot"), snapshotCtor, snapshotCtor, proto);
    // Enumerable, as Flash lists them; for..in shows the newest first.
    struct { const char* name; NativeFn fn; } methods[] = {
        {"getCount", snapGetCount}, {"setSelected", snapSetSelected}, {"getSelected", snapGetSelected},
        {"getText", snapGetText}, {"getSelectedText", snapGetSelectedText},
        {"hitTestTextNearPos", snapHitTestTextNearPos}, {"findText", snapFindText},
        {"setSelectColor", snapSetSelectColor}, {"getTextRunInfo", snapGetTextRunInfo},
    };
    // Version 5 movies list the methods but read them as undefined; a value
    // a script stores takes the method's place on the object it is set on.
    for (auto& m : methods) {
        QString name = QString::fromLatin1(m.name);
        Property& p = proto->define(vm.key(name), name, Value(), 0);
        FunctionObject* g = vm.newNative(snapMethodGet);
        g->data = Value(vm.newNative(m.fn));
        FunctionObject* s = vm.newNative(snapMethodSet);
        s->data = Value(name);
        p.getter = g;
        p.setter = s;
    }
    vm.defineMethod(vm.clipProto, QStringLiteral("getTextSnapshot"), clipGetTextSnapshot);
}

} // namespace

Object* newTextFormatObject(Vm& vm, const TextFormatPatch& p) { return newTextFormat(vm, p); }
bool isTextFormatObject(Object* o) { return formatData(o) != nullptr; }
TextFormatPatch textFormatPatchOf(Vm& vm, Object* o) { return patchOf(vm, o); }

bool textFieldGet(Vm& vm, DisplayClip& clip, EditTextObject& field, const QString& name, Value& out) {
    // Version 5 movies see text fields only through their variables.
    if (vm.version() < 6) return false;
    if (vm.namesEqual(name, QStringLiteral("_listeners")) && !clip.find(vm.key(name))) {
        // Every field is its own first listener.
        ArrayObject* list = vm.newArray({Value(static_cast<Object*>(&clip))});
        vm.defineValue(&clip, name, Value(list), kDontEnum);
        out = Value(list);
        return true;
    }
    const FieldProp* p = findProp(vm, name);
    if (!p) return false;
    out = p->get(vm, field);
    return true;
}

bool textFieldSet(Vm& vm, DisplayClip& clip, EditTextObject& field, const QString& name, const Value& v) {
    if (vm.version() < 6) return false;
    const FieldProp* p = findProp(vm, name);
    if (!p) return false;
    setFieldProp(vm, clip, field, *p, v);
    return true;
}

void installText(Vm& vm, ScriptEngine& engine) {
    (void)engine;
    installTextFormat(vm);
    installTextSnapshot(vm);

    Object* proto = vm.textFieldProto;
    FunctionObject* ctor = vm.defineClass(QStringLiteral("TextField"), textFieldCtor, textFieldCtor, proto);
    installStyleSheet(vm, ctor);
    for (size_t i = 0; i < std::size(kFieldProps); ++i) {
        QString name = QString::fromLatin1(kFieldProps[i].name);
        Property& p = proto->define(vm.key(name), name, Value(), kVersion6);
        if (i < kPrototypeOnlyProps) continue;
        FunctionObject* g = vm.newNative(protoGet);
        g->data = Value(double(i));
        FunctionObject* s = vm.newNative(protoSet);
        s->data = Value(double(i));
        p.getter = g;
        p.setter = s;
    }
    struct { const char* name; NativeFn fn; } methods[] = {
        {"replaceSel", tfReplaceSel}, {"getTextFormat", tfGetTextFormat}, {"setTextFormat", tfSetTextFormat},
        {"removeTextField", tfRemoveTextField}, {"getNewTextFormat", tfGetNewTextFormat},
        {"setNewTextFormat", tfSetNewTextFormat},
    };
    for (auto& m : methods) vm.defineMethod(proto, QString::fromLatin1(m.name), m.fn, kHidden | kVersion6);
    vm.defineMethod(proto, QStringLiteral("replaceText"), tfReplaceText, kHidden | kVersion7);
    vm.defineMethod(ctor, QStringLiteral("getFontList"), tfGetFontList, kHidden | kVersion6);
    // Fields broadcast onChanged and onScroller to their listeners.
    Value bc = broadcasterClass(vm);
    for (const char* name : {"addListener", "removeListener", "broadcastMessage"})
        vm.defineValue(proto, QString::fromLatin1(name), vm.getMember(bc, QString::fromLatin1(name)), kHidden);
}

} // namespace swf::avm1::builtins
