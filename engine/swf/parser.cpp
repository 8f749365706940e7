#include "engine/swf/parser.h"

#include "engine/core/inflate.h"
#include "engine/core/limits.h"
#include "engine/swf/definitions.h"
#include "engine/swf/records.h"
#include "engine/swf/shape.h"

#include <QFile>

#include <set>

namespace swf {

namespace {

constexpr int kMinVersion = 1;
// The Flash player plays movies stamped up to version 50 (AIR and late Flash builds).
constexpr int kMaxKnownVersion = 50;
constexpr size_t kHeaderBytes = 8; // signature, version, file length

class MovieParser;
using TagHandler = std::optional<Error> (MovieParser::*)(const TagContext&);

// What the tag stream does with a tag.
enum class TagRole : uint8_t {
    Control,    // kept raw in the current frame; the runtime acts on it
    Handled,    // read now by its handler (definitions, movie settings)
    Ignored,    // known, nothing to do for playback
    Unsupported // known, not played (reported once per movie)
};

struct TagRow {
    uint16_t code;
    TagRole role;
    TagHandler handler;
};

class MovieParser {
public:
    MovieParser(Movie& movie, LogFn log) : m_movie(movie), m_log(std::move(log)) {}

    // Reads tags from `r` into `timeline` until End or the data ends.
    // `inSprite` is set for a DefineSprite's own timeline.
    void parseTimeline(Reader& r, Timeline& timeline, bool inSprite);
    void finish();

    void warn(Error e);
    void note(LogLevel level, const std::string& msg) {
        if (m_log) m_log(level, msg);
    }

    // Handlers (one per row of the tag table).
    std::optional<Error> defineShape(const TagContext& t);
    std::optional<Error> defineMorphShape(const TagContext& t);
    std::optional<Error> defineBitsJpeg(const TagContext& t);
    std::optional<Error> defineBitsLossless(const TagContext& t);
    std::optional<Error> jpegTables(const TagContext& t);
    std::optional<Error> defineFont(const TagContext& t);
    std::optional<Error> defineFontInfo(const TagContext& t);
    std::optional<Error> defineText(const TagContext& t);
    std::optional<Error> defineEditText(const TagContext& t);
    std::optional<Error> defineButton(const TagContext& t);
    std::optional<Error> buttonCxform(const TagContext& t);
    std::optional<Error> buttonSound(const TagContext& t);
    std::optional<Error> defineSound(const TagContext& t);
    std::optional<Error> defineBinaryData(const TagContext& t);
    std::optional<Error> defineVideoStream(const TagContext& t);
    std::optional<Error> videoFrame(const TagContext& t);
    std::optional<Error> defineSprite(const TagContext& t);
    std::optional<Error> setBackgroundColor(const TagContext& t);
    std::optional<Error> fileAttributes(const TagContext& t);
    std::optional<Error> exportAssets(const TagContext& t);
    std::optional<Error> importAssets(const TagContext& t);
    std::optional<Error> doInitAction(const TagContext& t);
    std::optional<Error> sceneAndLabels(const TagContext& t);
    std::optional<Error> scalingGrid(const TagContext& t);
    std::optional<Error> metadata(const TagContext&) {
        m_movie.hasMetadataTag = true;
        return std::nullopt;
    }

private:
    void define(const TagContext& t, uint16_t id, Character c);
    // Movie-wide budgets: a definition that would exceed one is refused.
    std::optional<Error> spendEdges(const TagContext& t, size_t edges);
    std::optional<Error> spendPixels(const TagContext& t, const QImage& image);
    uint32_t offsetOf(std::span<const uint8_t> s) const {
        return uint32_t(s.data() - m_movie.data.data());
    }

