// The core classes' rules driven through the VM's calls and property
// operations: Array holes, sorting and generic methods, Proxy, and the
// errors the built-ins throw.
#include "engine/avm2/builtins.h"
#include "engine/avm2/errors.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace swf::avm2;

Value num(double d) { return Value::number(d); }
Value str(const char* s) { return Value::string(QString::fromUtf8(s)); }
Name pub(const char* n) { return Name::publicName(QString::fromUtf8(n)); }

class CoreClasses : public testing::Test {
protected:
    Vm vm{[](const QString&) {}};

    Value call(const Value& on, const char* method, std::vector<Value> args = {}) { return vm.callProperty(on, pub(method), args); }
    Value array(std::vector<Value> items) { return Value::object(vm.newArray(std::move(items))); }
    Value object(std::vector<std::pair<const char*, Value>> props) {
        Value o = Value::object(vm.newObject());
        for (const auto& [k, v] : props) vm.setProperty(o, pub(k), v);
        return o;
    }
    QString join(const Value& a) { return vm.toString(call(a, "join", {str(",")})); }
    // The thrown error's class name and errorID ("RangeError 1125"), or empty.
    QString thrown(const std::function<void()>& f) {
        try {
            f();
        } catch (const ScriptThrow& t) {
            return vm.toString(vm.getPublic(t.value, QStringLiteral("name"))) + u' ' +
                   vm.toString(vm.getPublic(t.value, QStringLiteral("errorID")));
        }
        return {};
    }
    // The names a for-in loop over `o` visits, as the interpreter walks them.
    QString enumerated(const Value& o) {
        QStringList names;
        for (int i = vm.nextIndex(o.o, 0); i; i = vm.nextIndex(o.o, i)) names << vm.toString(vm.nameAt(o.o, i));
        return names.join(u',');
    }
};

TEST_F(CoreClasses, ArrayHolesAreAbsentButReadUndefined) {
    // Each case makes an array, then checks index 1: present or a hole, and the for-in names.
    struct Case { const char* what; std::function<Value()> make; bool present; const char* names; const char* joined; };
    const Case cases[] = {
        {"new Array(3)", [&] { return vm.construct(Value::object(vm.builtin("Array")), std::vector<Value>{num(3)}); }, false, "", ",,"},
        {"a[2] = x on []", [&] { Value a = array({}); vm.setProperty(a, pub("2"), str("x")); return a; }, false, "2", ",,x"},
        {"length = 3 on [0]", [&] { Value a = array({num(0)}); vm.setPublic(a, QStringLiteral("length"), num(3)); return a; }, false, "0", "0,,"},
        {"delete a[1]", [&] { Value a = array({num(0), num(1), num(2)}); vm.deleteProperty(a, pub("1")); return a; }, false, "0,2", "0,,2"},
        {"a[1] = undefined", [&] { Value a = array({num(0), num(1)}); vm.setProperty(a, pub("1"), Value()); return a; }, true, "0,1", "0,"},
    };
    for (const Case& c : cases) {
        Value a = c.make();
        EXPECT_EQ(vm.hasProperty(a, pub("1")), c.present) << c.what;
        EXPECT_EQ(vm.toBoolean(call(a, "hasOwnProperty", {str("1")})), c.present) << c.what;
        EXPECT_TRUE(vm.getProperty(a, pub("1")).isUndefined()) << c.what;
        EXPECT_EQ(enumerated(a), QString::fromLatin1(c.names)) << c.what;
        EXPECT_EQ(join(a), QString::fromLatin1(c.joined)) << c.what;
    }
    // A hole reads through to the prototype chain.
    vm.setProperty(Value::object(vm.builtin("Array")->prototype), pub("1"), str("inherited"));
    Value a = vm.construct(Value::object(vm.builtin("Array")), std::vector<Value>{num(3)});
    EXPECT_EQ(vm.toString(vm.getProperty(a, pub("1"))), QStringLiteral("inherited"));
    EXPECT_TRUE(vm.hasProperty(a, pub("1")));
    EXPECT_FALSE(vm.toBoolean(call(a, "hasOwnProperty", {str("1")})));
}

