#pragma once
// Messages from the engine to its host. The engine never prints; it hands
// every message to the host's log callback.
#include <functional>
#include <string>

namespace swf {

enum class LogLevel { Error, Warning, Unimplemented, Debug };

using LogFn = std::function<void(LogLevel, const std::string&)>;

} // namespace swf
