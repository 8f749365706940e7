#include "engine/avm1/focus.h"

#include "engine/avm1/display_clip.h"
#include "engine/avm1/script_engine.h"
#include "engine/display/button.h"
#include "engine/display/edit_text.h"
#include "engine/display/movie_clip.h"
#include "engine/display/player.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

namespace swf::avm1 {

namespace {

// Flash key codes of the keys focus and editing react to.
constexpr int kKeyBackspace = 8, kKeyTab = 9, kKeyEnter = 13, kKeySpace = 32, kKeyEnd = 35, kKeyHome = 36,
              kKeyLeft = 37, kKeyRight = 39, kKeyDelete = 46;

bool isText(const DisplayObject* o) { return o && o->type() == DisplayObject::Type::EditText; }
bool isButton(const DisplayObject* o) { return o && o->type() == DisplayObject::Type::Button; }
bool isClip(const DisplayObject* o) { return o && o->type() == DisplayObject::Type::MovieClip; }

} // namespace

DisplayObject* FocusTracker::focused() const {
    if (!m_focus || !m_engine.player().isLoaded()) return nullptr;
    return m_engine.player().runtime().find(m_focus);
}

Value FocusTracker::member(DisplayClip& obj, const char* name) {
    return m_engine.vm().getMember(Value(static_cast<Object*>(&obj)), QString::fromLatin1(name));
}

Value FocusTracker::member(DisplayObject& obj, const char* name) {
    DisplayClip* c = m_engine.wrap(&obj);
    return c ? member(*c, name) : Value();
}

bool FocusTracker::canFocus(DisplayObject* obj) {
    if (!obj) return true;
    switch (obj->type()) {
    case DisplayObject::Type::EditText: return true;
    case DisplayObject::Type::Button: return true;
    case DisplayObject::Type::MovieClip: {
        // A level's main timeline never takes the focus.
        DisplayClip* c = obj->parent() ? m_engine.wrap(obj) : nullptr;
        if (!c) return false;
        if (m_engine.vm().toBool(member(*c, "focusEnabled"))) return true;
        // The getter may have removed the clip.
        MovieClip* mc = c->movieClip();
        return mc && m_engine.clipIsButton(*mc);
    }
    default: return false;
    }
}

void FocusTracker::queueHighlight(DisplayObject* obj, bool over) {
    if (!obj || isText(obj)) return;
    if (isButton(obj)) {
        auto& b = static_cast<ButtonObject&>(*obj);
        ButtonEvent ev = over ? ButtonEvent::RollOver : ButtonEvent::RollOut;
        b.setState(over ? ButtonObject::State::Over : ButtonObject::State::Up);
        auto actions = b.actionsFor(ev);
        m_engine.buttonEvent(b, ev, actions);
    } else if (isClip(obj)) {
        m_engine.clipEvent(*obj, over ? ClipEvent::RollOver : ClipEvent::RollOut);
    }
}

void FocusTracker::setFocus(DisplayObject* next, bool highlight) {
    DisplayObject* old = focused();
    if (highlight) {
        queueHighlight(old, false);
        queueHighlight(next, true);
    }
    m_focusRectShown = true;
    if (old == next) return;
    m_focus = next ? next->serial() : 0;
    m_hasSelection = false;
    if (old) old->runtime().changed = true;
    if (next) next->runtime().changed = true;

    Vm& vm = m_engine.vm();
    auto valueOf = [&](DisplayObject* o) {
        DisplayClip* c = o ? m_engine.wrap(o) : nullptr;
        return c ? Value(static_cast<Object*>(c)) : Value(static_cast<Object*>(nullptr));
    };
    Value oldV = valueOf(old), newV = valueOf(next);
    auto callHandler = [&](const Value& target, const char* name, const Value& arg) {
        Value fn = vm.getMember(target, QString::fromLatin1(name));
        if (!vm.isCallable(fn)) return;
        vm.call(fn, target, std::span<const Value>(&arg, 1));
        vm.takeException();
    };
    if (old) callHandler(oldV, "onKillFocus", newV);
    if (next) callHandler(newV, "onSetFocus", oldV);
    Value selection = vm.getMember(Value(vm.global()), QStringLiteral("Selection"));
    if (selection.asObject()) {
        Value args[] = {Value(QStringLiteral("onSetFocus")), oldV, newV};
        Value fn = vm.getMember(selection, QStringLiteral("broadcastMessage"));
        if (vm.isCallable(fn)) vm.call(fn, selection, args);
        vm.takeException();
    }
}

// ---- tab order ---------------------------------------------------------------------------

bool FocusTracker::tabEnabled(DisplayClip& c) {
    Value v = member(c, "tabEnabled");
    if (!v.isUndefined()) return m_engine.vm().toBool(v);
    DisplayObject* obj = c.object();
    switch (obj ? obj->type() : DisplayObject::Type::Shape) {
    case DisplayObject::Type::Button: return static_cast<ButtonObject&>(*obj).enabled();
    case DisplayObject::Type::EditText: return isEditable(static_cast<EditTextObject&>(*obj));
    case DisplayObject::Type::MovieClip: return m_engine.clipIsButton(static_cast<MovieClip&>(*obj));
    default: return false;
    }
}

void FocusTracker::collectTabStops(DisplayClip& clip, std::vector<DisplayClip*>& out) {
    MovieClip* mc = clip.movieClip();
    if (!mc) return;
    std::vector<DisplayClip*> children;
    for (const auto& [depth, child] : mc->children())
        if (DisplayClip* c = child->visible() ? m_engine.wrap(child.get()) : nullptr) children.push_back(c);
    for (DisplayClip* c : children) {
        if (!c->object() || !c->object()->visible()) continue;
        if (tabEnabled(*c)) out.push_back(c);
        if (!c->movieClip()) continue;
        Value tabChildren = member(*c, "tabChildren");
        if (tabChildren.isUndefined() || m_engine.vm().toBool(tabChildren)) collectTabStops(*c, out);
    }
}

std::vector<DisplayObject*> FocusTracker::tabOrder() {
    std::vector<DisplayObject*> stops;
    MovieClip* root = m_engine.player().root();
    DisplayClip* rootClip = root && root->visible() ? m_engine.wrap(root) : nullptr;
    if (!rootClip) return stops;
    std::vector<DisplayClip*> found;
    collectTabStops(*rootClip, found);
    // With any tabIndex set, only the indexed objects take part, by index;
    // equal indices keep the order of the display list.
    std::vector<std::pair<double, DisplayClip*>> indexed;
    for (DisplayClip* c : found)
        if (Value v = member(*c, "tabIndex"); v.isNumber()) indexed.push_back({v.asNumber(), c});
    // The last script has run: what is still there takes part.
    auto live = [&](DisplayClip* c) {
        if (DisplayObject* o = c->object()) stops.push_back(o);
    };
    if (!indexed.empty()) {
        std::stable_sort(indexed.begin(), indexed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [index, c] : indexed) live(c);
        return stops;
    }
    for (DisplayClip* c : found) live(c);
    // Otherwise by position on the stage: rows from the top, left to right.
    std::vector<std::pair<Point, DisplayObject*>> placed;
    for (DisplayObject* o : stops) {
        Rect r = transformRect(o->concatenatedMatrix(), o->localBounds());
        placed.push_back({Point{double(r.xMin), double(r.yMin)}, o});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
        return a.first.y != b.first.y ? a.first.y < b.first.y : a.first.x < b.first.x;
    });
    stops.clear();
    for (auto& [p, o] : placed) stops.push_back(o);
    return stops;
}

