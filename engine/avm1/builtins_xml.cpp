// XML and XMLNode: parsing, the node tree and serialising.
#include "engine/avm1/builtins.h"
#include "engine/avm1/net.h"
#include "engine/core/limits.h"

#include <algorithm>

namespace swf::avm1 {
namespace {

using namespace prop;

constexpr int kElement = 1;
constexpr int kText = 3;

// Status codes of XML.status.
enum XmlStatus {
    kOk = 0,
    kCdataOpen = -2,
    kDeclarationOpen = -3,
    kDoctypeOpen = -4,
    kCommentOpen = -5,
    kMalformedElement = -6,
    kAttributeOpen = -8,
    kEndTagMissing = -9,
    kStartTagMissing = -10,
};

// The tree behind a node object. Links point at the script objects of the
// other nodes, which the collector reaches through mark(). A document also
// counts what it loads (LoadProgress).
struct XmlNode final : LoadProgress {
    int type = kElement;
    std::optional<QString> name;  // elements; null for the document and text
    std::optional<QString> value; // text
    Object* attributes = nullptr;
    Object* parent = nullptr;
    std::vector<Object*> children;
    ArrayObject* childArray = nullptr; // what childNodes returns, refreshed on each read

    void mark(const MarkFn& m) const override {
        m(attributes);
        m(parent);
        for (Object* c : children) m(c);
        m(childArray);
    }
};

XmlNode* nodeOf(Object* o) { return o ? o->nativeAs<XmlNode>() : nullptr; }

void detach(Object* child);

// Makes `o` a node (constructors and super() calls land here); a node made
// again starts over in place, its children let go. Null for an object of
// another class.
XmlNode* initNode(Vm& vm, Object* o, int type) {
    XmlNode* node = o->nativeOrMake<XmlNode>();
    if (!node) return nullptr;
    for (Object* c : std::vector<Object*>(node->children)) detach(c);
    node->type = type;
    node->name.reset();
    node->value.reset();
    node->attributes = vm.newObject();
    return node;
}

Object* xmlNodePrototype(Vm& vm) {
    Value ctor = vm.getMember(Value(vm.global()), QStringLiteral("XMLNode"));
    Object* proto = vm.getMember(ctor, QStringLiteral("prototype")).asObject();
    return proto ? proto : vm.objectProto;
}

// A new node object of the current XMLNode class (scripts may replace its prototype).
Object* newNode(Vm& vm, int type, const QString& text) {
    Object* o = vm.newObject(xmlNodePrototype(vm));
    // Made as `new XMLNode` is by the player's own code, which names its class.
    vm.defineValue(o, QStringLiteral("constructor"), vm.getMember(Value(vm.global()), QStringLiteral("XMLNode")), kHidden);
    XmlNode* n = initNode(vm, o, type);
    if (type == kText) n->value = text;
    else n->name = text;
    return o;
}

int indexIn(const std::vector<Object*>& list, Object* o) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == o) return int(i);
    return -1;
}

void detach(Object* child) {
    XmlNode* n = nodeOf(child);
    if (!n || !n->parent) return;
    if (XmlNode* p = nodeOf(n->parent)) {
        int i = indexIn(p->children, child);
        if (i >= 0) p->children.erase(p->children.begin() + i);
    }
    n->parent = nullptr;
}

// True also when the chain of parents is too long to tell (the node is then
// too deep to take children anyway).
bool isAncestorOrSelf(Object* candidate, Object* node) {
    int depth = 0;
    for (Object* o = node; o; o = nodeOf(o) ? nodeOf(o)->parent : nullptr, ++depth)
        if (o == candidate || depth > limits::kMaxXmlDepth) return true;
    return false;
}

// Inserts `child` into `parent` before index `at` (-1: at the end); a node
// cannot become its own descendant.
bool insertChild(Object* parent, Object* child, int at) {
    XmlNode* p = nodeOf(parent);
    if (!p || !nodeOf(child) || isAncestorOrSelf(child, parent)) return false;
    detach(child);
    if (at < 0 || at > int(p->children.size())) at = int(p->children.size());
    p->children.insert(p->children.begin() + at, child);
    nodeOf(child)->parent = parent;
    return true;
}

// ---- Serialising -------------------------------------------------------------------

