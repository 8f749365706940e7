#pragma once
// AMF0, the value encoding of FLV script tags (onMetaData, onCuePoint).
// Nesting and counts are bounded; a broken value ends the read cleanly.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace swf::video {

struct AmfMember;

struct AmfValue {
    enum class Type : uint8_t { Number, Boolean, String, Object, Array, Null, Undefined, Date };
    Type type = Type::Undefined;
    double number = 0;                                      // Number, Boolean (0/1), Date (ms)
    std::string string;                                     // String
    std::vector<AmfMember> members;                         // Object (ECMA arrays too), in file order
    std::vector<AmfValue> items;                            // Array
};

struct AmfMember {
    std::string name;
    AmfValue value;
};

// A script tag: the handler's name and its one argument.
struct AmfCall {
    std::string name;
    AmfValue argument;
};
std::optional<AmfCall> readScriptTag(std::span<const uint8_t> body);

} // namespace swf::video