DisplayObject* FocusTracker::nextInTabOrder(bool backwards) {
    std::vector<DisplayObject*> order = tabOrder();
    if (order.empty()) return nullptr;
    auto it = std::find(order.begin(), order.end(), focused());
    if (it == order.end()) return backwards ? order.back() : order.front();
    size_t i = size_t(it - order.begin());
    size_t n = order.size();
    return order[backwards ? (i + n - 1) % n : (i + 1) % n];
}

Value FocusTracker::tabIndex(const DisplayObject& obj) const {
    auto it = m_tabIndex.find(obj.serial());
    return it == m_tabIndex.end() ? Value() : it->second;
}

// Fields keep tabIndex as an unsigned 32-bit number, clips and buttons as a
// signed one (NaN and infinities become the smallest); undefined clears it.
void FocusTracker::setTabIndex(const DisplayObject& obj, const Value& v) {
    if (v.isUndefined()) {
        m_tabIndex.erase(obj.serial());
        return;
    }
    Vm& vm = m_engine.vm();
    // The conversions may run script that removes the object: only its serial is kept.
    const uint64_t serial = obj.serial();
    if (isText(&obj)) m_tabIndex[serial] = Value(double(vm.toUint32(v)));
    else if (double d = vm.toNumber(v); std::isfinite(d)) m_tabIndex[serial] = Value(vm.toInt32(Value(d)));
    else m_tabIndex[serial] = Value(std::numeric_limits<int32_t>::min());
}

