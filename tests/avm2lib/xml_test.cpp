#include "engine/avm2/lib/unicode.h"
#include "engine/avm2/lib/xml.h"

#include <gtest/gtest.h>

using namespace swf::avm2lib;
using namespace swf::avm2lib::xml;

namespace {

std::string s8(const std::u16string& s) { return utf16ToUtf8(s); }

NodeList parseOk(const char* src, const Settings& settings = {}, std::u16string_view defaultNs = {}) {
    ParseResult r = parse(utf8ToUtf16(src), settings, defaultNs);
    EXPECT_FALSE(r.error) << src << ": " << (r.error ? r.error->message : "");
    return r.nodes;
}

struct PrintCase {
    const char* source;
    Settings settings;
    const char* xmlString;
};

Settings flat() { Settings s; s.prettyPrinting = false; return s; }
Settings keepAll() {
    Settings s;
    s.ignoreComments = s.ignoreProcessingInstructions = s.ignoreWhitespace = false;
    return s;
}
Settings indent4() { Settings s; s.prettyIndent = 4; return s; }

TEST(Xml, PrintsAsToXMLString) {
    const PrintCase cases[] = {
        {"<a><b>t</b><c/></a>", {}, "<a>\n  <b>t</b>\n  <c/>\n</a>"},
        {"<a><b>t</b><c/></a>", flat(), "<a><b>t</b><c/></a>"},
        {"<a><b><c>x</c></b></a>", indent4(), "<a>\n    <b>\n        <c>x</c>\n    </b>\n</a>"},
        {"<a>  x  <b/> </a>", {}, "<a>\n  x\n  <b/>\n</a>"},
        {"<a> x </a>", keepAll(), "<a>x</a>"},
        {"<a> x </a>", [] { Settings s = keepAll(); s.prettyPrinting = false; return s; }(), "<a> x </a>"},
        {"<a><!-- c --><?php echo?><b/></a>", keepAll(), "<a>\n  <!-- c -->\n  <?php echo?>\n  <b/>\n</a>"},
        {"<a><!-- c --><?php echo?><b/></a>", {}, "<a>\n  <b/>\n</a>"},
        {"<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x\">]><a/>", {}, "<a/>"},
        {"<a x=\"&quot;&lt;&amp;&#10;&gt;\">1 &lt; 2 &amp; &gt; &#x41;&#66;&zz;</a>", {},
         "<a x=\"&quot;&lt;&amp;&#xA;>\">1 &lt; 2 &amp; &gt; AB&amp;zz;</a>"},
        {"<a><![CDATA[<x>]]></a>", {}, "<a>&lt;x&gt;</a>"},
        {"<a xmlns=\"u\"><b xmlns=\"\"/></a>", {}, "<a xmlns=\"u\">\n  <b xmlns=\"\"/>\n</a>"},
        {"<a y='1'   z = \"2\"/>", {}, "<a y=\"1\" z=\"2\"/>"},
        {"<r xmlns=\"u\" xmlns:p=\"v\"><p:c p:at=\"1\" plain=\"2\"/></r>", {},
         "<r xmlns=\"u\" xmlns:p=\"v\">\n  <p:c p:at=\"1\" plain=\"2\"/>\n</r>"},
        {"<a xml:lang=\"en\"/>", {}, "<a xml:lang=\"en\"/>"},
    };
    for (const PrintCase& c : cases) {
        const NodeList nodes = parseOk(c.source, c.settings);
        ASSERT_EQ(nodes.size(), 1u) << c.source;
        EXPECT_EQ(s8(toXmlString(*nodes[0], c.settings)), c.xmlString) << c.source;
    }
}

TEST(Xml, ChildPrintedAloneDeclaresItsNamespaces) {
    const Settings s;
    const NodeList doc = parseOk("<r xmlns=\"u\" xmlns:p=\"v\"><p:c p:at=\"1\"/><d/></r>", s);
    const NodeList kids = children(*doc[0], {});
    ASSERT_EQ(kids.size(), 2u);
    // Every namespace in scope is declared, after the attributes, the
    // element's own first and then its ancestors' outwards.
    EXPECT_EQ(s8(toXmlString(*kids[0], s)), "<p:c p:at=\"1\" xmlns=\"u\" xmlns:p=\"v\"/>");
    EXPECT_EQ(s8(toXmlString(*kids[1], s)), "<d xmlns=\"u\" xmlns:p=\"v\"/>");
    EXPECT_EQ(s8(toXmlString(kids, s)), "<p:c p:at=\"1\" xmlns=\"u\" xmlns:p=\"v\"/>\n<d xmlns=\"u\" xmlns:p=\"v\"/>");
    const NodeList nested = parseOk("<r xmlns:a=\"1\"><s xmlns:b=\"2\" xmlns:a=\"3\"><t k=\"v\"/></s></r>", s);
    const NodeList t = descendants(*nested[0], {std::nullopt, u"t"}, false);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(s8(toXmlString(*t[0], s)), "<t k=\"v\" xmlns:b=\"2\" xmlns:a=\"3\"/>");
    // Unprefixed names of a parse with a default namespace land in it.
    const NodeList d = parseOk("<a><b/></a>", s, u"http://d");
    EXPECT_EQ(d[0]->name.uri, u"http://d");
    EXPECT_EQ(s8(toXmlString(*d[0], s)), "<a xmlns=\"http://d\">\n  <b/>\n</a>");
}

// An ampersand starts a reference that runs to the next semicolon; one that
// names no known entity is kept as written, ampersands inside it included.
TEST(Xml, TextDecodesOnlyWholeKnownReferences) {
    const std::pair<const char*, const char*> cases[] = {
        {"A &amp; &#39; B", "A & ' B"}, {"A & &thing; B", "A & &thing; B"}, {"A &&thing; B", "A &&thing; B"},
        {"A &&amp; B", "A &&amp; B"}, {"A &amp;&amp; B", "A && B"}, {"&#x1F600;", "\xF0\x9F\x98\x80"}, {"tail &amp", "tail &amp"},
    };
    for (const auto& [text, value] : cases) {
        const NodeList nodes = parseOk((std::string("<d>") + text + "</d>").c_str());
        ASSERT_EQ(nodes.size(), 1u) << text;
        EXPECT_EQ(s8(toString(*nodes[0], {})), value) << text;
    }
}

TEST(Xml, NegativeIndentKeepsChildrenOnOneLine) {
    Settings s;
    s.prettyIndent = -5;
    EXPECT_EQ(s8(toXmlString(*parseOk("<x><a>1</a><b/></x>", s)[0], s)), "<x><a>1</a><b/></x>");
}

TEST(Xml, RefusesMalformedMarkupWithFlashErrors) {
    const struct { const char* source; int id; } cases[] = {
        {"<a><b></a>", 1085}, {"<a>", 1085}, {"</a>", 1085}, {"<p:a/>", 1083}, {"<a p:x=\"1\"/>", 1084},
        {"<a><!-- x</a>", 1094}, {"<a><![CDATA[x</a>", 1091}, {"<a x=\"1/>", 1095}, {"<a x=\"1\"", 1096},
        {"<a><?pi </a>", 1097}, {"<?xml version='1.0'><a/>", 1092}, {"<!DOCTYPE a [", 1093}, {"<a b/>", 1090}, {"<a x=\"1\" x=\"2\"/>", 1090}, {"< a/>", 1090},
    };
    for (const auto& c : cases) {
        const ParseResult r = parse(utf8ToUtf16(c.source), {});
        ASSERT_TRUE(r.error) << c.source;
        EXPECT_EQ(r.error->id, c.id) << c.source << ": " << r.error->message;
        EXPECT_TRUE(r.nodes.empty());
    }
}

TEST(Xml, HostileSizesAreBounded) {
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<a>";
    EXPECT_TRUE(parse(utf8ToUtf16(deep), {}).error);
    // A tree far deeper than the parser allows, built by script, prints and
    // dies without recursion.
    NodePtr root = Node::make(Kind::Element, {{}, u"a", {}});
    Node* tip = root.get();
    for (int i = 0; i < 200000; ++i) {
        NodePtr c = Node::make(Kind::Element, {{}, u"a", {}});
        c->parent = tip->weak_from_this();
        tip->children.push_back(c);
        tip = c.get();
    }
    Settings s;
    s.prettyPrinting = false;
    EXPECT_EQ(toXmlString(*root, s).size(), 200000u * 7 + 4);
    EXPECT_EQ(descendants(*root, {}, false).size(), 200000u);
    EXPECT_EQ(deepCopy(*root)->children.size(), 1u);
}

TEST(Xml, ToStringOfSimpleAndComplexContent) {
    const Settings s;
    const NodeList doc = parseOk("<a id=\"7\"><b>hi</b><c><d/></c><e/></a>", s);
    const Node& a = *doc[0];
    const NodeList bs = children(a, {{}, u"b"});
    EXPECT_EQ(s8(toString(*bs[0], s)), "hi");
    // The items of a list that is not simple go on lines of their own, even unpretty.
    EXPECT_EQ(s8(toString(parseOk("<p>1</p><q><r/></q>", s), flat())), "<p>1</p>\n<q><r/></q>");
    EXPECT_EQ(s8(toString(*attributes(a, {{}, u"id"})[0], s)), "7");
    EXPECT_EQ(s8(toString(*children(a, {{}, u"c"})[0], s)), "<c>\n  <d/>\n</c>");
    EXPECT_EQ(s8(toString(*children(a, {{}, u"e"})[0], s)), "");
    EXPECT_EQ(s8(toString(childrenOfKind(*bs[0], Kind::Text), s)), "hi");
    EXPECT_FALSE(hasSimpleContent(a));
    EXPECT_TRUE(hasSimpleContent(*bs[0]));
}

TEST(Xml, LookupsInDocumentOrder) {
    const NodeList doc = parseOk("<a xmlns:n=\"N\"><b id=\"1\"><b id=\"2\"/>t</b><c><n:b id=\"3\" n:id=\"4\"/></c></a>");
    const Node& a = *doc[0];
    auto ids = [](const NodeList& l) {
        std::string out;
        for (const NodePtr& n : l) out += n->kind == Kind::Attribute ? s8(n->value) : s8(attributes(*n, {{}, u"id"})[0]->value);
        return out;
    };
    EXPECT_EQ(ids(descendants(a, {std::nullopt, u"b"}, false)), "123");
    EXPECT_EQ(ids(descendants(a, {u"", u"b"}, false)), "12");
    EXPECT_EQ(ids(descendants(a, {u"N", std::nullopt}, false)), "3");
    EXPECT_EQ(ids(descendants(a, {std::nullopt, u"id"}, true)), "1234");
    EXPECT_EQ(ids(descendants(a, {u"N", u"id"}, true)), "4");
    EXPECT_EQ(descendants(a, {}, false).size(), 5u); // the full wildcard takes the text too
    EXPECT_EQ(children(a, {}).size(), 2u);
    EXPECT_EQ(ids(filter(descendants(a, {std::nullopt, u"b"}, false),
                         [](const NodePtr& n) { return n->children.empty(); })), "23");
    EXPECT_EQ(descendants(a, {std::nullopt, u"b"}, false)[1]->parentNode()->name.local, u"b");
    const NodeList inner = parseOk("<a xmlns:p=\"1\" xmlns:q=\"2\"><b xmlns:p=\"3\"/></a>");
    const std::vector<Namespace> scope = inScopeNamespaces(*inner[0]->children[0]);
    ASSERT_EQ(scope.size(), 2u);
    EXPECT_EQ(scope[0].uri, u"3");
    EXPECT_EQ(scope[1].uri, u"2");
}

TEST(Xml, CopyNormalizeAndEditing) {
    const Settings s;
    NodePtr a = parseOk("<a><b x=\"1\">t</b></a>")[0];
    NodePtr copy = deepCopy(*children(*a, {})[0]);
    EXPECT_FALSE(copy->parentNode());
    EXPECT_EQ(copy->children[0]->parentNode(), copy);
    EXPECT_EQ(copy->attributes[0]->parentNode(), copy);
    copy->attributes[0]->value.assign(1, u'2');
    EXPECT_EQ(s8(toXmlString(*a, s)), "<a>\n  <b x=\"1\">t</b>\n</a>");

    NodePtr e = Node::make(Kind::Element, {{}, u"e", {}});
    for (const char16_t* t : {u"x", u"", u"y"}) insertChild(*e, e->children.size(), Node::make(Kind::Text, {}, t));
    insertChild(*e, e->children.size(), Node::make(Kind::Element, {{}, u"f", {}}));
    insertChild(*e, e->children.size(), Node::make(Kind::Text, {}, u""));
    normalize(*e);
    ASSERT_EQ(e->children.size(), 2u);
    EXPECT_EQ(e->children[0]->value, u"xy");

    // A node cannot become its own descendant; moving a child takes it from its old parent.
    EXPECT_FALSE(insertChild(*copy->children[0]->parentNode(), 0, copy));
    EXPECT_FALSE(insertChild(*e, 0, a->children[0]->attributes[0]));
    NodePtr b = a->children[0];
    EXPECT_TRUE(insertChild(*e, 0, b));
    EXPECT_TRUE(a->children.empty());
    EXPECT_EQ(b->parentNode(), e);
    removeChild(*e, 0);
    EXPECT_FALSE(b->parentNode());
}

} // namespace
