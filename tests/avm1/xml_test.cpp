// XML and XMLNode on a bare VM: parsing (with the status codes of broken
// input), serialising, tree edits and namespaces.
#include "engine/avm1/net.h"
#include "engine/avm1/vm.h"

#include <gtest/gtest.h>

namespace {

using swf::avm1::Object;
using swf::avm1::Value;
using swf::avm1::Vm;

struct XmlVm {
    Vm vm{8};
    XmlVm() { swf::avm1::installXmlClasses(vm); }

    Value global(const char* name) { return vm.getMember(Value(vm.global()), QString::fromLatin1(name)); }
    Object* parse(const QString& text, bool ignoreWhite = false) {
        Object* doc = vm.construct(global("XML"), {}).asObject();
        vm.setMember(doc, QStringLiteral("ignoreWhite"), Value(ignoreWhite));
        Value arg(text);
        vm.callMethod(Value(doc), QStringLiteral("parseXML"), std::span<const Value>(&arg, 1));
        return doc;
    }
    Value get(Object* o, const char* name) { return vm.getMember(Value(o), QString::fromLatin1(name)); }
    Object* child(Object* o, const char* name) { return get(o, name).asObject(); }
    std::string str(const Value& v) { return vm.toString(v).toStdString(); }
    std::string text(Object* o) { return str(vm.callMethod(Value(o), QStringLiteral("toString"), {})); }
    Value call(Object* o, const char* method, std::vector<Value> args = {}) {
        return vm.callMethod(Value(o), QString::fromLatin1(method), args);
    }
};

struct ParseCase {
    const char* name;
    const char* input;
    int status;
    const char* serialised;
};

class XmlParse : public testing::TestWithParam<ParseCase> {};

TEST_P(XmlParse, StatusAndText) {
    XmlVm x;
    const ParseCase& c = GetParam();
    Object* doc = x.parse(QString::fromUtf8(c.input));
    EXPECT_EQ(x.vm.toNumber(x.get(doc, "status")), c.status);
    EXPECT_EQ(x.text(doc), c.serialised);
}

INSTANTIATE_TEST_SUITE_P(
    Table, XmlParse,
    testing::Values(
        ParseCase{"Nested", "<a><b>t</b></a>", 0, "<a><b>t</b></a>"},
        ParseCase{"EmptyElementShortForm", "<a></a>", 0, "<a />"},
        ParseCase{"AttributesDoubleQuoted", "<a x='1' y=\"2\"/>", 0, "<a y=\"2\" x=\"1\" />"},
        ParseCase{"EntitiesDecodedAndEscapedAgain", "<a>1 &lt; 2 &amp; 'q'</a>", 0, "<a>1 &lt; 2 &amp; &apos;q&apos;</a>"},
        ParseCase{"NumericEntity", "<a>&#65;&#x42;</a>", 0, "<a>AB</a>"},
        ParseCase{"UnknownEntityKept", "<a>&nope;</a>", 0, "<a>&amp;nope;</a>"},
        ParseCase{"CdataIsText", "<a><![CDATA[<b>]]></a>", 0, "<a>&lt;b&gt;</a>"},
        ParseCase{"CommentDropped", "<a><!-- c --></a>", 0, "<a />"},
        ParseCase{"DeclarationsKept", "<?xml version=\"1.0\"?><!DOCTYPE a><a/>", 0,
                  "<?xml version=\"1.0\"?><!DOCTYPE a><a />"},
        ParseCase{"TextAroundElements", "x<a/>y", 0, "x<a />y"},
        ParseCase{"UnterminatedCdata", "<a><![CDATA[x", -2, "<a />"},
        ParseCase{"UnterminatedDeclaration", "<?xml version", -3, ""},
        ParseCase{"UnterminatedDoctype", "<!DOCTYPE a", -4, ""},
        ParseCase{"UnterminatedComment", "<a/><!-- c", -5, "<a />"},
        ParseCase{"AttributeWithoutQuotes", "<a x=1/>", -6, ""},
        ParseCase{"TagNeverClosed", "<a", -6, ""},
        ParseCase{"UnterminatedAttribute", "<a x=\"1/>", -8, ""},
        ParseCase{"MissingEndTag", "<a><b></b>", -9, "<a><b /></a>"},
        ParseCase{"MismatchedEndTag", "<a></b>", -9, "<a />"},
        ParseCase{"EndTagWithoutStart", "</a>", -10, ""}),
    [](const testing::TestParamInfo<ParseCase>& i) { return std::string(i.param.name); });

TEST(Xml, IgnoreWhiteDropsBlankTextOnly) {
    XmlVm x;
    Object* kept = x.parse(QStringLiteral("<a>\n  <b> x </b>\n</a>"), false);
    Object* dropped = x.parse(QStringLiteral("<a>\n  <b> x </b>\n</a>"), true);
    EXPECT_EQ(x.text(kept), "<a>\n  <b> x </b>\n</a>");
    EXPECT_EQ(x.text(dropped), "<a><b> x </b></a>");
}

TEST(Xml, NodePropertiesFollowTheTree) {
    XmlVm x;
    Object* doc = x.parse(QStringLiteral("<r><a/>t<c/></r>"));
    Object* r = x.child(doc, "firstChild");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(x.get(doc, "nodeName").isNull());
    EXPECT_EQ(x.str(x.get(r, "nodeName")), "r");
    EXPECT_EQ(x.vm.toNumber(x.get(x.child(r, "childNodes"), "length")), 3);
    Object* a = x.child(r, "firstChild");
    Object* t = x.child(a, "nextSibling");
    EXPECT_EQ(x.vm.toNumber(x.get(t, "nodeType")), 3);
    EXPECT_EQ(x.str(x.get(t, "nodeValue")), "t");
    EXPECT_TRUE(x.get(t, "nodeName").isNull());
    EXPECT_EQ(x.child(t, "previousSibling"), a);
    EXPECT_EQ(x.child(t, "parentNode"), r);
    EXPECT_EQ(x.str(x.get(x.child(r, "lastChild"), "nodeName")), "c");
    EXPECT_TRUE(x.get(a, "firstChild").isNull());
    EXPECT_TRUE(x.get(r, "nextSibling").isNull());
}

TEST(Xml, EditsMoveNodesAndRefuseCycles) {
    XmlVm x;
    Object* doc = x.parse(QStringLiteral("<r><a/><b/></r>"));
    Object* r = x.child(doc, "firstChild");
    Object* a = x.child(r, "firstChild");
    Object* b = x.child(r, "lastChild");
    // Appending a node that has a parent moves it.
    x.call(r, "appendChild", {Value(a)});
    EXPECT_EQ(x.text(doc), "<r><b /><a /></r>");
    x.call(r, "insertBefore", {Value(a), Value(b)});
    EXPECT_EQ(x.text(doc), "<r><a /><b /></r>");
    // A node cannot go inside itself or its descendants.
    x.call(a, "appendChild", {Value(r)});
    x.call(a, "appendChild", {Value(a)});
    EXPECT_EQ(x.text(doc), "<r><a /><b /></r>");
    x.call(b, "removeNode");
    EXPECT_EQ(x.text(doc), "<r><a /></r>");
    EXPECT_TRUE(x.get(b, "parentNode").isNull());
    Value created = x.call(doc, "createTextNode", {Value("<&>")});
    x.call(a, "appendChild", {created});
    EXPECT_EQ(x.text(doc), "<r><a>&lt;&amp;&gt;</a></r>");
    EXPECT_TRUE(x.vm.toBool(x.call(a, "hasChildNodes")));
}

TEST(Xml, CloneNodeCopiesDeepOrShallow) {
    XmlVm x;
    Object* doc = x.parse(QStringLiteral("<r k=\"v\"><a>t</a></r>"));
    Object* r = x.child(doc, "firstChild");
    Object* deep = x.call(r, "cloneNode", {Value(true)}).asObject();
    Object* shallow = x.call(r, "cloneNode", {Value(false)}).asObject();
    ASSERT_NE(deep, nullptr);
    ASSERT_NE(shallow, nullptr);
    EXPECT_EQ(x.text(deep), "<r k=\"v\"><a>t</a></r>");
    EXPECT_EQ(x.text(shallow), "<r k=\"v\" />");
    // The copy is separate: editing it leaves the original alone.
    x.vm.setMember(x.child(deep, "attributes"), QStringLiteral("k"), Value("w"));
    EXPECT_EQ(x.text(r), "<r k=\"v\"><a>t</a></r>");
    EXPECT_TRUE(x.get(deep, "parentNode").isNull());
}

TEST(Xml, NamespacesResolveThroughAncestors) {
    XmlVm x;
    Object* doc = x.parse(QStringLiteral("<p:a xmlns:p=\"urn:p\" xmlns=\"urn:d\"><p:b xmlns:q=\"urn:q\"/><c/></p:a>"));
    Object* a = x.child(doc, "firstChild");
    Object* b = x.child(a, "firstChild");
    Object* c = x.child(a, "lastChild");
    EXPECT_EQ(x.str(x.get(b, "prefix")), "p");
    EXPECT_EQ(x.str(x.get(b, "localName")), "b");
    EXPECT_EQ(x.str(x.get(b, "namespaceURI")), "urn:p");
    EXPECT_EQ(x.str(x.get(c, "namespaceURI")), "urn:d");
    EXPECT_EQ(x.str(x.call(b, "getNamespaceForPrefix", {Value("q")})), "urn:q");
    EXPECT_EQ(x.str(x.call(b, "getPrefixForNamespace", {Value("urn:p")})), "p");
    EXPECT_TRUE(x.call(a, "getNamespaceForPrefix", {Value("q")}).isNull());
    EXPECT_TRUE(x.get(doc, "namespaceURI").isNull());
}

TEST(Xml, TreeSurvivesCollectionThroughItsRoot) {
    XmlVm x;
    Object* doc = x.parse(QStringLiteral("<a><b>deep</b></a>"));
    x.vm.collect({doc});
    Object* a = x.child(doc, "firstChild");
    ASSERT_NE(a, nullptr);
    Object* b = x.child(a, "firstChild");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(x.str(x.get(x.child(b, "firstChild"), "nodeValue")), "deep");
    EXPECT_EQ(x.child(b, "parentNode"), a);
}

TEST(Xml, ReplacedNodePrototypeReachesParsedNodes) {
    XmlVm x;
    Value nodeCtor = x.global("XMLNode");
    Object* custom = x.vm.newObject(x.vm.getMember(nodeCtor, QStringLiteral("prototype")).asObject());
    x.vm.setMember(custom, QStringLiteral("marker"), Value(42));
    x.vm.setMember(nodeCtor.asObject(), QStringLiteral("prototype"), Value(custom));
    Object* doc = x.parse(QStringLiteral("<a/>"));
    EXPECT_EQ(x.vm.toNumber(x.get(x.child(doc, "firstChild"), "marker")), 42);
}

} // namespace

