#pragma once
// Runs a movie headless the way the conformance corpus describes: N frames
// (each: run the frame, then timers) or N clock ticks, one batch of scripted
// input after each frame, images captured at chosen frames, on a
// "captureImage" fscommand or at the end, and "quit" ending the run; the
// sound can be mixed offline alongside, the same on every run.
// swfrender and the conformance suite share it.
#include "engine/core/result.h"
#include "engine/display/player.h"

#include <QImage>
#include <QSize>

#include <string>
#include <optional>
#include <vector>

namespace swf::harness {

struct InputEvent {
    enum class Kind { MouseMove, MouseDown, MouseUp, KeyDown, KeyUp, TextInput } kind = Kind::MouseMove;
    double x = 0, y = 0;          // stage pixels
    MouseButton button = MouseButton::Left;
    int keyCode = 0;              // Flash key code
    uint32_t charCode = 0;
};
using InputBatch = std::vector<InputEvent>;

// Reads an input.json event list into batches (a "Wait" event ends a batch).
// Unknown events are skipped.
Result<std::vector<InputBatch>> readInputFile(const std::string& path);

struct RunSpec {
    std::string path;
    uint32_t frames = 1;              // frames (or ticks) to run
    bool ticks = false;               // advance the clock by one frame time instead of running a frame
    QSize size;                       // empty: the movie's own size
    Quality quality = Quality::High;
    std::vector<InputBatch> input;
    std::vector<uint32_t> captureFrames; // capture after these frames (1-based)
    bool captureOnFsCommand = false;  // capture after each frame with a "captureImage" fscommand
    bool captureAtEnd = true;
    bool mixAudio = false;            // mix the sound offline, one frame's worth per frame run
    // A fixed instant (ms since 1970 UTC) and zone (seconds east of UTC) for
    // the scripts' Date; empty: the system clock and zone.
    std::optional<double> dateNowMs;
    int dateZoneOffsetSeconds = 0;
    // The ActionScript 3 Date's local zone (an IANA name); empty: the system's.
    QByteArray avm2DateZone;
};

struct Capture {
    uint32_t frame = 0;               // after which frame
    bool fromFsCommand = false;
    QImage image;
};

struct RunResult {
    std::vector<Capture> captures;    // in the order taken
    std::string trace;                // trace lines, each ending in '\n'
    uint32_t framesRun = 0;
    std::vector<int16_t> audio;       // with mixAudio: interleaved stereo 16-bit at audioRate
    int audioRate = 0;
    std::string version, stage;       // for messages
};

Result<RunResult> runMovie(const RunSpec& spec);

} // namespace swf::harness
