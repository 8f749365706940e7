#pragma once
// Keyboard focus of one movie: which clip, button or text field holds it, the
// handlers a change runs (onKillFocus, onSetFocus, Selection listeners), the
// tab order, keys sent to the focused object, and typing into a focused
// input field with its selection, caret, maxChars, restrict and bound
// variable.
#include "engine/avm1/value.h"
#include "engine/swf/types.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace swf {
class DisplayObject;
class EditTextObject;
class MovieClip;
} // namespace swf

namespace swf::avm1 {

class DisplayClip;
class ScriptEngine;
class Object;

class FocusTracker {
public:
    explicit FocusTracker(ScriptEngine& engine) : m_engine(engine) {}

    // The object holding the focus, or null.
    DisplayObject* focused() const;
    // Whether a script may give the focus to `obj` (Selection.setFocus).
    bool canFocus(DisplayObject* obj);
    // Moves the focus (null removes it) and runs onKillFocus, onSetFocus and
    // the Selection listeners at once. With `highlight`, a button or clip
    // losing or gaining the focus gets queued roll-out/roll-over events, as
    // a keyboard highlight does.
    void setFocus(DisplayObject* obj, bool highlight = true);
    // The next (or previous) object in tab order after the focused one.
    DisplayObject* nextInTabOrder(bool backwards);
    // The objects Tab visits, in order.
    std::vector<DisplayObject*> tabOrder();

    // Selection of the focused text field; -1 everywhere when none.
    struct Range {
        int begin = -1, end = -1, caret = -1;
    };
    Range selection() const;
    // Sets the selection of the focused text field (indices clamped to its text).
    void setSelection(int begin, int end);

    // ---- input (called by the script engine) -------------------------------------
    // Queues onKeyDown/onKeyUp of the focused button or clip.
    void keyDown(int code);
    void keyUp(int code);
    // After the buttons' key conditions saw the key (`claimed` if one matched):
    // Tab moves the focus, Enter or Space presses a focused button, editing
    // keys act on a focused input field.
    void keyDownDone(int code, bool shiftDown, bool claimed);
    // A character typed into the focused input field.
    void textInput(uint32_t codepoint);
    // The left button went down at a stage point (twips): a selectable text
    // field there takes the focus; anywhere else the focus goes.
    void pointerPressed(Point stage);
    // `obj` leaves the display list: the focus leaves it (and its children).
    void objectRemoved(DisplayObject& obj);
    void clear();

    // tabIndex of an object (undefined when never set); setting converts the value.
    Value tabIndex(const DisplayObject& obj) const;
    void setTabIndex(const DisplayObject& obj, const Value& v);

    // _focusrect: the root of _level0 holds the movie-wide switch; other
    // clips, buttons and fields hold their own (null: follow the movie-wide one).
    Value focusRect(const DisplayObject& obj) const;
    void setFocusRect(const DisplayObject& obj, const Value& v);
    // The stage rectangle (twips) of the yellow frame around the object the
    // keyboard or Selection.setFocus gave the focus to; none when not shown.
    std::optional<Rect> highlightBounds() const;

    // Whether a field takes typing ("input") and may be selected.
    bool isEditable(EditTextObject& field);
    bool isSelectable(EditTextObject& field);

private:
    void queueHighlight(DisplayObject* obj, bool over);
    void queueKeyMethod(const char* method);
    void pressButton();
    void editKey(EditTextObject& field, int code);
    // Replaces [begin, end) of the field by `text`, puts the caret after it,
    // updates the bound variable and queues onChanged.
    void replaceRange(EditTextObject& field, int begin, int end, const QString& text);
    // The tab order walk runs script (tabEnabled, tabChildren and tabIndex
    // may be getters) that may remove objects: it holds script objects,
    // which outlive removal, and looks the display objects up again.
    void collectTabStops(DisplayClip& clip, std::vector<DisplayClip*>& out);
    bool tabEnabled(DisplayClip& obj);
    Value member(DisplayClip& obj, const char* name);
    Value member(DisplayObject& obj, const char* name);

    ScriptEngine& m_engine;
    uint64_t m_focus = 0;        // serial of the focused object
    // The focused field's selection lives in the field; scripts see none
    // until one is set, and the caret may sit at either end.
    bool m_hasSelection = false;
    bool m_caretAtBegin = false;
    std::unordered_map<uint64_t, Value> m_tabIndex; // by object serial
    bool m_focusRectShown = false;  // the focus came from Tab or a script, not the mouse
    bool m_globalFocusRect = true;  // outlives a movie loaded into _level0
    std::unordered_map<uint64_t, bool> m_focusRect; // by object serial
};

} // namespace swf::avm1
