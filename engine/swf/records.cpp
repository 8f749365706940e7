#include "engine/swf/records.h"

#include "engine/swf/definitions.h"
#include "engine/swf/movie.h"

#include <array>
#include <cstdio>

namespace swf {

Rect readRect(Reader& r) {
    r.align();
    unsigned n = r.ubits(5);
    Rect rc;
    rc.xMin = r.sbits(n);
    rc.xMax = r.sbits(n);
    rc.yMin = r.sbits(n);
    rc.yMax = r.sbits(n);
    r.align();
    return rc;
}

Rgba readRgb(Reader& r) {
    Rgba c;
    c.r = r.u8();
    c.g = r.u8();
    c.b = r.u8();
    return c;
}

Rgba readRgba(Reader& r) {
    Rgba c = readRgb(r);
    c.a = r.u8();
    return c;
}

Rgba readArgb(Reader& r) {
    Rgba c;
    c.a = r.u8();
    c.r = r.u8();
    c.g = r.u8();
    c.b = r.u8();
    return c;
}

Matrix readMatrix(Reader& r) {
    r.align();
    Matrix m;
    if (r.bit()) {
        unsigned n = r.ubits(5);
        m.a = r.fbits(n);
        m.d = r.fbits(n);
    }
    if (r.bit()) {
        unsigned n = r.ubits(5);
        m.b = r.fbits(n);
        m.c = r.fbits(n);
    }
    unsigned n = r.ubits(5);
    m.tx = r.sbits(n);
    m.ty = r.sbits(n);
    r.align();
    return m;
}

ColorTransform readColorTransform(Reader& r, bool withAlpha) {
    r.align();
    ColorTransform cx;
    bool hasAdd = r.bit();
    bool hasMult = r.bit();
    unsigned n = r.ubits(4);
    if (hasMult) {
        cx.rMult = r.sbits(n) / 256.0;
        cx.gMult = r.sbits(n) / 256.0;
        cx.bMult = r.sbits(n) / 256.0;
        if (withAlpha) cx.aMult = r.sbits(n) / 256.0;
    }
    if (hasAdd) {
        cx.rAdd = r.sbits(n);
        cx.gAdd = r.sbits(n);
        cx.bAdd = r.sbits(n);
        if (withAlpha) cx.aAdd = r.sbits(n);
    }
    r.align();
    return cx;
}

namespace {

struct TagNameRow {
    uint16_t code;
    const char* name;
};

constexpr TagNameRow kTagNames[] = {
    {tag::End, "End"}, {tag::ShowFrame, "ShowFrame"}, {tag::DefineShape, "DefineShape"},
    {tag::PlaceObject, "PlaceObject"}, {tag::RemoveObject, "RemoveObject"},
    {tag::DefineBits, "DefineBits"}, {tag::DefineButton, "DefineButton"},
    {tag::JPEGTables, "JPEGTables"}, {tag::SetBackgroundColor, "SetBackgroundColor"},
    {tag::DefineFont, "DefineFont"}, {tag::DefineText, "DefineText"}, {tag::DoAction, "DoAction"},
    {tag::DefineFontInfo, "DefineFontInfo"}, {tag::DefineSound, "DefineSound"},
    {tag::StartSound, "StartSound"}, {tag::DefineButtonSound, "DefineButtonSound"},
    {tag::SoundStreamHead, "SoundStreamHead"}, {tag::SoundStreamBlock, "SoundStreamBlock"},
    {tag::DefineBitsLossless, "DefineBitsLossless"}, {tag::DefineBitsJPEG2, "DefineBitsJPEG2"},
    {tag::DefineShape2, "DefineShape2"}, {tag::DefineButtonCxform, "DefineButtonCxform"},
    {tag::Protect, "Protect"}, {tag::PlaceObject2, "PlaceObject2"},
    {tag::RemoveObject2, "RemoveObject2"}, {tag::DefineShape3, "DefineShape3"},
    {tag::DefineText2, "DefineText2"}, {tag::DefineButton2, "DefineButton2"},
    {tag::DefineBitsJPEG3, "DefineBitsJPEG3"}, {tag::DefineBitsLossless2, "DefineBitsLossless2"},
    {tag::DefineEditText, "DefineEditText"}, {tag::DefineSprite, "DefineSprite"},
    {tag::FrameLabel, "FrameLabel"}, {tag::SoundStreamHead2, "SoundStreamHead2"},
    {tag::DefineMorphShape, "DefineMorphShape"}, {tag::DefineFont2, "DefineFont2"},
    {tag::ExportAssets, "ExportAssets"}, {tag::ImportAssets, "ImportAssets"},
    {tag::EnableDebugger, "EnableDebugger"}, {tag::DoInitAction, "DoInitAction"},
    {tag::DefineVideoStream, "DefineVideoStream"}, {tag::VideoFrame, "VideoFrame"},
    {tag::DefineFontInfo2, "DefineFontInfo2"}, {tag::EnableDebugger2, "EnableDebugger2"},
    {tag::ScriptLimits, "ScriptLimits"}, {tag::SetTabIndex, "SetTabIndex"},
    {tag::FileAttributes, "FileAttributes"}, {tag::PlaceObject3, "PlaceObject3"},
    {tag::ImportAssets2, "ImportAssets2"}, {tag::DefineFontAlignZones, "DefineFontAlignZones"},
    {tag::CSMTextSettings, "CSMTextSettings"}, {tag::DefineFont3, "DefineFont3"},
    {tag::SymbolClass, "SymbolClass"}, {tag::Metadata, "Metadata"},
    {tag::DefineScalingGrid, "DefineScalingGrid"}, {tag::DoABC, "DoABC"},
    {tag::DefineShape4, "DefineShape4"}, {tag::DefineMorphShape2, "DefineMorphShape2"},
    {tag::DefineSceneAndFrameLabelData, "DefineSceneAndFrameLabelData"},
    {tag::DefineBinaryData, "DefineBinaryData"}, {tag::DefineFontName, "DefineFontName"},
    {tag::StartSound2, "StartSound2"}, {tag::DefineBitsJPEG4, "DefineBitsJPEG4"},
    {tag::DefineFont4, "DefineFont4"},
};

} // namespace

std::string tagName(uint16_t code) {
    for (const auto& row : kTagNames)
        if (row.code == code) return row.name;
    return "Tag " + std::to_string(code);
}

std::string tagWhere(uint16_t code, uint64_t offset) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " @0x%llx", static_cast<unsigned long long>(offset));
    return tagName(code) + buf;
}

