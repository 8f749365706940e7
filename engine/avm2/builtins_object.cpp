// Object, Class, Function, Namespace, QName, Boolean, Number, int, uint and
// the Error classes.
#include "engine/avm2/builtins.h"
#include "engine/avm2/errors.h"

#include "engine/core/number_format.h"

namespace swf::avm2 {

namespace {

QString classNameOf(Vm& vm, const Value& v) {
    ClassObject* c = vm.classOf(v);
    return c ? c->name : QStringLiteral("Object");
}

// ---- Object
Value objectCtor(Vm& vm, const Value& self, Args a) {
    Value v = arg(a, 0);
    if (!v.isNullish()) return v;
    (void)vm;
    (void)self;
    return {};
}
Value objectCall(Vm& vm, const Value&, Args a) {
    Value v = arg(a, 0);
    if (!v.isNullish()) return v;
    return Value::object(vm.newObject());
}
Value objectToString(Vm& vm, const Value& self, Args) {
    if (self.isObject())
        if (auto* c = self.o->as<ClassObject>()) return Value::string(QStringLiteral("[class %1]").arg(c->name));
    return Value::string(QStringLiteral("[object %1]").arg(classNameOf(vm, self)));
}
// ECMA-262 15.2.4.3: whatever the object's own toString gives.
Value objectToLocaleString(Vm& vm, const Value& self, Args) {
    return vm.callProperty(self, Name::publicName(QStringLiteral("toString")), {});
}
Value objectValueOf(Vm&, const Value& self, Args) { return self; }
Value hasOwnProperty(Vm& vm, const Value& self, Args a) {
    QString n = vm.toString(arg(a, 0));
    if (self.isNullish()) return Value::boolean(false);
    Name name = Name::publicName(n);
    if (!self.isObject()) return Value::boolean(self.isString() && n == QLatin1String("length"));
    Object* o = self.o;
    if (vm.findBinding(o, name)) return Value::boolean(true);
    if (auto* arr = o->as<ArrayObject>()) {
        bool ok;
        uint idx = n.toUInt(&ok);
        if (ok && arr->element(idx)) return Value::boolean(true);
    }
    if (auto* vec = o->as<VectorObject>()) {
        bool ok;
        uint idx = n.toUInt(&ok);
        if (ok) return Value::boolean(idx < vec->items.size());
    }
    return Value::boolean(o->dynamic.find(n) != nullptr);
}
Value propertyIsEnumerable(Vm& vm, const Value& self, Args a) {
    if (!self.isObject()) return Value::boolean(false);
    QString n = vm.toString(arg(a, 0));
    if (auto* arr = self.o->as<ArrayObject>()) {
        bool ok;
        uint idx = n.toUInt(&ok);
        if (ok) return Value::boolean(arr->element(idx) != nullptr);
    }
    const auto* e = self.o->dynamic.entry(n);
    return Value::boolean(e && e->enumerable);
}
Value setPropertyIsEnumerable(Vm& vm, const Value& self, Args a) {
    if (self.isObject()) self.o->dynamic.setEnumerable(vm.toString(arg(a, 0)), vm.toBoolean(arg(a, 1)));
    return {};
}
Value isPrototypeOf(Vm&, const Value& self, Args a) {
    Value v = arg(a, 0);
    if (!self.isObject() || !v.isObject()) return Value::boolean(false);
    for (Object* p = v.o->proto; p; p = p->proto)
        if (p == self.o) return Value::boolean(true);
    return Value::boolean(false);
}

// ---- Function
Value functionCall(Vm& vm, const Value& self, Args a) {
    Value thisArg = arg(a, 0);
    return vm.call(self, thisArg, a.size() > 1 ? a.subspan(1) : Args{});
}
Value functionApply(Vm& vm, const Value& self, Args a) {
    Value thisArg = arg(a, 0);
    Value list = arg(a, 1);
    std::vector<Value> args;
    if (list.isObject()) {
        if (auto* arr = list.o->as<ArrayObject>()) {
            // Each argument as the array gives it: a hole reads through the prototype chain.
            args = denseItems(vm, *arr);
            for (size_t i = 0; i < args.size(); ++i)
                if (args[i].isHole()) args[i] = vm.getProperty(list, Name::publicName(QString::number(i)));
        }
        else if (auto* v = list.o->as<VectorObject>()) args = v->items;
        else vm.throwError(ErrorType::TypeError, 1116);
    } else if (!list.isNullish()) {
        vm.throwError(ErrorType::TypeError, 1116);
    }
    return vm.call(self, thisArg, args);
}
Value functionLength(Vm& vm, const Value& self, Args) {
    auto* f = thisAs<FunctionObject>(vm, self, "Function");
    if (f->method->native) return Value::number(f->method->arity);
    return Value::number(double(f->method->info().paramTypes.size()));
}
Value functionCtor(Vm& vm, const Value&, Args a) {
    if (!a.empty()) vm.throwError(ErrorType::EvalError, 1066);
    return Value::object(vm.newNative(QString(), [](Vm&, const Value&, Args) { return Value(); }, 0));
}
Value functionToString(Vm&, const Value&, Args) { return Value::string(QStringLiteral("function Function() {}")); }

// ---- Class
Value classToString(Vm& vm, const Value& self, Args) {
    auto* c = thisAs<ClassObject>(vm, self, "Class");
    return Value::string(QStringLiteral("[class %1]").arg(c->name));
}

// ---- Namespace, QName
Value namespaceCtor(Vm& vm, const Value& self, Args a) {
    auto* ns = thisAs<NamespaceObject>(vm, self, "Namespace");
    ns->ns.kind = NsKind::Namespace;
    if (a.size() == 1) {
        Value v = a[0];
        if (v.isObject() && v.o->as<NamespaceObject>()) {
            *static_cast<NamespaceObject*>(ns) = *v.o->as<NamespaceObject>();
            return {};
        }
        if (v.isObject() && v.o->as<QNameObject>()) ns->ns.uri = v.o->as<QNameObject>()->ns.uri;
        else ns->ns.uri = vm.toString(v);
        ns->hasPrefix = ns->ns.uri.isEmpty();
    } else if (a.size() >= 2) {
        Value u = a[1];
        ns->ns.uri = u.isObject() && u.o->as<QNameObject>() ? u.o->as<QNameObject>()->ns.uri : vm.toString(u);
        const QString prefix = a[0].isUndefined() ? QString() : vm.toString(a[0]);
        // No namespace takes only the empty prefix; a prefix that is no XML
        // name is left undefined.
        if (ns->ns.uri.isEmpty() && !prefix.isEmpty()) vm.throwError(ErrorType::TypeError, 1098, {prefix});
        const Value isXmlName = vm.getPublic(Value::object(vm.toplevel()), QStringLiteral("isXMLName"));
        const Value prefixArg[1] = {Value::string(prefix)};
        ns->hasPrefix = ns->ns.uri.isEmpty() || (!a[0].isUndefined() && (prefix.isEmpty() || vm.toBoolean(vm.call(isXmlName, Value(), prefixArg))));
        ns->prefix = ns->hasPrefix ? prefix : QString();
    } else {
        ns->hasPrefix = true;
    }
    return {};
}
// Namespace(ns) and QName(q) called as functions give back their argument.
Value namespaceCall(Vm& vm, const Value&, Args a) {
    if (a.size() == 1 && a[0].isObject() && a[0].o->as<NamespaceObject>()) return a[0];
    return vm.construct(Value::object(vm.builtin("Namespace")), a);
}
Value qnameCall(Vm& vm, const Value&, Args a) {
    if (a.size() == 1 && a[0].isObject() && a[0].o->as<QNameObject>()) return a[0];
    return vm.construct(Value::object(vm.builtin("QName")), a);
}
Value namespaceUri(Vm& vm, const Value& self, Args) { return Value::string(thisAs<NamespaceObject>(vm, self, "Namespace")->ns.uri); }
Value namespacePrefix(Vm& vm, const Value& self, Args) {
    auto* ns = thisAs<NamespaceObject>(vm, self, "Namespace");
    return ns->hasPrefix || ns->ns.uri.isEmpty() ? Value::string(ns->prefix) : Value();
}
Value qnameCtor(Vm& vm, const Value& self, Args a) {
    auto* q = thisAs<QNameObject>(vm, self, "QName");
    Value nameV = a.size() >= 2 ? a[1] : arg(a, 0);
    if (nameV.isObject() && nameV.o->as<QNameObject>()) {
        auto* other = nameV.o->as<QNameObject>();
        q->localName = other->localName;
        q->ns = other->ns;
        q->anyNs = other->anyNs;
    } else {
        q->localName = nameV.isUndefined() ? QString() : vm.toString(nameV);
    }
    if (a.size() >= 2) {
        Value nsV = a[0];
        if (nsV.isNull()) q->anyNs = true;
        else if (nsV.isObject() && nsV.o->as<NamespaceObject>()) q->ns = nsV.o->as<NamespaceObject>()->ns;
        else q->ns = Namespace{NsKind::Namespace, vm.toString(nsV), 0};
    }
    if (q->localName == QLatin1String("*") && a.size() < 2) q->anyNs = true;
    return {};
}
Value qnameLocalName(Vm& vm, const Value& self, Args) { return Value::string(thisAs<QNameObject>(vm, self, "QName")->localName); }
Value qnameUri(Vm& vm, const Value& self, Args) {
    auto* q = thisAs<QNameObject>(vm, self, "QName");
    return q->anyNs ? Value::null() : Value::string(q->ns.uri);
}
Value qnameToString(Vm& vm, const Value& self, Args) {
    auto* q = thisAs<QNameObject>(vm, self, "QName");
    if (q->anyNs) return Value::string(QStringLiteral("*::") + q->localName);
    if (q->ns.uri.isEmpty()) return Value::string(q->localName);
    return Value::string(q->ns.uri + QStringLiteral("::") + q->localName);
}

// ---- Boolean, Number, int, uint
Value booleanCtor(Vm& vm, const Value&, Args a) { return Value::boolean(vm.toBoolean(arg(a, 0))); }
Value booleanThis(Vm& vm, const Value& self, const char* method) {
    return primitiveThis(vm, self, [](const Value& v) { return v.isBoolean(); }, Value::boolean(false), {"Boolean"}, method);
}
Value numberThis(Vm& vm, const Value& self, const char* method) {
    return primitiveThis(vm, self, [](const Value& v) { return v.isNumber(); }, Value::number(0), {"Number", "int", "uint"}, method);
}
Value booleanToString(Vm& vm, const Value& self, Args) {
    return Value::string(booleanThis(vm, self, "Boolean.prototype.toString").b ? QStringLiteral("true") : QStringLiteral("false"));
}
Value booleanValueOf(Vm& vm, const Value& self, Args) { return booleanThis(vm, self, "Boolean.prototype.valueOf"); }
Value numberCtor(Vm& vm, const Value&, Args a) { return Value::number(a.empty() ? 0 : vm.toNumber(a[0])); }
Value intCtor(Vm& vm, const Value&, Args a) { return Value::number(a.empty() ? 0 : vm.toInt(a[0])); }
Value uintCtor(Vm& vm, const Value&, Args a) { return Value::number(a.empty() ? 0 : vm.toUint(a[0])); }

Value numberToStringFn(Vm& vm, const Value& self_, Args a) {
    const Value self = numberThis(vm, self_, "Number.prototype.toString");
    int radix = a.empty() || a[0].isUndefined() ? 10 : vm.toInt(a[0]);
    if (radix < 2 || radix > 36) vm.throwError(ErrorType::RangeError, 1003, {QString::number(radix)});
    return Value::string(QString::fromStdString(numberToStringRadix(self.d, radix)));
}
Value numberValueOf(Vm& vm, const Value& self, Args) { return numberThis(vm, self, "Number.prototype.valueOf"); }

// toFixed, toExponential and toPrecision: the digit count as ToInteger
// gives it; a count out of range is RangeError #1002.
enum class NumberForm { Fixed, Exponential, Precision };
template <NumberForm Form> Value formatNumber(Vm& vm, const Value& self_, Args a) {
    static const char* const names[] = {"Number.prototype.toFixed", "Number.prototype.toExponential", "Number.prototype.toPrecision"};
    const Value self = numberThis(vm, self_, names[int(Form)]);
    const Value count = arg(a, 0);
    if (Form == NumberForm::Precision && count.isUndefined()) return Value::string(numberToString(self.d));
    double d = count.isUndefined() ? (Form == NumberForm::Exponential ? -1 : 0) : std::trunc(vm.toNumber(count));
    if (std::isnan(d)) d = 0;
    if (!count.isUndefined() && d < 0) d = -1000; // out of range: toExponential's -1 means "no count"
    const int digits = int(std::clamp(d, -1000.0, 1000.0));
    const FormattedNumber r = Form == NumberForm::Fixed         ? numberToFixed(self.d, digits)
                              : Form == NumberForm::Exponential ? numberToExponential(self.d, digits)
                                                                : numberToPrecision(self.d, digits);
    if (r.errorId) vm.throwError(ErrorType::RangeError, r.errorId);
    return Value::string(QString::fromStdString(r.text));
}

// ---- Error
Value errorCtor(Vm& vm, const Value& self, Args a) {
    if (!self.isObject()) return {};
    auto* e = self.o->as<ErrorObject>();
    if (!e) return {};
    Value message = Value::string(a.empty() || a[0].isUndefined() ? QString() : vm.toString(a[0]));
    vm.setPublic(self, QStringLiteral("message"), message);
    e->errorId = a.size() > 1 ? vm.toInt(a[1]) : 0;
    // The class's own name, as its prototype carries it.
    for (Object* p = e->proto; p; p = p->proto)
        if (Value* n = p->dynamic.find(QStringLiteral("name"))) {
            vm.setPublic(self, QStringLiteral("name"), *n);
            break;
        }
    if (e->stackTrace.isEmpty()) e->stackTrace = vm.stackTrace();
    return {};
}
Value errorToString(Vm& vm, const Value& self, Args) {
    QString name = vm.toString(vm.getPublic(self, QStringLiteral("name")));
    Value m = vm.getPublic(self, QStringLiteral("message"));
    QString msg = m.isNullish() ? QString() : vm.toString(m);
    return Value::string(msg.isEmpty() ? name : name + QStringLiteral(": ") + msg);
}
Value errorStackTrace(Vm& vm, const Value& self, Args) {
    auto* e = self.isObject() ? self.o->as<ErrorObject>() : nullptr;
    if (!e || e->stackTrace.isEmpty()) return Value::null();
    return Value::string(vm.toString(vm.call(vm.getPublic(self, QStringLiteral("toString")), self, {})) + e->stackTrace);
}
// Error.throwError(type, id, ...rest): a `type` error with error id's text, its places filled from `rest`.
Value errorThrowError(Vm& vm, const Value&, Args a) {
    const int id = vm.toInt(arg(a, 1));
    QStringList params;
    for (size_t i = 2; i < a.size(); ++i) params << vm.toString(a[i]);
    Value ctorArgs[2] = {Value::string(errorText(id, params)), Value::number(id)};
    vm.throwValue(vm.construct(arg(a, 0), ctorArgs));
}
Object* allocateError(Vm& vm, ClassObject*) { return vm.make<ErrorObject>(); }
Object* allocateNamespace(Vm& vm, ClassObject*) { return vm.make<NamespaceObject>(); }
Object* allocateQName(Vm& vm, ClassObject*) { return vm.make<QNameObject>(); }
Object* allocateObject(Vm& vm, ClassObject*) { return vm.make<Object>(); }

} // namespace

void installObjectClasses(Vm& vm) {
    ClassObject* object = vm.defineClass(QStringLiteral("Object"), nullptr, allocateObject, objectCtor, 1);
    object->call = objectCall;
    ClassObject* cls = vm.defineClass(QStringLiteral("Class"), object, nullptr, nullptr);
    ClassObject* function = vm.defineClass(QStringLiteral("Function"), object, nullptr, functionCtor);
    for (ClassObject* c : {object, cls, function}) {
        c->klass = cls;
        c->proto = cls->prototype;
    }
    // Function.prototype is itself a function: it takes anything and returns undefined.
    FunctionObject* functionPrototype = vm.newNative(QString(), [](Vm&, const Value&, Args) { return Value(); }, 0);
    functionPrototype->proto = object->prototype;
    functionPrototype->dynamic.set(QStringLiteral("constructor"), Value::object(function), false);
    function->prototype = functionPrototype;
    function->call = functionCtor;
    object->instancesSealed = false;
    vm.defineMethod(object, QStringLiteral("hasOwnProperty"), hasOwnProperty, 1);
    vm.defineMethod(object, QStringLiteral("propertyIsEnumerable"), propertyIsEnumerable, 1);
    vm.defineMethod(object, QStringLiteral("setPropertyIsEnumerable"), setPropertyIsEnumerable, 2);
    vm.defineMethod(object, QStringLiteral("isPrototypeOf"), isPrototypeOf, 1);
    vm.defineMethod(object, QStringLiteral("toString"), objectToString);
    vm.defineMethod(object, QStringLiteral("toLocaleString"), objectToLocaleString);
    vm.defineMethod(object, QStringLiteral("valueOf"), objectValueOf);
    // The functions above were made before Function existed.
    for (const auto& e : object->prototype->dynamic.entries())
        if (e.value.isObject() && e.value.o->as<FunctionObject>()) {
            e.value.o->klass = function;
            e.value.o->proto = function->prototype;
            e.value.o->traits = &function->instanceTraits;
        }
    vm.defineConstant(object, QStringLiteral("length"), Value::number(1));
    vm.defineMethod(cls, QStringLiteral("toString"), classToString);
    vm.defineMethod(function, QStringLiteral("call"), functionCall, 1);
    vm.defineMethod(function, QStringLiteral("apply"), functionApply, 2);
    vm.defineMethod(function, QStringLiteral("toString"), functionToString);
    vm.defineAccessor(function, QStringLiteral("length"), functionLength);
    vm.defineConstant(function, QStringLiteral("length"), Value::number(1));

    ClassObject* ns = vm.defineClass(QStringLiteral("Namespace"), object, allocateNamespace, namespaceCtor, 2);
    ns->call = namespaceCall;
    vm.defineAccessor(ns, QStringLiteral("uri"), namespaceUri);
    vm.defineAccessor(ns, QStringLiteral("prefix"), namespacePrefix);
    vm.defineMethod(ns, QStringLiteral("toString"), namespaceUri);
    vm.defineMethod(ns, QStringLiteral("valueOf"), namespaceUri);
    ns->instancesSealed = true;
    vm.defineConstant(ns, QStringLiteral("length"), Value::number(2));
    ClassObject* qname = vm.defineClass(QStringLiteral("QName"), object, allocateQName, qnameCtor, 2);
    qname->call = qnameCall;
    vm.defineAccessor(qname, QStringLiteral("localName"), qnameLocalName);
    vm.defineAccessor(qname, QStringLiteral("uri"), qnameUri);
    vm.defineMethod(qname, QStringLiteral("toString"), qnameToString);
    vm.defineMethod(qname, QStringLiteral("valueOf"), objectValueOf);
    qname->instancesSealed = true;
    vm.defineConstant(qname, QStringLiteral("length"), Value::number(2));

    ClassObject* boolean = vm.defineClass(QStringLiteral("Boolean"), object, nullptr, booleanCtor, 1);
    boolean->call = booleanCtor;
    boolean->isFinal = true;
    vm.defineMethod(boolean, QStringLiteral("toString"), booleanToString);
    vm.defineMethod(boolean, QStringLiteral("valueOf"), booleanValueOf);
    vm.defineConstant(boolean, QStringLiteral("length"), Value::number(1));

    struct NumberClass { const char* name; NativeFn ctor; double max, min; };
    const NumberClass numbers[] = {
        {"Number", numberCtor, 1.7976931348623157e308, 4.9406564584124654e-324},
        {"int", intCtor, 2147483647.0, -2147483648.0},
        {"uint", uintCtor, 4294967295.0, 0},
    };
    for (const auto& n : numbers) {
        ClassObject* c = vm.defineClass(QString::fromLatin1(n.name), object, nullptr, n.ctor, 1);
        c->call = n.ctor;
        c->isFinal = true;
        vm.defineMethod(c, QStringLiteral("toString"), numberToStringFn, 1);
        vm.defineMethod(c, QStringLiteral("valueOf"), numberValueOf);
        vm.defineMethod(c, QStringLiteral("toLocaleString"), [](Vm& vm, const Value& self, Args) { return numberToStringFn(vm, self, {}); });
        vm.defineMethod(c, QStringLiteral("toFixed"), formatNumber<NumberForm::Fixed>, 1);
        vm.defineMethod(c, QStringLiteral("toExponential"), formatNumber<NumberForm::Exponential>, 1);
        vm.defineMethod(c, QStringLiteral("toPrecision"), formatNumber<NumberForm::Precision>, 1);
        vm.defineConstant(c, QStringLiteral("MAX_VALUE"), Value::number(n.max));
        vm.defineConstant(c, QStringLiteral("MIN_VALUE"), Value::number(n.min));
        vm.defineConstant(c, QStringLiteral("length"), Value::number(1));
        if (std::string(n.name) == "Number") {
            vm.defineConstant(c, QStringLiteral("NaN"), Value::number(std::nan("")));
            vm.defineConstant(c, QStringLiteral("POSITIVE_INFINITY"), Value::number(INFINITY));
            vm.defineConstant(c, QStringLiteral("NEGATIVE_INFINITY"), Value::number(-INFINITY));
        }
    }

    ClassObject* error = vm.defineClass(QStringLiteral("Error"), object, allocateError, errorCtor, 1);
    vm.defineMethod(error, QStringLiteral("toString"), errorToString);
    vm.defineFixedMethod(error, QStringLiteral("getStackTrace"), errorStackTrace);
    vm.defineStatic(error, QStringLiteral("throwError"), errorThrowError, 2, 2);
    vm.defineSlot(error, QStringLiteral("message"), Value::string(QString()));
    vm.defineSlot(error, QStringLiteral("name"), Value::string(QStringLiteral("Error")));
    vm.defineAccessor(error, QStringLiteral("errorID"), [](Vm& vm, const Value& self, Args) {
        return Value::number(thisAs<ErrorObject>(vm, self, "Error")->errorId);
    });
    error->prototype->dynamic.set(QStringLiteral("name"), Value::string(QStringLiteral("Error")), false);
    error->prototype->dynamic.set(QStringLiteral("message"), Value::string(QStringLiteral("Error")), false);
    vm.defineConstant(error, QStringLiteral("length"), Value::number(1));
    for (const char* name : {"TypeError", "ReferenceError", "ArgumentError", "RangeError", "VerifyError", "EvalError",
                             "SecurityError", "SyntaxError", "URIError", "DefinitionError", "UninitializedError"}) {
        ClassObject* c = vm.defineClass(QString::fromLatin1(name), error, nullptr, errorCtor, 1);
        c->prototype->dynamic.set(QStringLiteral("name"), Value::string(QString::fromLatin1(name)), false);
        vm.defineConstant(c, QStringLiteral("length"), Value::number(1));
    }
    for (const char* name : {"flash.errors.IOError", "flash.errors.EOFError", "flash.errors.IllegalOperationError",
                             "flash.errors.MemoryError", "flash.errors.StackOverflowError", "flash.errors.ScriptTimeoutError",
                             "flash.errors.InvalidSWFError"}) {
        QString q = QString::fromLatin1(name);
        ClassObject* base = q.endsWith(QLatin1String("EOFError")) ? vm.builtin("flash.errors.IOError") : error;
        ClassObject* c = vm.defineClass(q, base, nullptr, errorCtor, 1);
        c->prototype->dynamic.set(QStringLiteral("name"), Value::string(q.mid(q.lastIndexOf(u'.') + 1)), false);
    }
}

} // namespace swf::avm2
