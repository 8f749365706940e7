#pragma once
// The part of TOML the corpus's test.toml files use: tables, arrays of
// tables, dotted and quoted keys, inline tables, strings, numbers and
// booleans. Everything is flattened into "a/b/c" paths; quoted key parts keep
// their dots ("image_comparisons/output.01/trigger"), and the n-th table of
// an array is "name/n".
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace conformance {

class TomlDoc {
public:
    static TomlDoc parse(const std::string& text);

    std::optional<std::string> string(const std::string& path) const;
    std::optional<double> number(const std::string& path) const;
    std::optional<bool> boolean(const std::string& path) const;
    bool has(const std::string& path) const { return m_values.count(path) != 0; }
    // Direct child names of a table path, in sorted order.
    std::vector<std::string> children(const std::string& path) const;

private:
    // Raw values: strings without quotes; numbers and booleans as written.
    std::map<std::string, std::string> m_values;
    std::map<std::string, bool> m_isString;
};

} // namespace conformance
