#include "engine/swf/place_object.h"

#include "engine/core/limits.h"
#include "engine/swf/definitions.h"
#include "engine/swf/records.h"

namespace swf {

BlendMode blendModeFrom(uint8_t v) {
    if (v < 2 || v > uint8_t(BlendMode::Hardlight)) return BlendMode::Normal;
    return BlendMode(v);
}

namespace {

// SWF 5 stores 16 event bits: the high 16 of the later layout.
uint32_t readEventFlags(Reader& r, int swfVersion) {
    if (swfVersion <= 5) return uint32_t(r.u8()) << 24 | uint32_t(r.u8()) << 16;
    uint32_t b0 = r.u8(), b1 = r.u8(), b2 = r.u8(), b3 = r.u8();
    return b0 << 24 | b1 << 16 | b2 << 8 | b3;
}

std::optional<Error> readClipActions(Reader& r, const TagContext& t, PlaceObject& po) {
    r.u16(); // reserved
    po.allClipEvents = readEventFlags(r, t.swfVersion);
    while (!r.failed()) {
        uint32_t events = readEventFlags(r, t.swfVersion);
        if (events == 0) break;
        if (po.clipActions.size() >= limits::kMaxRecordsPerTag)
            return t.error(ErrorCode::LimitExceeded, "clip actions exceed the limit");
        uint32_t size = r.u32();
        if (size > r.remaining())
            return t.error(ErrorCode::Malformed, "clip action of " + std::to_string(size) +
                                                     " bytes exceeds tag data");
        Reader body = r.sub(size);
        ClipAction ca;
        ca.events = events;
        if (events & clip_event::KeyPress) ca.keyCode = body.u8();
        ca.actions = body.bytes(body.remaining());
        po.clipActions.push_back(ca);
    }
    // Files from some tools end the list without the final zero flags.
    return std::nullopt;
}

} // namespace

Result<PlaceObject> parsePlaceObject(const ControlTag& tag, int swfVersion) {
    TagContext t{tag.code, tag.offset, tag.body, swfVersion};
    Reader r(tag.body);
    PlaceObject po;
    if (tag.code == tag::PlaceObject) {
        po.characterId = r.u16();
        po.depth = r.u16();
        po.matrix = readMatrix(r);
        if (r.failed()) return t.truncated();
        if (!r.atEnd()) po.colorTransform = readColorTransform(r, false);
        return po;
    }
    if (tag.code != tag::PlaceObject2 && tag.code != tag::PlaceObject3)
        return t.error(ErrorCode::Malformed, "not a PlaceObject tag");

    po.version = tag.code == tag::PlaceObject2 ? 2 : 3;
    uint8_t f = r.u8();
    uint8_t f3 = po.version == 3 ? r.u8() : 0;
    const bool hasClipActions = f & 0x80, hasClipDepth = f & 0x40, hasName = f & 0x20,
               hasRatio = f & 0x10, hasCxform = f & 0x08, hasMatrix = f & 0x04,
               hasCharacter = f & 0x02;
    po.move = f & 0x01;
    const bool hasBackground = f3 & 0x40, hasVisible = f3 & 0x20, hasClassName = f3 & 0x08,
               hasCache = f3 & 0x04, hasBlend = f3 & 0x02, hasFilters = f3 & 0x01;
    po.hasImage = f3 & 0x10;

    po.depth = r.u16();
    if (hasClassName || (po.hasImage && hasCharacter)) po.className = r.cstring();
    if (hasCharacter) po.characterId = r.u16();
    if (hasMatrix) po.matrix = readMatrix(r);
    if (hasCxform) po.colorTransform = readColorTransform(r, true);
    if (hasRatio) po.ratio = r.u16();
    if (hasName) po.name = r.cstring();
    if (hasClipDepth) po.clipDepth = r.u16();
    if (hasFilters) {
        size_t start = r.pos();
        size_t n = skipFilterList(r);
        po.filterBytes = tag.body.subspan(start, std::min(n, tag.body.size() - start));
    }
    if (hasBlend) po.blendMode = blendModeFrom(r.u8());
    if (hasCache) po.cacheAsBitmap = r.u8() != 0;
    if (hasVisible) po.visible = r.u8() != 0;
    if (hasBackground) po.backgroundColor = readRgba(r);
    if (r.failed()) return t.truncated();
    // Clip actions are only read from SWF 5 on, as the Flash player does.
    if (hasClipActions && swfVersion >= 5) {
        if (auto e = readClipActions(r, t, po)) return *e;
        if (r.failed()) return t.truncated("clip actions run past the end of the tag");
    }
    return po;
}

Result<RemoveObject> parseRemoveObject(const ControlTag& tag) {
    TagContext t{tag.code, tag.offset, tag.body, 0};
    Reader r(tag.body);
    RemoveObject ro;
    if (tag.code == tag::RemoveObject) ro.characterId = r.u16();
    else if (tag.code != tag::RemoveObject2) return t.error(ErrorCode::Malformed, "not a RemoveObject tag");
    ro.depth = r.u16();
    if (r.failed()) return t.truncated();
    return ro;
}

} // namespace swf