TEST_F(CoreClasses, ArraysReachTheirWholeIndexRangeSparsely) {
    // Each case writes one element of a new array, then reads it back with the length.
    struct Case { double index; double length; };
    const Case cases[] = {
        {0, 1}, {70000, 70001}, {2147483646, 2147483647}, {2147483648.0, 2147483649.0}, {4294967294.0, 4294967295.0},
    };
    for (const Case& c : cases) {
        Value a = array({str("first")});
        const Name at = Name::publicName(numberToString(c.index));
        vm.setProperty(a, at, str("hi"));
        EXPECT_EQ(vm.toString(vm.getProperty(a, at)), QStringLiteral("hi")) << c.index;
        EXPECT_EQ(vm.toNumber(vm.getPublic(a, QStringLiteral("length"))), std::max(c.length, 1.0)) << c.index;
        EXPECT_TRUE(vm.hasProperty(a, at)) << c.index;
        EXPECT_EQ(enumerated(a), c.index ? QStringLiteral("0,") + numberToString(c.index) : QStringLiteral("0")) << c.index;
    }
    // Shortening drops the elements past the new length; pop takes the last one.
    Value a = array({});
    vm.setProperty(a, pub("3000000000"), str("far"));
    vm.setProperty(a, pub("2000000000"), str("near"));
    vm.setPublic(a, QStringLiteral("length"), num(2500000000.0));
    EXPECT_FALSE(vm.hasProperty(a, pub("3000000000")));
    EXPECT_TRUE(call(a, "pop").isUndefined());
    EXPECT_EQ(vm.toNumber(vm.getPublic(a, QStringLiteral("length"))), 2499999999.0);
    vm.setPublic(a, QStringLiteral("length"), num(2000000001.0));
    EXPECT_EQ(vm.toString(call(a, "pop")), QStringLiteral("near"));
    EXPECT_FALSE(vm.hasProperty(a, pub("2000000000")));
    // An array made long fills from either end without running out of sparse room.
    for (bool downward : {false, true}) {
        Value filled = vm.construct(Value::object(vm.builtin("Array")), std::vector<Value>{num(100000)});
        for (int i = 0; i < 100000; ++i) vm.setProperty(filled, Name::publicName(QString::number(downward ? 99999 - i : i)), num(i));
        EXPECT_EQ(vm.toInt(vm.getProperty(filled, pub("70000"))), downward ? 29999 : 70000);
        EXPECT_EQ(vm.toInt(vm.getPublic(filled, QStringLiteral("length"))), 100000);
    }
    // A method that needs every element refuses a length it cannot hold.
    EXPECT_EQ(thrown([&] { call(a, "join"); }), QStringLiteral("RangeError 1000"));
    EXPECT_EQ(thrown([&] { vm.deleteProperty(a, pub("5")); }), QString());
}

TEST_F(CoreClasses, SortOrdersByFlagsAndPutsUndefinedThenHolesLast) {
    enum { CaseInsensitive = 1, Descending = 2, Unique = 4, Indexed = 8, Numeric = 16 };
    struct Case { std::vector<Value> items; int flags; const char* sorted; const char* result; };
    const Value hole = Value::hole();
    const Case cases[] = {
        {{num(10), num(9), num(1)}, 0, "1,10,9", "1,10,9"},
        {{num(10), num(9), num(1)}, Numeric, "1,9,10", "1,9,10"},
        {{num(10), num(9), num(1)}, Numeric | Descending, "10,9,1", "10,9,1"},
        {{str("b"), str("B"), str("a")}, 0, "B,a,b", "B,a,b"},
        {{str("b"), str("C"), str("a")}, CaseInsensitive, "a,b,C", "a,b,C"},
        {{str("b"), Value(), hole, str("a")}, 0, "a,b,,", "a,b,,"},
        {{str("b"), str("a"), str("b")}, Unique, "b,a,b", "0"},
        {{str("b"), str("c"), str("a")}, Indexed, "b,c,a", "2,0,1"},
    };
    for (const Case& c : cases) {
        Value a = array(c.items);
        Value r = call(a, "sort", {num(c.flags)});
        EXPECT_EQ(join(a), QString::fromLatin1(c.sorted)) << c.sorted << " flags " << c.flags;
        EXPECT_EQ(r.isObject() ? join(r) : vm.toString(r), QString::fromLatin1(c.result)) << c.sorted << " flags " << c.flags;
    }
    // The holes stay holes after sorting.
    Value a = array({hole, str("x")});
    call(a, "sort");
    EXPECT_FALSE(vm.hasProperty(a, pub("1")));
}

