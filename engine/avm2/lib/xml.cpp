#include "engine/avm2/lib/xml.h"

#include "engine/avm2/lib/unicode.h"
#include "engine/core/limits.h"

#include <algorithm>

namespace swf::avm2lib::xml {

namespace {

const std::u16string kXmlNamespace = u"http://www.w3.org/XML/1998/namespace";

// The xml prefix is bound everywhere and never declared.
Namespace xmlPrefix() { return {std::u16string(u"xml"), kXmlNamespace}; }

bool isXmlSpace(char16_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isNameChar(char16_t c) {
    return !isXmlSpace(c) && c != '<' && c != '>' && c != '/' && c != '=' && c != '"' && c != '\'' && c != '?' && c != '!';
}

std::u16string_view trimmed(std::u16string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && isXmlSpace(s[a])) ++a;
    while (b > a && isXmlSpace(s[b - 1])) --b;
    return s.substr(a, b - a);
}

std::string narrow(std::u16string_view s) { return utf16ToUtf8(s); }

// &lt; &gt; &amp; &quot; &apos; and character references; anything else
// from an ampersand to the next semicolon stays as written, so "&&amp;" keeps
// its "&amp;".
std::u16string decodeEntities(std::u16string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') { out += s[i]; continue; }
        const size_t semi = s.find(';', i);
        if (semi == std::u16string_view::npos) { out += s.substr(i); break; }
        const std::u16string_view ent = s.substr(i + 1, semi - i - 1);
        char32_t c = 0;
        if (ent == u"lt") c = '<';
        else if (ent == u"gt") c = '>';
        else if (ent == u"amp") c = '&';
        else if (ent == u"quot") c = '"';
        else if (ent == u"apos") c = '\'';
        else if (ent.size() > 1 && ent[0] == '#') {
            const bool hex = ent[1] == 'x' || ent[1] == 'X';
            uint32_t v = 0;
            bool ok = ent.size() > (hex ? 2u : 1u);
            for (size_t k = hex ? 2 : 1; ok && k < ent.size(); ++k) {
                const int d = hex ? hexValue(ent[k]) : (ent[k] >= '0' && ent[k] <= '9' ? ent[k] - '0' : -1);
                ok = d >= 0;
                v = v * (hex ? 16 : 10) + uint32_t(std::max(d, 0));
            }
            if (ok && v > 0 && v <= 0x10FFFF) c = v;
        }
        if (!c) {
            out += s.substr(i, semi - i + 1);
            i = semi;
            continue;
        }
        if (c >= 0x10000) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i = semi;
    }
    return out;
}

class Parser {
public:
    Parser(std::u16string_view s, const Settings& settings, std::u16string_view defaultNs)
        : m_s(s), m_settings(settings), m_defaultNs(defaultNs) {}

    ParseResult run() {
        ParseResult r;
        while (!m_error && m_pos < m_s.size()) step(r);
        if (!m_error && !m_open.empty())
            fail(1085, "The element type \"" + narrow(m_open.back()->name.local) + "\" must be terminated by the matching end-tag.");
        if (m_error) { r.nodes.clear(); r.error = m_error; }
        return r;
    }

private:
    std::u16string_view m_s;
    size_t m_pos = 0;
    const Settings& m_settings;
    std::u16string_view m_defaultNs;
    std::vector<NodePtr> m_open; // elements whose end tag is still to come
    std::vector<std::u16string> m_openQNames;
    size_t m_nodes = 0;
    std::optional<ParseError> m_error;

    void fail(int id, std::string message) {
        if (!m_error) m_error = ParseError{id, std::move(message)};
    }
    bool at(std::u16string_view t) const { return m_s.substr(m_pos, t.size()) == t; }

    void add(ParseResult& r, NodePtr n) {
        if (++m_nodes > limits::kMaxXmlNodes) { fail(1090, "XML parser failure: too many nodes."); return; }
        if (m_open.empty()) {
            r.nodes.push_back(std::move(n));
        } else {
            n->parent = m_open.back();
            m_open.back()->children.push_back(std::move(n));
        }
    }

    // The text up to `end`, or an error when it never comes.
    bool until(std::u16string_view end, std::u16string_view& body, int errorId, const char* message) {
        const size_t e = m_s.find(end, m_pos);
        if (e == std::u16string_view::npos) { fail(errorId, message); return false; }
        body = m_s.substr(m_pos, e - m_pos);
        m_pos = e + end.size();
        return true;
    }