QString escapeXml(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        switch (c.unicode()) {
        case u'&': out += QStringLiteral("&amp;"); break;
        case u'<': out += QStringLiteral("&lt;"); break;
        case u'>': out += QStringLiteral("&gt;"); break;
        case u'"': out += QStringLiteral("&quot;"); break;
        case u'\'': out += QStringLiteral("&apos;"); break;
        default: out += c;
        }
    }
    return out;
}

// Appends `piece` within the string length limit and the heap budget; false
// (scripts halted) when refused.
bool append(Vm& vm, QString& out, const QString& piece) {
    if (!vm.allocateString(piece.size(), out.size())) return false;
    out += piece;
    return true;
}

// Nodes deeper than limits::kMaxXmlDepth are left out.
void serialise(Vm& vm, Object* o, QString& out, int depth) {
    XmlNode* n = nodeOf(o);
    if (!n || depth > limits::kMaxXmlDepth || !vm.chargeWork(1)) return;
    if (n->type == kText) {
        append(vm, out, escapeXml(n->value.value_or(QString())));
        return;
    }
    if (n->name) {
        if (!append(vm, out, u'<' + *n->name)) return;
        // The attributes object's own members come out as for..in lists them:
        // the newest first. Inherited ones are not attributes.
        std::vector<QString> keys = vm.enumerableKeys(n->attributes);
        for (auto k = keys.rbegin(); k != keys.rend(); ++k) {
            if (!vm.hasOwnProperty(n->attributes, *k)) continue;
            const QString value = escapeXml(vm.toString(vm.getMember(Value(n->attributes), *k)));
            if (!append(vm, out, u' ' + *k + QStringLiteral("=\"") + value + u'"')) return;
        }
        if (n->children.empty()) {
            append(vm, out, QStringLiteral(" />"));
            return;
        }
        out += u'>';
    }
    for (Object* c : std::vector<Object*>(n->children)) serialise(vm, c, out, depth + 1);
    if (n->name) append(vm, out, QStringLiteral("</") + *n->name + u'>');
}

// ---- Parsing -------------------------------------------------------------------------

QString decodeEntities(QStringView s) {
    if (!s.contains(u'&')) return s.toString();
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'&') { out += s[i]; continue; }
        qsizetype end = s.indexOf(u';', i);
        if (end < 0 || end - i > 12) { out += s[i]; continue; }
        QStringView name = s.mid(i + 1, end - i - 1);
        QString rep;
        if (name == u"lt") rep = QStringLiteral("<");
        else if (name == u"gt") rep = QStringLiteral(">");
        else if (name == u"amp") rep = QStringLiteral("&");
        else if (name == u"quot") rep = QStringLiteral("\"");
        else if (name == u"apos") rep = QStringLiteral("'");
        else if (name.startsWith(u'#')) {
            bool ok = false;
            uint code = name.size() > 1 && (name[1] == u'x' || name[1] == u'X') ? name.mid(2).toUInt(&ok, 16)
                                                                                : name.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF) {
                char32_t c = code;
                rep = QString::fromUcs4(&c, 1);
            }
        }
        if (rep.isEmpty()) { out += s[i]; continue; }
        out += rep;
        i = end;
    }
    return out;
}

