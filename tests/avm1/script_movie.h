#pragma once
// A movie written in code, played by a Player with the ActionScript engine
// and its trace kept; scripts run on its root as a frame's actions would.
#include "engine/avm1/script_engine.h"
#include "engine/display/player.h"
#include "tests/avm1/action_builder.h"
#include "tests/support/swf_writer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace avm1test {

struct ScriptMovie {
    std::unique_ptr<swf::Player> player;
    std::vector<std::string> trace;
    swf::avm1::ScriptEngine& engine() { return *dynamic_cast<swf::avm1::ScriptEngine*>(player->scriptHost()); }
    // Runs `code` (SWF 8) on the root; answers the lines it traced.
    std::vector<std::string> run(const Asm& code) {
        trace.clear();
        swf::test::Bytes b = code.bytes();
        engine().vm().beginFrame();
        engine().vm().runActions(b, engine().vm().root(), 8);
        engine().runQueued();
        return trace;
    }
};

// Loads `w` as `url` on a 550 x 400 stage and runs its first frame.
inline std::unique_ptr<ScriptMovie> playScriptMovie(const swf::test::SwfWriter& w, const std::string& url = "test.swf") {
    auto m = std::make_unique<ScriptMovie>();
    swf::HostCallbacks host;
    ScriptMovie* raw = m.get();
    host.trace = [raw](const std::string& t) { raw->trace.push_back(t); };
    m->player = std::make_unique<swf::Player>(host);
    m->player->setScriptHostFactory(swf::avm1ScriptHostFactory());
    EXPECT_TRUE(m->player->load(w.bytes(), url).ok());
    m->player->setViewport(550, 400);
    m->player->runFrame();
    return m;
}

} // namespace avm1test