    void step(ParseResult& r) {
        std::u16string_view body;
        if (at(u"<!--")) {
            m_pos += 4;
            if (until(u"-->", body, 1094, "XML parser failure: Unterminated comment.") && !m_settings.ignoreComments)
                add(r, Node::make(Kind::Comment, {}, std::u16string(body)));
        } else if (at(u"<![CDATA[")) {
            m_pos += 9;
            if (until(u"]]>", body, 1091, "XML parser failure: Unterminated CDATA section."))
                add(r, Node::make(Kind::Text, {}, std::u16string(body)));
        } else if (at(u"<!DOCTYPE") || at(u"<!")) {
            skipDoctype();
        } else if (at(u"<?")) {
            const bool declaration = at(u"<?xml ");
            m_pos += 2;
            const bool closed = declaration ? until(u"?>", body, 1092, "XML parser failure: Unterminated XML declaration.")
                                            : until(u"?>", body, 1097, "XML parser failure: Unterminated processing instruction.");
            if (!closed) return;
            size_t n = 0;
            while (n < body.size() && !isXmlSpace(body[n])) ++n;
            std::u16string target(body.substr(0, n));
            std::u16string lower = target;
            for (char16_t& c : lower) c = char16_t(simpleLower(c));
            if (lower == u"xml" || m_settings.ignoreProcessingInstructions) return; // the declaration is not a node
            size_t v = n;
            while (v < body.size() && isXmlSpace(body[v])) ++v;
            add(r, Node::make(Kind::ProcessingInstruction, Name{{}, target, {}}, std::u16string(body.substr(v))));
        } else if (at(u"</")) {
            endTag();
        } else if (m_s[m_pos] == '<') {
            startTag(r);
        } else {
            size_t e = m_s.find('<', m_pos);
            if (e == std::u16string_view::npos) e = m_s.size();
            std::u16string_view raw = m_s.substr(m_pos, e - m_pos);
            m_pos = e;
            if (m_settings.ignoreWhitespace) raw = trimmed(raw);
            if (!raw.empty()) add(r, Node::make(Kind::Text, {}, decodeEntities(raw)));
        }
    }

    void skipDoctype() {
        int depth = 0;
        for (size_t i = m_pos + 2; i < m_s.size(); ++i) {
            if (m_s[i] == '[') ++depth;
            else if (m_s[i] == ']') --depth;
            else if (m_s[i] == '>' && depth <= 0) { m_pos = i + 1; return; }
        }
        fail(1093, "XML parser failure: Unterminated DOCTYPE declaration.");
    }

    std::u16string_view readName() {
        const size_t start = m_pos;
        while (m_pos < m_s.size() && isNameChar(m_s[m_pos])) ++m_pos;
        return m_s.substr(start, m_pos - start);
    }
    void skipSpace() {
        while (m_pos < m_s.size() && isXmlSpace(m_s[m_pos])) ++m_pos;
    }

    void endTag() {
        m_pos += 2;
        const std::u16string_view name = readName();
        skipSpace();
        if (m_pos >= m_s.size() || m_s[m_pos] != '>') { fail(1090, "XML parser failure: element is malformed."); return; }
        ++m_pos;
        if (m_open.empty() || m_openQNames.back() != name) {
            const std::string open = m_open.empty() ? narrow(name) : narrow(m_openQNames.back());
            fail(1085, "The element type \"" + open + "\" must be terminated by the matching end-tag \"</" + open + ">\".");
            return;
        }
        m_open.pop_back();
        m_openQNames.pop_back();
    }

    // The namespace a prefix stands for here: declarations of `pending` (the
    // element being read) first, then of the open elements.
    std::optional<std::u16string> resolve(std::u16string_view prefix, const Node& pending) const {
        if (prefix == u"xml") return kXmlNamespace;
        auto find = [&](const Node& n) -> std::optional<std::u16string> {
            for (const Namespace& ns : n.namespaces)
                if (ns.prefix && *ns.prefix == prefix) return ns.uri;
            return std::nullopt;
        };
        if (auto u = find(pending)) return u;
        for (auto it = m_open.rbegin(); it != m_open.rend(); ++it)
            if (auto u = find(**it)) return u;
        if (prefix.empty()) return std::u16string(m_defaultNs);
        return std::nullopt;
    }