bool isSpace(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

class Parser {
public:
    Parser(Vm& vm, Object* doc, const QString& text, bool ignoreWhite)
        : m_vm(vm), m_doc(doc), m_s(text), m_ignoreWhite(ignoreWhite) {}

    int run() {
        std::vector<Object*> open{m_doc};
        qsizetype i = 0;
        const qsizetype n = m_s.size();
        while (i < n && !m_vm.halted()) {
            if (!m_vm.chargeWork(1)) break;
            if (m_s[i] != u'<') {
                qsizetype end = m_s.indexOf(u'<', i);
                if (end < 0) end = n;
                addText(open.back(), decodeEntities(QStringView(m_s).mid(i, end - i)));
                i = end;
                continue;
            }
            QStringView rest = QStringView(m_s).mid(i);
            if (rest.startsWith(u"<!--")) {
                qsizetype end = m_s.indexOf(QStringLiteral("-->"), i + 4);
                if (end < 0) return kCommentOpen;
                i = end + 3;
            } else if (rest.startsWith(u"<![CDATA[")) {
                qsizetype end = m_s.indexOf(QStringLiteral("]]>"), i + 9);
                if (end < 0) return kCdataOpen;
                appendText(open.back(), m_s.mid(i + 9, end - i - 9));
                i = end + 3;
            } else if (rest.startsWith(u"<?")) {
                qsizetype end = m_s.indexOf(QStringLiteral("?>"), i + 2);
                if (end < 0) return kDeclarationOpen;
                m_vm.setMember(m_doc, QStringLiteral("xmlDecl"), Value(m_s.mid(i, end + 2 - i)));
                i = end + 2;
            } else if (rest.startsWith(u"<!")) {
                qsizetype end = m_s.indexOf(u'>', i + 2);
                if (end < 0) return kDoctypeOpen;
                m_vm.setMember(m_doc, QStringLiteral("docTypeDecl"), Value(m_s.mid(i, end + 1 - i)));
                i = end + 1;
            } else if (rest.startsWith(u"</")) {
                qsizetype end = m_s.indexOf(u'>', i + 2);
                if (end < 0) return kMalformedElement;
                QString name = m_s.mid(i + 2, end - i - 2).trimmed();
                if (open.size() < 2) return kStartTagMissing;
                if (nodeOf(open.back())->name != name) return kEndTagMissing;
                open.pop_back();
                i = end + 1;
            } else {
                int status = startTag(open, i);
                if (status != kOk) return status;
            }
        }
        return open.size() > 1 ? kEndTagMissing : kOk;
    }

private:
    void addText(Object* parent, const QString& text) {
        if (m_ignoreWhite && std::all_of(text.begin(), text.end(), isSpace)) return;
        appendText(parent, text);
    }
    void appendText(Object* parent, const QString& text) {
        if (text.isEmpty()) return;
        appendNew(parent, newNode(m_vm, kText, text));
    }
    static void appendNew(Object* parent, Object* child) {
        nodeOf(parent)->children.push_back(child);
        nodeOf(child)->parent = parent;
    }

    // "<name a='1' b="2">" or "<name/>" at i.
    int startTag(std::vector<Object*>& open, qsizetype& i) {
        const qsizetype n = m_s.size();
        qsizetype p = i + 1;
        qsizetype nameStart = p;
        while (p < n && !isSpace(m_s[p]) && m_s[p] != u'>' && m_s[p] != u'/') ++p;
        if (p == nameStart || p >= n) return kMalformedElement;
        Object* element = newNode(m_vm, kElement, m_s.mid(nameStart, p - nameStart));
        Object* attrs = nodeOf(element)->attributes;
        for (;;) {
            while (p < n && isSpace(m_s[p])) ++p;
            if (p >= n) return kMalformedElement;
            if (m_s[p] == u'>' || m_s[p] == u'/') break;
            qsizetype attrStart = p;
            while (p < n && !isSpace(m_s[p]) && m_s[p] != u'=' && m_s[p] != u'>' && m_s[p] != u'/') ++p;
            QString attrName = m_s.mid(attrStart, p - attrStart);
            while (p < n && isSpace(m_s[p])) ++p;
            if (p >= n || m_s[p] != u'=' || attrName.isEmpty()) return kMalformedElement;
            ++p;
            while (p < n && isSpace(m_s[p])) ++p;
            if (p >= n || (m_s[p] != u'"' && m_s[p] != u'\'')) return kMalformedElement;
            QChar quote = m_s[p];
            qsizetype end = m_s.indexOf(quote, p + 1);
            if (end < 0) return kAttributeOpen;
            // The first of two equal names wins, as Flash keeps it.
            if (!m_vm.hasOwnProperty(attrs, attrName))
                m_vm.setMember(attrs, attrName, Value(decodeEntities(QStringView(m_s).mid(p + 1, end - p - 1))));
            p = end + 1;
        }
        bool selfClosing = m_s[p] == u'/';
        if (selfClosing) {
            ++p;
            if (p >= n || m_s[p] != u'>') return kMalformedElement;
        }
        // A new element cannot hold its parent: append without the ancestor walk.
        appendNew(open.back(), element);
        registerId(element, attrs);
        if (!selfClosing) {
            if (int(open.size()) > limits::kMaxXmlDepth) return kMalformedElement;
            open.push_back(element);
        }
        i = p + 1;
        return kOk;
    }

    // An element with an `id` is filed under it: in the document's idMap from
    // SWF 8 on, on the document itself before.
    void registerId(Object* element, Object* attrs) {
        if (!m_vm.hasOwnProperty(attrs, QStringLiteral("id"))) return;
        QString id = m_vm.toString(m_vm.getMember(Value(attrs), QStringLiteral("id")));
        Object* map = m_doc;
        if (m_vm.version() >= 8) {
            map = m_vm.getMember(Value(m_doc), QStringLiteral("idMap")).asObject();
            if (!map) {
                map = m_vm.newObject();
                m_vm.setMember(m_doc, QStringLiteral("idMap"), Value(map));
            }
        }
        m_vm.setMember(map, id, Value(element));
    }

    Vm& m_vm;
    Object* m_doc;
    const QString& m_s;
    bool m_ignoreWhite;
};

// ---- Namespaces ------------------------------------------------------------------------

// The prefix an "xmlns..." attribute declares ("xmlns:p" -> "p"; "xmlns" and
// any other name starting with it declare the default, ""), or nullopt.
std::optional<QString> declaredPrefix(const QString& attr) {
    if (!attr.startsWith(QStringLiteral("xmlns"))) return std::nullopt;
    if (attr.size() > 5 && attr[5] == u':') return attr.mid(6);
    return QString();
}

// Walks the node and its ancestors' namespace declarations in order until
// `match` returns a value.
Value findDeclaration(Vm& vm, Object* node, const std::function<Value(const QString& prefix, const QString& uri)>& match) {
    int guard = 0;
    for (Object* o = node; o && guard < 1 << 20; ++guard) {
        XmlNode* n = nodeOf(o);
        if (!n) break;
        for (const QString& k : vm.enumerableKeys(n->attributes)) {
            std::optional<QString> prefix = declaredPrefix(k);
            if (!prefix) continue;
            Value r = match(*prefix, vm.toString(vm.getMember(Value(n->attributes), k)));
            if (!r.isUndefined()) return r;
        }
        o = n->parent;
    }
    return Value::null();
}

QString prefixOfName(const QString& name) {
    qsizetype colon = name.indexOf(u':');
    return colon < 0 ? QString() : name.left(colon);
}

// ---- Natives ------------------------------------------------------------------------

XmlNode* thisNode(CallArgs& a) { return nodeOf(a.thisObject()); }

Value xmlNodeCtor(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self) return Value();
    int type = vm.toInt(a.at(0));
    XmlNode* n = initNode(vm, self, type == kText ? kText : kElement);
    if (!n || a.at(1).isUndefined()) return Value();
    QString text = vm.toString(a.at(1));
    if (n->type == kText) n->value = text;
    else n->name = text;
    return Value();
}

