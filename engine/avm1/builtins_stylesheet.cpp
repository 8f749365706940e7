// TextField.StyleSheet: CSS text parsed into style objects, each turned into
// a TextFormat by `transform`; a field with a style sheet formats its HTML
// with them.
#include "engine/avm1/builtins.h"
#include "engine/avm1/net.h"
#include "engine/avm1/text_field.h"
#include "engine/display/edit_text.h"

#include <cmath>
#include <optional>

namespace swf::avm1::builtins {
namespace {

using namespace prop;

// ---- CSS text -------------------------------------------------------------------------------

using CssProperties = std::vector<std::pair<QString, QString>>;
struct CssRule {
    QString selector;
    CssProperties properties;
};

// "font-size" -> "fontSize": a dash goes and the character after it is upper-cased.
QString cssPropertyName(const QString& name) {
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] != u'-' || i + 1 == name.size()) out += name[i]; // a dash at the end stays
        else out += name[++i].toUpper();
    }
    return out;
}

// The rules of a style sheet, or nothing when the text is malformed. Flash's
// reader is loose: a property name runs to its colon (and may hold ';' or
// '}'), a value runs to ';' or '}', and a block left open at the end counts
// as closed; but a selector or name with a space inside, a name without a
// colon, a value without its end or a block of only spaces fails the whole
// text.
std::optional<std::vector<CssRule>> parseCss(const QString& css) {
    std::vector<CssRule> rules;
    qsizetype i = 0;
    const qsizetype n = css.size();
    auto skipSpace = [&] {
        while (i < n && css[i].isSpace()) ++i;
    };
    for (;;) {
        skipSpace();
        if (i == n) return rules;
        // Selectors, separated by commas (empty ones are skipped), up to the block.
        std::vector<QString> selectors;
        for (;;) {
            skipSpace();
            if (i == n) return std::nullopt;
            if (css[i] == u',') {
                ++i;
                continue;
            }
            if (css[i] == u'{' && !selectors.empty()) break;
            qsizetype start = i;
            while (i < n && !css[i].isSpace() && css[i] != u'{' && css[i] != u',') ++i;
            if (i == start) return std::nullopt;
            selectors.push_back(css.mid(start, i - start));
            skipSpace();
            if (i == n || (css[i] != u'{' && css[i] != u',')) return std::nullopt;
        }
        ++i; // '{'
        CssProperties props;
        // "{}" is an empty block, but "{ }" wants a property.
        const bool empty = i < n && css[i] == u'}';
        for (bool first = true;; first = false) {
            skipSpace();
            if (i == n) break;
            if (css[i] == u'}' && (empty || !first)) {
                ++i;
                break;
            }
            qsizetype nameStart = i;
            while (i < n && !css[i].isSpace() && css[i] != u':') ++i;
            skipSpace();
            if (i == n || css[i] != u':') return std::nullopt;
            QString name = css.mid(nameStart, i - nameStart); // keeps the spaces before the colon
            ++i;
            skipSpace();
            qsizetype valueStart = i;
            while (i < n && css[i] != u';' && css[i] != u'}') ++i;
            if (i == n) return std::nullopt;
            QString value = css.mid(valueStart, i - valueStart);
            if (css[i] == u';') ++i;
            if (!name.isEmpty()) props.emplace_back(cssPropertyName(name), value);
        }
        for (QString& s : selectors) rules.push_back({std::move(s), props});
    }
}

// ---- The style sheet object ----------------------------------------------------------------

// The sheet keeps its styles in two plain members, as Flash does: `_css`
// (name -> style object) and `_styles` (name -> the TextFormat transform made).
Object* memberObject(Vm& vm, Object* self, const QString& name, bool create) {
    if (Object* o = vm.getMember(Value(self), name).asObject()) return o;
    if (!create) return nullptr;
    Object* o = vm.newObject();
    vm.setMember(self, name, Value(o));
    return o;
}

// A shallow copy of a style object; anything else is null.
Value copyStyle(Vm& vm, const Value& style) {
    Object* src = style.asObject();
    if (!src) return Value::null();
    Object* copy = vm.newObject();
    for (const QString& key : vm.enumerableKeys(src)) vm.setMember(copy, key, vm.getMember(style, key));
    return Value(copy);
}

// Stores a style and what `transform` (the script may replace it) makes of it.
void storeStyle(Vm& vm, Object* self, const QString& name, const Value& style) {
    Object* css = memberObject(vm, self, QStringLiteral("_css"), true);
    Object* styles = memberObject(vm, self, QStringLiteral("_styles"), true);
    vm.setMember(css, name, style);
    Value args[] = {style};
    Value format = vm.callMethod(Value(self), QStringLiteral("transform"), args);
    if (!vm.hasException()) vm.setMember(styles, name, format);
}