    Movie& m_movie;
    LogFn m_log;
    size_t m_droppedWarnings = 0;
    // Video streams by id, open to the VideoFrame tags that follow them.
    std::unordered_map<uint16_t, std::shared_ptr<VideoStreamDef>> m_videoStreams;
    size_t m_videoFrames = 0;
    size_t m_timelineTags = 0; // control tags and frames of all timelines
    size_t m_shapeEdges = 0;
    int64_t m_bitmapPixels = 0;
    bool m_inSprite = false;
    std::set<uint16_t> m_reportedUnsupported;
    std::span<const uint8_t> m_jpegTables;
    // Definitions that later tags amend; the dictionary shares the same objects.
    std::unordered_map<uint16_t, std::shared_ptr<FontDef>> m_fonts;
    std::unordered_map<uint16_t, std::shared_ptr<ButtonDef>> m_buttons;
};

const TagRow kTagTable[] = {
    {tag::PlaceObject, TagRole::Control, nullptr},
    {tag::PlaceObject2, TagRole::Control, nullptr},
    {tag::PlaceObject3, TagRole::Control, nullptr},
    {tag::RemoveObject, TagRole::Control, nullptr},
    {tag::RemoveObject2, TagRole::Control, nullptr},
    {tag::DoAction, TagRole::Control, nullptr},
    {tag::StartSound, TagRole::Control, nullptr},
    {tag::StartSound2, TagRole::Control, nullptr},
    {tag::SoundStreamHead, TagRole::Control, nullptr},
    {tag::SoundStreamHead2, TagRole::Control, nullptr},
    {tag::SoundStreamBlock, TagRole::Control, nullptr},
    {tag::FrameLabel, TagRole::Control, nullptr},
    {tag::DefineShape, TagRole::Handled, &MovieParser::defineShape},
    {tag::DefineShape2, TagRole::Handled, &MovieParser::defineShape},
    {tag::DefineShape3, TagRole::Handled, &MovieParser::defineShape},
    {tag::DefineShape4, TagRole::Handled, &MovieParser::defineShape},
    {tag::DefineMorphShape, TagRole::Handled, &MovieParser::defineMorphShape},
    {tag::DefineMorphShape2, TagRole::Handled, &MovieParser::defineMorphShape},
    {tag::JPEGTables, TagRole::Handled, &MovieParser::jpegTables},
    {tag::DefineBits, TagRole::Handled, &MovieParser::defineBitsJpeg},
    {tag::DefineBitsJPEG2, TagRole::Handled, &MovieParser::defineBitsJpeg},
    {tag::DefineBitsJPEG3, TagRole::Handled, &MovieParser::defineBitsJpeg},
    {tag::DefineBitsJPEG4, TagRole::Handled, &MovieParser::defineBitsJpeg},
    {tag::DefineBitsLossless, TagRole::Handled, &MovieParser::defineBitsLossless},
    {tag::DefineBitsLossless2, TagRole::Handled, &MovieParser::defineBitsLossless},
    {tag::DefineFont, TagRole::Handled, &MovieParser::defineFont},
    {tag::DefineFont2, TagRole::Handled, &MovieParser::defineFont},
    {tag::DefineFont3, TagRole::Handled, &MovieParser::defineFont},
    {tag::DefineFontInfo, TagRole::Handled, &MovieParser::defineFontInfo},
    {tag::DefineFontInfo2, TagRole::Handled, &MovieParser::defineFontInfo},
    {tag::DefineText, TagRole::Handled, &MovieParser::defineText},
    {tag::DefineText2, TagRole::Handled, &MovieParser::defineText},
    {tag::DefineEditText, TagRole::Handled, &MovieParser::defineEditText},
    {tag::DefineButton, TagRole::Handled, &MovieParser::defineButton},
    {tag::DefineButton2, TagRole::Handled, &MovieParser::defineButton},
    {tag::DefineButtonCxform, TagRole::Handled, &MovieParser::buttonCxform},
    {tag::DefineButtonSound, TagRole::Handled, &MovieParser::buttonSound},
    {tag::DefineSound, TagRole::Handled, &MovieParser::defineSound},
    {tag::DefineBinaryData, TagRole::Handled, &MovieParser::defineBinaryData},
    {tag::DefineSprite, TagRole::Handled, &MovieParser::defineSprite},
    {tag::SetBackgroundColor, TagRole::Handled, &MovieParser::setBackgroundColor},
    {tag::FileAttributes, TagRole::Handled, &MovieParser::fileAttributes},
    {tag::ExportAssets, TagRole::Handled, &MovieParser::exportAssets},
    {tag::ImportAssets, TagRole::Handled, &MovieParser::importAssets},
    {tag::ImportAssets2, TagRole::Handled, &MovieParser::importAssets},
    {tag::DoInitAction, TagRole::Handled, &MovieParser::doInitAction},
    {tag::DefineSceneAndFrameLabelData, TagRole::Handled, &MovieParser::sceneAndLabels},
    {tag::DefineScalingGrid, TagRole::Handled, &MovieParser::scalingGrid},
    {tag::Metadata, TagRole::Handled, &MovieParser::metadata},
    {tag::Protect, TagRole::Ignored, nullptr},
    {tag::EnableDebugger, TagRole::Ignored, nullptr},
    {tag::EnableDebugger2, TagRole::Ignored, nullptr},
    {tag::ScriptLimits, TagRole::Ignored, nullptr},
    {tag::SetTabIndex, TagRole::Ignored, nullptr},
    {tag::DefineFontAlignZones, TagRole::Ignored, nullptr},
    {tag::CSMTextSettings, TagRole::Ignored, nullptr},
    {tag::DefineFontName, TagRole::Ignored, nullptr},
    {40, TagRole::Ignored, nullptr}, // NameCharacter (authoring tools only)
    {41, TagRole::Ignored, nullptr}, // ProductInfo
    {63, TagRole::Ignored, nullptr}, // DebugID
    {tag::DoABC, TagRole::Control, nullptr},
    {tag::DoABC1, TagRole::Control, nullptr},
    {tag::SymbolClass, TagRole::Control, nullptr},
    {tag::DefineVideoStream, TagRole::Handled, &MovieParser::defineVideoStream},
    {tag::VideoFrame, TagRole::Handled, &MovieParser::videoFrame},
    {tag::DefineFont4, TagRole::Unsupported, nullptr},
};

const TagRow* findTag(uint16_t code) {
    for (const auto& row : kTagTable)
        if (row.code == code) return &row;
    return nullptr;
}

void MovieParser::warn(Error e) {
    if (m_movie.warnings.size() >= limits::kMaxWarnings) {
        ++m_droppedWarnings;
        return;
    }
    note(LogLevel::Warning, e.message);
    m_movie.warnings.push_back(std::move(e));
}

void MovieParser::finish() {
    if (m_droppedWarnings)
        note(LogLevel::Warning, std::to_string(m_droppedWarnings) + " further warnings not shown");
}

void MovieParser::parseTimeline(Reader& r, Timeline& timeline, bool inSprite) {
    m_inSprite = inSprite;
    Frame pending;
    bool ended = false;
    while (!r.atEnd()) {
        const uint32_t headerOffset = offsetOf(r.data()) + uint32_t(r.pos());
        uint16_t codeAndLength = r.u16();
        uint16_t code = codeAndLength >> 6;
        size_t length = codeAndLength & 0x3f;
        if (length == 0x3f) length = r.u32();
        if (r.failed()) {
            warn(Error{ErrorCode::Truncated, code, headerOffset,
                       tagWhere(code, headerOffset) + ": tag header cut short"});
            break;
        }
        if (length > r.remaining()) {
            // A download cut short or a lying length: the tags before it still play.
            warn(Error{ErrorCode::Truncated, code, headerOffset,
                       tagWhere(code, headerOffset) + ": length " + std::to_string(length) +
                           " exceeds the " + std::to_string(r.remaining()) + " bytes left"});
            break;
        }
        TagContext t{code, headerOffset, r.bytes(length), m_movie.header.version};

        if (code == tag::End) { ended = true; break; }
        if (code == tag::ShowFrame) {
            if (timeline.frames.size() >= limits::kMaxFrames) {
                warn(t.error(ErrorCode::LimitExceeded, "more than " +
                             std::to_string(limits::kMaxFrames) + " frames; the rest are dropped"));
                break;
            }
            if (m_timelineTags >= limits::kMaxTimelineTags) {
                warn(t.error(ErrorCode::LimitExceeded, "too many frames and control tags; the rest are dropped"));
                break;
            }
            ++m_timelineTags;
            timeline.frames.push_back(std::move(pending));
            pending = Frame{};
            continue;
        }
        const TagRow* row = findTag(code);
        if (!row) {
            warn(t.error(ErrorCode::Unsupported, "unknown tag skipped"));
            continue;
        }
        switch (row->role) {
        case TagRole::Control: {
            if (m_timelineTags >= limits::kMaxTimelineTags) {
                warn(t.error(ErrorCode::LimitExceeded, "too many control tags; the rest are dropped"));
                r.skip(r.remaining());
                break;
            }
            ++m_timelineTags;
            if (code == tag::FrameLabel) {
                Reader lr(t.body);
                std::string label = lr.cstring();
                timeline.labels.emplace(label, uint32_t(timeline.frames.size()));
            }
            pending.tags.push_back(ControlTag{code, headerOffset, t.body});
            break;
        }
        case TagRole::Handled:
            if (auto err = (this->*row->handler)(t)) warn(std::move(*err));
            m_inSprite = inSprite; // a sprite's handler parses its own timeline
            break;
        case TagRole::Ignored:
            break;
        case TagRole::Unsupported:
            if (m_reportedUnsupported.insert(code).second)
                note(LogLevel::Unimplemented, t.where() + ": not supported, skipped");
            break;
        }
    }
    // Tags after the last ShowFrame form a frame only if the header counts it.
    if (!pending.tags.empty() && timeline.frames.size() < timeline.declaredFrameCount)
        timeline.frames.push_back(std::move(pending));
    if (!ended && !r.failed() && inSprite)
        note(LogLevel::Debug, "timeline ended without an End tag");
}

void MovieParser::define(const TagContext& t, uint16_t id, Character c) {
    // The first definition of an id wins, as in the Flash player.
    if (!m_movie.dictionary.emplace(id, std::move(c)).second)
        warn(t.error(ErrorCode::Malformed, "character " + std::to_string(id) +
                                               " already defined; this one is ignored"));
}

size_t edgeCount(const std::vector<ShapeLayer>& layers) {
    size_t n = 0;
    for (const auto& layer : layers) {
        for (const auto& p : layer.fills) n += p.edges.size();
        for (const auto& p : layer.lines) n += p.edges.size();
    }
    return n;
}

std::optional<Error> MovieParser::spendEdges(const TagContext& t, size_t edges) {
    if (edges > limits::kMaxMovieShapeEdges - m_shapeEdges)
        return t.error(ErrorCode::LimitExceeded, "the movie's shapes exceed " +
                                                     std::to_string(limits::kMaxMovieShapeEdges) + " edges");
    m_shapeEdges += edges;
    return std::nullopt;
}

std::optional<Error> MovieParser::spendPixels(const TagContext& t, const QImage& image) {
    int64_t pixels = int64_t(image.width()) * image.height();
    if (pixels > limits::kMaxMovieBitmapPixels - m_bitmapPixels)
        return t.error(ErrorCode::LimitExceeded, "the movie's bitmaps exceed " +
                                                     std::to_string(limits::kMaxMovieBitmapPixels) + " pixels");
    m_bitmapPixels += pixels;
    return std::nullopt;
}

template <typename T>
std::optional<Error> take(Result<std::shared_ptr<T>> res, std::shared_ptr<T>& out) {
    if (!res) return res.error();
    out = std::move(res.value());
    return std::nullopt;
}

std::optional<Error> MovieParser::defineShape(const TagContext& t) {
    std::shared_ptr<ShapeDef> s;
    if (auto e = take(parseDefineShape(t), s)) return e;
    if (auto e = spendEdges(t, edgeCount(s->layers))) return e;
    define(t, s->id, std::shared_ptr<const ShapeDef>(s));
    return std::nullopt;
}

std::optional<Error> MovieParser::defineMorphShape(const TagContext& t) {
    std::shared_ptr<MorphShapeDef> s;
    if (auto e = take(parseDefineMorphShape(t), s)) return e;
    // Each drawn morph frame is built anew; count the records once.
    if (auto e = spendEdges(t, s->startRecords.size() + s->endRecords.size())) return e;
    define(t, s->id, std::shared_ptr<const MorphShapeDef>(s));
    return std::nullopt;
}

std::optional<Error> MovieParser::jpegTables(const TagContext& t) {
    // Only the first JPEGTables counts; the Flash player ignores repeats.
    if (m_jpegTables.empty()) m_jpegTables = t.body;
    m_movie.jpegTables.emplace_back(0, t.body);
    return std::nullopt;
}

std::optional<Error> MovieParser::defineBitsJpeg(const TagContext& t) {
    std::shared_ptr<BitmapDef> b;
    if (auto e = take(parseDefineBitsJpeg(t, m_jpegTables), b)) return e;
    if (auto e = spendPixels(t, b->image)) return e;
    define(t, b->id, std::shared_ptr<const BitmapDef>(b));
    return std::nullopt;
}

std::optional<Error> MovieParser::defineBitsLossless(const TagContext& t) {
    std::shared_ptr<BitmapDef> b;
    if (auto e = take(parseDefineBitsLossless(t), b)) return e;
    if (auto e = spendPixels(t, b->image)) return e;
    define(t, b->id, std::shared_ptr<const BitmapDef>(b));
    return std::nullopt;
}

std::optional<Error> MovieParser::defineFont(const TagContext& t) {
    std::shared_ptr<FontDef> f;
    if (auto e = take(parseDefineFont(t), f)) return e;
    size_t edges = 0;
    for (const auto& g : f->glyphs) edges += edgeCount(g.shape.layers);
    if (auto e = spendEdges(t, edges)) return e;
    if (!m_movie.dictionary.count(f->id)) m_fonts[f->id] = f;
    define(t, f->id, std::shared_ptr<const FontDef>(f));
    return std::nullopt;
}

std::optional<Error> MovieParser::defineFontInfo(const TagContext& t) {
    Reader r(t.body);
    uint16_t id = r.u16();
    auto it = m_fonts.find(id);
    if (it == m_fonts.end())
        return t.error(ErrorCode::Malformed, "font " + std::to_string(id) + " is not defined");
    return applyDefineFontInfo(t, *it->second);
}

std::optional<Error> MovieParser::defineText(const TagContext& t) {
    std::shared_ptr<TextDef> d;
    if (auto e = take(parseDefineText(t), d)) return e;
    size_t glyphs = 0;
    for (const auto& r : d->records) glyphs += r.glyphs.size() + 1;
    if (auto e = spendEdges(t, glyphs)) return e; // glyph entries share the edge budget
    define(t, d->id, std::shared_ptr<const TextDef>(d));
    return std::nullopt;
}

std::optional<Error> MovieParser::defineEditText(const TagContext& t) {
    std::shared_ptr<EditTextDef> d;
    if (auto e = take(parseDefineEditText(t), d)) return e;
    define(t, d->id, std::shared_ptr<const EditTextDef>(d));
    return std::nullopt;
}

std::optional<Error> MovieParser::defineButton(const TagContext& t) {
    std::shared_ptr<ButtonDef> d;
    if (auto e = take(parseDefineButton(t), d)) return e;
    if (!m_movie.dictionary.count(d->id)) m_buttons[d->id] = d;
    define(t, d->id, std::shared_ptr<const ButtonDef>(d));
    return std::nullopt;
}

std::optional<Error> MovieParser::buttonCxform(const TagContext& t) {
    Reader r(t.body);
    uint16_t id = r.u16();
    auto it = m_buttons.find(id);
    if (it == m_buttons.end())
        return t.error(ErrorCode::Malformed, "button " + std::to_string(id) + " is not defined");
    return applyButtonCxform(t, *it->second);
}

std::optional<Error> MovieParser::buttonSound(const TagContext& t) {
    Reader r(t.body);
    uint16_t id = r.u16();
    auto it = m_buttons.find(id);
    if (it == m_buttons.end())
        return t.error(ErrorCode::Malformed, "button " + std::to_string(id) + " is not defined");
    return applyButtonSound(t, *it->second);
}

std::optional<Error> MovieParser::defineSound(const TagContext& t) {
    Reader r(t.body);
    auto s = std::make_shared<SoundDef>();
    s->id = r.u16();
    s->body = t.body;
    uint8_t flags = r.u8();
    s->format = flags >> 4;
    static constexpr uint32_t kRates[4] = {5512, 11025, 22050, 44100};
    s->sampleRate = kRates[(flags >> 2) & 3];
    s->is16Bit = flags & 0x02;
    s->stereo = flags & 0x01;
    s->sampleCount = r.u32();
    if (r.failed()) return t.truncated();
    s->data = t.body.subspan(r.pos());
    define(t, s->id, std::shared_ptr<const SoundDef>(s));
    return std::nullopt;
}

std::optional<Error> MovieParser::defineVideoStream(const TagContext& t) {
    Reader r(t.body);
    auto v = std::make_shared<VideoStreamDef>();
    v->id = r.u16();
    v->frameCount = r.u16();
    v->width = r.u16();
    v->height = r.u16();
    const uint8_t flags = r.u8();
    v->deblocking = (flags >> 1) & 7;
    v->smoothing = flags & 1;
    v->codec = r.u8();
    if (r.failed()) return t.truncated();
    if (m_movie.dictionary.count(v->id) == 0) m_videoStreams[v->id] = v;
    define(t, v->id, std::shared_ptr<const VideoStreamDef>(v));
    return std::nullopt;
}

std::optional<Error> MovieParser::videoFrame(const TagContext& t) {
    Reader r(t.body);
    const uint16_t streamId = r.u16();
    const uint16_t frame = r.u16();
    if (r.failed()) return t.truncated();
    auto it = m_videoStreams.find(streamId);
    if (it == m_videoStreams.end())
        return t.error(ErrorCode::Malformed, "no video stream " + std::to_string(streamId));
    if (m_videoFrames >= limits::kMaxVideoFrames)
        return t.error(ErrorCode::LimitExceeded, "the movie's video frames exceed " +
                                                     std::to_string(limits::kMaxVideoFrames));
    // A repeated frame number keeps its first packet, as a definition does.
    if (it->second->frames.emplace(frame, t.body.subspan(r.pos())).second) ++m_videoFrames;
    return std::nullopt;
}

std::optional<Error> MovieParser::defineBinaryData(const TagContext& t) {
    Reader r(t.body);
    auto d = std::make_shared<BinaryDataDef>();
    d->id = r.u16();
    r.u32(); // reserved
    if (r.failed()) return t.truncated();
    d->data = t.body.subspan(r.pos());
    define(t, d->id, std::shared_ptr<const BinaryDataDef>(d));
    return std::nullopt;
}

std::optional<Error> MovieParser::defineSprite(const TagContext& t) {
    if (m_inSprite)
        return t.error(ErrorCode::Malformed, "sprite defined inside a sprite; skipped");
    Reader r(t.body);
    auto s = std::make_shared<SpriteDef>();
    s->id = r.u16();
    s->timeline.declaredFrameCount = r.u16();
    if (r.failed()) return t.truncated();
    Reader body = r.sub(r.remaining());
    parseTimeline(body, s->timeline, true);
    define(t, s->id, std::shared_ptr<const SpriteDef>(s));
    return std::nullopt;
}

std::optional<Error> MovieParser::setBackgroundColor(const TagContext& t) {
    Reader r(t.body);
    Rgba c = readRgb(r);
    if (r.failed()) return t.truncated();
    if (!m_movie.backgroundColor) m_movie.backgroundColor = c;
    return std::nullopt;
}

std::optional<Error> MovieParser::fileAttributes(const TagContext& t) {
    Reader r(t.body);
    uint32_t flags = t.body.size() >= 4 ? r.u32() : r.u8();
    if (r.failed()) return t.truncated();
    m_movie.fileAttributes = flags;
    return std::nullopt;
}

std::optional<Error> MovieParser::exportAssets(const TagContext& t) {
    Reader r(t.body);
    unsigned count = r.u16();
    if (size_t(count) * 3 > r.remaining())
        return t.error(ErrorCode::Malformed, std::to_string(count) + " exports exceed tag data");
    for (unsigned i = 0; i < count && !r.failed(); ++i) {
        uint16_t id = r.u16();
        std::string name = r.cstring();
        // A name exported again names the later character, as Flash resolves it.
        if (!r.failed()) m_movie.exports[std::move(name)] = id;
    }
    if (r.failed()) return t.truncated();
    return std::nullopt;
}

std::optional<Error> MovieParser::importAssets(const TagContext& t) {
    Reader r(t.body);
    std::string url = r.cstring();
    if (t.code == tag::ImportAssets2) r.u16(); // two reserved bytes
    unsigned count = r.u16();
    if (size_t(count) * 3 > r.remaining())
        return t.error(ErrorCode::Malformed, std::to_string(count) + " imports exceed tag data");
    for (unsigned i = 0; i < count && !r.failed(); ++i) {
        ImportedAsset a;
        a.url = url;
        a.id = r.u16();
        a.name = r.cstring();
        if (!r.failed()) m_movie.imports.push_back(std::move(a));
    }
    if (r.failed()) return t.truncated();
    return std::nullopt;
}

std::optional<Error> MovieParser::doInitAction(const TagContext& t) {
    Reader r(t.body);
    uint16_t spriteId = r.u16();
    if (r.failed()) return t.truncated();
    m_movie.initActions.emplace_back(spriteId, ControlTag{t.code, t.offset, t.body.subspan(2)});
    return std::nullopt;
}

std::optional<Error> MovieParser::sceneAndLabels(const TagContext& t) {
    Reader r(t.body);
    Timeline& tl = m_movie.timeline;
    uint32_t scenes = r.encodedU32();
    if (scenes > r.remaining())
        return t.error(ErrorCode::Malformed, std::to_string(scenes) + " scenes exceed tag data");
    for (uint32_t i = 0; i < scenes && !r.failed(); ++i) {
        uint32_t frame = r.encodedU32();
        std::string name = r.cstring();
        if (!r.failed()) tl.sceneNames.emplace(frame, std::move(name));
    }
    uint32_t labels = r.encodedU32();
    if (labels > r.remaining())
        return t.error(ErrorCode::Malformed, std::to_string(labels) + " labels exceed tag data");
    for (uint32_t i = 0; i < labels && !r.failed(); ++i) {
        uint32_t frame = r.encodedU32();
        std::string name = r.cstring();
        if (!r.failed()) tl.labels.emplace(std::move(name), frame);
    }
    if (r.failed()) return t.truncated();
    return std::nullopt;
}

std::optional<Error> MovieParser::scalingGrid(const TagContext& t) {
    Reader r(t.body);
    uint16_t id = r.u16();
    Rect grid = readRect(r);
    if (r.failed()) return t.truncated();
    m_movie.scalingGrids.emplace(id, grid);
    return std::nullopt;
}

Error headerError(ErrorCode code, std::string what) {
    return Error{code, -1, 0, "header: " + std::move(what)};
}

} // namespace

Result<std::shared_ptr<const Movie>> parseMovie(std::vector<uint8_t> fileBytes, std::string url,
                                                LogFn log) {
    if (fileBytes.size() < kHeaderBytes)
        return headerError(ErrorCode::Truncated, "file is shorter than the SWF header");
    if (fileBytes.size() > limits::kMaxFileBytes)
        return headerError(ErrorCode::TooLarge, "file exceeds " +
                                                    std::to_string(limits::kMaxFileBytes) + " bytes");
    const uint8_t sig = fileBytes[0];
    if ((sig != 'F' && sig != 'C' && sig != 'Z') || fileBytes[1] != 'W' || fileBytes[2] != 'S')
        return headerError(ErrorCode::BadSignature, "not a SWF file (signature is not FWS, CWS or ZWS)");

    auto movie = std::make_shared<Movie>();
    movie->url = std::move(url);
    MovieHeader& h = movie->header;
    h.signature = char(sig);
    h.version = fileBytes[3];
    h.declaredLength = uint32_t(fileBytes[4]) | uint32_t(fileBytes[5]) << 8 |
                       uint32_t(fileBytes[6]) << 16 | uint32_t(fileBytes[7]) << 24;
    if (h.version < kMinVersion)
        return headerError(ErrorCode::BadVersion, "version " + std::to_string(h.version));

    MovieParser parser(*movie, log);
    if (h.version > kMaxKnownVersion)
        parser.warn(headerError(ErrorCode::BadVersion, "version " + std::to_string(h.version) +
                                                           " is newer than any known; read as " +
                                                           std::to_string(kMaxKnownVersion)));

    if (sig == 'F') {
        // Bytes past the declared length are not part of the movie.
        if (h.declaredLength >= kHeaderBytes && h.declaredLength < fileBytes.size())
            fileBytes.resize(h.declaredLength);
        else if (h.declaredLength > fileBytes.size())
            parser.warn(headerError(ErrorCode::Truncated, "file ends after " + std::to_string(fileBytes.size()) +
                                                              " of " + std::to_string(h.declaredLength) +
                                                              " declared bytes"));
        movie->data = std::move(fileBytes);
    } else {
        if (h.declaredLength < kHeaderBytes)
            return headerError(ErrorCode::Malformed, "declared length " +
                                                         std::to_string(h.declaredLength) + " is too small");
        if (h.declaredLength - kHeaderBytes > limits::kMaxInflatedBytes)
            return headerError(ErrorCode::TooLarge, "declared length " + std::to_string(h.declaredLength) +
                                                        " exceeds the limit");
        const size_t expected = h.declaredLength - kHeaderBytes;
        std::span<const uint8_t> packed(fileBytes);
        Result<Inflated> inflated = sig == 'C'
            ? inflateZlib(packed.subspan(kHeaderBytes), expected)
            : fileBytes.size() < 12 ? Result<Inflated>(headerError(ErrorCode::Truncated, "LZMA header cut short"))
                                    : inflateSwfLzma(packed.subspan(12), expected);
        if (!inflated) {
            Error e = inflated.error();
            e.message = "header: " + e.message;
            return e;
        }
        if (!inflated->complete || inflated->bytes.size() < expected)
            parser.warn(headerError(ErrorCode::Truncated,
                                    "compressed body ends after " + std::to_string(inflated->bytes.size()) +
                                        " of " + std::to_string(expected) + " bytes"));
        movie->data.reserve(kHeaderBytes + inflated->bytes.size());
        movie->data.assign(fileBytes.begin(), fileBytes.begin() + kHeaderBytes);
        movie->data.insert(movie->data.end(), inflated->bytes.begin(), inflated->bytes.end());
    }

    Reader r(movie->data);
    r.seek(kHeaderBytes);
    h.frameSize = readRect(r);
    h.frameRate = r.u16() / 256.0;
    h.frameCount = r.u16();
    if (r.failed()) return headerError(ErrorCode::Truncated, "movie header cut short");
    // A rate of 0 is stored by some tools; such movies play at the default 12 fps.
    if (h.frameRate <= 0) h.frameRate = 12;
    movie->timeline.declaredFrameCount = h.frameCount;

    parser.parseTimeline(r, movie->timeline, false);
    parser.finish();
    return std::shared_ptr<const Movie>(std::move(movie));
}

Result<std::shared_ptr<const Movie>> loadMovieFile(const std::string& path, LogFn log) {
    QFile file(QString::fromStdString(path));
    if (!file.exists())
        return Error{ErrorCode::FileNotFound, -1, -1, path + ": no such file"};
    if (!file.open(QIODevice::ReadOnly))
        return Error{ErrorCode::Io, -1, -1, path + ": " + file.errorString().toStdString()};
    if (file.size() > qint64(limits::kMaxFileBytes))
        return Error{ErrorCode::TooLarge, -1, -1, path + ": file exceeds the size limit"};
    QByteArray bytes = file.read(limits::kMaxFileBytes);
    if (bytes.isEmpty() && file.error() != QFileDevice::NoError)
        return Error{ErrorCode::Io, -1, -1, path + ": " + file.errorString().toStdString()};
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    return parseMovie(std::move(data), path, std::move(log));
}

} // namespace swf