    static void splitQName(std::u16string_view q, std::u16string_view& prefix, std::u16string_view& local) {
        const size_t colon = q.find(':');
        if (colon == std::u16string_view::npos) { prefix = {}; local = q; return; }
        prefix = q.substr(0, colon);
        local = q.substr(colon + 1);
    }

    void startTag(ParseResult& r) {
        ++m_pos;
        const std::u16string_view qname = readName();
        if (qname.empty()) { fail(1090, "XML parser failure: element is malformed."); return; }
        NodePtr el = Node::make(Kind::Element);
        std::vector<std::pair<std::u16string_view, std::u16string>> attrs;
        bool selfClosing = false;
        for (;;) {
            skipSpace();
            if (m_pos >= m_s.size()) { fail(1096, "XML parser failure: Unterminated element."); return; }
            if (m_s[m_pos] == '>') { ++m_pos; break; }
            if (at(u"/>")) { m_pos += 2; selfClosing = true; break; }
            const std::u16string_view an = readName();
            skipSpace();
            if (an.empty() || m_pos >= m_s.size() || m_s[m_pos] != '=') { fail(1090, "XML parser failure: element is malformed."); return; }
            ++m_pos;
            skipSpace();
            if (m_pos >= m_s.size() || (m_s[m_pos] != '"' && m_s[m_pos] != '\'')) {
                fail(1090, "XML parser failure: element is malformed.");
                return;
            }
            const char16_t quote = m_s[m_pos++];
            const size_t e = m_s.find(quote, m_pos);
            if (e == std::u16string_view::npos) { fail(1095, "XML parser failure: Unterminated attribute."); return; }
            std::u16string value = decodeEntities(m_s.substr(m_pos, e - m_pos));
            m_pos = e + 1;
            if (an == u"xmlns") el->namespaces.push_back({std::u16string(), std::move(value)});
            else if (an.substr(0, 6) == u"xmlns:") el->namespaces.push_back({std::u16string(an.substr(6)), std::move(value)});
            else attrs.push_back({an, std::move(value)});
        }
        std::u16string_view prefix, local;
        splitQName(qname, prefix, local);
        const auto uri = resolve(prefix, *el);
        if (!uri) {
            fail(1083, "The prefix \"" + narrow(prefix) + "\" for element \"" + narrow(local) + "\" is not bound.");
            return;
        }
        el->name = Name{*uri, std::u16string(local), std::u16string(prefix)};
        for (auto& [an, value] : attrs) {
            splitQName(an, prefix, local);
            std::u16string attrUri;
            if (!prefix.empty()) {
                const auto u = resolve(prefix, *el);
                if (!u) {
                    fail(1084, "The prefix \"" + narrow(prefix) + "\" for attribute \"" + narrow(local) + "\" associated with an element type \"" + narrow(el->name.local) + "\" is not bound.");
                    return;
                }
                attrUri = *u;
            }
            NodePtr a = Node::make(Kind::Attribute, Name{attrUri, std::u16string(local), std::u16string(prefix)}, std::move(value));
            for (const NodePtr& other : el->attributes)
                if (other->name.uri == attrUri && other->name.local == a->name.local) {
                    fail(1090, "XML parser failure: element is malformed.");
                    return;
                }
            a->parent = el;
            el->attributes.push_back(std::move(a));
        }
        NodePtr keep = el;
        add(r, std::move(el));
        if (selfClosing || m_error) return;
        if (int(m_open.size()) >= limits::kMaxXmlDepth) { fail(1090, "XML parser failure: elements nested too deeply."); return; }
        m_open.push_back(std::move(keep));
        m_openQNames.push_back(std::u16string(qname));
    }
};

// ---- Printing ------------------------------------------------------------------

void escapeElementValue(std::u16string_view v, std::u16string& out) {
    for (char16_t c : v) {
        if (c == '<') out += u"&lt;";
        else if (c == '>') out += u"&gt;";
        else if (c == '&') out += u"&amp;";
        else out += c;
    }
}

void escapeAttributeValue(std::u16string_view v, std::u16string& out) {
    for (char16_t c : v) {
        switch (c) {
        case '"': out += u"&quot;"; break;
        case '<': out += u"&lt;"; break;
        case '&': out += u"&amp;"; break;
        case '\n': out += u"&#xA;"; break;
        case '\r': out += u"&#xD;"; break;
        case '\t': out += u"&#x9;"; break;
        default: out += c;
        }
    }
}

// The namespace to print a name with, from the declarations in scope
// (innermost last); nullopt when none fits and one must be declared.
std::optional<Namespace> findNamespace(const Name& name, const std::vector<Namespace>& scope) {
    if (name.uri.empty()) {
        // No namespace: printed without a prefix, unless a default namespace
        // is in force, which needs undeclaring.
        for (auto it = scope.rbegin(); it != scope.rend(); ++it)
            if (it->prefix && it->prefix->empty()) {
                if (it->uri.empty()) return *it;
                return std::nullopt;
            }
        return Namespace{std::u16string(), std::u16string()};
    }
    auto visible = [&](std::vector<Namespace>::const_reverse_iterator it) {
        // A prefix redeclared further in hides the outer binding.
        for (auto inner = scope.rbegin(); inner != it; ++inner)
            if (inner->prefix == it->prefix) return false;
        return true;
    };
    for (auto it = scope.rbegin(); it != scope.rend(); ++it)
        if (it->uri == name.uri && it->prefix && name.prefix && *it->prefix == *name.prefix && visible(it)) return *it;
    for (auto it = scope.rbegin(); it != scope.rend(); ++it)
        if (it->uri == name.uri && it->prefix && visible(it)) return *it;
    return std::nullopt;
}

// Picks a prefix for a namespace that has none in scope: the name's own
// prefix when free, else the empty prefix (elements only), else ns1, ns2...
std::u16string freePrefix(const Name& name, const std::vector<Namespace>& scope, bool allowEmpty) {
    auto used = [&](const std::u16string& p) {
        return std::any_of(scope.begin(), scope.end(), [&](const Namespace& ns) { return ns.prefix && *ns.prefix == p; });
    };
    if (name.prefix && (!name.prefix->empty() || allowEmpty) && !used(*name.prefix)) return *name.prefix;
    if (allowEmpty && !used(u"")) return u"";
    for (int i = 1;; ++i) {
        std::u16string p = u"ns" + ascii16(std::to_string(i));
        if (!used(p)) return p;
    }
}

class Printer {
public:
    Printer(const Settings& s) : m_settings(s) {}