namespace {

// Elements with an `id` are filed by it: in idMap from SWF 8 on, on the document before.
struct IdCase {
    int version;
    const char* holder; // "" for the document itself
};
class XmlIds : public testing::TestWithParam<IdCase> {};

TEST_P(XmlIds, ElementsAreFiledByTheirId) {
    Vm vm{GetParam().version};
    swf::avm1::installXmlClasses(vm);
    Value xmlClass = vm.getMember(Value(vm.global()), QStringLiteral("XML"));
    Value text(QStringLiteral("<a id=\"one\"><b id=\"two\"/><c/></a>"));
    Object* doc = vm.construct(xmlClass, std::span<const Value>(&text, 1)).asObject();
    ASSERT_TRUE(doc);
    Object* holder = *GetParam().holder ? vm.getMember(Value(doc), QString::fromLatin1(GetParam().holder)).asObject() : doc;
    ASSERT_TRUE(holder);
    Object* a = vm.getMember(Value(doc), QStringLiteral("firstChild")).asObject();
    EXPECT_EQ(vm.getMember(Value(holder), QStringLiteral("one")).asObject(), a);
    EXPECT_EQ(vm.getMember(Value(holder), QStringLiteral("two")).asObject(),
              vm.getMember(Value(a), QStringLiteral("firstChild")).asObject());
    EXPECT_EQ(vm.enumerableKeys(holder).size(), *GetParam().holder ? 2u : 3u); // the document also has status
}

INSTANTIATE_TEST_SUITE_P(Versions, XmlIds, testing::Values(IdCase{7, ""}, IdCase{8, "idMap"}),
                         [](const auto& info) { return "Swf" + std::to_string(info.param.version); });

TEST(Xml, OnlyOwnAttributesAreWritten) {
    XmlVm x;
    Object* doc = x.parse(QStringLiteral("<a k=\"v\"/>"));
    x.vm.setMember(x.vm.objectProto, QStringLiteral("inherited"), Value(1));
    EXPECT_EQ(x.text(doc), "<a k=\"v\" />");
}

} // namespace