TEST_F(CoreClasses, SortOnComparesEachFieldInTurnWithItsOwnFlags) {
    auto row = [&](const char* name, double age) { return object({{"name", str(name)}, {"age", num(age)}}); };
    auto names = [&](const Value& a) {
        QStringList out;
        for (int i = 0; i < vm.toInt(vm.getPublic(a, QStringLiteral("length"))); ++i)
            out << vm.toString(vm.getPublic(vm.getProperty(a, Name::publicName(QString::number(i))), QStringLiteral("name"))) +
                       vm.toString(vm.getPublic(vm.getProperty(a, Name::publicName(QString::number(i))), QStringLiteral("age")));
        return out.join(u' ');
    };
    struct Case { Value fields; Value flags; const char* expected; };
    const Case cases[] = {
        {str("age"), Value(), "b10 a20 c3"},
        {str("age"), num(16), "c3 b10 a20"},
        {array({str("name"), str("age")}), Value(), "a20 b10 c3"},
        {array({str("age"), str("name")}), array({num(16 | 2), num(0)}), "a20 b10 c3"},
        {array({str("name")}), num(2), "c3 b10 a20"},
    };
    for (const Case& c : cases) {
        Value a = array({row("b", 10), row("a", 20), row("c", 3)});
        std::vector<Value> args{c.fields};
        if (!c.flags.isUndefined()) args.push_back(c.flags);
        call(a, "sortOn", args);
        EXPECT_EQ(names(a), QString::fromLatin1(c.expected)) << c.expected;
    }
}

TEST_F(CoreClasses, SortSurvivesAComparisonThatChangesTheArray) {
    // The comparison empties the array it sorts and answers inconsistently.
    static Value target;
    target = array({num(3), num(1), num(2), num(5), num(4)});
    NativeFn shrink = [](Vm& vm, const Value&, Args args) {
        vm.setPublic(target, QStringLiteral("length"), Value::number(0));
        return Value::number(vm.toNumber(args[0]) > 2 ? 1 : -1);
    };
    Value fn = Value::object(vm.newNative(QStringLiteral("cmp"), shrink, 2));
    EXPECT_EQ(thrown([&] { call(target, "sort", {fn}); }), QString());
    EXPECT_EQ(vm.toInt(vm.getPublic(target, QStringLiteral("length"))), 5);
    target = Value();
}

TEST_F(CoreClasses, ArrayMethodsAreGenericOverArrayLikes) {
    struct Case { const char* method; std::vector<Value> args; const char* result; const char* after; };
    const Case cases[] = {
        {"join", {str("-")}, "a-b-c", "a,b,c"},
        {"push", {str("d")}, "4", "a,b,c,d"},
        {"pop", {}, "c", "a,b"},
        {"reverse", {}, "", "c,b,a"},
        {"slice", {num(1)}, "b,c", "a,b,c"},
        {"indexOf", {str("c")}, "2", "a,b,c"},
        {"splice", {num(0), num(2)}, "a,b", "c"},
    };
    for (const Case& c : cases) {
        Value like = object({{"0", str("a")}, {"1", str("b")}, {"2", str("c")}, {"length", num(3)}});
        Value method = vm.getPublic(Value::object(vm.builtin("Array")->prototype), QString::fromLatin1(c.method));
        Value r = vm.call(method, like, c.args);
        if (!(r.isObject() && r.o == like.o)) {
            EXPECT_EQ(vm.toString(r), QString::fromLatin1(c.result)) << c.method;
        }
        Value back = vm.call(vm.getPublic(Value::object(vm.builtin("Array")->prototype), QStringLiteral("join")), like, {});
        EXPECT_EQ(vm.toString(back), QString::fromLatin1(c.after)) << c.method;
    }
}