    void print(const Node& root, std::vector<Namespace> ancestors, std::u16string& out) {
        struct Frame {
            const Node* node;
            size_t child;
            int indent;
            size_t scopeSize;
            bool indentChildren;
            std::u16string closeTag;
        };
        std::vector<Namespace>& scope = ancestors;
        std::vector<Frame> stack;
        auto open = [&](const Node& n, int indent) {
            if (m_settings.prettyPrinting) out.append(size_t(std::max(indent, 0)), u' ');
            switch (n.kind) {
            case Kind::Text:
                escapeElementValue(m_settings.prettyPrinting ? trimmed(n.value) : std::u16string_view(n.value), out);
                return;
            case Kind::Attribute: escapeAttributeValue(n.value, out); return;
            case Kind::Comment: out += u"<!--" + n.value + u"-->"; return;
            case Kind::ProcessingInstruction: out += u"<?" + n.name.local + u" " + n.value + u"?>"; return;
            case Kind::Element: break;
            }
            const size_t scopeSize = scope.size();
            // The element printed first declares every namespace in scope
            // there, its ancestors' included, so that its markup stands alone.
            const std::vector<Namespace> declared = stack.empty() ? inScopeNamespaces(n) : n.namespaces;
            for (const Namespace& ns : declared) {
                if (!ns.prefix) continue;
                const bool known = std::any_of(scope.begin(), scope.begin() + long(scopeSize), [&](const Namespace& a) { return a == ns; });
                if (!known) scope.push_back(ns);
            }
            const std::u16string tag = qualified(n.name, scope, true);
            std::vector<std::u16string> attrNames;
            for (const NodePtr& a : n.attributes) attrNames.push_back(qualified(a->name, scope, false));
            // Attributes first, then the namespace declarations.
            out += u"<" + tag;
            for (size_t i = 0; i < n.attributes.size(); ++i) {
                out += u" " + attrNames[i] + u"=\"";
                escapeAttributeValue(n.attributes[i]->value, out);
                out += u"\"";
            }
            for (size_t i = scopeSize; i < scope.size(); ++i) {
                out += scope[i].prefix->empty() ? u" xmlns" : u" xmlns:" + *scope[i].prefix;
                out += u"=\"";
                escapeAttributeValue(scope[i].uri, out);
                out += u"\"";
            }
            if (n.children.empty()) {
                out += u"/>";
                scope.resize(scopeSize);
                return;
            }
            out += u">";
            const bool indentChildren = n.children.size() > 1 || n.children[0]->kind != Kind::Text;
            stack.push_back({&n, 0, indent, scopeSize, indentChildren, u"</" + tag + u">"});
        };
        open(root, 0);
        while (!stack.empty()) {
            Frame& f = stack.back();
            // A negative indent puts the children on the parent's line.
            const bool pretty = m_settings.prettyPrinting && m_settings.prettyIndent >= 0 && f.indentChildren;
            if (f.child < f.node->children.size()) {
                const Node& c = *f.node->children[f.child++];
                if (pretty) out += u'\n';
                open(c, pretty ? f.indent + m_settings.prettyIndent : 0);
                continue;
            }
            if (pretty) {
                out += u'\n';
                out.append(size_t(std::max(f.indent, 0)), u' ');
            }
            out += f.closeTag;
            scope.resize(f.scopeSize);
            stack.pop_back();
        }
    }

private:
    const Settings& m_settings;