Value xmlCtor(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!self || !initNode(vm, self, kElement)) return Value();
    if (!a.at(0).isNullish()) {
        int status = parseXmlInto(vm, self, vm.toString(a.at(0)));
        vm.setMember(self, QStringLiteral("status"), Value(status));
    }
    return Value();
}

Value nodeAppendChild(Vm&, CallArgs& a) {
    if (a.thisObject()) insertChild(a.thisObject(), a.at(0).asObject(), -1);
    return Value();
}

Value nodeInsertBefore(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    Object* child = a.at(0).asObject();
    Object* before = a.at(1).asObject();
    if (!n || !child || child == before) return Value();
    int at = indexIn(n->children, before);
    if (at < 0) return Value();
    // Moving a node within the same parent shifts the index it goes to.
    if (XmlNode* c = nodeOf(child); c && c->parent == a.thisObject() && indexIn(n->children, child) < at) --at;
    insertChild(a.thisObject(), child, at);
    return Value();
}

Value nodeRemoveNode(Vm&, CallArgs& a) {
    if (a.thisObject()) detach(a.thisObject());
    return Value();
}

Value nodeHasChildNodes(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    return Value(n && !n->children.empty());
}

// A deep copy leaves out nodes deeper than limits::kMaxXmlDepth.
Object* cloneNode(Vm& vm, Object* o, bool deep, int depth) {
    XmlNode* n = nodeOf(o);
    if (!n || !vm.chargeWork(1)) return nullptr;
    Object* copy = vm.newObject(o->proto());
    XmlNode* c = initNode(vm, copy, n->type);
    c->name = n->name;
    c->value = n->value;
    Object* attributes = n->attributes;
    for (const QString& k : vm.enumerableKeys(attributes))
        vm.setMember(c->attributes, k, vm.getMember(Value(attributes), k));
    if (deep && depth < limits::kMaxXmlDepth)
        for (Object* child : std::vector<Object*>(n->children))
            if (Object* cc = cloneNode(vm, child, true, depth + 1)) insertChild(copy, cc, -1);
    return copy;
}

