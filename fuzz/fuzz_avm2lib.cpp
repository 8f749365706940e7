// fuzz_avm2lib: the ActionScript 3 library's decoders on hostile input.
// The first byte picks the target: a regular expression (pattern and
// subject split at the first NUL, flags from the second byte), XML, AMF,
// JSON or Date.parse.
#include "engine/avm2/lib/amf.h"
#include "engine/avm2/lib/date.h"
#include "engine/avm2/lib/json.h"
#include "engine/avm2/lib/regexp.h"
#include "engine/avm2/lib/unicode.h"
#include "engine/avm2/lib/xml.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace swf::avm2lib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::u16string text = utf8ToUtf16({reinterpret_cast<const char*>(data) + 2, size - 2});
    if ((data[0] & 3) == 2) {
        // AMF: decode, and what decodes must encode again and decode the same size.
        const auto version = (data[1] & 1) ? amf::Version::Amf3 : amf::Version::Amf0;
        const auto d = amf::decode({data + 2, size - 2}, version);
        if (!d) return 0;
        if (const auto again = amf::encode(d->graph, d->root, version)) (void)amf::decode(*again, version);
        return 0;
    }
    if ((data[0] & 3) == 3) {
        const json::ParseResult r = json::parse(text, [](const json::Value&, const std::u16string&, json::Value v) { return v; });
        if (r.value) (void)json::stringify(*r.value, json::gapFromNumber(data[1] & 15));
        return 0;
    }
    if (data[0] & 1) {
        RegExpFlags f;
        f.global = data[1] & 1;
        f.ignoreCase = data[1] & 2;
        f.multiline = data[1] & 4;
        f.dotAll = data[1] & 8;
        f.extended = data[1] & 16;
        const size_t split = text.find(u'\0');
        const std::u16string_view pattern = std::u16string_view(text).substr(0, split);
        const std::u16string_view subject = split == std::u16string::npos ? pattern : std::u16string_view(text).substr(split + 1);
        const RegExp re = RegExp::compile(pattern, f);
        double last = 0;
        for (int i = 0; i < 3 && re.valid(); ++i) {
            const RegExpMatch m = re.exec(subject, last, 200000);
            if (m.matched()) (void)expandReplacement(u"[$&|$1|$`|$'|$$]", subject, m);
        }
        return 0;
    }
    if (data[0] & 4) {
        // Date.parse, in a zone whose offset the second byte sets, and the parsed time printed back.
        const double offset = (int(data[1]) - 128) * 900000.0;
        const date::OffsetFn zone = [offset](double) { return offset; };
        const double t = date::parse(QString::fromStdU16String(text), zone);
        (void)date::format(t, date::Form::Full, zone);
        (void)date::format(t, date::Form::Utc, zone);
        return 0;
    }
    xml::Settings s;
    s.ignoreComments = data[1] & 1;
    s.ignoreProcessingInstructions = data[1] & 2;
    s.ignoreWhitespace = data[1] & 4;
    s.prettyPrinting = data[1] & 8;
    const xml::ParseResult r = xml::parse(text, s, (data[1] & 16) ? u"urn:d" : u"");
    for (const xml::NodePtr& n : r.nodes) {
        (void)xml::toXmlString(*n, s);
        (void)xml::toString(*n, s);
        xml::NodePtr copy = xml::deepCopy(*n);
        xml::normalize(*copy);
        (void)xml::descendants(*copy, {}, data[1] & 32);
    }
    return 0;
}