    // prefix:local for a name, declaring its namespace on the element when
    // none in scope fits (added to the scope, printed with the element).
    std::u16string qualified(const Name& name, std::vector<Namespace>& scope, bool element) {
        // Unprefixed attributes are in no namespace whatever the default one is.
        if (!element && name.uri.empty()) return name.local;
        std::optional<Namespace> ns = findNamespace(name, scope);
        if (!ns) {
            // An element in no namespace under a default one undeclares it.
            ns = Namespace{name.uri.empty() ? std::u16string() : freePrefix(name, scope, element), name.uri};
            scope.push_back(*ns);
        }
        return ns->prefix->empty() ? name.local : *ns->prefix + u":" + name.local;
    }
};

} // namespace

bool NameTest::matchesNode(const Node& n) const {
    // Only the full wildcard takes texts, comments and instructions.
    const bool element = n.kind == Kind::Element;
    return (!local || (element && *local == n.name.local)) && (!uri || (element && *uri == n.name.uri));
}

Node::~Node() {
    // Deep trees are released without recursing: take the children of each
    // node this destructor holds the last reference to.
    NodeList pending = std::move(children);
    while (!pending.empty()) {
        NodePtr n = std::move(pending.back());
        pending.pop_back();
        if (n && n.use_count() == 1) {
            for (NodePtr& c : n->children) pending.push_back(std::move(c));
            n->children.clear();
        }
    }
}

NodePtr Node::make(Kind kind, Name name, std::u16string value) {
    auto n = std::make_shared<Node>();
    n->kind = kind;
    n->name = std::move(name);
    n->value = std::move(value);
    return n;
}

ParseResult parse(std::u16string_view source, const Settings& settings, std::u16string_view defaultNamespace) {
    return Parser(source, settings, defaultNamespace).run();
}

std::u16string toXmlString(const Node& node, const Settings& settings) {
    std::u16string out;
    Printer(settings).print(node, {xmlPrefix()}, out);
    return out;
}

std::u16string toXmlString(const NodeList& list, const Settings& settings) {
    std::u16string out;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) out += u'\n'; // the player puts each item of a list on its own line, pretty or not
        Printer(settings).print(*list[i], {xmlPrefix()}, out);
    }
    return out;
}

bool hasSimpleContent(const Node& node) {
    if (node.kind == Kind::Comment || node.kind == Kind::ProcessingInstruction) return false;
    return std::none_of(node.children.begin(), node.children.end(), [](const NodePtr& c) { return c->kind == Kind::Element; });
}

bool hasSimpleContent(const NodeList& list) {
    if (list.size() == 1) return hasSimpleContent(*list[0]);
    return std::none_of(list.begin(), list.end(), [](const NodePtr& c) { return c->kind == Kind::Element; });
}

std::u16string toString(const Node& node, const Settings& settings) {
    if (node.kind == Kind::Attribute || node.kind == Kind::Text) return node.value;
    if (!hasSimpleContent(node)) return toXmlString(node, settings);
    std::u16string out;
    for (const NodePtr& c : node.children)
        if (c->kind == Kind::Text) out += c->value;
    return out;
}

std::u16string toString(const NodeList& list, const Settings& settings) {
    if (!hasSimpleContent(list)) return toXmlString(list, settings);
    std::u16string out;
    for (const NodePtr& n : list)
        if (n->kind != Kind::Comment && n->kind != Kind::ProcessingInstruction) out += toString(*n, settings);
    return out;
}