// ---- selection ---------------------------------------------------------------------------

FocusTracker::Range FocusTracker::selection() const {
    DisplayObject* f = focused();
    if (!isText(f) || !m_hasSelection) return Range{};
    auto* field = static_cast<EditTextObject*>(f);
    int begin = field->selectionBegin(), end = field->selectionEnd();
    return Range{begin, end, m_caretAtBegin && begin != end ? begin : end};
}

void FocusTracker::setSelection(int begin, int end) {
    DisplayObject* f = focused();
    if (!isText(f)) return;
    auto* field = static_cast<EditTextObject*>(f);
    int length = field->length();
    begin = std::clamp(begin, 0, length);
    end = std::clamp(end, 0, length);
    field->setSelection(begin, end);
    m_hasSelection = true;
    m_caretAtBegin = end < begin;
}

bool FocusTracker::isEditable(EditTextObject& field) { return field.options().editable; }

bool FocusTracker::isSelectable(EditTextObject& field) { return field.options().selectable; }

void FocusTracker::replaceRange(EditTextObject& field, int begin, int end, const QString& text) {
    field.replaceText(begin, end, text);
    int caret = std::min(begin + int(text.size()), field.length());
    field.setSelection(caret, caret);
    m_hasSelection = true;
    m_caretAtBegin = false;
    DisplayClip* self = m_engine.wrap(&field);
    Vm& vm = m_engine.vm();
    // The bound variable follows the field at once.
    if (!field.variableName().empty()) {
        if (DisplayClip* scope = m_engine.wrap(field.parent())) {
            QString var = QString::fromStdString(field.variableName());
            QString value = QString::fromStdString(field.text());
            int cut = std::max(var.lastIndexOf(u':'), var.lastIndexOf(u'.'));
            Object* target = cut >= 0 ? vm.resolveTarget(scope, var.left(cut)) : scope;
            if (target) vm.setMember(target, cut >= 0 ? var.mid(cut + 1) : var, Value(value));
            if (self) self->boundText = value;
        }
    }
    if (!self) return;
    // onChanged goes to the field and its listeners, after the key's own events.
    m_engine.queueTask(self, [this, self] {
        Vm& v = m_engine.vm();
        Value me(static_cast<Object*>(self));
        std::vector<Value> targets{me};
        if (auto* list = dynamic_cast<ArrayObject*>(v.getMember(me, QStringLiteral("_listeners")).asObject()))
            for (const Value& l : list->items)
                if (l.asObject() != self) targets.push_back(l);
        for (const Value& t : targets) {
            Value fn = v.getMember(t, QStringLiteral("onChanged"));
            if (v.isCallable(fn)) v.call(fn, t, std::span<const Value>(&me, 1));
            v.takeException();
        }
    });
}

// ---- input -------------------------------------------------------------------------------

void FocusTracker::queueKeyMethod(const char* method) {
    DisplayObject* f = focused();
    if (!f || isText(f)) return;
    DisplayClip* c = m_engine.wrap(f);
    if (!c) return;
    QString name = QString::fromLatin1(method);
    m_engine.queueTask(c, [this, c, name] {
        if (c->removed()) return;
        Vm& vm = m_engine.vm();
        Value self(static_cast<Object*>(c));
        Value fn = vm.getMember(self, name);
        if (vm.isCallable(fn)) vm.call(fn, self, {});
        vm.takeException();
    });
}

