#pragma once
// The E4X data model behind AS3's XML and XMLList: nodes (element, text,
// comment, processing instruction, attribute) with names, namespaces and
// parent links, a parser honouring the XML settings, and the E4X string
// forms. Children are owned by their parent (shared, so that script values
// can hold any node); the parent link is weak: the VM keeps a node's root
// alive while script can reach one of its nodes.
// Every walk is iterative, so deep trees built by script cannot overflow the
// native stack.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace swf::avm2lib::xml {

enum class Kind { Element, Text, Comment, ProcessingInstruction, Attribute };

struct Namespace {
    std::optional<std::u16string> prefix; // unset: no prefix chosen yet
    std::u16string uri;
    bool operator==(const Namespace&) const = default;
};

// A node's qualified name; the prefix is the one it was written with, kept
// as a hint for printing.
struct Name {
    std::u16string uri;
    std::u16string local;
    std::optional<std::u16string> prefix;
};

struct Node;

// What a child, attribute or descendant lookup asks for: nullopt stands for
// the wildcard (`*` or any namespace).
struct NameTest {
    std::optional<std::u16string> uri;
    std::optional<std::u16string> local;
    bool matches(const Name& n) const { return (!uri || *uri == n.uri) && (!local || *local == n.local); }
    // A child or descendant: names are tested on elements only.
    bool matchesNode(const Node& n) const;
};

using NodePtr = std::shared_ptr<Node>;
using NodeList = std::vector<NodePtr>;

struct Node : std::enable_shared_from_this<Node> {
    Kind kind = Kind::Element;
    Name name;             // elements, attributes, processing instructions (local only)
    std::u16string value;  // text, comments, processing instructions, attributes
    std::weak_ptr<Node> parent;
    NodeList children;     // elements only
    NodeList attributes;   // elements only
    std::vector<Namespace> namespaces; // declarations made on this element

    ~Node();
    static NodePtr make(Kind kind, Name name = {}, std::u16string value = {});
    NodePtr parentNode() const { return parent.lock(); }
};

struct Settings {
    bool ignoreComments = true;
    bool ignoreProcessingInstructions = true;
    bool ignoreWhitespace = true;
    bool prettyPrinting = true;
    int prettyIndent = 2;
};

// A parse failure with Flash's error number (TypeError #1083..#1097).
struct ParseError {
    int id = 0;
    std::string message;
};

struct ParseResult {
    NodeList nodes; // the top-level nodes, in order
    std::optional<ParseError> error;
};

// Parses markup as the content of an element: any number of top-level
// nodes. Unprefixed element names fall into `defaultNamespace`. XML(String)
// takes the single node of the result (none: an empty text node; more than
// one: TypeError #1088); XMLList(String) takes them all.
ParseResult parse(std::u16string_view source, const Settings& settings, std::u16string_view defaultNamespace = {});

// ToXMLString of a node or a list, as Flash prints it.
std::u16string toXmlString(const Node& node, const Settings& settings);
std::u16string toXmlString(const NodeList& list, const Settings& settings);
// ToString: the value of attributes and texts, the text of elements with
// simple content, ToXMLString otherwise.
std::u16string toString(const Node& node, const Settings& settings);
std::u16string toString(const NodeList& list, const Settings& settings);

bool hasSimpleContent(const Node& node);
bool hasSimpleContent(const NodeList& list);

// A deep copy with no parent.
NodePtr deepCopy(const Node& node);
// Merges adjacent text nodes and drops empty ones, through the whole tree.
void normalize(Node& node);

// inScopeNamespaces(): the declarations of the node and its ancestors, the
// innermost binding of each prefix winning, innermost first.
std::vector<Namespace> inScopeNamespaces(const Node& node);

// Lookups in document order.
NodeList children(const Node& node, const NameTest& test);
NodeList childrenOfKind(const Node& node, Kind kind); // text(), comments(), processingInstructions()
NodeList attributes(const Node& node, const NameTest& test);
// E4X [[Descendants]]: matching elements (or, with `attribute`, matching
// attributes of the node's descendants), in document order.
NodeList descendants(const Node& node, const NameTest& test, bool attribute);
NodeList filter(const NodeList& list, const std::function<bool(const NodePtr&)>& keep);

// Editing: sets parent links; an attribute or a node that would contain
// itself is refused (false).
bool insertChild(Node& parent, size_t index, NodePtr child);
void removeChild(Node& parent, size_t index);

} // namespace swf::avm2lib::xml