// A Proxy subclass whose flash_proxy methods record what they were asked.
class ProxyRules : public CoreClasses {
protected:
    static inline QStringList* s_log = nullptr;
    QStringList log;
    static void record(Vm& vm, const char* what, Args a) {
        QStringList parts;
        for (const Value& v : a) parts << vm.toString(v);
        *s_log << QString::fromLatin1(what) + u'(' + parts.join(u',') + u')';
    }
    ClassObject* proxyClass(bool overrides) {
        ClassObject* c = vm.defineClass(QStringLiteral("TestProxy"), vm.builtin("flash.utils.Proxy"), nullptr, nullptr);
        c->instanceTraits = vm.builtin("flash.utils.Proxy")->instanceTraits;
        vm.defineSlot(c, QStringLiteral("declared"), str("slot"));
        if (!overrides) return c;
        const Namespace ns = flashProxyNs();
        struct M { const char* name; NativeFn fn; };
        const M methods[] = {
            {"getProperty", [](Vm& vm, const Value&, Args a) { record(vm, "get", a); return Value::string(QStringLiteral("got")); }},
            {"setProperty", [](Vm& vm, const Value&, Args a) { record(vm, "set", a); return Value(); }},
            {"hasProperty", [](Vm& vm, const Value&, Args a) { record(vm, "has", a); return Value::boolean(true); }},
            {"deleteProperty", [](Vm& vm, const Value&, Args a) { record(vm, "delete", a); return Value::boolean(true); }},
            {"callProperty", [](Vm& vm, const Value&, Args a) { record(vm, "call", a); return Value::number(7); }},
            {"nextNameIndex", [](Vm& vm, const Value&, Args a) { return Value::number(vm.toInt(a[0]) < 2 ? vm.toInt(a[0]) + 1 : 0); }},
            {"nextName", [](Vm& vm, const Value&, Args a) { return Value::string(QStringLiteral("n%1").arg(vm.toInt(a[0]))); }},
            {"nextValue", [](Vm& vm, const Value&, Args a) { return Value::number(vm.toInt(a[0]) * 10); }},
        };
        for (const M& m : methods) vm.defineFixedMethod(c, QString::fromLatin1(m.name), m.fn, 1, &ns);
        return c;
    }
    void SetUp() override { s_log = &log; }
};

TEST_F(ProxyRules, UndeclaredNamesGoToTheFlashProxyMethods) {
    Value p = vm.construct(Value::object(proxyClass(true)), {});
    EXPECT_EQ(vm.toString(vm.getProperty(p, pub("x"))), QStringLiteral("got"));
    vm.setProperty(p, pub("y"), num(5));
    EXPECT_TRUE(vm.hasProperty(p, pub("z")));
    EXPECT_TRUE(vm.deleteProperty(p, pub("w")));
    EXPECT_EQ(vm.toInt(vm.callProperty(p, pub("f"), std::vector<Value>{num(1), num(2)})), 7);
    EXPECT_EQ(log.join(u' '), QStringLiteral("get(x) set(y,5) has(z) delete(w) call(f,1,2)"));
    // A declared name is the class's own, never the proxy's.
    log.clear();
    EXPECT_EQ(vm.toString(vm.getProperty(p, pub("declared"))), QStringLiteral("slot"));
    EXPECT_TRUE(log.isEmpty());
    // A qualified name arrives as a QName in its namespace.
    Namespace ns{NsKind::Namespace, QStringLiteral("my_ns"), 0};
    Name qualified;
    qualified.name = QStringLiteral("q");
    qualified.nss = &ns;
    qualified.nsCount = 1;
    vm.getProperty(p, qualified);
    EXPECT_EQ(log.join(u' '), QStringLiteral("get(my_ns::q)"));
    // for-in and for-each walk nextNameIndex, nextName and nextValue.
    QStringList walked;
    for (int i = vm.nextIndex(p.o, 0); i; i = vm.nextIndex(p.o, i))
        walked << vm.toString(vm.nameAt(p.o, i)) + u'=' + vm.toString(vm.valueAt(p.o, i));
    EXPECT_EQ(walked.join(u' '), QStringLiteral("n1=10 n2=20"));
}

