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
// ActionScript: actions run in one frame before scripts are halted.
inline constexpr uint64_t kMaxActionsPerFrame = 10'000'000;
// ActionScript: wall-clock budget of one frame's scripts, checked every
// kActionsPerClockCheck actions.
inline constexpr int kScriptBudgetMs = 4000;
inline constexpr uint64_t kActionsPerClockCheck = 10000;
// ActionScript: bytes of script heap (strings, arrays, objects) before the
// movie's scripts are halted.
inline constexpr size_t kMaxScriptHeapBytes = 512u << 20;
// ActionScript: getters and setters running inside each other (a getter
// that reads its own property); deeper reads give undefined, as in Flash.
inline constexpr int kMaxGetterDepth = 64;
// ActionScript: elements of one array (setting a larger length or index is
// refused), so `a.length = 4e9` cannot exhaust memory.
inline constexpr size_t kMaxArrayLength = 1u << 24;
// ActionScript: characters of one string built by script (concatenation,
// repetition), a guard against doubling loops.
inline constexpr size_t kMaxStringLength = 1u << 26;
// ActionScript: live script objects before the movie's scripts are halted.
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
// Rendering: characters laid out in one text field.
inline constexpr size_t kMaxTextLayoutChars = 1u << 18;
// Entries read from a script's TextFormat.tabStops array.
inline constexpr int kMaxTabStops = 1000;

// Loading: bytes of one loaded text (LoadVars, XML, loadVariables, style
// sheets); movies and images loaded into clips use kMaxFileBytes.
inline constexpr size_t kMaxLoadedTextBytes = 16u << 20;
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
