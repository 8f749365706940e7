#pragma once
// AMF0 and AMF3 encoding over a neutral value graph. The graph holds every
// value once, by index, so shared and cyclic references survive a round
// trip; the VM converts its objects to a Graph (one node per object,
// memoised by identity) and back.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace swf::avm2lib::amf {

using ValueId = uint32_t;

enum class Type {
    Undefined, Null, Boolean, Integer, Number, String,
    Date,        // number: milliseconds since 1970
    Array,       // items: dense part; members: associative part
    Object,      // text: class name ("" anonymous); members: sealed first (sealedCount), then dynamic
    Xml,         // text: E4X XML source
    XmlDocument, // text: legacy XMLDocument source
    ByteArray,   // bytes
    VectorInt, VectorUInt, VectorDouble, // numbers; fixed
    VectorObject, // items; text: element type name ("" or "*": any); fixed
    Dictionary,  // pairs; weakKeys
};

struct Value {
    Type type = Type::Undefined;
    bool boolean = false;
    int32_t integer = 0;
    double number = 0;
    std::u16string text;
    std::vector<uint8_t> bytes;
    std::vector<ValueId> items;
    std::vector<std::pair<std::u16string, ValueId>> members;
    std::vector<double> numbers;
    std::vector<std::pair<ValueId, ValueId>> pairs;
    size_t sealedCount = 0;
    bool dynamic = true;         // Object: members past the sealed ones may exist
    bool externalizable = false; // Object: its bytes come from its class (see ExternalHooks)
    bool fixed = false;
    bool weakKeys = false;
};

struct Graph {
    std::vector<Value> values;
    ValueId add(Value v) {
        values.push_back(std::move(v));
        return ValueId(values.size() - 1);
    }
};

class Amf3Reader;
class Amf3Writer;

// Externalizable classes write their own bytes. Without a hook that knows
// the class, decoding it fails, except for the Flex collection classes,
// which hold one value (read into items[0]).
struct ExternalHooks {
    std::function<bool(const std::u16string& className, Amf3Reader& in, ValueId object)> read;
    std::function<bool(const Value& object, Amf3Writer& out)> write;
};

struct Decoded {
    Graph graph;
    ValueId root = 0;
    size_t consumed = 0; // bytes read
};

enum class Version { Amf0, Amf3 };

// Decodes one value from `data`; nullopt on broken, truncated or oversized
// input (the VM throws EOFError #2030 or RangeError).
std::optional<Decoded> decode(std::span<const uint8_t> data, Version version, const ExternalHooks& hooks = {});
// Encodes `root` of `graph`; nullopt when the graph nests deeper than the
// decoder would accept or an externalizable object has no writer.
std::optional<std::vector<uint8_t>> encode(const Graph& graph, ValueId root, Version version, const ExternalHooks& hooks = {});

// The reader and writer an externalizable hook works with: raw bytes
// (big-endian, as IDataInput/IDataOutput default) and nested values that
// share the reference tables.
class Amf3Reader {
public:
    virtual ~Amf3Reader() = default;
    virtual std::optional<std::vector<uint8_t>> readBytes(size_t n) = 0;
    virtual std::optional<ValueId> readValue() = 0;
    virtual Graph& graph() = 0;
};

class Amf3Writer {
public:
    virtual ~Amf3Writer() = default;
    virtual void writeBytes(std::span<const uint8_t> b) = 0;
    virtual bool writeValue(ValueId id) = 0;
};

} // namespace swf::avm2lib::amf