NodePtr deepCopy(const Node& node) {
    auto cloneShallow = [](const Node& n) {
        NodePtr c = Node::make(n.kind, n.name, n.value);
        c->namespaces = n.namespaces;
        for (const NodePtr& a : n.attributes) {
            NodePtr ac = Node::make(a->kind, a->name, a->value);
            ac->parent = c;
            c->attributes.push_back(std::move(ac));
        }
        return c;
    };
    NodePtr root = cloneShallow(node);
    std::vector<std::pair<const Node*, NodePtr>> work{{&node, root}};
    while (!work.empty()) {
        auto [src, dst] = work.back();
        work.pop_back();
        for (const NodePtr& c : src->children) {
            NodePtr cc = cloneShallow(*c);
            cc->parent = dst;
            dst->children.push_back(cc);
            work.push_back({c.get(), std::move(cc)});
        }
    }
    return root;
}

void normalize(Node& node) {
    std::vector<Node*> work{&node};
    while (!work.empty()) {
        Node* n = work.back();
        work.pop_back();
        NodeList kept;
        for (NodePtr& c : n->children) {
            if (c->kind == Kind::Text) {
                if (!kept.empty() && kept.back()->kind == Kind::Text) {
                    kept.back()->value += c->value;
                    continue;
                }
            }
            kept.push_back(std::move(c));
        }
        std::erase_if(kept, [](const NodePtr& c) { return c->kind == Kind::Text && c->value.empty(); });
        n->children = std::move(kept);
        for (const NodePtr& c : n->children)
            if (c->kind == Kind::Element) work.push_back(c.get());
    }
}

std::vector<Namespace> inScopeNamespaces(const Node& node) {
    std::vector<Namespace> out;
    for (const Node* n = &node; n;) {
        for (const Namespace& ns : n->namespaces)
            if (std::none_of(out.begin(), out.end(), [&](const Namespace& o) { return o.prefix == ns.prefix; })) out.push_back(ns);
        NodePtr up = n->parentNode();
        n = up.get(); // the root keeps every ancestor alive while we walk
    }
    return out;
}

NodeList children(const Node& node, const NameTest& test) {
    return filter(node.children, [&](const NodePtr& c) { return test.matchesNode(*c); });
}

NodeList childrenOfKind(const Node& node, Kind kind) {
    return filter(node.children, [&](const NodePtr& c) { return c->kind == kind; });
}

NodeList attributes(const Node& node, const NameTest& test) {
    return filter(node.attributes, [&](const NodePtr& a) { return test.matches(a->name); });
}

NodeList descendants(const Node& node, const NameTest& test, bool attribute) {
    NodeList out;
    // Document order: a node, then its subtree, then its next sibling.
    std::vector<std::pair<const Node*, size_t>> stack{{&node, 0}};
    while (!stack.empty()) {
        auto& [n, i] = stack.back();
        if (i >= n->children.size()) { stack.pop_back(); continue; }
        const NodePtr& c = n->children[i++];
        if (attribute) {
            for (const NodePtr& a : c->attributes)
                if (test.matches(a->name)) out.push_back(a);
        } else if (test.matchesNode(*c)) {
            out.push_back(c);
        }
        if (c->kind == Kind::Element) stack.push_back({c.get(), 0});
    }
    return out;
}

NodeList filter(const NodeList& list, const std::function<bool(const NodePtr&)>& keep) {
    NodeList out;
    for (const NodePtr& n : list)
        if (keep(n)) out.push_back(n);
    return out;
}

bool insertChild(Node& parent, size_t index, NodePtr child) {
    if (parent.kind != Kind::Element || !child || child->kind == Kind::Attribute) return false;
    for (const Node* p = &parent; p; ) {
        if (p == child.get()) return false;
        NodePtr up = p->parentNode();
        p = up.get();
    }
    if (NodePtr old = child->parentNode()) {
        auto& siblings = old->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), child), siblings.end());
    }
    child->parent = parent.weak_from_this();
    parent.children.insert(parent.children.begin() + long(std::min(index, parent.children.size())), std::move(child));
    return true;
}

void removeChild(Node& parent, size_t index) {
    if (index >= parent.children.size()) return;
    parent.children[index]->parent.reset();
    parent.children.erase(parent.children.begin() + long(index));
}

} // namespace swf::avm2lib::xml