Error TagContext::error(ErrorCode ec, const std::string& what) const {
    return Error{ec, code, offset, where() + ": " + what};
}

} // namespace swf

namespace swf {

size_t skipSoundInfo(Reader& r) {
    size_t start = r.pos();
    uint8_t flags = r.u8();
    if (flags & 0x01) r.u32(); // in point
    if (flags & 0x02) r.u32(); // out point
    if (flags & 0x04) r.u16(); // loops
    if (flags & 0x08) r.skip(size_t(r.u8()) * 8); // envelope points
    return r.failed() ? 0 : r.pos() - start;
}

size_t skipFilterList(Reader& r) {
    size_t start = r.pos();
    unsigned count = r.u8();
    for (unsigned i = 0; i < count && !r.failed(); ++i) {
        switch (r.u8()) {
        case 0: r.skip(23); break; // drop shadow
        case 1: r.skip(9); break;  // blur
        case 2: r.skip(15); break; // glow
        case 3: r.skip(27); break; // bevel
        case 4:                    // gradient glow
        case 7: {                  // gradient bevel
            size_t colors = r.u8();
            r.skip(colors * 5 + 19);
            break;
        }
        case 5: { // convolution
            size_t w = r.u8(), h = r.u8();
            r.skip(8 + w * h * 4 + 5);
            break;
        }
        case 6: r.skip(80); break; // colour matrix
        default: r.fail(); break;  // unknown filter: its length is unknown
        }
    }
    return r.pos() - start;
}

} // namespace swf
