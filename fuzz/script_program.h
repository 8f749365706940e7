#pragma once
// Structure-aware fuzzing of the script runtime: turns fuzzer bytes into a
// well-formed ActionScript program. The bytes only choose (which built-in,
// which member, which value, how many arguments, which `this`), so every
// program parses and runs, and mutations change what is called rather than
// breaking the byte code. What a program can name comes from the running VM
// itself (`BuiltinNames`), so built-ins added later are fuzzed too.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fuzzing {

// The names a program picks from: paths to every global object (`Math`,
// `flash.geom.Point`), which of them construct, and every member name found
// on them and on their prototypes.
struct BuiltinNames {
    std::vector<std::vector<std::string>> globals;      // paths from _global
    std::vector<std::vector<std::string>> constructors; // paths of functions with a prototype
    std::vector<std::string> members;
};

// Collects the names a fresh AVM1 VM of `version` offers.
BuiltinNames collectBuiltinNames(int version);

// Action bytes (ending with End) of the program `choices` describe.
std::vector<uint8_t> buildProgram(const BuiltinNames& names, std::span<const uint8_t> choices);

} // namespace fuzzing
