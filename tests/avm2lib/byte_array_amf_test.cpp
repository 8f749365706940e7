#include "engine/avm2/lib/amf.h"
#include "engine/avm2/lib/byte_array.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace swf::avm2lib;

namespace {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& b) {
    std::string out;
    char buf[4];
    for (uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02x", x);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

TEST(ByteArray, WritesEachTypeInBothByteOrders) {
    using Write = bool (*)(ByteArray&);
    const struct { const char* what; Write write; const char* big; const char* little; } cases[] = {
        {"short", [](ByteArray& b) { return b.writeShort(0x1234); }, "12 34", "34 12"},
        {"int", [](ByteArray& b) { return b.writeInt(-2); }, "ff ff ff fe", "fe ff ff ff"},
        {"uint", [](ByteArray& b) { return b.writeUnsignedInt(0x01020304); }, "01 02 03 04", "04 03 02 01"},
        {"float", [](ByteArray& b) { return b.writeFloat(1.5); }, "3f c0 00 00", "00 00 c0 3f"},
        {"double", [](ByteArray& b) { return b.writeDouble(1.0); }, "3f f0 00 00 00 00 00 00", "00 00 00 00 00 00 f0 3f"},
        {"byte", [](ByteArray& b) { return b.writeByte(0x1ff) && b.writeBoolean(true); }, "ff 01", "ff 01"},
        {"utf", [](ByteArray& b) { return b.writeUTF(u"\u00e9"); }, "00 02 c3 a9", "02 00 c3 a9"},
        {"utfbytes", [](ByteArray& b) { return b.writeUTFBytes(u"a\U0001F600"); }, "61 f0 9f 98 80", "61 f0 9f 98 80"},
        {"utf16be", [](ByteArray& b) { return b.writeMultiByte(u"AB", u"utf-16BE"); }, "00 41 00 42", "00 41 00 42"},
        {"unicode", [](ByteArray& b) { return b.writeMultiByte(u"AB", u"unicode"); }, "41 00 42 00", "41 00 42 00"},
        {"latin1", [](ByteArray& b) { return b.writeMultiByte(u"\u00e9\u4e00", u"iso-8859-1"); }, "e9 3f", "e9 3f"},
    };
    for (const auto& c : cases) {
        for (Endian e : {Endian::Big, Endian::Little}) {
            ByteArray b;
            b.setEndian(e);
            ASSERT_TRUE(c.write(b)) << c.what;
            EXPECT_EQ(hex(b.bytes()), e == Endian::Big ? c.big : c.little) << c.what;
            EXPECT_EQ(b.position(), b.length()) << c.what;
        }
    }
}

TEST(ByteArray, ReadsBackAndStopsAtTheEnd) {
    for (Endian e : {Endian::Big, Endian::Little}) {
        ByteArray b;
        b.setEndian(e);
        b.writeShort(-3);
        b.writeInt(-70000);
        b.writeUnsignedInt(4000000000u);
        b.writeFloat(0.1);
        b.writeDouble(-2.5e300);
        b.writeUTF(u"h\u00e9");
        b.writeByte(-5);
        b.setPosition(0);
        EXPECT_EQ(b.readShort(), -3);
        EXPECT_EQ(b.readInt(), -70000);
        EXPECT_EQ(b.readUnsignedInt(), 4000000000u);
        EXPECT_EQ(b.readFloat(), double(0.1f));
        EXPECT_EQ(b.readDouble(), -2.5e300);
        EXPECT_EQ(b.readUTF(), u"h\u00e9");
        EXPECT_EQ(b.readUnsignedByte(), 251u);
        EXPECT_EQ(b.bytesAvailable(), 0u);
        // Past the end: EOF, and the position stays.
        b.setPosition(b.length() - 1);
        EXPECT_FALSE(b.readShort());
        EXPECT_EQ(b.position(), b.length() - 1);
    }
    ByteArray u;
    u.writeShort(5); // readUTF's declared length runs past the data
    u.writeByte('a');
    u.setPosition(0);
    EXPECT_FALSE(u.readUTF());
    EXPECT_EQ(u.position(), 0u);
}

TEST(ByteArray, FlashTextAndLengthRules) {
    ByteArray b;
    const uint8_t bytes[] = {0xEF, 0xBB, 0xBF, 'h', 'i', 0, 'x', 'A', 0, 'B', 0};
    b.writeBytes(bytes);
    b.setPosition(0);
    EXPECT_EQ(b.readUTFBytes(7), u"hi"); // byte order mark dropped, text ends at NUL
    EXPECT_EQ(b.readMultiByte(4, u"unicode"), u"AB");
    // Writing past the end pads with zeros; a shorter length pulls the position back.
    ByteArray p;
    p.setPosition(3);
    p.writeByte(7);
    EXPECT_EQ(hex(p.bytes()), "00 00 00 07");
    p.setLength(2);
    EXPECT_EQ(p.position(), 2u);
    // readBytes grows the target at the offset and takes what is left for 0.
    ByteArray src, dst;
    src.writeUTFBytes(u"abcdef");
    src.setPosition(2);
    ASSERT_TRUE(src.readBytesInto(dst, 3, 0));
    EXPECT_EQ(hex(dst.bytes()), "00 00 00 63 64 65 66");
    EXPECT_EQ(dst.position(), 0u);
    EXPECT_FALSE(src.readBytesInto(dst, 0, 1));
    // Size limit.
    EXPECT_FALSE(b.setLength(0xFFFFFFFFu));
    b.setPosition(0xFFFFFFF0u);
    EXPECT_FALSE(b.writeInt(1));
}

TEST(ByteArray, CompressionRoundTrips) {
    for (Compression c : {Compression::Zlib, Compression::Deflate, Compression::Lzma}) {
        ByteArray b;
        for (int i = 0; i < 2000; ++i) b.writeUTFBytes(u"swiftreel ");
        const Bytes original = b.bytes();
        ASSERT_TRUE(b.compress(c));
        EXPECT_LT(b.length(), original.size() / 10);
        EXPECT_EQ(b.position(), b.length());
        if (c == Compression::Zlib) {
            EXPECT_EQ(b.bytes()[0], 0x78);
        }
        if (c == Compression::Lzma) {
            EXPECT_EQ(b.bytes()[5] | b.bytes()[6] << 8, int(original.size() & 0xFFFF));
        }
        ASSERT_TRUE(b.uncompress(c));
        EXPECT_EQ(b.bytes(), original);
        EXPECT_EQ(b.position(), 0u);
        // Broken data is refused and left alone.
        ByteArray broken;
        broken.writeUTFBytes(u"not compressed at all");
        const Bytes before = broken.bytes();
        EXPECT_FALSE(broken.uncompress(c));
        EXPECT_EQ(broken.bytes(), before);
    }
}

// ---- AMF ----

using amf::Graph;
using amf::Type;
using amf::Value;
using amf::ValueId;

ValueId add(Graph& g, Type t, auto&& fill) {
    Value v;
    v.type = t;
    fill(v);
    return g.add(std::move(v));
}
ValueId add(Graph& g, Type t) { return add(g, t, [](Value&) {}); }

// Structural equality, following references once (cycles included).
bool same(const Graph& a, ValueId x, const Graph& b, ValueId y, std::map<ValueId, ValueId>& seen) {
    const Value &u = a.values[x], &v = b.values[y];
    // Objects keep their identity; primitives are written out each time.
    if (u.type >= Type::Date) {
        if (auto it = seen.find(x); it != seen.end()) return it->second == y;
        seen[x] = y;
    }
    if (u.type != v.type || u.boolean != v.boolean || u.integer != v.integer || u.text != v.text || u.bytes != v.bytes
        || u.items.size() != v.items.size() || u.members.size() != v.members.size() || u.numbers != v.numbers
        || u.pairs.size() != v.pairs.size() || u.fixed != v.fixed || u.weakKeys != v.weakKeys)
        return false;
    if (!(u.number == v.number || (std::isnan(u.number) && std::isnan(v.number)))) return false;
    for (size_t i = 0; i < u.items.size(); ++i)
        if (!same(a, u.items[i], b, v.items[i], seen)) return false;
    for (size_t i = 0; i < u.members.size(); ++i)
        if (u.members[i].first != v.members[i].first || !same(a, u.members[i].second, b, v.members[i].second, seen)) return false;
    for (size_t i = 0; i < u.pairs.size(); ++i)
        if (!same(a, u.pairs[i].first, b, v.pairs[i].first, seen) || !same(a, u.pairs[i].second, b, v.pairs[i].second, seen))
            return false;
    return true;
}

// A value of every kind; the object refers to itself and to a shared array.
Graph richGraph(ValueId& root, bool amf3Only) {
    Graph g;
    const ValueId str = add(g, Type::String, [](Value& v) { v.text = u"h\u00e9llo"; });
    const ValueId num = add(g, Type::Number, [](Value& v) { v.number = -0.5; });
    const ValueId date = add(g, Type::Date, [](Value& v) { v.number = 1.2e12; });
    const ValueId arr = add(g, Type::Array, [&](Value& v) { v.items = {str, num}; v.members = {{u"key", str}}; });
    root = add(g, Type::Object, [](Value& v) { v.text = u"com.example.Point"; v.sealedCount = 1; });
    g.values[root].members = {{u"x", num}, {u"list", arr}, {u"again", arr}, {u"self", root}, {u"when", date},
                              {u"yes", add(g, Type::Boolean, [](Value& v) { v.boolean = true; })},
                              {u"nothing", add(g, Type::Null)}, {u"xml", add(g, Type::XmlDocument, [](Value& v) { v.text = u"<a/>"; })}};
    if (!amf3Only) {
        g.values[root].sealedCount = 0; // AMF0 objects have no sealed part
        return g;
    }
    auto& m = g.values[root].members;
    m.push_back({u"int", add(g, Type::Integer, [](Value& v) { v.integer = -300; })});
    m.push_back({u"bytes", add(g, Type::ByteArray, [](Value& v) { v.bytes = {1, 2, 3}; })});
    m.push_back({u"vi", add(g, Type::VectorInt, [](Value& v) { v.numbers = {-1, 2}; v.fixed = true; })});
    m.push_back({u"vu", add(g, Type::VectorUInt, [](Value& v) { v.numbers = {4000000000.0}; })});
    m.push_back({u"vd", add(g, Type::VectorDouble, [](Value& v) { v.numbers = {0.25, -INFINITY}; })});
    m.push_back({u"vo", add(g, Type::VectorObject, [&](Value& v) { v.text = u"String"; v.items = {str, str}; })});
    m.push_back({u"dict", add(g, Type::Dictionary, [&](Value& v) { v.pairs = {{root, num}}; v.weakKeys = true; })});
    m.push_back({u"e4x", add(g, Type::Xml, [](Value& v) { v.text = u"<b/>"; })});
    return g;
}

TEST(Amf, RoundTripsEveryKind) {
    for (auto version : {amf::Version::Amf3, amf::Version::Amf0}) {
        ValueId root = 0;
        const Graph g = richGraph(root, version == amf::Version::Amf3);
        const auto bytes = amf::encode(g, root, version);
        ASSERT_TRUE(bytes);
        const auto back = amf::decode(*bytes, version);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->consumed, bytes->size());
        std::map<ValueId, ValueId> seen;
        EXPECT_TRUE(same(g, root, back->graph, back->root, seen)) << int(version);
        // The two references to one array decode to one node, the self reference to the root.
        const Value& r = back->graph.values[back->root];
        EXPECT_EQ(r.members[1].second, r.members[2].second);
        EXPECT_EQ(r.members[3].second, back->root);
        // Every prefix is refused cleanly.
        for (size_t n = 0; n < bytes->size(); ++n)
            EXPECT_FALSE(amf::decode({bytes->data(), n}, version)) << n;
    }
}

TEST(Amf, WireFormat) {
    struct Case { amf::Version version; Value value; const char* bytes; };
    auto val = [](Type t, auto&& fill) { Value v; v.type = t; fill(v); return v; };
    const Case cases[] = {
        {amf::Version::Amf3, val(Type::Integer, [](Value& v) { v.integer = 1; }), "04 01"},
        {amf::Version::Amf3, val(Type::Integer, [](Value& v) { v.integer = 300; }), "04 82 2c"},
        {amf::Version::Amf3, val(Type::Integer, [](Value& v) { v.integer = -1; }), "04 ff ff ff ff"},
        {amf::Version::Amf3, val(Type::Integer, [](Value& v) { v.integer = 1 << 28; }), "05 41 b0 00 00 00 00 00 00"},
        {amf::Version::Amf3, val(Type::String, [](Value& v) { v.text = u"abc"; }), "06 07 61 62 63"},
        {amf::Version::Amf3, val(Type::Null, [](Value&) {}), "01"},
        {amf::Version::Amf0, val(Type::Number, [](Value& v) { v.number = 1; }), "00 3f f0 00 00 00 00 00 00"},
        {amf::Version::Amf0, val(Type::String, [](Value& v) { v.text = u"hi"; }), "02 00 02 68 69"},
        {amf::Version::Amf0, val(Type::Undefined, [](Value&) {}), "06"},
    };
    for (const Case& c : cases) {
        Graph g;
        g.add(c.value);
        EXPECT_EQ(hex(*amf::encode(g, 0, c.version)), c.bytes);
    }
    // Repeated strings become references; an anonymous dynamic object.
    Graph g;
    const ValueId a = add(g, Type::String, [](Value& v) { v.text = u"a"; });
    const ValueId arr = add(g, Type::Array, [&](Value& v) { v.items = {a, a}; });
    EXPECT_EQ(hex(*amf::encode(g, arr, amf::Version::Amf3)), "09 05 01 06 03 61 06 00");
    const ValueId one = add(g, Type::Integer, [](Value& v) { v.integer = 1; });
    const ValueId obj = add(g, Type::Object, [&](Value& v) { v.members = {{u"a", one}}; });
    EXPECT_EQ(hex(*amf::encode(g, obj, amf::Version::Amf3)), "0a 0b 01 03 61 04 01 01");
    EXPECT_EQ(hex(*amf::encode(g, obj, amf::Version::Amf0)), "03 00 01 61 00 3f f0 00 00 00 00 00 00 00 00 09");
}

TEST(Amf, HostileInputIsRefused) {
    // Arrays inside arrays, deeper than the limit.
    Bytes deep;
    for (int i = 0; i < 5000; ++i) { deep.push_back(0x09); deep.push_back(0x03); deep.push_back(0x01); }
    EXPECT_FALSE(amf::decode(deep, amf::Version::Amf3));
    // Counts that the data cannot hold.
    EXPECT_FALSE(amf::decode(Bytes{0x09, 0xff, 0xff, 0xff, 0xff, 0x01}, amf::Version::Amf3));
    EXPECT_FALSE(amf::decode(Bytes{0x0d, 0xbf, 0xff, 0xff, 0xff, 0x00}, amf::Version::Amf3));
    EXPECT_FALSE(amf::decode(Bytes{0x0a, 0x00, 0x00, 0x00, 0x10, 0x00}, amf::Version::Amf0));
    // References to nothing, unknown markers, an unknown externalizable class.
    EXPECT_FALSE(amf::decode(Bytes{0x06, 0x02}, amf::Version::Amf3));
    EXPECT_FALSE(amf::decode(Bytes{0x0a, 0x02}, amf::Version::Amf3));
    EXPECT_FALSE(amf::decode(Bytes{0x12}, amf::Version::Amf3));
    EXPECT_FALSE(amf::decode(Bytes{0x07, 0x00, 0x00}, amf::Version::Amf0));
    EXPECT_FALSE(amf::decode(Bytes{0x0a, 0x07, 0x03, 0x41}, amf::Version::Amf3));
    // A half-megabyte string referenced over and over stops at the expansion budget.
    Bytes bomb = {0x09, 0x80 | 0x7f, 0xff, 0x7f, 0x01, 0x06, 0x80 | 0x40, 0x80, 0x01};
    bomb.resize(bomb.size() + 0x80000, 'x');
    while (bomb.size() < (3u << 20)) { bomb.push_back(0x06); bomb.push_back(0x00); }
    EXPECT_FALSE(amf::decode(bomb, amf::Version::Amf3));
}

TEST(Amf, ExternalizableHooks) {
    Graph g;
    const ValueId inner = add(g, Type::String, [](Value& v) { v.text = u"x"; });
    const ValueId coll = add(g, Type::Object, [&](Value& v) {
        v.text = u"flex.messaging.io.ArrayCollection";
        v.externalizable = true;
        v.items = {inner};
    });
    const auto bytes = amf::encode(g, coll, amf::Version::Amf3);
    ASSERT_TRUE(bytes);
    const auto back = amf::decode(*bytes, amf::Version::Amf3);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->graph.values[back->graph.values[back->root].items[0]].text, u"x");
    // A class of the movie's own writes and reads two raw bytes.
    g.values[coll].text = u"Mine";
    amf::ExternalHooks hooks;
    hooks.write = [](const Value&, amf::Amf3Writer& w) { const uint8_t b[] = {7, 9}; w.writeBytes(b); return true; };
    hooks.read = [](const std::u16string& name, amf::Amf3Reader& r, ValueId id) {
        auto b = r.readBytes(2);
        if (!b || name != u"Mine") return false;
        r.graph().values[id].bytes = *b;
        return true;
    };
    EXPECT_FALSE(amf::encode(g, coll, amf::Version::Amf3)); // no writer for it
    const auto mine = amf::encode(g, coll, amf::Version::Amf3, hooks);
    ASSERT_TRUE(mine);
    EXPECT_FALSE(amf::decode(*mine, amf::Version::Amf3));
    const auto read = amf::decode(*mine, amf::Version::Amf3, hooks);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->graph.values[read->root].bytes, (Bytes{7, 9}));
}

} // namespace
