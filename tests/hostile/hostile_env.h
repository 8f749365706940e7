#pragma once
// A playing movie whose VM the hostile tests drive directly. Natives made
// here stand in for movie scripts: the runtime calls them the same way.
#include "engine/avm1/script_engine.h"
#include "engine/avm1/vm.h"
#include "engine/display/player.h"
#include "tests/support/gui_application.h"
#include "tests/support/swf_writer.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

namespace hostile {

using swf::avm1::ArrayObject;
using swf::avm1::CallArgs;
using swf::avm1::FunctionObject;
using swf::avm1::NativeFn;
using swf::avm1::Object;
using swf::avm1::Value;
using swf::avm1::Vm;

struct Env {
    std::unique_ptr<swf::Player> player;

    explicit Env(const swf::test::SwfWriter& movie) {
        // Stored objects go to Qt's test folders, not the user's.
        QStandardPaths::setTestModeEnabled(true);
        player = std::make_unique<swf::Player>(swf::HostCallbacks{});
        player->setScriptHostFactory(swf::avm1ScriptHostFactory());
        EXPECT_TRUE(player->load(movie.bytes(), "hostile.swf").ok());
        player->setViewport(100, 100);
        player->runFrame();
    }
    Vm& vm() { return dynamic_cast<swf::avm1::ScriptEngine&>(*player->scriptHost()).vm(); }
    Value root() { return Value(static_cast<Object*>(vm().root())); }
    // A dotted path from _global ("flash.display.BitmapData").
    Value global(const QString& path) {
        Value v(vm().global());
        for (const QString& part : path.split(u'.')) v = vm().getMember(v, part);
        return v;
    }
    Value get(const Value& o, const char* name) { return vm().getMember(o, QString::fromLatin1(name)); }
    Value call(const Value& o, const char* method, std::vector<Value> args = {}) {
        Value r = vm().callMethod(o, QString::fromLatin1(method), args);
        vm().takeException();
        return r;
    }
    Value make(const QString& cls, std::vector<Value> args = {}) { return vm().construct(global(cls), args); }
    // A native function that sees `data` as a.callee->data.
    Value native(NativeFn fn, Value data = {}) {
        FunctionObject* f = vm().newNative(fn);
        f->data = std::move(data);
        return Value(static_cast<Object*>(f));
    }
    std::string text(const Value& v) { return vm().toString(v).toStdString(); }
    std::string type(const Value& v) { return vm().typeOf(v).toStdString(); }
};

} // namespace hostile
