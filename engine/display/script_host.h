#pragma once
// Where the runtime hands ActionScript to the script engine. The Player owns
// one ScriptHost per movie, made by the factory a front end installed (the
// AVM1 virtual machine implements it); without one, the movie plays with its
// scripts ignored. This library never links a script engine itself. Every call happens on the thread that
// drives the Player, between or during frame steps, never while a display
// list is being walked for drawing.
#include "engine/swf/place_object.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <span>
#include <vector>

namespace swf {

class DisplayObject;
class MovieClip;
class ButtonObject;
class Player;

// Clip events, valued as the clip-action event bits of PlaceObject.
enum class ClipEvent : uint32_t {
    Load = clip_event::Load, EnterFrame = clip_event::EnterFrame, Unload = clip_event::Unload,
    MouseMove = clip_event::MouseMove, MouseDown = clip_event::MouseDown, MouseUp = clip_event::MouseUp,
    KeyDown = clip_event::KeyDown, KeyUp = clip_event::KeyUp, Data = clip_event::Data,
    Initialize = clip_event::Initialize, Press = clip_event::Press, Release = clip_event::Release,
    ReleaseOutside = clip_event::ReleaseOutside, RollOver = clip_event::RollOver,
    RollOut = clip_event::RollOut, DragOver = clip_event::DragOver, DragOut = clip_event::DragOut,
    KeyPress = clip_event::KeyPress, Construct = clip_event::Construct,
};

// Button transitions, with the DefineButton2 condition bits they match.
enum class ButtonEvent : uint16_t {
    RollOver = 0x0001,        // idle -> over up
    RollOut = 0x0002,         // over up -> idle
    Press = 0x0004,           // over up -> over down
    Release = 0x0008,         // over down -> over up
    DragOut = 0x0010,         // over down -> out down
    DragOver = 0x0020,        // out down -> over down
    ReleaseOutside = 0x0040,  // out down -> idle
    MenuDragOver = 0x0080,    // idle -> over down (track as menu)
    MenuDragOut = 0x0100,     // over down -> idle (track as menu)
};

// The clip event a button transition raises on a clip used as a button
// (menu drags count as plain drags); none for transitions without one.
std::optional<ClipEvent> clipEventFor(ButtonEvent event);

class ScriptHost {
public:
    virtual ~ScriptHost() = default;

    // A movie was loaded into the player: the root clip exists, no frame has run yet.
    virtual void movieLoaded(Player&, MovieClip& root) { (void)root; }
    // The root and all clips are about to be destroyed (unload or a new movie).
    virtual void movieUnloading() {}

    // A frame of `clip` was entered and carries this DoAction body. Called in
    // the order Flash queues frame scripts; run them at runQueued().
    virtual void frameActions(MovieClip& clip, std::span<const uint8_t> actions) { (void)clip; (void)actions; }
    // DoInitAction for a sprite, handed over once, before the frame's actions.
    virtual void initActions(MovieClip& root, uint16_t spriteId, std::span<const uint8_t> actions) {
        (void)root; (void)spriteId; (void)actions;
    }
    // An object was created on a timeline (or duplicated); `clipActions` are
    // the clip actions of its PlaceObject2/3 (empty if none).
    virtual void objectPlaced(DisplayObject& obj, const std::vector<ClipAction>& clipActions) {
        (void)obj; (void)clipActions;
    }
    // An object is about to leave the display list and be destroyed.
    virtual void objectRemoved(DisplayObject& obj) { (void)obj; }
    // An object is being destroyed, by whatever path (told from its
    // destructor: only its address may be used).
    virtual void objectDestroyed(const DisplayObject& obj) { (void)obj; }
    // An object is about to leave the display list. True when scripts want
    // its unload event first (the event is then queued): Flash keeps such an
    // object, at a negative depth, until the next frame begins.
    virtual bool unloadFirst(DisplayObject& obj) { (void)obj; return false; }
    // A clip event for one object (enterFrame, mouse and key events, ...).
    virtual void clipEvent(DisplayObject& obj, ClipEvent event) { (void)obj; (void)event; }
    // A button changed state: `actions` are the DefineButton(2) action bodies
    // whose conditions matched, in file order (may be empty); the event also
    // goes to the button's own handlers (onPress, ...).
    virtual void buttonEvent(ButtonObject& button, ButtonEvent event,
                             std::span<const std::span<const uint8_t>> actions) {
        (void)button; (void)event; (void)actions;
    }
    // A key press matched a button's key condition (code 1..127 as Flash numbers keys).
    virtual void buttonKey(ButtonObject& button, std::span<const uint8_t> actions) { (void)button; (void)actions; }
    // Key and mouse input for listeners (Key, Mouse objects).
    virtual void keyDown(int flashKeyCode, uint32_t charCode) { (void)flashKeyCode; (void)charCode; }
    virtual void keyUp(int flashKeyCode, uint32_t charCode) { (void)flashKeyCode; (void)charCode; }
    virtual void mouseEvent(ClipEvent event) { (void)event; }
    // After a key went to the listeners and to the buttons' key conditions
    // (`claimed`: one matched): Tab, Enter and editing keys act on the focus.
    virtual void keyDownDone(int flashKeyCode, uint32_t charCode, bool claimed) {
        (void)flashKeyCode; (void)charCode; (void)claimed;
    }
    // A character typed (goes into the focused input field).
    virtual void textInput(uint32_t codepoint) { (void)codepoint; }
    // The left button went down at a stage point (twips), after the mouse
    // listeners and before the button under it is pressed.
    virtual void pointerPressed(Point stagePoint) { (void)stagePoint; }
    // Whether a clip takes mouse input as a button (it has onPress & co.).
    virtual bool clipIsButton(MovieClip& clip) { (void)clip; return false; }
    // The stage rectangle (twips) the keyboard focus frame is drawn around;
    // none when no object shows one.
    virtual std::optional<Rect> focusHighlight() { return std::nullopt; }
    // Whether a button or clip tracks as a menu: with the mouse button held
    // down elsewhere, the pointer moving onto it drags over it.
    virtual bool tracksAsMenu(DisplayObject& obj);
    // Whether the pointer turns into a hand over a button or clip that takes
    // the mouse (scripts may turn it off), and whether scripts hid it.
    virtual bool showsHandCursor(DisplayObject& obj) { (void)obj; return true; }
    virtual bool pointerHidden() const { return false; }
    // Whether a button takes the mouse (scripts may turn it off).
    virtual bool buttonEnabled(ButtonObject& button);

    // A player tick begins (a frame, or one input event): everything scripts
    // run until the next one shares one time budget.
    virtual void beginTick() {}
    // Run everything queued so far (frame actions, events).
    virtual void runQueued() {}
    // Advance script timers (setInterval) by `ms` milliseconds.
    virtual void advanceTimers(double ms) { (void)ms; }
};

} // namespace swf
