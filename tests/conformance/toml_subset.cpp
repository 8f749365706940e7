#include "tests/conformance/toml_subset.h"

#include <cctype>
#include <functional>
#include <cstdlib>
#include <set>
#include <sstream>

namespace conformance {

namespace {

void skipSpace(const std::string& s, size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

// A key: bare or quoted parts joined by dots.
std::vector<std::string> readKey(const std::string& s, size_t& i) {
    std::vector<std::string> parts;
    while (i < s.size()) {
        skipSpace(s, i);
        std::string part;
        if (i < s.size() && (s[i] == '"' || s[i] == '\'')) {
            char q = s[i++];
            while (i < s.size() && s[i] != q) part += s[i++];
            ++i;
        } else {
            while (i < s.size() && (std::isalnum(uint8_t(s[i])) || s[i] == '_' || s[i] == '-')) part += s[i++];
        }
        parts.push_back(part);
        skipSpace(s, i);
        if (i < s.size() && s[i] == '.') {
            ++i;
            continue;
        }
        break;
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

} // namespace

TomlDoc TomlDoc::parse(const std::string& text) {
    TomlDoc doc;
    std::vector<std::string> table;
    std::map<std::string, int> arrayCounts;
    std::istringstream in(text);
    std::string line;

    // Reads one value at s[i] under `path`; inline tables recurse.
    std::function<void(const std::string&, size_t&, const std::string&)> readValue;
    readValue = [&](const std::string& s, size_t& i, const std::string& path) {
        skipSpace(s, i);
        if (i >= s.size()) return;
        if (s[i] == '"' || s[i] == '\'') {
            char q = s[i++];
            std::string v;
            while (i < s.size() && s[i] != q) {
                if (s[i] == '\\' && q == '"' && i + 1 < s.size()) {
                    char e = s[++i];
                    v += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                    ++i;
                    continue;
                }
                v += s[i++];
            }
            ++i;
            doc.m_values[path] = v;
            doc.m_isString[path] = true;
        } else if (s[i] == '{') {
            ++i;
            while (i < s.size()) {
                skipSpace(s, i);
                if (s[i] == '}') { ++i; break; }
                auto key = readKey(s, i);
                skipSpace(s, i);
                if (i < s.size() && s[i] == '=') ++i;
                readValue(s, i, path + "/" + join(key));
                skipSpace(s, i);
                if (i < s.size() && s[i] == ',') ++i;
            }
        } else if (s[i] == '[') {
            // Arrays of plain values: kept as their elements path/0, path/1...
            ++i;
            int n = 0;
            while (i < s.size()) {
                skipSpace(s, i);
                if (s[i] == ']') { ++i; break; }
                readValue(s, i, path + "/" + std::to_string(n++));
                skipSpace(s, i);
                if (i < s.size() && s[i] == ',') ++i;
            }
        } else {
            size_t start = i;
            while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']' && s[i] != '#' && s[i] != ' ') ++i;
            doc.m_values[path] = s.substr(start, i - start);
            doc.m_isString[path] = false;
        }
    };

    while (std::getline(in, line)) {
        size_t i = 0;
        skipSpace(line, i);
        if (i >= line.size() || line[i] == '#') continue;
        if (line.compare(i, 2, "[[") == 0) {
            i += 2;
            table = readKey(line, i);
            std::string name = join(table);
            table.push_back(std::to_string(arrayCounts[name]++));
            doc.m_values[join(table)] = ""; // the table exists even without keys
            doc.m_isString[join(table)] = true;
            continue;
        }
        if (line[i] == '[') {
            ++i;
            table = readKey(line, i);
            doc.m_values[join(table)] = "";
            doc.m_isString[join(table)] = true;
            continue;
        }
        auto key = readKey(line, i);
        skipSpace(line, i);
        if (i >= line.size() || line[i] != '=') continue;
        ++i;
        std::vector<std::string> full = table;
        full.insert(full.end(), key.begin(), key.end());
        readValue(line, i, join(full));
    }
    return doc;
}

std::optional<std::string> TomlDoc::string(const std::string& path) const {
    auto it = m_values.find(path);
    if (it == m_values.end()) return std::nullopt;
    return it->second;
}

std::optional<double> TomlDoc::number(const std::string& path) const {
    auto it = m_values.find(path);
    if (it == m_values.end() || m_isString.at(path)) return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str()) return std::nullopt;
    return v;
}

std::optional<bool> TomlDoc::boolean(const std::string& path) const {
    auto it = m_values.find(path);
    if (it == m_values.end()) return std::nullopt;
    if (it->second == "true") return true;
    if (it->second == "false") return false;
    return std::nullopt;
}

std::vector<std::string> TomlDoc::children(const std::string& path) const {
    std::set<std::string> names;
    std::string prefix = path + "/";
    for (const auto& [k, v] : m_values) {
        if (k.compare(0, prefix.size(), prefix) != 0) continue;
        std::string rest = k.substr(prefix.size());
        names.insert(rest.substr(0, rest.find('/')));
    }
    return {names.begin(), names.end()};
}

} // namespace conformance
