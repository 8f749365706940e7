// flash.utils, and the few flash.events / flash.display classes a
// document class needs to be constructed and receive enterFrame.
#include "engine/avm2/builtins.h"
#include "engine/avm2/errors.h"

#include <algorithm>

namespace swf::avm2 {

namespace {

// The shortest memory a domain offers: the size Flash reports as MIN_DOMAIN_MEMORY_LENGTH.
constexpr double kMinDomainMemoryLength = 1024;

Value noop(Vm&, const Value&, Args) { return {}; }

// ---- flash.utils
Value getTimer(Vm& vm, const Value&, Args) { return Value::number(std::floor(vm.nowMs)); }
Value getQualifiedClassName(Vm& vm, const Value&, Args a) {
    Value v = arg(a, 0);
    if (v.isUndefined()) return Value::string(QStringLiteral("void"));
    if (v.isNull()) return Value::string(QStringLiteral("null"));
    ClassObject* c = v.isObject() && v.o->as<ClassObject>() ? v.o->as<ClassObject>() : vm.classOf(v);
    return Value::string(c ? c->qualifiedName() : QStringLiteral("Object"));
}
Value getQualifiedSuperclassName(Vm& vm, const Value&, Args a) {
    Value v = arg(a, 0);
    if (v.isNullish()) return Value::null();
    ClassObject* c = v.isObject() && v.o->as<ClassObject>() ? v.o->as<ClassObject>() : vm.classOf(v);
    return c && c->base ? Value::string(c->base->qualifiedName()) : Value::null();
}
Value getDefinitionByName(Vm& vm, const Value&, Args a) {
    QString name = vm.toString(arg(a, 0));
    ClassObject* c = vm.classByQualifiedName(name);
    if (c) return Value::object(c);
    // Functions and variables of packages too.
    QString q = name;
    q.replace(QLatin1String("::"), QLatin1String("."));
    int dot = q.lastIndexOf(u'.');
    Name n;
    n.name = dot < 0 ? q : q.mid(dot + 1);
    n.own = Vm::packageNs(dot < 0 ? QString() : q.left(dot));
    n.nss = &n.own;
    n.nsCount = 1;
    if (Object* holder = vm.findDefinition(n)) return vm.getProperty(Value::object(holder), n);
    // The error names the definition without its package.
    vm.throwError(ErrorType::ReferenceError, 1065, {n.name});
}
Value addTimer(Vm& vm, Args a, bool repeat) {
    Value fn = arg(a, 0);
    double delay = vm.toNumber(arg(a, 1));
    if (!(delay >= 0)) delay = 0;
    Vm::Timer t{vm.nextTimerId++, vm.nowMs + delay, std::max(delay, 1.0), repeat, fn, {}};
    for (size_t i = 2; i < a.size(); ++i) t.args.push_back(a[i]);
    vm.timers.push_back(std::move(t));
    return Value::number(vm.timers.back().id);
}
Value clearTimer(Vm& vm, const Value&, Args a) {
    int id = vm.toInt(arg(a, 0));
    std::erase_if(vm.timers, [id](const Vm::Timer& t) { return t.id == id; });
    return {};
}
// ---- flash.system.ApplicationDomain: the movie's one domain and its memory.
Value currentDomain(Vm& vm, const Value&, Args) {
    if (!vm.currentDomain) vm.currentDomain = vm.allocateInstance(vm.classByQualifiedName(QStringLiteral("flash.system.ApplicationDomain")));
    return Value::object(vm.currentDomain);
}
Value getDomainMemory(Vm& vm, const Value&, Args) { return vm.domainMemory; }
Value setDomainMemory(Vm& vm, const Value&, Args a) {
    Value mem = arg(a, 0);
    if (!mem.isNull() && !(mem.isObject() && mem.o->as<ByteArrayObject>()))
        vm.throwError(ErrorType::TypeError, 1034, {vm.describeForError(mem), QStringLiteral("flash.utils.ByteArray")});
    vm.domainMemory = mem.isNull() ? Value::null() : mem;
    return {};
}
Value hasDefinition(Vm& vm, const Value& self, Args a) {
    try {
        getDefinitionByName(vm, self, a);
        return Value::boolean(true);
    } catch (const ScriptThrow&) {
        return Value::boolean(false);
    }
}

Value dictionaryCtor(Vm& vm, const Value& self, Args a) {
    thisAs<DictionaryObject>(vm, self, "flash.utils.Dictionary")->weakKeys = vm.toBoolean(arg(a, 0));
    return {};
}

// ---- flash.events
Value eventCtor(Vm& vm, const Value& self, Args a) {
    vm.setPublic(self, QStringLiteral("type"), Value::string(vm.toString(arg(a, 0))));
    vm.setPublic(self, QStringLiteral("bubbles"), Value::boolean(vm.toBoolean(arg(a, 1))));
    vm.setPublic(self, QStringLiteral("cancelable"), Value::boolean(vm.toBoolean(arg(a, 2))));
    return {};
}
Value eventToString(Vm& vm, const Value& self, Args) {
    ClassObject* c = vm.classOf(self);
    return Value::string(QStringLiteral("[%1 type=\"%2\" bubbles=%3 cancelable=%4 eventPhase=%5]")
                             .arg(c->name, vm.toString(vm.getPublic(self, QStringLiteral("type"))),
                                  vm.toString(vm.getPublic(self, QStringLiteral("bubbles"))),
                                  vm.toString(vm.getPublic(self, QStringLiteral("cancelable"))),
                                  vm.toString(vm.getPublic(self, QStringLiteral("eventPhase")))));
}
Value eventClone(Vm& vm, const Value& self, Args) {
    Value args[3] = {vm.getPublic(self, QStringLiteral("type")), vm.getPublic(self, QStringLiteral("bubbles")),
                     vm.getPublic(self, QStringLiteral("cancelable"))};
    return vm.construct(Value::object(vm.classOf(self)), args);
}

Value addEventListener(Vm& vm, const Value& self, Args a) {
    auto* d = thisAs<DispatcherObject>(vm, self, "flash.events.EventDispatcher");
    QString type = vm.toString(arg(a, 0));
    Value fn = arg(a, 1);
    if (!fn.isObject()) vm.throwError(ErrorType::TypeError, 2007, {QStringLiteral("listener")});
    bool capture = vm.toBoolean(arg(a, 2));
    for (const auto& l : d->listeners)
        if (l.type == type && l.capture == capture && vm.strictEquals(l.fn, fn)) return {};
    d->listeners.push_back({type, fn, capture, vm.toInt(arg(a, 3))});
    std::stable_sort(d->listeners.begin(), d->listeners.end(), [](const auto& x, const auto& y) { return x.priority > y.priority; });
    return {};
}
Value removeEventListener(Vm& vm, const Value& self, Args a) {
    auto* d = thisAs<DispatcherObject>(vm, self, "flash.events.EventDispatcher");
    QString type = vm.toString(arg(a, 0));
    bool capture = vm.toBoolean(arg(a, 2));
    std::erase_if(d->listeners, [&](const auto& l) { return l.type == type && l.capture == capture && vm.strictEquals(l.fn, arg(a, 1)); });
    return {};
}
Value hasEventListener(Vm& vm, const Value& self, Args a) {
    auto* d = thisAs<DispatcherObject>(vm, self, "flash.events.EventDispatcher");
    QString type = vm.toString(arg(a, 0));
    return Value::boolean(std::any_of(d->listeners.begin(), d->listeners.end(), [&](const auto& l) { return l.type == type; }));
}
Value dispatchEvent(Vm& vm, const Value& self, Args a) {
    auto* d = thisAs<DispatcherObject>(vm, self, "flash.events.EventDispatcher");
    Value event = arg(a, 0);
    if (!event.isObject()) vm.throwError(ErrorType::TypeError, 2007, {QStringLiteral("event")});
    if (!vm.getPublic(event, QStringLiteral("target")).isNull()) event = vm.callProperty(event, Name::publicName(QStringLiteral("clone")), {});
    vm.setPublic(event, QStringLiteral("target"), self);
    vm.setPublic(event, QStringLiteral("currentTarget"), self);
    vm.setPublic(event, QStringLiteral("eventPhase"), Value::number(2));
    QString type = vm.toString(vm.getPublic(event, QStringLiteral("type")));
    auto listeners = d->listeners; // listeners added while dispatching wait for the next event
    for (const auto& l : listeners) {
        if (l.type != type || l.capture) continue;
        Value args[1] = {event};
        vm.call(l.fn, self, args);
    }
    return Value::boolean(true);
}

// ---- flash.display
DispatcherObject* displayOf(Vm& vm, const Value& self) { return thisAs<DispatcherObject>(vm, self, "flash.display.DisplayObject"); }
Value addFrameScript(Vm& vm, const Value& self, Args a) {
    auto* d = displayOf(vm, self);
    for (size_t i = 0; i + 1 < a.size(); i += 2) {
        uint32_t frame = vm.toUint(a[i]);
        if (a[i + 1].isNull()) d->frameScripts.erase(frame);
        else d->frameScripts[frame] = a[i + 1];
    }
    return {};
}
Value currentFrame(Vm& vm, const Value& self, Args) {
    auto* d = displayOf(vm, self);
    return Value::number(d->serial && vm.display ? vm.display->currentFrame(d->serial) : 1);
}
Value totalFrames(Vm& vm, const Value& self, Args) {
    auto* d = displayOf(vm, self);
    return Value::number(d->serial && vm.display ? vm.display->totalFrames(d->serial) : 1);
}
Value play(Vm& vm, const Value& self, Args) {
    auto* d = displayOf(vm, self);
    if (d->serial && vm.display) vm.display->play(d->serial, true);
    return {};
}
Value stop(Vm& vm, const Value& self, Args) {
    auto* d = displayOf(vm, self);
    if (d->serial && vm.display) vm.display->play(d->serial, false);
    return {};
}
template <bool Play> Value gotoFrame(Vm& vm, const Value& self, Args a) {
    auto* d = displayOf(vm, self);
    double f = vm.toNumber(arg(a, 0));
    if (d->serial && vm.display && f >= 1) vm.display->gotoFrame(d->serial, uint32_t(f), Play);
    return {};
}
Value displayName(Vm& vm, const Value& self, Args) {
    auto* d = displayOf(vm, self);
    if (Value* n = d->dynamic.find(QStringLiteral("\x01name"))) return *n;
    return Value::string(d->serial && vm.display ? vm.display->name(d->serial) : QString());
}
Value setDisplayName(Vm& vm, const Value& self, Args a) {
    displayOf(vm, self)->dynamic.set(QStringLiteral("\x01name"), Value::string(vm.toString(arg(a, 0))), false);
    return {};
}

Object* allocateDispatcher(Vm& vm, ClassObject*) { return vm.make<DispatcherObject>(); }

// ---- Proxy
// The operations a Proxy subclass overrides; the base ones refuse with their error.
struct ProxyMethod { const char* name; int errorId; int arity; };
constexpr ProxyMethod kProxyMethods[] = {
    {"getProperty", 2088, 1}, {"setProperty", 2089, 2}, {"callProperty", 2090, 1}, {"hasProperty", 2091, 1},
    {"deleteProperty", 2092, 1}, {"getDescendants", 2093, 1}, {"nextNameIndex", 2105, 1}, {"nextName", 2106, 1},
    {"nextValue", 2107, 1},
};
template <size_t I> Value proxyUnimplemented(Vm& vm, const Value&, Args) {
    Value args[2] = {Value::string(errorText(kProxyMethods[I].errorId, {})), Value::number(kProxyMethods[I].errorId)};
    vm.throwValue(vm.construct(Value::object(vm.builtin("flash.errors.IllegalOperationError")), args));
}
Value proxyIsAttribute(Vm&, const Value&, Args a) {
    auto* q = arg(a, 0).isObject() ? arg(a, 0).o->as<QNameObject>() : nullptr;
    return Value::boolean(q && q->attribute);
}
template <size_t... I> void defineProxyMethods(Vm& vm, ClassObject* proxy, const Namespace& ns, std::index_sequence<I...>) {
    (vm.defineFixedMethod(proxy, QString::fromLatin1(kProxyMethods[I].name), proxyUnimplemented<I>, kProxyMethods[I].arity, &ns), ...);
}

// A property name as a Proxy's methods receive it: a QName, in the name's own namespace
// when it has exactly one, else in the public one.
Value proxyName(Vm& vm, const Name& name) {
    auto* q = static_cast<QNameObject*>(vm.allocateInstance(vm.builtin("QName")));
    q->localName = name.key.isObject() ? vm.toString(name.key) : name.name;
    if (name.nsCount == 1 && !name.anyNs) q->ns = name.nss[0];
    else q->ns = vm.publicNs();
    q->anyNs = name.anyNs && name.nsCount != 1;
    q->attribute = name.attribute;
    return Value::object(q);
}

} // namespace

Namespace flashProxyNs() { return Namespace{NsKind::Namespace, QStringLiteral("http://www.adobe.com/2006/actionscript/flash/proxy"), 0}; }

Value proxyCall(Vm& vm, Object* proxy, const char* method, Args args) {
    const Namespace ns = flashProxyNs();
    Name handler;
    handler.name = QString::fromLatin1(method);
    handler.nss = &ns;
    handler.nsCount = 1;
    return vm.callProperty(Value::object(proxy), handler, args);
}

std::optional<Value> proxyOperation(Vm& vm, Object* o, const Name& name, const char* method, Args extra) {
    if (!o->as<ProxyObject>() || vm.findBinding(o, name)) return std::nullopt;
    std::vector<Value> args{proxyName(vm, name)};
    args.insert(args.end(), extra.begin(), extra.end());
    return proxyCall(vm, o, method, args);
}

void installFlashUtils(Vm& vm) {
    Namespace utils = Vm::packageNs(QStringLiteral("flash.utils"));
    struct F { const char* name; NativeFn fn; int arity; };
    const F fns[] = {
        {"getTimer", getTimer, 0}, {"getQualifiedClassName", getQualifiedClassName, 1},
        {"getQualifiedSuperclassName", getQualifiedSuperclassName, 1}, {"getDefinitionByName", getDefinitionByName, 1},
        {"setTimeout", [](Vm& vm, const Value&, Args a) { return addTimer(vm, a, false); }, 2},
        {"setInterval", [](Vm& vm, const Value&, Args a) { return addTimer(vm, a, true); }, 2},
        {"clearTimeout", clearTimer, 1}, {"clearInterval", clearTimer, 1},
    };
    for (const F& f : fns) {
        FunctionObject* native = vm.newNative(QString::fromLatin1(f.name), f.fn, f.arity);
        native->method->label = QStringLiteral("global/flash.utils::") + QString::fromLatin1(f.name);
        Value fn = Value::object(native);
        vm.defineBuiltin(utils, QString::fromLatin1(f.name), fn);
        // The VM's own package offers the reflection functions too.
        if (f.name[0] == 'g') vm.defineBuiltin(Vm::packageNs(QStringLiteral("avmplus")), QString::fromLatin1(f.name), fn);
    }
    ClassObject* endian = vm.defineClass(QStringLiteral("flash.utils.Endian"), vm.builtin("Object"), nullptr, noop);
    endian->isFinal = true;
    vm.defineConstant(endian, QStringLiteral("BIG_ENDIAN"), Value::string(QStringLiteral("bigEndian")));
    vm.defineConstant(endian, QStringLiteral("LITTLE_ENDIAN"), Value::string(QStringLiteral("littleEndian")));
    ClassObject* domain = vm.defineClass(QStringLiteral("flash.system.ApplicationDomain"), vm.builtin("Object"), nullptr, noop, 1);
    domain->isFinal = true;
    vm.defineConstant(domain, QStringLiteral("MIN_DOMAIN_MEMORY_LENGTH"), Value::number(kMinDomainMemoryLength));
    vm.defineStaticAccessor(domain, QStringLiteral("currentDomain"), currentDomain);
    vm.defineAccessor(domain, QStringLiteral("domainMemory"), getDomainMemory, setDomainMemory);
    vm.defineFixedMethod(domain, QStringLiteral("getDefinition"), getDefinitionByName, 1);
    vm.defineFixedMethod(domain, QStringLiteral("hasDefinition"), hasDefinition, 1);
    vm.defineClass(QStringLiteral("flash.utils.Dictionary"), vm.builtin("Object"),
                   [](Vm& vm, ClassObject*) -> Object* { return vm.make<DictionaryObject>(); }, dictionaryCtor, 1);

    const Namespace proxyNs = flashProxyNs();
    auto* proxyNsObject = static_cast<NamespaceObject*>(vm.allocateInstance(vm.builtin("Namespace")));
    proxyNsObject->ns = proxyNs;
    vm.defineBuiltin(utils, QStringLiteral("flash_proxy"), Value::object(proxyNsObject));
    ClassObject* proxy = vm.defineClass(QStringLiteral("flash.utils.Proxy"), vm.builtin("Object"),
                                        [](Vm& vm, ClassObject*) -> Object* { return vm.make<ProxyObject>(); }, noop);
    defineProxyMethods(vm, proxy, proxyNs, std::make_index_sequence<std::size(kProxyMethods)>());
    vm.defineFixedMethod(proxy, QStringLiteral("isAttribute"), proxyIsAttribute, 1, &proxyNs);
}

void installDisplayClasses(Vm& vm) {
    ClassObject* object = vm.builtin("Object");
    ClassObject* event = vm.defineClass(QStringLiteral("flash.events.Event"), object, nullptr, eventCtor, 3);
    event->instancesSealed = true;
    for (const char* slot : {"type", "bubbles", "cancelable", "target", "currentTarget", "eventPhase"})
        vm.defineSlot(event, QString::fromLatin1(slot), Value::null());
    vm.defineMethod(event, QStringLiteral("toString"), eventToString);
    vm.defineMethod(event, QStringLiteral("clone"), eventClone);
    for (const char* m : {"stopPropagation", "stopImmediatePropagation", "preventDefault"}) vm.defineMethod(event, QString::fromLatin1(m), noop);
    vm.defineMethod(event, QStringLiteral("isDefaultPrevented"), [](Vm&, const Value&, Args) { return Value::boolean(false); });
    const std::pair<const char*, const char*> types[] = {
        {"ENTER_FRAME", "enterFrame"}, {"EXIT_FRAME", "exitFrame"}, {"FRAME_CONSTRUCTED", "frameConstructed"},
        {"ADDED", "added"}, {"ADDED_TO_STAGE", "addedToStage"}, {"REMOVED", "removed"},
        {"REMOVED_FROM_STAGE", "removedFromStage"}, {"COMPLETE", "complete"}, {"INIT", "init"},
        {"CHANGE", "change"}, {"RESIZE", "resize"}, {"ACTIVATE", "activate"}, {"DEACTIVATE", "deactivate"},
        {"RENDER", "render"}, {"OPEN", "open"}, {"CLOSE", "close"}, {"SELECT", "select"}, {"CANCEL", "cancel"},
    };
    for (const auto& [n, v] : types) vm.defineConstant(event, QString::fromLatin1(n), Value::string(QString::fromLatin1(v)));

    ClassObject* dispatcher = vm.defineClass(QStringLiteral("flash.events.EventDispatcher"), object, allocateDispatcher, noop, 1);
    dispatcher->instancesSealed = true;
    vm.defineFixedMethod(dispatcher, QStringLiteral("addEventListener"), addEventListener, 5);
    vm.defineFixedMethod(dispatcher, QStringLiteral("removeEventListener"), removeEventListener, 3);
    vm.defineFixedMethod(dispatcher, QStringLiteral("hasEventListener"), hasEventListener, 1);
    vm.defineFixedMethod(dispatcher, QStringLiteral("willTrigger"), hasEventListener, 1);
    vm.defineFixedMethod(dispatcher, QStringLiteral("dispatchEvent"), dispatchEvent, 1);

    ClassObject* display = vm.defineClass(QStringLiteral("flash.display.DisplayObject"), dispatcher, nullptr, noop);
    vm.defineAccessor(display, QStringLiteral("name"), displayName, setDisplayName);
    ClassObject* interactive = vm.defineClass(QStringLiteral("flash.display.InteractiveObject"), display, nullptr, noop);
    ClassObject* container = vm.defineClass(QStringLiteral("flash.display.DisplayObjectContainer"), interactive, nullptr, noop);
    ClassObject* sprite = vm.defineClass(QStringLiteral("flash.display.Sprite"), container, nullptr, noop);
    ClassObject* clip = vm.defineClass(QStringLiteral("flash.display.MovieClip"), sprite, nullptr, noop);
    vm.defineFixedMethod(clip, QStringLiteral("addFrameScript"), addFrameScript, 2);
    vm.defineAccessor(clip, QStringLiteral("currentFrame"), currentFrame);
    vm.defineAccessor(clip, QStringLiteral("totalFrames"), totalFrames);
    vm.defineAccessor(clip, QStringLiteral("framesLoaded"), totalFrames);
    vm.defineFixedMethod(clip, QStringLiteral("play"), play);
    vm.defineFixedMethod(clip, QStringLiteral("stop"), stop);
    vm.defineFixedMethod(clip, QStringLiteral("gotoAndStop"), gotoFrame<false>, 2);
    vm.defineFixedMethod(clip, QStringLiteral("gotoAndPlay"), gotoFrame<true>, 2);
    for (ClassObject* c : {display, interactive, container, sprite, clip}) c->instancesSealed = true;
}

} // namespace swf::avm2
