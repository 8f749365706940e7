#pragma once
// A value or an error: the engine's way of reporting failure without
// exceptions across its boundary.
#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace swf {

enum class ErrorCode {
    None,
    Truncated,        // data ended before a record was complete
    BadSignature,     // not FWS/CWS/ZWS
    BadVersion,
    TooLarge,         // a declared or inflated size over its limit
    Decompression,    // zlib/LZMA stream is broken
    Malformed,        // a record's fields contradict each other
    LimitExceeded,    // counts, nesting or objects over a limit
    Unsupported,
    FileNotFound,
    Io,
};

struct Error {
    ErrorCode code = ErrorCode::None;
    int tagCode = -1;     // the tag being parsed, -1 outside tags
    int64_t offset = -1;  // byte offset in the uncompressed movie, -1 if unknown
    std::string message;
};

template <typename T>
class Result {
public:
    Result(T value) : m_v(std::move(value)) {}
    Result(Error error) : m_v(std::move(error)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_v); }
    const T& value() const { return std::get<0>(m_v); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    const Error& error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

} // namespace swf