TEST_F(ProxyRules, TheBaseMethodsRefuseWithTheirErrors) {
    Value p = vm.construct(Value::object(proxyClass(false)), {});
    struct Case { const char* what; std::function<void()> op; const char* error; };
    const Case cases[] = {
        {"get", [&] { vm.getProperty(p, pub("x")); }, "IllegalOperationError 2088"},
        {"set", [&] { vm.setProperty(p, pub("x"), num(1)); }, "IllegalOperationError 2089"},
        {"call", [&] { vm.callProperty(p, pub("x"), {}); }, "IllegalOperationError 2090"},
        {"has", [&] { vm.hasProperty(p, pub("x")); }, "IllegalOperationError 2091"},
        {"delete", [&] { vm.deleteProperty(p, pub("x")); }, "IllegalOperationError 2092"},
        {"for-in", [&] { vm.nextIndex(p.o, 0); }, "IllegalOperationError 2105"},
        {"declared", [&] { vm.getProperty(p, pub("declared")); }, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(thrown(c.op), QString::fromLatin1(c.error)) << c.what;
}

TEST_F(CoreClasses, ErrorTextsFillTheirPlacesOnce) {
    struct Case { int id; QStringList params; const char* text; };
    const Case cases[] = {
        {1009, {}, "Error #1009: Cannot access a property or method of a null object reference."},
        {1034, {QStringLiteral("a"), QStringLiteral("b")}, "Error #1034: Type Coercion failed: cannot convert a to b."},
        {1034, {QStringLiteral("%2"), QStringLiteral("b")}, "Error #1034: Type Coercion failed: cannot convert %2 to b."},
        {1034, {QStringLiteral("a")}, "Error #1034: Type Coercion failed: cannot convert a to ."},
        {12, {QStringLiteral("a")}, "Error #12"},
    };
    for (const Case& c : cases) EXPECT_EQ(errorText(c.id, c.params), QString::fromLatin1(c.text)) << c.id;
    // Error.throwError makes the given class with that text and number.
    Value rangeError = Value::object(vm.builtin("RangeError"));
    try {
        call(Value::object(vm.builtin("Error")), "throwError", {rangeError, num(1125), num(4), num(2)});
        ADD_FAILURE() << "throwError returned";
    } catch (const ScriptThrow& t) {
        EXPECT_EQ(vm.toString(t.value), QStringLiteral("RangeError: Error #1125: The index 4 is out of range 2."));
        EXPECT_EQ(vm.toInt(vm.getPublic(t.value, QStringLiteral("errorID"))), 1125);
        // The native shows in the error's stack trace as Flash names it.
        EXPECT_TRUE(vm.toString(call(t.value, "getStackTrace")).contains(QStringLiteral("at Error$/throwError()")));
    }
}

TEST_F(CoreClasses, PrototypesOfPrimitiveClassesStandForTheirDefault) {
    struct Case { const char* cls; const char* method; const char* expected; };
    const Case cases[] = {
        {"Boolean", "toString", "false"}, {"Boolean", "valueOf", "false"}, {"Number", "toString", "0"},
        {"Number", "valueOf", "0"}, {"int", "toFixed", "0"}, {"uint", "toString", "0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vm.toString(call(Value::object(vm.builtin(c.cls)->prototype), c.method)), QString::fromLatin1(c.expected)) << c.cls;
    EXPECT_EQ(thrown([&] { vm.call(vm.getPublic(Value::object(vm.builtin("Boolean")->prototype), QStringLiteral("toString")), num(1), {}); }),
              QStringLiteral("TypeError 1004"));
}

} // namespace
