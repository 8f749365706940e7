#pragma once
// AS3's JSON object: parse into a neutral value tree (with the reviver walk
// as a callback) and stringify over values the VM describes through a host
// interface, both by the ECMAScript 5 algorithm. Bad input is SyntaxError
// #1132, a cycle TypeError #1129.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace swf::avm2lib::json {

inline constexpr int kParseErrorId = 1132; // SyntaxError: Invalid JSON parse input.
inline constexpr int kCycleErrorId = 1129; // TypeError: Cyclic structure cannot be converted to JSON string.
inline constexpr int kStackOverflowErrorId = 1023; // nesting deeper than limits::kMaxJsonDepth

enum class Kind { Undefined, Null, Boolean, Number, String, Array, Object };

struct Member;

struct Value {
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::u16string string;
    std::vector<Value> items;                             // Array
    std::vector<Member> members; // Object, in source order (a repeated key keeps the last value)
};

struct Member {
    std::u16string first; // the key
    Value second;
};

struct ParseResult {
    std::optional<Value> value;
    int errorId = 0;
};

// The reviver: given the holder, the key (array indices as decimal text)
// and the value, returns the replacement; Kind::Undefined removes the member.
using Reviver = std::function<Value(const Value& holder, const std::u16string& key, Value value)>;

ParseResult parse(std::u16string_view text, const Reviver& reviver = {});

// What stringify asks the VM about its values. A handle is the VM's own
// name for one value; handles of the same object compare equal.
class StringifyHost {
public:
    using Handle = uint64_t;
    virtual ~StringifyHost() = default;
    // The value of holder[key] after toJSON and the replacer function have
    // been applied (SerializeJSONProperty's first steps).
    virtual Handle resolve(Handle holder, const std::u16string& key) = 0;
    virtual Kind kind(Handle v) = 0; // functions are Undefined
    virtual bool boolean(Handle v) = 0;
    virtual double number(Handle v) = 0;
    virtual std::u16string string(Handle v) = 0;
    virtual uint32_t length(Handle array) = 0;
    // The keys to write for an object: its own enumerable names, or the
    // replacer array's list.
    virtual std::vector<std::u16string> keys(Handle object) = 0;
};

struct StringifyResult {
    std::optional<std::u16string> text; // nullopt: undefined (nothing to write) or an error
    int errorId = 0;
};

// Stringifies holder[key] (JSON.stringify passes a wrapper holder and "").
StringifyResult stringify(StringifyHost& host, StringifyHost::Handle holder, const std::u16string& key, const std::u16string& gap);

// The gap from a `space` argument: up to 10 spaces, or the first 10 characters.
std::u16string gapFromNumber(double space);
std::u16string gapFromString(std::u16string_view space);

// JSON's string quoting.
std::u16string quote(std::u16string_view s);

// stringify over a parsed tree (tests, and values the VM already holds as a tree).
StringifyResult stringify(const Value& value, const std::u16string& gap);

} // namespace swf::avm2lib::json