Value nodeCloneNode(Vm& vm, CallArgs& a) {
    Object* copy = cloneNode(vm, a.thisObject(), vm.toBool(a.at(0)), 0);
    return copy ? Value(copy) : Value();
}

Value nodeToString(Vm& vm, CallArgs& a) {
    if (!thisNode(a)) return Value(QString());
    return Value(xmlToString(vm, a.thisObject()));
}

Value nodeNamespaceForPrefix(Vm& vm, CallArgs& a) {
    if (!thisNode(a)) return Value();
    QString wanted = vm.toString(a.at(0));
    return findDeclaration(vm, a.thisObject(), [&](const QString& prefix, const QString& uri) {
        return prefix == wanted ? Value(uri) : Value();
    });
}

Value nodePrefixForNamespace(Vm& vm, CallArgs& a) {
    if (!thisNode(a)) return Value();
    QString wanted = vm.toString(a.at(0));
    return findDeclaration(vm, a.thisObject(), [&](const QString& prefix, const QString& uri) {
        return uri == wanted ? Value(prefix) : Value();
    });
}

// Properties, read through getters on XMLNode.prototype.
Value getNodeType(Vm&, CallArgs& a) { XmlNode* n = thisNode(a); return n ? Value(n->type) : Value(); }
Value getNodeName(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    return n && n->name ? Value(*n->name) : Value::null();
}
Value setNodeName(Vm& vm, CallArgs& a) {
    XmlNode* n = thisNode(a);
    if (!n || a.at(0).isUndefined()) return Value();
    if (a.at(0).isNull()) n->name.reset();
    else n->name = vm.toString(a.at(0));
    return Value();
}
Value getNodeValue(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    return n && n->value ? Value(*n->value) : Value::null();
}
Value setNodeValue(Vm& vm, CallArgs& a) {
    XmlNode* n = thisNode(a);
    if (!n || a.at(0).isUndefined()) return Value();
    if (a.at(0).isNull()) n->value.reset();
    else n->value = vm.toString(a.at(0));
    return Value();
}
Value getAttributes(Vm&, CallArgs& a) { XmlNode* n = thisNode(a); return n ? Value(n->attributes) : Value(); }
Value setAttributes(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    if (n && a.at(0).asObject()) n->attributes = a.at(0).asObject();
    return Value();
}
Value getParentNode(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    return n && n->parent ? Value(n->parent) : Value::null();
}
Value getChildNodes(Vm& vm, CallArgs& a) {
    XmlNode* n = thisNode(a);
    if (!n) return Value();
    std::vector<Value> items(n->children.begin(), n->children.end());
    if (!n->childArray) n->childArray = vm.newArray(std::move(items));
    else n->childArray->items = std::move(items);
    return Value(static_cast<Object*>(n->childArray));
}
Value getFirstChild(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    return n && !n->children.empty() ? Value(n->children.front()) : Value::null();
}
Value getLastChild(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    return n && !n->children.empty() ? Value(n->children.back()) : Value::null();
}
Value sibling(CallArgs& a, int step) {
    XmlNode* n = thisNode(a);
    XmlNode* p = n ? nodeOf(n->parent) : nullptr;
    if (!p) return Value::null();
    int i = indexIn(p->children, a.thisObject()) + step;
    return i >= 0 && i < int(p->children.size()) ? Value(p->children[size_t(i)]) : Value::null();
}
Value getNextSibling(Vm&, CallArgs& a) { return sibling(a, 1); }
Value getPreviousSibling(Vm&, CallArgs& a) { return sibling(a, -1); }
Value getPrefix(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    return n && n->name ? Value(prefixOfName(*n->name)) : Value::null();
}
Value getLocalName(Vm&, CallArgs& a) {
    XmlNode* n = thisNode(a);
    if (!n || !n->name) return Value::null();
    qsizetype colon = n->name->indexOf(u':');
    return Value(colon < 0 ? *n->name : n->name->mid(colon + 1));
}
Value getNamespaceUri(Vm& vm, CallArgs& a) {
    XmlNode* n = thisNode(a);
    if (!n || !n->name) return Value::null();
    QString wanted = prefixOfName(*n->name);
    return findDeclaration(vm, a.thisObject(), [&](const QString& prefix, const QString& uri) {
        return prefix == wanted ? Value(uri) : Value();
    });
}