void FocusTracker::keyDown(int code) {
    (void)code;
    queueKeyMethod("onKeyDown");
}

void FocusTracker::keyUp(int code) {
    (void)code;
    queueKeyMethod("onKeyUp");
}

void FocusTracker::pressButton() {
    DisplayObject* f = focused();
    if (!isButton(f)) return;
    auto& b = static_cast<ButtonObject&>(*f);
    if (!b.enabled()) return;
    for (ButtonEvent ev : {ButtonEvent::Press, ButtonEvent::Release}) {
        b.setState(ev == ButtonEvent::Press ? ButtonObject::State::Down : ButtonObject::State::Over);
        auto actions = b.actionsFor(ev);
        m_engine.buttonEvent(b, ev, actions);
    }
}

void FocusTracker::keyDownDone(int code, bool shiftDown, bool claimed) {
    if (claimed) return;
    if (code == kKeyTab) {
        // The next object is chosen after the key's handlers ran (they may
        // hide or move objects); its highlight events run before the handlers.
        m_engine.queueTask(nullptr, [this, shiftDown] {
            DisplayObject* next = nextInTabOrder(shiftDown);
            if (!next || next == focused()) return;
            queueHighlight(focused(), false);
            queueHighlight(next, true);
            uint64_t serial = next->serial();
            m_engine.queueTask(nullptr, [this, serial] {
                if (DisplayObject* n = m_engine.player().runtime().find(serial)) setFocus(n, false);
            });
        });
        return;
    }
    DisplayObject* f = focused();
    if (isButton(f) && (code == kKeyEnter || code == kKeySpace)) {
        pressButton();
        return;
    }
    if (isText(f)) editKey(static_cast<EditTextObject&>(*f), code);
}

void FocusTracker::editKey(EditTextObject& field, int code) {
    int length = field.length();
    Range r = selection();
    if (r.begin < 0) r = Range{length, length, length};
    auto moveTo = [&](int caret) {
        field.setSelection(caret, caret);
        m_hasSelection = true;
        m_caretAtBegin = false;
    };
    switch (code) {
    case kKeyLeft: moveTo(r.begin != r.end ? r.begin : std::max(0, r.caret - 1)); return;
    case kKeyRight: moveTo(r.begin != r.end ? r.end : std::min(length, r.caret + 1)); return;
    case kKeyHome: moveTo(0); return;
    case kKeyEnd: moveTo(length); return;
    default: break;
    }
    if (!isEditable(field)) return;
    if (code == kKeyBackspace || code == kKeyDelete) {
        if (r.begin == r.end) {
            if (code == kKeyBackspace && r.begin > 0) --r.begin;
            else if (code == kKeyDelete && r.end < length) ++r.end;
            else return;
        }
        replaceRange(field, r.begin, r.end, QString());
    } else if (code == kKeyEnter && field.state().multiline) {
        textInput('\r');
    }
}

void FocusTracker::textInput(uint32_t codepoint) {
    DisplayObject* f = focused();
    if (!isText(f)) return;
    auto& field = static_cast<EditTextObject&>(*f);
    // Control characters are keys (Tab, Backspace ...), not text; a line
    // break only goes into a multiline field.
    if (codepoint == '\r' || codepoint == '\n') {
        if (!field.state().multiline) return;
        codepoint = '\r';
    } else if (codepoint < 32 || codepoint == 127 || codepoint > 0x10FFFF) {
        return;
    }
    if (!isEditable(field)) return;
    int length = field.length();
    Range r = selection();
    if (r.begin < 0) r = Range{length, length, length};
    field.setSelection(r.begin, r.end);
    char32_t cp = char32_t(codepoint);
    QString typed = field.filterInput(QString::fromUcs4(&cp, 1));
    if (typed.isEmpty()) return;
    replaceRange(field, r.begin, r.end, typed);
}

