// Every method of every built-in prototype, found on the live _global, is
// called with `this` set to an instance of every built-in class, to live
// clips, fields, bitmaps, XML and stored objects, and to each primitive,
// with plain arguments and with an argument whose valueOf frees those live
// objects. Garbage is collected between the classes. Nothing may touch
// memory it does not own (the sanitizer build checks that).
#include "tests/hostile/hostile_env.h"

#include <cmath>
#include <functional>
#include <set>

namespace {

using namespace hostile;

// Every constructor reachable from _global (packages such as flash.geom
// included) that has a prototype, by dotted name.
std::vector<std::pair<QString, Object*>> builtinClasses(Vm& vm) {
    std::vector<std::pair<QString, Object*>> out;
    std::set<Object*> seen{vm.global()};
    std::function<void(Object*, const QString&, int)> walk = [&](Object* holder, const QString& path, int depth) {
        for (const auto& p : std::vector(holder->properties())) {
            Object* o = p.isVirtual() ? nullptr : p.value.asObject();
            if (!o || !seen.insert(o).second) continue;
            const QString name = path.isEmpty() ? p.name : path + u'.' + p.name;
            auto* f = dynamic_cast<FunctionObject*>(o);
            Object* proto = f ? vm.getMember(p.value, QStringLiteral("prototype")).asObject() : nullptr;
            if (f && !f->script() && proto) out.emplace_back(name, o);
            else if (!f && depth < 3) walk(o, name, depth + 1);
        }
    };
    walk(vm.global(), QString(), 0);
    return out;
}

// The methods, getters and setters a prototype holds itself.
std::vector<Value> methodsOf(Object* proto) {
    std::vector<Value> out;
    for (const auto& p : proto->properties()) {
        if (p.getter) out.emplace_back(p.getter);
        if (p.setter) out.emplace_back(p.setter);
        if (dynamic_cast<FunctionObject*>(p.value.asObject())) out.push_back(p.value);
    }
    return out;
}

// valueOf and toString of the hostile argument: frees what it can of the
// live objects in its data, as a movie's script would, and answers 1.
Value wreck(Vm& vm, CallArgs& a) {
    auto* victims = dynamic_cast<ArrayObject*>(a.callee->data.asObject());
    for (const Value& v : victims ? std::vector<Value>(victims->items) : std::vector<Value>{})
        for (const char* m : {"dispose", "removeMovieClip", "removeTextField", "clear", "parseXML"}) {
            vm.callMethod(v, QString::fromLatin1(m), {});
            vm.takeException();
        }
    return Value(1);
}

TEST(HostileForeignThis, EveryBuiltinMethodOnEveryWrongThis) {
    swf::test::SwfWriter movie(8, {0, 100 * 20, 0, 100 * 20});
    movie.showFrame();
    Env e(movie);
    Vm& vm = e.vm();
    auto classes = builtinClasses(vm);
    std::set<QString> names;
    for (const auto& [name, ctor] : classes) names.insert(name);
    for (const char* expected : {"Sound", "SharedObject", "LoadVars", "XML", "XMLNode", "Color", "TextFormat", "Date",
                                 "MovieClipLoader", "TextSnapshot", "flash.display.BitmapData", "flash.geom.Point",
                                 "Array", "MovieClip", "TextField"})
        EXPECT_TRUE(names.count(QString::fromLatin1(expected))) << expected;

    size_t calls = 0, peakHeap = 0;
    for (const auto& [name, ctor] : classes) {
        Object* proto = vm.getMember(Value(ctor), QStringLiteral("prototype")).asObject();
        // Fresh live objects for each class: the hostile argument frees them.
        Value clip = e.call(e.root(), "createEmptyMovieClip", {Value(QStringLiteral("victim")), Value(1)});
        e.call(e.root(), "createTextField", {Value(QStringLiteral("field")), Value(2), Value(0), Value(0), Value(20), Value(20)});
        Value field = e.get(e.root(), "field");
        Value bitmap = e.make(QStringLiteral("flash.display.BitmapData"), {Value(4), Value(4)});
        Value xml = e.make(QStringLiteral("XML"), {Value(QStringLiteral("<a x='1'><b/>text</a>"))});
        Value stored = e.call(e.global(QStringLiteral("SharedObject")), "getLocal", {Value(QStringLiteral("sweep"))});
        Value victims(static_cast<Object*>(vm.newArray({clip, field, bitmap, xml, stored})));
        Object* hostile = vm.newObject();
        vm.setMember(hostile, QStringLiteral("valueOf"), e.native(wreck, victims));
        vm.setMember(hostile, QStringLiteral("toString"), e.native(wreck, victims));

        std::vector<Value> thisValues = {Value(), Value::null(), Value(true), Value(0), Value(std::nan("")),
                                         Value(QString()), Value(QStringLiteral("a string")), clip, field, bitmap,
                                         xml, stored, e.make(QStringLiteral("Color"), {clip}),
                                         e.make(QStringLiteral("Sound"), {clip})};
        for (const auto& [other, otherCtor] : classes)
            if (Value v = vm.construct(Value(otherCtor), std::vector<Value>{Value(4), Value(4)}); v.isObject())
                thisValues.push_back(v);
        const Value h(hostile);
        const std::vector<std::vector<Value>> argLists = {
            {}, {Value(0), Value(1), Value(2), Value(3)},
            {Value(QStringLiteral("a")), Value::null(), Value(), Value(std::nan(""))}, {h, h, h, h}};
        for (const Value& method : methodsOf(proto))
            for (const Value& self : thisValues)
                for (const auto& args : argLists) {
                    vm.call(method, self, args);
                    vm.takeException();
                    ++calls;
                }
        ASSERT_FALSE(vm.halted()) << name.toStdString();
        peakHeap = std::max(peakHeap, vm.heapSize());
        // Queued events and loads run, and the collector frees what the calls left.
        e.player->runFrame();
    }
    e.player->runFrame();
    EXPECT_GT(calls, 50000u);
    EXPECT_LT(vm.heapSize(), peakHeap);
    EXPECT_FALSE(vm.halted());
}

} // namespace
