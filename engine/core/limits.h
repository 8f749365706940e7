#pragma once
// Hard limits of the engine. Each one keeps a broken or hostile movie from
// taking unbounded memory or time; every breach is reported, never fatal.
#include <cstddef>
#include <cstdint>

namespace swf::limits {

// Largest movie file we read from disk or network.
inline constexpr size_t kMaxFileBytes = 256u << 20;
// Largest uncompressed movie body (declared or actually inflated); guards
// against decompression bombs.
inline constexpr size_t kMaxInflatedBytes = 256u << 20;
// Memory liblzma may use to decode a ZWS movie; the dictionary size comes
// from the file, and real movies use a few megabytes.
inline constexpr uint64_t kMaxLzmaDecoderMemory = 128u << 20;
// Control tags kept in one movie's timelines (each costs a small record;
// empty tags are two bytes in the file, so a huge movie could otherwise ask
// for gigabytes).
inline constexpr size_t kMaxTimelineTags = 1u << 22;
// Warnings kept in Movie::warnings and logged; later ones are only counted.
inline constexpr size_t kMaxWarnings = 200;
// Largest single reserve() sized from a count in the file.
inline constexpr size_t kReserveCap = 4096;
// Records of one kind in one tag (fill styles, glyphs, shape records ...).
inline constexpr size_t kMaxRecordsPerTag = 1u << 20;
// Shape edges (shapes, morph shapes and glyphs together) in one movie: each
// costs about 60 bytes once built, and a tiny record can stand for one.
inline constexpr size_t kMaxMovieShapeEdges = 2u << 20;
// Decoded bitmap pixels in one movie (4 bytes each): a zlib or JPEG bomb
// per tag is bounded by the per-bitmap limit, this bounds the sum.
inline constexpr int64_t kMaxMovieBitmapPixels = 64 << 20;
// Frames in one timeline.
inline constexpr uint32_t kMaxFrames = 1u << 20;
// Width or height of one bitmap, and its pixel count.
inline constexpr int kMaxBitmapSide = 8191;
inline constexpr int64_t kMaxBitmapPixels = 16777215;
// Display objects alive in one player.
inline constexpr size_t kMaxDisplayObjects = 100000;
// Nesting of clips inside clips (sprites placing sprites).
inline constexpr int kMaxClipNesting = 64;
// Zoom in or out of the stage, as a factor of the whole movie: repeated
// zooming cannot lose the movie to rounding or overflow.
inline constexpr int kMaxZoom = 64;
// ActionScript: call depth, as the Flash player's own limit of 256.
inline constexpr int kMaxCallDepth = 256;
// ActionScript: prototype chain and getter recursion.
inline constexpr int kMaxProtoDepth = 256;
// Scripts (both engines): work done in one player tick (a frame, or one
// input event) before that movie's scripts are halted: actions, and the
// elements built-ins walk (sort, split, join, XML parsing, bitmap loops).
inline constexpr uint64_t kMaxScriptWorkPerTick = 10'000'000;
// Scripts: wall-clock budget of one tick's scripts (frame actions, events,
// timers and the built-ins they call), with the clock read every
// kWorkPerClockCheck units of work.
inline constexpr int kScriptBudgetMs = 4000;
inline constexpr uint64_t kWorkPerClockCheck = 1000;
// Scripts: bytes of script heap (strings, arrays, objects, functions) before
// the movie's scripts are halted. Below what a 1 GB process can hold with
// the player's own memory, script bitmaps and a string being copied.
inline constexpr size_t kMaxScriptHeapBytes = 256u << 20;
// Scripts: bytes charged since the heap was last measured before it is
// measured again at a breach (measuring walks the whole heap).
inline constexpr size_t kHeapMeasureSlack = 16u << 20;
// Scripts: values on the operand stack of one running action block or call.
inline constexpr size_t kMaxOperandStack = 1u << 20;
// Scripts: links of one scope chain (`with` blocks and nested functions).
inline constexpr int kMaxScopeDepth = 1000;
// ActionScript: getters and setters running inside each other (a getter
// that reads its own property); deeper reads give undefined, as in Flash.
inline constexpr int kMaxGetterDepth = 64;
// ActionScript: elements of one array (setting a larger length or index is
// refused), so `a.length = 4e9` cannot exhaust memory.
inline constexpr size_t kMaxArrayLength = 1u << 24;
// ActionScript 3: an array index this far past the end makes the array sparse
// (the elements beyond are kept by index) instead of growing it.
inline constexpr size_t kSparseArrayGap = 1u << 16;
// ActionScript 3: elements one sparse array keeps by index.
inline constexpr size_t kMaxSparseElements = 1u << 14;
// ActionScript: characters of one string built by script (concatenation,
// repetition), a guard against doubling loops.
inline constexpr size_t kMaxStringLength = 1u << 26;
// Scripts: live script objects before the movie's scripts are halted.
inline constexpr size_t kMaxScriptObjects = 4'000'000;
// ActionScript: pending setInterval/setTimeout timers of one movie.
inline constexpr size_t kMaxScriptTimers = 10000;
// Sound: decoded samples of one event sound (about 10 minutes at 44.1 kHz stereo).
inline constexpr size_t kMaxSoundSamples = 44100u * 600u;
// Sound: event sounds playing at once; later ones are skipped (Flash mixes a
// handful, and each voice costs mixing time on the sound thread).
inline constexpr size_t kMaxSoundVoices = 64;
// Sound: decoded sample frames one SoundStreamBlock may add (a block holds one
// frame of sound: even 1 fps at 44.1 kHz is 44100).
inline constexpr size_t kMaxStreamBlockSamples = 44100u * 4u;

// Script drawing (MovieClip.lineTo ...): shape records of one clip's
// drawing; later calls are ignored, so a runaway loop cannot fill memory.
inline constexpr size_t kMaxDrawingRecords = 1u << 20;
// Script drawing: coordinates are clamped to this many twips either way, so
// bounds stay inside 32-bit integers.
inline constexpr double kMaxDrawingCoordinate = 1 << 28;
// Script bitmaps (BitmapData): the largest side and pixel count, up to
// version 9 movies and from version 10 on.
inline constexpr int kMaxBitmapDataSideV9 = 2880;
inline constexpr int kMaxBitmapDataSide = 8191;
inline constexpr int64_t kMaxBitmapDataPixels = 16777215;
// Script bitmaps: pixels alive at once in the process (4 bytes each); a
// script that makes more gets invalid bitmaps until some are freed.
inline constexpr int64_t kMaxLiveBitmapDataPixels = 128 << 20;

// Rendering: pixels of one offscreen layer (masks, blend modes, filters);
// a larger layer is cut down to the visible part of the target.
inline constexpr int64_t kMaxLayerPixels = 4096 * 4096;
// Rendering: offscreen layers open at once (nested masks and blend/filter
// layers), and their pixels together; beyond, layers draw without effects.
inline constexpr int kMaxNestedLayers = 32;
inline constexpr int64_t kMaxLiveLayerPixels = 2 * kMaxLayerPixels;
// Rendering: filters of one object beyond this many are ignored; blur sizes
// and distances are held to kMaxFilterPixels (the Flash player caps blur at
// 255 pixels too); blur passes over a layer's pixels, all filters together,
// beyond kMaxBlurPixelPasses are cut down; convolution kernels are at most
// kMaxKernelSide wide and high. No filter list makes a frame take seconds.
inline constexpr int kMaxFilters = 8;
inline constexpr double kMaxFilterPixels = 255;
inline constexpr int64_t kMaxBlurPixelPasses = int64_t(48) << 20;
inline constexpr int kMaxKernelSide = 15;
// Rendering: chords one curve is flattened into, and one full turn of a
// round cap or join, however large they are drawn.
inline constexpr int kMaxCurveSegments = 256;
inline constexpr int kMaxArcSegmentsPerTurn = 128;
// Rendering: script masks drawn inside each other's drawing (clips whose
// masks hold clips masked by the first one would loop forever).
inline constexpr int kMaxMaskNesting = 16;
// Rendering: commands of one drawing of the display list; what would come
// after (masks drawn again and again inside masks) is left out.
inline constexpr size_t kMaxDrawCommands = 1u << 20;
// Rendering: characters laid out in one text field.
inline constexpr size_t kMaxTextLayoutChars = 1u << 18;
// Rendering: HTML tags open inside each other in one text field; deeper
// ones are ignored (each would hold a copy of the text format).
inline constexpr size_t kMaxHtmlNesting = 256;
// Entries read from a script's TextFormat.tabStops array.
inline constexpr int kMaxTabStops = 1000;

// XML (script): nesting of elements parsed, serialised and copied; a
// deeper document fails to parse, and deeper nodes are left out of text
// and copies.
inline constexpr int kMaxXmlDepth = 1024;
// Loading: bytes of one loaded text (LoadVars, XML, loadVariables, style
// sheets); movies and images loaded into clips use kMaxFileBytes.
inline constexpr size_t kMaxLoadedTextBytes = 16u << 20;
// Loading: bytes one movie's loads may have under way at once, and may load
// in all while it plays; a load gets what is left and stops at that.
inline constexpr size_t kMaxLoadBytesInFlight = kMaxFileBytes;
inline constexpr size_t kMaxLoadBytesPerMovie = 512u << 20;
// Loading: a cross-domain policy file's size, its domain entries, and the
// policy files a movie may name (System.security.loadPolicyFile).
inline constexpr size_t kMaxPolicyFileBytes = 64u * 1024u;
inline constexpr size_t kMaxPolicyDomains = 1000;
inline constexpr size_t kMaxPolicyFiles = 64;
// Pages (getURL) a movie may open per click or key press of the user.
inline constexpr int kMaxPagesPerUserAction = 3;
// Loading: requests waiting at once; later ones fail at once.
inline constexpr size_t kMaxPendingLoads = 1000;
// Loading: movies loaded into levels and clips alive at once.
inline constexpr size_t kMaxLoadedMovies = 256;
// ImportAssets: other movie files one movie may import characters from.
inline constexpr size_t kMaxImportSources = 16;
// Loading: the highest _level a movie can be loaded into.
inline constexpr int kMaxLevel = 65535;
// SharedObject: bytes one stored object may take on disk, as Flash's
// default local storage allowance of 100 KB.
inline constexpr size_t kMaxSharedObjectBytes = 100u * 1024u;
// SharedObject: bytes all objects of one movie (or shared local path) may take.
inline constexpr size_t kMaxSharedObjectFolderBytes = 1024u * 1024u;
// SharedObject: nesting of objects inside a stored object.
inline constexpr int kMaxSharedObjectDepth = 64;

// Regular expressions: pattern length, group nesting, capturing groups and
// compiled instructions; a larger pattern is refused as a SyntaxError.
inline constexpr size_t kMaxRegExpSource = 1u << 16;
inline constexpr int kMaxRegExpNesting = 200;
inline constexpr int kMaxRegExpGroups = 999;
inline constexpr size_t kMaxRegExpProgram = 1u << 18;
// Regular expressions: pending choice points of one match (each about 24
// bytes); a match that needs more ends as "too complex", like one that runs
// out of steps.
inline constexpr size_t kMaxRegExpBacktrack = 1u << 21;
// XML (ActionScript 3): nodes of one parsed document; nesting is kMaxXmlDepth above.
inline constexpr size_t kMaxXmlNodes = 1u << 22;
// ByteArray: the largest buffer (Flash refuses to grow one past about 1 GB;
// ours stops earlier to bound one movie's memory).
inline constexpr size_t kMaxByteArrayBytes = 256u << 20;
// AMF decoding: nesting of objects inside objects, and entries of the
// reference tables and of one array or object read from the data.
inline constexpr int kMaxAmfDepth = 256;
inline constexpr size_t kMaxAmfItems = 1u << 22;
// AMF decoding: characters and names that back references may repeat in one
// decode (a two-byte reference can stand for a megabyte string).
inline constexpr size_t kMaxAmfExpandedUnits = 64u << 20;
// JSON: nesting of arrays and objects the parser and stringify accept.
inline constexpr int kMaxJsonDepth = 1000;
// Video: the largest decoded picture (pixels); Flash's own encoders stop
// at 4096 on a side. Bigger pictures are refused, not decoded.
inline constexpr int64_t kMaxVideoPixels = 4096 * 4096;
inline constexpr int kMaxVideoSide = 4096;
// Video: decoded pictures waiting between the decoding thread and the
// drawing, per stream (each up to kMaxVideoPixels * 4 bytes).
inline constexpr size_t kMaxQueuedPictures = 4;
// Video: VideoFrame packets kept for one movie (each costs a map entry).
inline constexpr uint32_t kMaxVideoFrames = 1u << 20;
// Video: frames decoded to reach one target frame when seeking; a stream
// without key frames for longer shows the nearest picture it reached.
inline constexpr uint32_t kMaxSeekDecodeFrames = 2000;
// FLV: bytes of one tag's body (a lying size must not make us wait or
// allocate for ever); real tags are well under a megabyte.
inline constexpr uint32_t kMaxFlvTagBytes = 16u << 20;
// FLV: bytes of a NetStream's file kept in memory (the file is read
// progressively; beyond this the stream ends).
inline constexpr size_t kMaxFlvFileBytes = 1024u << 20;
// FLV: decoded audio kept ahead of the mixer, in seconds.
inline constexpr double kMaxAudioAheadSeconds = 2.0;

} // namespace swf::limits