void FocusTracker::pointerPressed(Point stage) {
    MovieClip* root = m_engine.player().root();
    if (!root) return;
    // The topmost text field under the pointer, through every visible clip.
    DisplayObject* hit = nullptr;
    std::function<void(const MovieClip&)> visit = [&](const MovieClip& clip) {
        for (auto it = clip.children().rbegin(); it != clip.children().rend() && !hit; ++it) {
            DisplayObject& c = *it->second;
            if (!c.visible() || c.clipDepth() > 0) continue;
            if (c.type() == DisplayObject::Type::MovieClip) {
                visit(static_cast<const MovieClip&>(c));
            } else if (c.type() == DisplayObject::Type::EditText) {
                Point local = inverted(c.concatenatedMatrix()).map(stage);
                if (c.hitTest(local)) hit = &c;
            }
        }
    };
    visit(*root);
    DisplayObject* next = nullptr;
    if (hit) {
        auto& field = static_cast<EditTextObject&>(*hit);
        // Only a selectable field takes the focus from the mouse, input or not.
        if (isSelectable(field)) next = hit;
    }
    // A click puts the caret at the character under the pointer.
    int caret = next ? static_cast<EditTextObject&>(*next).charIndexAt(inverted(next->concatenatedMatrix()).map(stage)) : -1;
    if (next == focused()) {
        if (next) setSelection(caret, caret);
        return;
    }
    uint64_t serial = next ? next->serial() : 0;
    m_engine.queueTask(nullptr, [this, serial, caret] {
        DisplayObject* n = serial ? m_engine.player().runtime().find(serial) : nullptr;
        if (serial && !n) return;
        setFocus(n, false);
        m_focusRectShown = false;
        if (n) setSelection(caret, caret);
    });
}

void FocusTracker::objectRemoved(DisplayObject& obj) {
    m_tabIndex.erase(obj.serial());
    m_focusRect.erase(obj.serial());
    DisplayObject* f = focused();
    for (DisplayObject* p = f; p; p = p->parent())
        if (p == &obj) {
            setFocus(nullptr, false);
            return;
        }
}

void FocusTracker::clear() {
    m_focus = 0;
    m_hasSelection = false;
    m_tabIndex.clear();
    m_focusRect.clear();
    m_focusRectShown = false;
}

// ---- focus rectangle ---------------------------------------------------------------------

namespace {
bool holdsGlobalFocusRect(const DisplayObject& obj, Player& player) { return &obj == player.root(); }
} // namespace

Value FocusTracker::focusRect(const DisplayObject& obj) const {
    if (holdsGlobalFocusRect(obj, m_engine.player())) return Value(m_globalFocusRect);
    auto it = m_focusRect.find(obj.serial());
    return it == m_focusRect.end() ? Value(static_cast<Object*>(nullptr)) : Value(it->second);
}

void FocusTracker::setFocusRect(const DisplayObject& obj, const Value& v) {
    Vm& vm = m_engine.vm();
    if (!holdsGlobalFocusRect(obj, m_engine.player())) {
        if (v.isNullish()) m_focusRect.erase(obj.serial());
        else m_focusRect[obj.serial()] = vm.toBool(v);
        return;
    }
    // The movie-wide switch ignores null and undefined, is off for objects
    // and otherwise off only for a value that is the number 0 (NaN is on).
    if (v.isNullish()) return;
    if (v.asObject()) m_globalFocusRect = false;
    else m_globalFocusRect = vm.toNumber(v) != 0;
}

std::optional<Rect> FocusTracker::highlightBounds() const {
    DisplayObject* f = focused();
    if (!f || !m_focusRectShown || isText(f)) return std::nullopt;
    for (const DisplayObject* p = f; p; p = p->parent())
        if (!p->visible()) return std::nullopt;
    auto own = m_focusRect.find(f->serial());
    if (!(own == m_focusRect.end() ? m_globalFocusRect : own->second)) return std::nullopt;
    Rect r = transformRect(f->concatenatedMatrix(), f->localBounds());
    if (r.empty()) return std::nullopt;
    return r;
}

} // namespace swf::avm1