Value xmlCreateElement(Vm& vm, CallArgs& a) { return Value(newNode(vm, kElement, vm.toString(a.at(0)))); }
Value xmlCreateTextNode(Vm& vm, CallArgs& a) { return Value(newNode(vm, kText, vm.toString(a.at(0)))); }

Value xmlParseXml(Vm& vm, CallArgs& a) {
    Object* self = a.thisObject();
    if (!nodeOf(self)) return Value();
    int status = parseXmlInto(vm, self, vm.toString(a.at(0)));
    vm.setMember(self, QStringLiteral("status"), Value(status));
    return Value();
}

void addAccessor(Vm& vm, Object* on, const char* name, NativeFn get, NativeFn set) {
    QString n = QString::fromLatin1(name);
    Property& p = on->define(vm.key(n), n, Value(), kDontDelete | kDontEnum);
    p.getter = vm.newNative(get);
    if (set) p.setter = vm.newNative(set);
}

} // namespace

int parseXmlInto(Vm& vm, Object* doc, const QString& text) {
    XmlNode* n = nodeOf(doc);
    if (!n) return kOk;
    for (Object* c : std::vector<Object*>(n->children)) detach(c);
    bool ignoreWhite = vm.toBool(vm.getMember(Value(doc), QStringLiteral("ignoreWhite")));
    return Parser(vm, doc, text, ignoreWhite).run();
}

QString xmlToString(Vm& vm, Object* node) {
    QString out;
    XmlNode* n = nodeOf(node);
    if (!n) return out;
    // A document starts with its declarations.
    if (!n->parent && !n->name) {
        for (const char* decl : {"xmlDecl", "docTypeDecl"}) {
            Value v = vm.getMember(Value(node), QString::fromLatin1(decl));
            if (!v.isNullish()) out += vm.toString(v);
        }
    }
    serialise(vm, node, out, 0);
    return out;
}

void installXmlClasses(Vm& vm) {
    Object* nodeProto = vm.newObject();
    vm.defineClass(QStringLiteral("XMLNode"), xmlNodeCtor, nullptr, nodeProto);
    struct { const char* name; NativeFn fn; } nodeMethods[] = {
        {"appendChild", nodeAppendChild}, {"insertBefore", nodeInsertBefore}, {"removeNode", nodeRemoveNode},
        {"hasChildNodes", nodeHasChildNodes}, {"cloneNode", nodeCloneNode}, {"toString", nodeToString},
        {"getNamespaceForPrefix", nodeNamespaceForPrefix}, {"getPrefixForNamespace", nodePrefixForNamespace},
    };
    for (auto& m : nodeMethods) vm.defineMethod(nodeProto, QString::fromLatin1(m.name), m.fn);
    struct { const char* name; NativeFn get; NativeFn set; } accessors[] = {
        {"nodeType", getNodeType, nullptr}, {"nodeName", getNodeName, setNodeName},
        {"nodeValue", getNodeValue, setNodeValue}, {"attributes", getAttributes, setAttributes},
        {"parentNode", getParentNode, nullptr}, {"childNodes", getChildNodes, nullptr},
        {"firstChild", getFirstChild, nullptr}, {"lastChild", getLastChild, nullptr},
        {"nextSibling", getNextSibling, nullptr}, {"previousSibling", getPreviousSibling, nullptr},
        {"prefix", getPrefix, nullptr}, {"localName", getLocalName, nullptr},
        {"namespaceURI", getNamespaceUri, nullptr},
    };
    for (auto& p : accessors) addAccessor(vm, nodeProto, p.name, p.get, p.set);

    Object* xmlProto = vm.newObject(nodeProto);
    vm.defineClass(QStringLiteral("XML"), xmlCtor, nullptr, xmlProto);
    vm.defineMethod(xmlProto, QStringLiteral("createElement"), xmlCreateElement);
    vm.defineMethod(xmlProto, QStringLiteral("createTextNode"), xmlCreateTextNode);
    vm.defineMethod(xmlProto, QStringLiteral("parseXML"), xmlParseXml);
    vm.defineValue(xmlProto, QStringLiteral("contentType"), Value(QStringLiteral("application/x-www-form-urlencoded")), kDontEnum);
    vm.defineValue(xmlProto, QStringLiteral("ignoreWhite"), Value(false), kDontEnum);
}

} // namespace swf::avm1

namespace swf::avm1::builtins {

void installXml(Vm& vm, ScriptEngine& engine) {
    (void)engine;
    installXmlClasses(vm);
}

} // namespace swf::avm1::builtins
