// Buttons: DefineButton and DefineButton2, with the DefineButtonCxform and
// DefineButtonSound tags that amend a DefineButton.
#include "engine/core/limits.h"
#include "engine/swf/definitions.h"
#include "engine/swf/place_object.h"

namespace swf {

namespace {

// Button records up to the zero flags byte.
std::optional<Error> readButtonRecords(const TagContext& t, Reader& r, ButtonDef& b) {
    while (!r.failed()) {
        uint8_t flags = r.u8();
        if (flags == 0) return std::nullopt;
        if (b.records.size() >= limits::kMaxRecordsPerTag)
            return t.error(ErrorCode::LimitExceeded, "button records exceed the limit");
        ButtonRecord rec;
        rec.hitTest = flags & 0x08;
        rec.down = flags & 0x04;
        rec.over = flags & 0x02;
        rec.up = flags & 0x01;
        rec.characterId = r.u16();
        rec.depth = r.u16();
        rec.matrix = readMatrix(r);
        if (b.version >= 2) {
            rec.colorTransform = readColorTransform(r, true);
            if (flags & 0x10) {
                size_t start = r.pos();
                size_t n = skipFilterList(r);
                auto bytes = r.data().subspan(start, std::min(n, r.size() - start));
                rec.filterBytes.assign(bytes.begin(), bytes.end());
            }
            if (flags & 0x20) rec.blendMode = blendModeFrom(r.u8());
        }
        b.records.push_back(std::move(rec));
    }
    return t.truncated("button records run past the end of the tag");
}

} // namespace

Result<std::shared_ptr<ButtonDef>> parseDefineButton(const TagContext& t) {
    Reader r(t.body);
    auto b = std::make_shared<ButtonDef>();
    b->version = t.code == tag::DefineButton2 ? 2 : 1;
    b->id = r.u16();
    if (b->version == 1) {
        if (auto e = readButtonRecords(t, r, *b)) return *e;
        // The rest is one action list, run on release.
        b->actions.push_back({0x08, r.bytes(r.remaining())});
        return b;
    }
    b->trackAsMenu = r.u8() & 0x01;
    const size_t actionsAt = r.pos();
    uint16_t actionOffset = r.u16();
    if (auto e = readButtonRecords(t, r, *b)) return *e;
    if (actionOffset == 0) return b;
    // Each condition action holds the size of itself (0 for the last one).
    r.seek(actionsAt + actionOffset);
    if (r.failed()) return t.error(ErrorCode::Malformed, "action offset exceeds tag data");
    while (!r.atEnd()) {
        if (b->actions.size() >= limits::kMaxRecordsPerTag)
            return t.error(ErrorCode::LimitExceeded, "button actions exceed the limit");
        size_t start = r.pos();
        uint16_t size = r.u16();
        ButtonAction a;
        a.conditions = r.u16();
        if (r.failed()) return t.truncated("button action cut short");
        size_t end = size == 0 ? r.size() : start + size;
        if (end < r.pos() || end > r.size())
            return t.error(ErrorCode::Malformed, "button action of " + std::to_string(size) +
                                                     " bytes exceeds tag data");
        a.actions = r.bytes(end - r.pos());
        b->actions.push_back(a);
        if (size == 0) break;
    }
    return b;
}

std::optional<Error> applyButtonCxform(const TagContext& t, ButtonDef& button) {
    Reader r(t.body);
    r.u16(); // button id
    button.legacyColorTransform = readColorTransform(r, false);
    if (r.failed()) return t.truncated();
    return std::nullopt;
}

std::optional<Error> applyButtonSound(const TagContext& t, ButtonDef& button) {
    Reader r(t.body);
    r.u16(); // button id
    for (auto& s : button.sounds) {
        if (r.atEnd()) break;
        s.soundId = r.u16();
        if (s.soundId == 0) continue;
        size_t start = r.pos();
        size_t n = skipSoundInfo(r);
        if (r.failed()) return t.truncated("button sound info cut short");
        s.info = t.body.subspan(start, n);
    }
    if (r.failed()) return t.truncated();
    return std::nullopt;
}

} // namespace swf