Value sheetCtor(Vm& vm, CallArgs& a) { return Value(newInstance(vm, a)); }

Value sheetSetStyle(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    storeStyle(vm, self, vm.toString(a.at(0)), copyStyle(vm, a.at(1)));
    return Value();
}

Value sheetGetStyle(Vm& vm, CallArgs& a) {
    Object* css = a.thisObject() ? memberObject(vm, a.thisObject(), QStringLiteral("_css"), false) : nullptr;
    if (!css) return Value::null();
    return copyStyle(vm, vm.getMember(Value(css), vm.toString(a.at(0))));
}

Value sheetGetStyleNames(Vm& vm, CallArgs& a) {
    std::vector<Value> names;
    if (Object* css = a.thisObject() ? memberObject(vm, a.thisObject(), QStringLiteral("_css"), false) : nullptr)
        for (const QString& key : vm.enumerableKeys(css)) names.push_back(Value(key));
    return Value(vm.newArray(std::move(names)));
}

Value sheetClear(Vm& vm, CallArgs& a) {
    if (Object* self = a.thisObject()) {
        vm.setMember(self, QStringLiteral("_css"), Value(vm.newObject()));
        vm.setMember(self, QStringLiteral("_styles"), Value(vm.newObject()));
    }
    return Value();
}

// parse and parseCSS: the rules replace styles of the same name; a malformed
// text changes nothing.
Value sheetParse(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value(false);
    auto rules = parseCss(vm.toString(a.at(0)));
    if (!rules) return Value(false);
    for (const CssRule& rule : *rules) {
        Object* style = vm.newObject();
        for (const auto& [name, value] : rule.properties) vm.setMember(style, name, Value(value));
        storeStyle(vm, self, rule.selector, Value(style));
        if (vm.hasException()) break;
    }
    return Value(true);
}

Value sheetLoad(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self || a.size() < 1) return Value(false);
    return Value(loadForOnData(vm, self, vm.toString(a.at(0))));
}

// The loaded text goes through parse (a script may replace it); onLoad hears whether it was good.
Value sheetOnData(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    Value ok(false);
    if (!a.at(0).isUndefined()) {
        Value args[] = {a.at(0)};
        ok = Value(vm.toBool(vm.callMethod(Value(self), QStringLiteral("parse"), args)));
        if (vm.hasException()) return Value();
    }
    Value args[] = {ok};
    vm.callMethod(Value(self), QStringLiteral("onLoad"), args);
    return Value();
}

// ---- transform: a style object as a TextFormat ------------------------------------------------

// parseInt of the value's text in base 10: NaN when no digits start it.
double cssInteger(Vm& vm, const Value& v) {
    QString s = vm.toString(v);
    qsizetype i = 0;
    while (i < s.size() && s[i].isSpace()) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
    double n = 0;
    bool any = false;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        n = n * 10 + (s[i].unicode() - u'0');
        any = true;
    }
    if (!any) return std::nan("");
    return negative ? -n : n;
}

std::optional<uint32_t> cssColor(const Value& v) {
    if (!v.isString()) return std::nullopt;
    QString s = v.asString();
    if (s.size() != 7 || s[0] != u'#') return std::nullopt;
    uint32_t c = 0;
    for (qsizetype i = 1; i < s.size(); ++i) {
        char16_t ch = s[i].unicode();
        int digit = ch >= u'0' && ch <= u'9' ? ch - u'0'
                    : ch >= u'a' && ch <= u'f' ? ch - u'a' + 10
                    : ch >= u'A' && ch <= u'F' ? ch - u'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        c = c * 16 + uint32_t(digit);
    }
    return c;
}

// "  Font1 , Font2" -> "Font1 ,Font2": each name loses its leading spaces, empty names go.
QString cssFontList(const QString& s) {
    QStringList names;
    for (const QString& part : s.split(u',')) {
        qsizetype i = 0;
        while (i < part.size() && part[i].isSpace()) ++i;
        if (i < part.size()) names.push_back(part.mid(i));
    }
    return names.join(u',');
}

// parseColor: "#RRGGBB" exactly (its text, toString asked) as a number, else null.
Value sheetParseColor(Vm& vm, CallArgs& a) {
    const std::optional<uint32_t> c = cssColor(Value(vm.toString(a.at(0))));
    return c ? Value(double(*c)) : Value::null();
}

// parseCSSFontFamily: the generic CSS families become the device font names
// (whatever their case); any other text comes back as it was given.
Value sheetParseFontFamily(Vm& vm, CallArgs& a) {
    const Value& given = a.at(0);
    const QString text = vm.toString(given);
    const std::pair<const char*, const char*> generic[] = {
        {"mono", "_typewriter"}, {"sans-serif", "_sans"}, {"serif", "_serif"}};
    for (auto [css, device] : generic)
        if (text.compare(QLatin1String(css), Qt::CaseInsensitive) == 0) return Value(QString::fromLatin1(device));
    return given.asObject() ? Value(text) : given;
}

