// XML and XMLList (ECMA-357) over the library's E4X nodes. Both are one
// kind of script object holding a list of nodes: an XML holds exactly one.
// Property access on them is E4X's: names select children, attribute names
// select attributes, indices select list items; their methods are traits,
// so calls reach them first.
#include "engine/avm2/builtins.h"

#include "engine/core/limits.h"

namespace swf::avm2 {

namespace xml = avm2lib::xml;

namespace {

xml::NodePtr rootOf(const xml::NodePtr& n) {
    xml::NodePtr r = n;
    while (xml::NodePtr p = r->parentNode()) r = p;
    return r;
}

XmlObject* xmlThis(Vm& vm, const Value& self) { return thisAs<XmlObject>(vm, self, "XML"); }

// The one node of an XML, or of an XMLList of one; TypeError #1086 otherwise.
xml::Node& single(Vm& vm, const Value& self, const char* method) {
    XmlObject* x = xmlThis(vm, self);
    if (x->nodes.size() != 1) vm.throwError(ErrorType::TypeError, 1086, {QString::fromLatin1(method)});
    return *x->nodes.front();
}

xml::NodeList parseOrThrow(Vm& vm, const QString& source) {
    xml::ParseResult r = xml::parse(u16(source), vm.xmlSettings);
    if (r.error) vm.throwError(ErrorType::TypeError, r.error->id);
    return std::move(r.nodes);
}

// ToXML (ECMA-357 10.3) of anything that is not already XML.
xml::NodePtr toXmlNode(Vm& vm, const Value& v) {
    if (v.isObject())
        if (auto* x = v.o->as<XmlObject>()) {
            if (x->nodes.size() == 1) return x->nodes.front();
            vm.throwError(ErrorType::TypeError, 1088);
        }
    if (v.isNullish()) vm.throwError(ErrorType::TypeError, 1088);
    xml::NodeList nodes = parseOrThrow(vm, vm.toString(v));
    if (nodes.empty()) return xml::Node::make(xml::Kind::Text);
    if (nodes.size() > 1) vm.throwError(ErrorType::TypeError, 1088);
    return nodes.front();
}

xml::NodeList toXmlList(Vm& vm, const Value& v) {
    if (v.isObject())
        if (auto* x = v.o->as<XmlObject>()) return x->nodes;
    if (v.isNullish()) return {};
    return parseOrThrow(vm, vm.toString(v));
}

// The node a value becomes as new content: XML as itself (copied when it
// already has a parent), anything else as a text node.
xml::NodePtr contentNode(Vm& vm, const Value& v) {
    if (v.isObject())
        if (auto* x = v.o->as<XmlObject>(); x && x->nodes.size() == 1) {
            const xml::NodePtr& n = x->nodes.front();
            return n->parentNode() ? xml::deepCopy(*n) : n;
        }
    return xml::Node::make(xml::Kind::Text, {}, std::u16string(u16(vm.toString(v))));
}

// Comments and processing instructions go from a copy when the settings
// ignore them, as they would from parsed markup.
void dropIgnoredNodes(xml::Node& root, const xml::Settings& settings) {
    std::vector<xml::Node*> work{&root};
    while (!work.empty()) {
        xml::Node* n = work.back();
        work.pop_back();
        for (size_t i = n->children.size(); i-- > 0;) {
            const xml::Kind kind = n->children[i]->kind;
            if ((kind == xml::Kind::Comment && settings.ignoreComments) ||
                (kind == xml::Kind::ProcessingInstruction && settings.ignoreProcessingInstructions))
                xml::removeChild(*n, i);
            else if (kind == xml::Kind::Element)
                work.push_back(n->children[i].get());
        }
    }
}

Value xmlCtor(Vm& vm, const Value& self, Args a) {
    XmlObject* x = xmlThis(vm, self);
    const Value v = arg(a, 0);
    xml::NodePtr n = v.isNullish() ? xml::Node::make(xml::Kind::Text) : toXmlNode(vm, v);
    // new XML(xml) is a copy, made under the settings in force.
    if (v.isObject() && v.o->as<XmlObject>()) {
        n = xml::deepCopy(*n);
        dropIgnoredNodes(*n, vm.xmlSettings);
    }
    x->setNodes({n});
    return {};
}
Value xmlCall(Vm& vm, const Value&, Args a) {
    if (!a.empty() && a[0].isObject())
        if (auto* x = a[0].o->as<XmlObject>(); x && !x->isList) return a[0];
    return vm.construct(Value::object(vm.builtin("XML")), a);
}
Value listCtor(Vm& vm, const Value& self, Args a) {
    XmlObject* x = xmlThis(vm, self);
    x->isList = true;
    x->setNodes(toXmlList(vm, arg(a, 0)));
    return {};
}
Value listCall(Vm& vm, const Value&, Args a) {
    if (!a.empty() && a[0].isObject())
        if (auto* x = a[0].o->as<XmlObject>(); x && x->isList) return a[0];
    return vm.construct(Value::object(vm.builtin("XMLList")), a);
}

// ---- Methods that read

template <xml::NodeList (*Select)(Vm&, const xml::Node&, Args)> Value mapNodes(Vm& vm, const Value& self, Args a) {
    xml::NodeList out;
    for (const xml::NodePtr& n : xmlThis(vm, self)->nodes) {
        xml::NodeList part = Select(vm, *n, a);
        out.insert(out.end(), part.begin(), part.end());
    }
    return makeXmlList(vm, std::move(out));
}

xml::NameTest testFromArg(Vm& vm, const Value& v) {
    xml::NameTest t;
    if (v.isObject())
        if (auto* q = v.o->as<QNameObject>()) {
            if (!q->anyNs) t.uri = std::u16string(u16(q->ns.uri));
            if (q->localName != QLatin1String("*")) t.local = std::u16string(u16(q->localName));
            return t;
        }
    const QString s = vm.toString(v);
    if (s != QLatin1String("*")) t.local = std::u16string(u16(s));
    return t;
}

xml::NodeList selChildren(Vm&, const xml::Node& n, Args) { return n.children; }
xml::NodeList selElements(Vm& vm, const xml::Node& n, Args a) {
    xml::NameTest t = a.empty() ? xml::NameTest{} : testFromArg(vm, a[0]);
    return xml::filter(n.children, [&](const xml::NodePtr& c) { return c->kind == xml::Kind::Element && t.matchesNode(*c); });
}
xml::NodeList selChild(Vm& vm, const xml::Node& n, Args a) {
    const Value which = arg(a, 0);
    if (which.isNumber()) {
        const double i = which.d;
        if (i >= 0 && i < double(n.children.size()) && i == std::trunc(i)) return {n.children[size_t(i)]};
        return {};
    }
    return xml::children(n, testFromArg(vm, which));
}
xml::NodeList selAttribute(Vm& vm, const xml::Node& n, Args a) { return xml::attributes(n, testFromArg(vm, arg(a, 0))); }
xml::NodeList selAttributes(Vm&, const xml::Node& n, Args) { return n.attributes; }
xml::NodeList selText(Vm&, const xml::Node& n, Args) { return xml::childrenOfKind(n, xml::Kind::Text); }
xml::NodeList selComments(Vm&, const xml::Node& n, Args) { return xml::childrenOfKind(n, xml::Kind::Comment); }
// processingInstructions(name = "*"): by target name; an attribute name ("@x") names none.
xml::NodeList selInstructions(Vm& vm, const xml::Node& n, Args a) {
    const Value which = arg(a, 0);
    if (which.isString() && which.s.startsWith(u'@')) return {};
    const xml::NameTest test = which.isUndefined() ? xml::NameTest{} : testFromArg(vm, which);
    return xml::filter(xml::childrenOfKind(n, xml::Kind::ProcessingInstruction),
                       [&](const xml::NodePtr& pi) { return !test.local || *test.local == pi->name.local; });
}
xml::NodeList selDescendants(Vm& vm, const xml::Node& n, Args a) {
    return xml::descendants(n, a.empty() ? xml::NameTest{} : testFromArg(vm, a[0]), false);
}

Value xmlToString(Vm& vm, const Value& self, Args) {
    XmlObject* x = xmlThis(vm, self);
    return Value::string(qstr(x->isList ? xml::toString(x->nodes, vm.xmlSettings) : xml::toString(*x->nodes.front(), vm.xmlSettings)));
}
Value xmlToXmlString(Vm& vm, const Value& self, Args) {
    XmlObject* x = xmlThis(vm, self);
    return Value::string(qstr(x->isList ? xml::toXmlString(x->nodes, vm.xmlSettings) : xml::toXmlString(*x->nodes.front(), vm.xmlSettings)));
}
Value xmlValueOf(Vm&, const Value& self, Args) { return self; }
Value xmlLength(Vm& vm, const Value& self, Args) { return Value::number(double(xmlThis(vm, self)->nodes.size())); }
Value xmlCopy(Vm& vm, const Value& self, Args) {
    XmlObject* x = xmlThis(vm, self);
    xml::NodeList copies;
    for (const xml::NodePtr& n : x->nodes) copies.push_back(xml::deepCopy(*n));
    return x->isList ? makeXmlList(vm, std::move(copies)) : makeXml(vm, copies.front());
}
Value hasSimpleContent(Vm& vm, const Value& self, Args) {
    XmlObject* x = xmlThis(vm, self);
    return Value::boolean(x->isList ? xml::hasSimpleContent(x->nodes) : xml::hasSimpleContent(*x->nodes.front()));
}
Value hasComplexContent(Vm& vm, const Value& self, Args a) { return Value::boolean(!hasSimpleContent(vm, self, a).b); }
Value xmlParent(Vm& vm, const Value& self, Args) {
    XmlObject* x = xmlThis(vm, self);
    // A list's parent is the parent all its items share, else undefined.
    xml::NodePtr parent;
    for (size_t i = 0; i < x->nodes.size(); ++i) {
        xml::NodePtr p = x->nodes[i]->parentNode();
        if (!p || (i && p != parent)) return Value();
        parent = p;
    }
    return parent ? makeXml(vm, parent) : Value();
}
Value nodeKind(Vm& vm, const Value& self, Args) {
    static const char* kinds[] = {"element", "text", "comment", "processing-instruction", "attribute"};
    return Value::string(QString::fromLatin1(kinds[int(single(vm, self, "nodeKind").kind)]));
}
Value localName(Vm& vm, const Value& self, Args) {
    const xml::Node& n = single(vm, self, "localName");
    if (n.kind == xml::Kind::Text || n.kind == xml::Kind::Comment) return Value::null();
    return Value::string(qstr(n.name.local));
}
Value xmlName(Vm& vm, const Value& self, Args) {
    const xml::Node& n = single(vm, self, "name");
    if (n.kind == xml::Kind::Text || n.kind == xml::Kind::Comment) return Value::null();
    Value args[2] = {Value::string(qstr(n.name.uri)), Value::string(qstr(n.name.local))};
    return vm.construct(Value::object(vm.builtin("QName")), args);
}
Value childIndex(Vm& vm, const Value& self, Args) {
    const xml::Node& n = single(vm, self, "childIndex");
    xml::NodePtr p = n.parentNode();
    if (!p || n.kind == xml::Kind::Attribute) return Value::number(-1);
    for (size_t i = 0; i < p->children.size(); ++i)
        if (p->children[i].get() == &n) return Value::number(double(i));
    return Value::number(-1);
}
// ECMA-357 13.4.4.10 and 13.5.4.8: whether a node of the list is == value,
// so an element of simple content contains its text.
// A list compares each item with ==; an XML object is equal to XML only.
Value contains(Vm& vm, const Value& self, Args a) {
    const Value v = arg(a, 0);
    XmlObject* x = xmlThis(vm, self);
    if (!x->isList) {
        auto* other = v.isObject() ? v.o->as<XmlObject>() : nullptr;
        return Value::boolean(other && !other->isList && xmlEquals(vm, *x, *other));
    }
    for (const xml::NodePtr& n : x->nodes)
        if (vm.looseEquals(makeXml(vm, n), v)) return Value::boolean(true);
    return Value::boolean(false);
}

// ---- Methods that edit

// Inserts the nodes `v` becomes as children from `at`; a node that would
// end up inside itself is TypeError #1118.
void insertContent(Vm& vm, xml::Node& parent, size_t at, const Value& v) {
    for (const xml::NodePtr& c : toXmlListForInsert(vm, v)) {
        for (const xml::Node* p = &parent; p;) {
            if (p == c.get()) vm.throwError(ErrorType::TypeError, 1118);
            xml::NodePtr up = p->parentNode();
            p = up.get(); // the root keeps every ancestor alive
        }
        xml::insertChild(parent, at++, c);
    }
}

Value appendChild(Vm& vm, const Value& self, Args a) {
    xml::Node& n = single(vm, self, "appendChild");
    insertContent(vm, n, n.children.size(), arg(a, 0));
    return self;
}
Value prependChild(Vm& vm, const Value& self, Args a) {
    insertContent(vm, single(vm, self, "prependChild"), 0, arg(a, 0));
    return self;
}
template <int After> Value insertChildNear(Vm& vm, const Value& self, Args a) {
    xml::Node& n = single(vm, self, After ? "insertChildAfter" : "insertChildBefore");
    const Value ref = arg(a, 0);
    size_t at = After ? 0 : n.children.size();
    if (!ref.isNull()) {
        auto* r = ref.isObject() ? ref.o->as<XmlObject>() : nullptr;
        if (!r || r->nodes.size() != 1) return Value();
        auto it = std::find(n.children.begin(), n.children.end(), r->nodes.front());
        if (it == n.children.end()) return Value();
        at = size_t(it - n.children.begin()) + After;
    } else if (!After) {
        at = n.children.size();
    }
    insertContent(vm, n, at, arg(a, 1));
    return self;
}
Value setChildren(Vm& vm, const Value& self, Args a) {
    xml::Node& n = single(vm, self, "setChildren");
    while (!n.children.empty()) xml::removeChild(n, n.children.size() - 1);
    return appendChild(vm, self, a);
}
Value normalize(Vm& vm, const Value& self, Args) {
    for (const xml::NodePtr& n : xmlThis(vm, self)->nodes) xml::normalize(*n);
    return self;
}
Value setLocalName(Vm& vm, const Value& self, Args a) {
    single(vm, self, "setLocalName").name.local = std::u16string(u16(vm.toString(arg(a, 0))));
    return {};
}
Value setName(Vm& vm, const Value& self, Args a) {
    xml::Node& n = single(vm, self, "setName");
    const Value v = arg(a, 0);
    if (v.isObject())
        if (auto* q = v.o->as<QNameObject>()) {
            n.name.uri = std::u16string(u16(q->ns.uri));
            n.name.local = std::u16string(u16(q->localName));
            return {};
        }
    n.name.local = std::u16string(u16(vm.toString(v)));
    return {};
}

// ---- Namespaces

Value namespaceValue(Vm& vm, const xml::Namespace& ns) {
    auto* o = static_cast<NamespaceObject*>(vm.allocateInstance(vm.builtin("Namespace")));
    o->ns = Namespace{NsKind::Namespace, qstr(ns.uri), 0};
    o->hasPrefix = ns.prefix.has_value();
    o->prefix = ns.prefix ? qstr(*ns.prefix) : QString();
    return Value::object(o);
}
Value namespaceArray(Vm& vm, const std::vector<xml::Namespace>& list) {
    std::vector<Value> out;
    for (const xml::Namespace& ns : list) out.push_back(namespaceValue(vm, ns));
    return Value::object(vm.newArray(std::move(out)));
}
// The argument of addNamespace, removeNamespace and setNamespace as
// `new Namespace(value)` reads it.
xml::Namespace namespaceOf(Vm& vm, const Value& v) {
    if (v.isObject()) {
        if (auto* n = v.o->as<NamespaceObject>()) {
            const bool prefixed = n->hasPrefix || n->ns.uri.isEmpty();
            return {prefixed ? std::optional(std::u16string(u16(n->prefix))) : std::nullopt, std::u16string(u16(n->ns.uri))};
        }
        if (auto* q = v.o->as<QNameObject>()) return {std::nullopt, std::u16string(u16(q->ns.uri))};
    }
    std::u16string uri(u16(vm.toString(v)));
    return {uri.empty() ? std::optional(std::u16string()) : std::nullopt, uri};
}
// The element whose declarations a node's names use: an attribute's is its parent.
const xml::Node* scopeNode(const xml::Node& n) { return n.kind == xml::Kind::Attribute ? n.parentNode().get() : &n; }

// [[AddInScopeNamespace]]: a declaration with a prefix replaces the one of
// that prefix; one without a prefix is not a declaration.
void addInScopeNamespace(xml::Node& n, const xml::Namespace& ns) {
    if (n.kind != xml::Kind::Element || !ns.prefix) return;
    if (ns.prefix->empty() && n.name.uri.empty()) return;
    auto same = std::find_if(n.namespaces.begin(), n.namespaces.end(), [&](const xml::Namespace& d) { return d.prefix == ns.prefix; });
    if (same != n.namespaces.end()) {
        if (same->uri == ns.uri) return;
        n.namespaces.erase(same);
    }
    n.namespaces.push_back(ns);
    if (n.name.prefix == ns.prefix) n.name.prefix.reset();
    for (const xml::NodePtr& a : n.attributes)
        if (a->name.prefix == ns.prefix) a->name.prefix.reset();
}

Value inScopeNamespaces(Vm& vm, const Value& self, Args) {
    const xml::Node* n = scopeNode(single(vm, self, "inScopeNamespaces"));
    return namespaceArray(vm, n ? xml::inScopeNamespaces(*n) : std::vector<xml::Namespace>{});
}
// The element's own declarations that its ancestors do not already make.
Value namespaceDeclarations(Vm& vm, const Value& self, Args) {
    const xml::Node& n = single(vm, self, "namespaceDeclarations");
    std::vector<xml::Namespace> out;
    if (n.kind == xml::Kind::Element) {
        const xml::NodePtr parent = n.parentNode();
        const std::vector<xml::Namespace> outer = parent ? xml::inScopeNamespaces(*parent) : std::vector<xml::Namespace>{};
        for (const xml::Namespace& ns : n.namespaces)
            if (ns.prefix && std::find(outer.begin(), outer.end(), ns) == outer.end()) out.push_back(ns);
    }
    return namespaceArray(vm, out);
}
// namespace(): the namespace of the node's name, as declared in scope when
// it is; namespace(prefix): the one bound to the prefix, or undefined.
Value xmlNamespace(Vm& vm, const Value& self, Args a) {
    const xml::Node& n = single(vm, self, "namespace");
    if (n.kind == xml::Kind::Text || n.kind == xml::Kind::Comment || n.kind == xml::Kind::ProcessingInstruction)
        return a.empty() ? Value::null() : Value();
    const xml::Node* holder = scopeNode(n);
    const std::vector<xml::Namespace> scope = holder ? xml::inScopeNamespaces(*holder) : std::vector<xml::Namespace>{};
    if (!a.empty()) {
        const std::u16string prefix(u16(vm.toString(a[0])));
        for (const xml::Namespace& ns : scope)
            if (ns.prefix == prefix) return namespaceValue(vm, ns);
        return Value();
    }
    const xml::Namespace* found = nullptr;
    for (const xml::Namespace& ns : scope)
        if (ns.uri == n.name.uri && ns.prefix && (!found || ns.prefix == n.name.prefix)) found = &ns;
    if (found) return namespaceValue(vm, *found);
    return namespaceValue(vm, {n.name.uri.empty() ? std::optional(std::u16string()) : n.name.prefix, n.name.uri});
}
Value addNamespace(Vm& vm, const Value& self, Args a) {
    xml::Node& n = single(vm, self, "addNamespace");
    addInScopeNamespace(n, namespaceOf(vm, arg(a, 0)));
    return self;
}
// removeNamespace: drops the declaration from the element and its
// descendants, unless the element's own name or an attribute uses it.
Value removeNamespace(Vm& vm, const Value& self, Args a) {
    xml::Node& root = single(vm, self, "removeNamespace");
    const xml::Namespace ns = namespaceOf(vm, arg(a, 0));
    std::vector<xml::Node*> work{&root};
    while (!work.empty()) {
        xml::Node* n = work.back();
        work.pop_back();
        if (n->kind != xml::Kind::Element) continue;
        const bool used = n->name.uri == ns.uri ||
                          std::any_of(n->attributes.begin(), n->attributes.end(), [&](const xml::NodePtr& at) { return at->name.uri == ns.uri; });
        if (!used)
            std::erase_if(n->namespaces, [&](const xml::Namespace& d) { return d.uri == ns.uri && (!ns.prefix || d.prefix == ns.prefix); });
        for (const xml::NodePtr& c : n->children) work.push_back(c.get());
    }
    return self;
}
Value setNamespace(Vm& vm, const Value& self, Args a) {
    xml::Node& n = single(vm, self, "setNamespace");
    if (n.kind != xml::Kind::Element && n.kind != xml::Kind::Attribute) return {};
    const xml::Namespace ns = namespaceOf(vm, arg(a, 0));
    n.name.uri = ns.uri;
    n.name.prefix = ns.prefix;
    if (n.kind == xml::Kind::Element) addInScopeNamespace(n, ns);
    else if (xml::NodePtr parent = n.parentNode()) addInScopeNamespace(*parent, ns);
    return {};
}

// ---- Own properties

// On anything but XML (the prototypes themselves) these are Object's.
Value objectMethod(Vm& vm, const char* name, const Value& self, Args a) {
    const Value objectPrototype = vm.getPublic(Value::object(vm.builtin("Object")), QStringLiteral("prototype"));
    return vm.call(vm.getPublic(objectPrototype, QString::fromLatin1(name)), self, a);
}
Value xmlHasOwnProperty(Vm& vm, const Value& self, Args a) {
    if (!self.isObject() || !self.o->as<XmlObject>()) return objectMethod(vm, "hasOwnProperty", self, a);
    const Value p = arg(a, 0);
    auto* q = p.isObject() ? p.o->as<QNameObject>() : nullptr;
    Name name = Name::publicName(q ? q->localName : vm.toString(p));
    if (q) {
        name.own = q->ns;
        name.nss = &name.own;
        name.anyNs = q->anyNs;
        name.anyName = q->localName == QLatin1String("*");
    }
    return Value::boolean(xmlHas(*xmlThis(vm, self), name));
}
// Only the indices of the items enumerate.
Value xmlPropertyIsEnumerable(Vm& vm, const Value& self, Args a) {
    if (!self.isObject() || !self.o->as<XmlObject>()) return objectMethod(vm, "propertyIsEnumerable", self, a);
    bool isIndex = false;
    const uint32_t index = vm.toString(arg(a, 0)).toUInt(&isIndex);
    return Value::boolean(isIndex && index < xmlThis(vm, self)->nodes.size());
}

// replace(name or index, value): the first matching child gives way to the
// value and the other matches go; an index past the end appends.
Value replace(Vm& vm, const Value& self, Args a) {
    xml::Node& n = single(vm, self, "replace");
    if (n.kind != xml::Kind::Element) return self;
    const Value which = arg(a, 0), v = arg(a, 1);
    bool isIndex = false;
    size_t at = which.isNumber() && which.d >= 0 && which.d == std::trunc(which.d) ? (isIndex = true, size_t(std::min(which.d, 4294967295.0)))
                                                                                   : vm.toString(which).toUInt(&isIndex);
    if (!isIndex) {
        const xml::NameTest test = testFromArg(vm, which);
        at = n.children.size();
        for (size_t i = n.children.size(); i-- > 0;)
            if (test.matchesNode(*n.children[i])) {
                if (at != n.children.size()) xml::removeChild(n, at);
                at = i;
            }
        if (at == n.children.size()) return self;
    }
    const bool isXml = v.isObject() && v.o->as<XmlObject>();
    const xml::NodeList items = isXml ? toXmlListForInsert(vm, v) : xml::NodeList{contentNode(vm, v)};
    if (at < n.children.size()) xml::removeChild(n, at);
    else at = n.children.size();
    for (const xml::NodePtr& c : items) xml::insertChild(n, at++, c);
    return self;
}

// ---- XML's settings, as statics of XML

template <bool xml::Settings::*Flag> Value getFlag(Vm& vm, const Value&, Args) { return Value::boolean(vm.xmlSettings.*Flag); }
template <bool xml::Settings::*Flag> Value setFlag(Vm& vm, const Value&, Args a) {
    vm.xmlSettings.*Flag = vm.toBoolean(arg(a, 0));
    return {};
}
Value getIndent(Vm& vm, const Value&, Args) { return Value::number(vm.xmlSettings.prettyIndent); }
Value setIndent(Vm& vm, const Value&, Args a) {
    vm.xmlSettings.prettyIndent = vm.toInt(arg(a, 0));
    return {};
}
// XML.settings() and XML.defaultSettings(): the five settings as an object.
Value settingsObject(Vm& vm, const xml::Settings& s) {
    Value o = Value::object(vm.newObject());
    vm.setPublic(o, QStringLiteral("ignoreComments"), Value::boolean(s.ignoreComments));
    vm.setPublic(o, QStringLiteral("ignoreProcessingInstructions"), Value::boolean(s.ignoreProcessingInstructions));
    vm.setPublic(o, QStringLiteral("ignoreWhitespace"), Value::boolean(s.ignoreWhitespace));
    vm.setPublic(o, QStringLiteral("prettyIndent"), Value::number(s.prettyIndent));
    vm.setPublic(o, QStringLiteral("prettyPrinting"), Value::boolean(s.prettyPrinting));
    return o;
}
Value defaultSettings(Vm& vm, const Value&, Args) { return settingsObject(vm, xml::Settings{}); }
Value currentSettings(Vm& vm, const Value&, Args) { return settingsObject(vm, vm.xmlSettings); }
// XML.setSettings: no settings (or null) restores the defaults; an object
// changes the settings it names with values of the right type; anything else
// changes nothing.
Value setSettings(Vm& vm, const Value&, Args a) {
    const Value o = arg(a, 0);
    if (o.isNullish()) vm.xmlSettings = xml::Settings{};
    if (!o.isObject()) return {};
    auto flag = [&](const char* name, bool& into) {
        Value v = vm.getPublic(o, QString::fromLatin1(name));
        if (v.isBoolean()) into = v.b;
    };
    flag("ignoreComments", vm.xmlSettings.ignoreComments);
    flag("ignoreProcessingInstructions", vm.xmlSettings.ignoreProcessingInstructions);
    flag("ignoreWhitespace", vm.xmlSettings.ignoreWhitespace);
    flag("prettyPrinting", vm.xmlSettings.prettyPrinting);
    Value indent = vm.getPublic(o, QStringLiteral("prettyIndent"));
    if (indent.isNumber()) vm.xmlSettings.prettyIndent = vm.toInt(indent);
    return {};
}

} // namespace

void XmlObject::setNodes(avm2lib::xml::NodeList list) {
    nodes = std::move(list);
    roots.clear();
    for (const auto& n : nodes) roots.push_back(rootOf(n));
}

Value makeXml(Vm& vm, avm2lib::xml::NodePtr node) {
    auto* x = static_cast<XmlObject*>(vm.allocateInstance(vm.builtin("XML")));
    x->setNodes({std::move(node)});
    return Value::object(x);
}

Value makeXmlList(Vm& vm, avm2lib::xml::NodeList nodes) {
    auto* x = static_cast<XmlObject*>(vm.allocateInstance(vm.builtin("XMLList")));
    x->isList = true;
    x->setNodes(std::move(nodes));
    return Value::object(x);
}

// The nodes a value adds as children: an XMLList's items, or one node.
avm2lib::xml::NodeList toXmlListForInsert(Vm& vm, const Value& v) {
    if (v.isObject())
        if (auto* x = v.o->as<XmlObject>(); x && x->isList) {
            xml::NodeList out;
            for (const xml::NodePtr& n : x->nodes) out.push_back(n->parentNode() ? xml::deepCopy(*n) : n);
            return out;
        }
    if (!v.isObject() && !v.isNullish()) {
        // A string of markup adds the nodes it parses to; plain text a text node.
        const QString s = vm.toString(v);
        if (s.trimmed().startsWith(u'<')) {
            xml::NodeList nodes = parseOrThrow(vm, s);
            if (!nodes.empty()) return nodes;
        }
    }
    return {contentNode(vm, v)};
}

namespace {
// The name E4X reads from `given`: a string "@foo" (xml["@foo"]) is the
// attribute foo. Written into `out`, whose namespace pointer may point at its
// own runtime namespace.
void readXmlName(Name& out, const Name& given) {
    out = given;
    if (given.nss == &given.own) out.nss = &out.own;
    if (given.attribute || given.anyName || !given.name.startsWith(u'@')) return;
    out.attribute = true;
    out.name = given.name.mid(1);
    out.anyName = out.name == QLatin1String("*");
}
} // namespace

avm2lib::xml::NameTest xmlNameTest(const Name& name) {
    xml::NameTest t;
    if (!name.anyName) t.local = std::u16string(u16(name.name));
    if (!name.anyNs && !(name.anyName && name.includesPublic()))
        t.uri = name.nsCount == 1 ? std::u16string(u16(name.nss[0].uri)) : std::u16string();
    return t;
}

Value xmlGet(Vm& vm, XmlObject& x, const Name& given) {
    Name name;
    readXmlName(name, given);
    if (!name.attribute && !name.anyName) {
        bool ok = false;
        const uint32_t index = name.name.toUInt(&ok);
        if (ok) {
            if (index < x.nodes.size()) return makeXml(vm, x.nodes[index]);
            return Value();
        }
    }
    const xml::NameTest test = xmlNameTest(name);
    xml::NodeList out;
    for (const xml::NodePtr& n : x.nodes) {
        if (n->kind != xml::Kind::Element) continue;
        xml::NodeList part = name.attribute ? xml::attributes(*n, test) : xml::children(*n, test);
        out.insert(out.end(), part.begin(), part.end());
    }
    return makeXmlList(vm, std::move(out));
}

void xmlSet(Vm& vm, XmlObject& x, const Name& given, const Value& v) {
    Name name;
    readXmlName(name, given);
    // list[i] = value replaces item i, or appends past the end (filters build their results so).
    bool isIndex = false;
    const uint32_t index = name.anyName || name.attribute ? 0 : name.name.toUInt(&isIndex);
    if (x.isList && isIndex) {
        // The list takes the very nodes (filters build their results so); other values become text.
        const auto* listed = v.isObject() ? v.o->as<XmlObject>() : nullptr;
        xml::NodeList items = listed ? listed->nodes : xml::NodeList{contentNode(vm, v)};
        if (index >= x.nodes.size()) x.nodes.insert(x.nodes.end(), items.begin(), items.end());
        else if (!items.empty()) x.nodes[index] = items.front();
        x.setNodes(std::move(x.nodes));
        return;
    }
    if (x.nodes.size() != 1) {
        if (x.nodes.empty()) return;
        vm.throwError(ErrorType::TypeError, 1089);
    }
    xml::Node& n = *x.nodes.front();
    if (n.kind != xml::Kind::Element) return;
    const xml::NameTest test = xmlNameTest(name);
    if (name.attribute) {
        // An attribute takes the text of the value (a list's items joined by spaces).
        QString text;
        if (v.isObject() && v.o->as<XmlObject>()) {
            const auto* list = v.o->as<XmlObject>();
            for (size_t i = 0; i < list->nodes.size(); ++i) {
                if (i) text += u' ';
                text += qstr(xml::toString(*list->nodes[i], vm.xmlSettings));
            }
        } else {
            text = vm.toString(v);
        }
        xml::NodeList found = xml::attributes(n, test);
        if (!found.empty()) {
            found.front()->value = std::u16string(u16(text));
            std::erase_if(n.attributes, [&](const xml::NodePtr& a) { return a != found.front() && test.matches(a->name); });
            return;
        }
        if (!test.local) return;
        xml::Name an{test.uri.value_or(std::u16string()), *test.local, std::nullopt};
        xml::NodePtr attr = xml::Node::make(xml::Kind::Attribute, an, std::u16string(u16(text)));
        attr->parent = x.nodes.front();
        n.attributes.push_back(attr);
        return;
    }
    if (!name.anyName) {
        bool ok = false;
        name.name.toUInt(&ok);
        if (ok) vm.throwError(ErrorType::TypeError, 1087);
    }
    // The first matching child is replaced and the others go. XML takes its
    // place; a string (or an XML text or attribute) becomes its only text,
    // or a new element of that name when nothing matched. XML that matched
    // nothing is appended as it is.
    size_t first = n.children.size();
    for (size_t i = n.children.size(); i-- > 0;)
        if (test.matchesNode(*n.children[i])) {
            if (first != n.children.size()) xml::removeChild(n, first);
            first = i;
        }
    const auto* assigned = v.isObject() ? v.o->as<XmlObject>() : nullptr;
    const bool primitive = !assigned || (assigned->nodes.size() == 1 && (assigned->nodes.front()->kind == xml::Kind::Text ||
                                                                   assigned->nodes.front()->kind == xml::Kind::Attribute));
    auto setText = [&](xml::Node& e) {
        while (!e.children.empty()) xml::removeChild(e, e.children.size() - 1);
        const QString text = vm.toString(v);
        if (!text.isEmpty()) xml::insertChild(e, 0, xml::Node::make(xml::Kind::Text, {}, std::u16string(u16(text))));
    };
    if (!primitive) {
        if (first < n.children.size()) xml::removeChild(n, first);
        else first = n.children.size();
        insertContent(vm, n, first, v);
        return;
    }
    if (first < n.children.size()) {
        const xml::NodePtr old = n.children[first];
        if (old->kind == xml::Kind::Element) {
            setText(*old);
        } else {
            xml::removeChild(n, first);
            xml::insertChild(n, first, contentNode(vm, v));
        }
        return;
    }
    if (!test.local) return;
    xml::NodePtr child = xml::Node::make(xml::Kind::Element, xml::Name{test.uri.value_or(std::u16string()), *test.local, std::nullopt});
    setText(*child);
    xml::insertChild(n, n.children.size(), child);
}

bool xmlDelete(Vm&, XmlObject& x, const Name& given) {
    Name name;
    readXmlName(name, given);
    bool isIndex = false;
    const uint32_t index = name.anyName || name.attribute ? 0 : name.name.toUInt(&isIndex);
    if (x.isList && isIndex) {
        // delete list[i]: the item leaves its parent and the list.
        if (index >= x.nodes.size()) return true;
        const xml::NodePtr item = x.nodes[index];
        if (xml::NodePtr parent = item->parentNode()) {
            if (item->kind == xml::Kind::Attribute) {
                std::erase(parent->attributes, item);
                item->parent.reset();
            } else {
                auto at = std::find(parent->children.begin(), parent->children.end(), item);
                if (at != parent->children.end()) xml::removeChild(*parent, size_t(at - parent->children.begin()));
            }
        }
        x.nodes.erase(x.nodes.begin() + index);
        x.setNodes(std::move(x.nodes));
        return true;
    }
    const xml::NameTest test = xmlNameTest(name);
    for (const xml::NodePtr& n : x.nodes) {
        if (name.attribute) {
            std::erase_if(n->attributes, [&](const xml::NodePtr& a) { return test.matches(a->name); });
            continue;
        }
        for (size_t i = n->children.size(); i-- > 0;)
            if (test.matchesNode(*n->children[i])) xml::removeChild(*n, i);
    }
    return true;
}

bool xmlHas(XmlObject& x, const Name& given) {
    Name name;
    readXmlName(name, given);
    bool ok = false;
    const uint32_t index = name.name.toUInt(&ok);
    if (ok && !name.attribute) return index < x.nodes.size();
    const xml::NameTest test = xmlNameTest(name);
    for (const xml::NodePtr& n : x.nodes)
        if (!(name.attribute ? xml::attributes(*n, test) : xml::children(*n, test)).empty()) return true;
    return false;
}

Value xmlDescendants(Vm& vm, const Value& obj, const Name& name) {
    auto* x = obj.isObject() ? obj.o->as<XmlObject>() : nullptr;
    if (!x) vm.throwError(ErrorType::TypeError, 1016, {vm.describeForError(obj)});
    const xml::NameTest test = xmlNameTest(name);
    xml::NodeList out;
    for (const xml::NodePtr& n : x->nodes) {
        xml::NodeList part = xml::descendants(*n, test, name.attribute);
        out.insert(out.end(), part.begin(), part.end());
    }
    return makeXmlList(vm, std::move(out));
}

bool xmlEquals(Vm& vm, XmlObject& a, XmlObject& b) {
    if (&a == &b) return true;
    if (a.nodes.size() != b.nodes.size()) return false;
    for (size_t i = 0; i < a.nodes.size(); ++i) {
        const xml::Node& x = *a.nodes[i];
        const xml::Node& y = *b.nodes[i];
        const bool simple = xml::hasSimpleContent(x) && xml::hasSimpleContent(y);
        if (simple ? xml::toString(x, vm.xmlSettings) != xml::toString(y, vm.xmlSettings)
                   : xml::toXmlString(x, vm.xmlSettings) != xml::toXmlString(y, vm.xmlSettings))
            return false;
    }
    return true;
}

void installXmlClasses(Vm& vm) {
    auto allocate = [](Vm& vm, ClassObject*) -> Object* { return vm.make<XmlObject>(); };
    ClassObject* x = vm.defineClass(QStringLiteral("XML"), vm.builtin("Object"), allocate, xmlCtor, 1);
    x->call = xmlCall;
    x->isFinal = true;
    ClassObject* list = vm.defineClass(QStringLiteral("XMLList"), vm.builtin("Object"), allocate, listCtor, 1);
    list->call = listCall;
    list->isFinal = true;
    struct M { const char* name; NativeFn fn; int arity; };
    const M methods[] = {
        {"toString", xmlToString, 0}, {"toXMLString", xmlToXmlString, 0}, {"valueOf", xmlValueOf, 0},
        {"length", xmlLength, 0}, {"copy", xmlCopy, 0},
        {"children", mapNodes<selChildren>, 0}, {"elements", mapNodes<selElements>, 1},
        {"child", mapNodes<selChild>, 1}, {"attribute", mapNodes<selAttribute>, 1},
        {"attributes", mapNodes<selAttributes>, 0}, {"text", mapNodes<selText>, 0},
        {"comments", mapNodes<selComments>, 0}, {"processingInstructions", mapNodes<selInstructions>, 1},
        {"descendants", mapNodes<selDescendants>, 1}, {"parent", xmlParent, 0},
        {"hasSimpleContent", hasSimpleContent, 0}, {"hasComplexContent", hasComplexContent, 0},
        {"contains", contains, 1}, {"normalize", normalize, 0},
        {"nodeKind", nodeKind, 0}, {"localName", localName, 0}, {"name", xmlName, 0},
        {"childIndex", childIndex, 0}, {"appendChild", appendChild, 1},
        {"prependChild", prependChild, 1}, {"insertChildAfter", insertChildNear<1>, 2},
        {"insertChildBefore", insertChildNear<0>, 2}, {"setChildren", setChildren, 1},
        {"setLocalName", setLocalName, 1}, {"setName", setName, 1},
        {"inScopeNamespaces", inScopeNamespaces, 0}, {"namespaceDeclarations", namespaceDeclarations, 0},
        {"namespace", xmlNamespace, 1}, {"addNamespace", addNamespace, 1}, {"removeNamespace", removeNamespace, 1},
        {"setNamespace", setNamespace, 1}, {"hasOwnProperty", xmlHasOwnProperty, 1},
        {"propertyIsEnumerable", xmlPropertyIsEnumerable, 1}, {"replace", replace, 2},
    };
    // A list answers the methods of one node when it holds exactly one (TypeError #1086 otherwise).
    // The prototypes carry them too, for calls through XML.prototype.
    for (const M& m : methods)
        for (ClassObject* c : {x, list}) {
            vm.defineFixedMethod(c, QString::fromLatin1(m.name), m.fn, m.arity);
            vm.defineMethod(c, QString::fromLatin1(m.name), m.fn, m.arity);
        }
    const std::pair<const char*, std::pair<NativeFn, NativeFn>> flags[] = {
        {"ignoreComments", {getFlag<&xml::Settings::ignoreComments>, setFlag<&xml::Settings::ignoreComments>}},
        {"ignoreProcessingInstructions", {getFlag<&xml::Settings::ignoreProcessingInstructions>, setFlag<&xml::Settings::ignoreProcessingInstructions>}},
        {"ignoreWhitespace", {getFlag<&xml::Settings::ignoreWhitespace>, setFlag<&xml::Settings::ignoreWhitespace>}},
        {"prettyPrinting", {getFlag<&xml::Settings::prettyPrinting>, setFlag<&xml::Settings::prettyPrinting>}},
        {"prettyIndent", {getIndent, setIndent}},
    };
    for (const auto& [name, fns] : flags) vm.defineStaticAccessor(x, QString::fromLatin1(name), fns.first, fns.second);
    vm.defineStatic(x, QStringLiteral("settings"), currentSettings, 0);
    vm.defineStatic(x, QStringLiteral("setSettings"), setSettings, 1);
    vm.defineStatic(x, QStringLiteral("defaultSettings"), defaultSettings, 0);
    vm.defineConstant(x, QStringLiteral("length"), Value::number(1));
    vm.defineConstant(list, QStringLiteral("length"), Value::number(1));
}

} // namespace swf::avm2
