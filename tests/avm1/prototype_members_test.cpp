// The members that link objects to their classes: __proto__, constructor
// and __constructor__ are real own members with fixed flags, made by object
// creation, function creation, `new` and `extends`, and the prototype chain
// follows whatever __proto__ holds.
#include "engine/avm1/clip_object.h"
#include "engine/avm1/vm.h"
#include "tests/avm1/action_builder.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using avm1test::Asm;
using swf::avm1::ClipObject;
using swf::avm1::Property;
using swf::avm1::Value;
using swf::avm1::Vm;
using swf::avm1::VmHost;
namespace prop = swf::avm1::prop;

constexpr uint8_t kNewObject = 0x40, kExtends = 0x69, kInstanceOf = 0x54, kDelete = 0x3A;

// F = function () {}; o = new F(); n = new Number(1); G = function () {}; G extends F
Asm classes() {
    Asm a;
    a.defineFunction("F", {}, Asm());
    a.push("o").push(0).push("F").op(kNewObject).setVariable();
    a.push("n").push(1).push(1).push("Number").op(kNewObject).setVariable();
    a.defineFunction("G", {}, Asm());
    a.getVariable("G").getVariable("F").op(kExtends);
    return a;
}

constexpr uint32_t kNone = 0xffffffff; // the member is not there
constexpr uint32_t kHidden = prop::kDontEnum | prop::kDontDelete;

struct MemberCase {
    int version;
    const char* object; // a variable, or "X.prototype"
    const char* member;
    uint32_t flags;
};

class PrototypeMembers : public ::testing::TestWithParam<MemberCase> {};

TEST_P(PrototypeMembers, HaveTheirFlags) {
    const MemberCase& c = GetParam();
    Vm vm(c.version, VmHost{});
    auto* root = vm.make<ClipObject>(vm.clipProto);
    vm.setRoot(root);
    const std::vector<uint8_t> code = classes().bytes();
    vm.beginFrame();
    vm.runActions(code, root, c.version);

    QString path = QString::fromLatin1(c.object);
    const bool ofPrototype = path.endsWith(QStringLiteral(".prototype"));
    Value holder = vm.getMember(Value(root), path.section(u'.', 0, 0));
    if (ofPrototype) holder = vm.getMember(holder, QStringLiteral("prototype"));
    ASSERT_TRUE(holder.isObject()) << c.object;
    const Property* p = holder.asObject()->find(vm.key(QString::fromLatin1(c.member)));
    if (c.flags == kNone) {
        EXPECT_EQ(p, nullptr) << c.object << "." << c.member;
        return;
    }
    ASSERT_NE(p, nullptr) << c.object << "." << c.member;
    EXPECT_EQ(p->flags, c.flags) << c.object << "." << c.member;
}

INSTANTIATE_TEST_SUITE_P(
    Rule, PrototypeMembers,
    ::testing::Values(
        // Every object links to its prototype through a hidden, permanent __proto__.
        MemberCase{5, "o", "__proto__", kHidden}, MemberCase{7, "o", "__proto__", kHidden},
        MemberCase{7, "n", "__proto__", kHidden}, MemberCase{6, "F.prototype", "__proto__", kHidden},
        // `new` records the constructor: __constructor__ is seen from SWF 6 on,
        // `constructor` is set on the instance only before SWF 7.
        MemberCase{5, "o", "__constructor__", prop::kDontEnum | prop::kVersion6},
        MemberCase{8, "o", "__constructor__", prop::kDontEnum | prop::kVersion6},
        MemberCase{5, "n", "__constructor__", prop::kDontEnum | prop::kVersion6},
        MemberCase{6, "o", "constructor", prop::kDontEnum}, MemberCase{5, "n", "constructor", prop::kDontEnum},
        MemberCase{7, "o", "constructor", kNone}, MemberCase{7, "n", "constructor", kNone},
        // A function has its own constructor (Function), prototype, and a
        // __proto__ seen from SWF 6 on; its prototype points back at it.
        MemberCase{6, "F", "__proto__", kHidden | prop::kVersion6},
        MemberCase{6, "F", "constructor", kHidden}, MemberCase{6, "F", "prototype", kHidden},
        MemberCase{7, "F.prototype", "constructor", kHidden},
        // `extends` makes a prototype that names the parent in __constructor__ only.
        MemberCase{7, "G.prototype", "__constructor__", prop::kDontEnum},
        MemberCase{7, "G.prototype", "constructor", kNone}),
    [](const ::testing::TestParamInfo<MemberCase>& info) {
        std::string name = std::string(info.param.object) + "_" + info.param.member + "_" + std::to_string(info.param.version);
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

std::vector<std::string> runTraced(int version, const Asm& program) {
    std::vector<std::string> trace;
    VmHost host;
    host.trace = [&](const QString& s) { trace.push_back(s.toStdString()); };
    Vm vm(version, host);
    auto* root = vm.make<ClipObject>(vm.clipProto);
    vm.setRoot(root);
    const std::vector<uint8_t> code = program.bytes();
    vm.beginFrame();
    vm.runActions(code, root, version);
    return trace;
}

// The chain is the __proto__ member: replacing or deleting it changes what
// the object inherits and what it is an instance of.
TEST(PrototypeChain, FollowsTheProtoMember) {
    Asm a = classes();
    // trace(o instanceof F); o.__proto__ = G.prototype; trace(o instanceof F);
    a.getVariable("o").getVariable("F").op(kInstanceOf).trace();
    a.getVariable("o").push("__proto__").getVariable("G").push("prototype").getMember().setMember();
    a.getVariable("o").getVariable("G").op(kInstanceOf).trace();
    // ASSetPropFlags(o, "__proto__", 0, 2); delete o.__proto__; trace(o instanceof F); trace(o.__proto__);
    a.push(2).push(0).push("__proto__").getVariable("o").push(4).push("ASSetPropFlags").callFunction().pop();
    a.getVariable("o").push("__proto__").op(kDelete).trace();
    a.getVariable("o").getVariable("F").op(kInstanceOf).trace();
    a.getVariable("o").push("__proto__").getMember().trace();
    // A primitive's __proto__ is its wrapper's prototype.
    a.push("x").push("__proto__").getMember().getVariable("String").push("prototype").getMember().op(0x66).trace();
    EXPECT_EQ(runTraced(7, a), (std::vector<std::string>{"true", "true", "true", "false", "undefined", "true"}));
}

} // namespace