Value sheetTransform(Vm& vm, CallArgs& a) {
    const Value& style = a.at(0);
    if (style.isUndefined() || style.isNull()) return Value::null();
    auto get = [&](const char* name) { return vm.getMember(style, QString::fromLatin1(name)); };
    auto isText = [](const Value& v, const char* text) { return v.isString() && v.asString() == QLatin1String(text); };
    TextFormatPatch p;
    p.color = cssColor(get("color"));
    if (Value v = get("fontFamily"); vm.toBool(v)) p.font = cssFontList(vm.toString(v)).toStdString();
    if (Value v = get("fontSize"); vm.toBool(v)) {
        double size = cssInteger(vm, v);
        if (size > 0) p.size = size;
    }
    Value fontStyle = get("fontStyle");
    if (isText(fontStyle, "normal")) p.italic = false;
    else if (isText(fontStyle, "italic")) p.italic = true;
    Value fontWeight = get("fontWeight");
    if (isText(fontWeight, "normal")) p.bold = false;
    else if (isText(fontWeight, "bold")) p.bold = true;
    Value kerning = get("kerning");
    double kern = vm.toBool(kerning) ? cssInteger(vm, kerning) : 0;
    p.kerning = isText(kerning, "true") || (std::isfinite(kern) && kern != 0);
    // Numbers that are not numbers count as 0; margins are never negative.
    auto number = [&](const char* name, std::optional<double>& out, bool nanIsZero, bool positive) {
        Value v = get(name);
        if (!vm.toBool(v)) return;
        double d = cssInteger(vm, v);
        if (nanIsZero && std::isnan(d)) d = 0;
        if (positive && d < 0) d = 0;
        out = d;
    };
    number("leading", p.leading, true, false);
    number("letterSpacing", p.letterSpacing, false, false);
    number("marginLeft", p.leftMargin, true, true);
    number("marginRight", p.rightMargin, true, true);
    number("textIndent", p.indent, true, false);
    if (Value v = get("textAlign"); v.isString()) {
        QString align = v.asString().toLower();
        if (align == u"left") p.align = TextAlign::Left;
        else if (align == u"center") p.align = TextAlign::Center;
        else if (align == u"right") p.align = TextAlign::Right;
        else if (align == u"justify") p.align = TextAlign::Justify;
    }
    Value decoration = get("textDecoration");
    if (isText(decoration, "none")) p.underline = false;
    else if (isText(decoration, "underline")) p.underline = true;
    Object* format = newTextFormatObject(vm, p);
    Value display = get("display");
    for (const char* d : {"inline", "block", "none"})
        if (isText(display, d)) vm.setMember(format, QStringLiteral("display"), display);
    return Value(format);
}

} // namespace

std::unordered_map<QString, TextFormatPatch> styleSheetFormats(Vm& vm, const Value& sheet) {
    std::unordered_map<QString, TextFormatPatch> out;
    Object* self = sheet.asObject();
    Object* styles = self ? vm.getMember(sheet, QStringLiteral("_styles")).asObject() : nullptr;
    if (!styles) return out;
    for (const QString& name : vm.enumerableKeys(styles)) {
        Object* format = vm.getMember(Value(styles), name).asObject();
        if (isTextFormatObject(format)) out.emplace(name.toLower(), textFormatPatchOf(vm, format));
    }
    return out;
}

void installStyleSheet(Vm& vm, Object* textFieldCtor) {
    Object* proto = vm.newObject();
    FunctionObject* ctor = vm.newNative(sheetCtor, proto);
    ctor->constructor = sheetCtor;
    vm.defineValue(textFieldCtor, QStringLiteral("StyleSheet"), Value(ctor), kHidden | kVersion7);
    struct { const char* name; NativeFn fn; } methods[] = {
        {"clear", sheetClear}, {"getStyle", sheetGetStyle}, {"getStyleNames", sheetGetStyleNames},
        {"load", sheetLoad}, {"parseCSS", sheetParse}, {"setStyle", sheetSetStyle}, {"transform", sheetTransform},
    };
    for (auto& m : methods) vm.defineMethod(proto, QString::fromLatin1(m.name), m.fn, kHidden | kReadOnly);
    vm.defineMethod(proto, QStringLiteral("parse"), sheetParse, kHidden);
    vm.defineMethod(proto, QStringLiteral("parseColor"), sheetParseColor, kHidden);
    vm.defineMethod(proto, QStringLiteral("parseCSSFontFamily"), sheetParseFontFamily, kHidden);
    vm.defineMethod(proto, QStringLiteral("onData"), sheetOnData, kHidden);
}

} // namespace swf::avm1::builtins
