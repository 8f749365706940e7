// Patterns are parsed into a small tree, compiled into a linear program and
// run by a backtracking machine whose choice points live on a heap stack.
// Register changes are logged on a trail so that a backtrack restores
// captures and loop counters exactly as ECMAScript's continuation semantics
// would.
#include "engine/avm2/lib/regexp.h"

#include "engine/avm2/lib/unicode.h"
#include "engine/core/limits.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace swf::avm2lib {

namespace {

using Range = std::pair<char16_t, char16_t>;

struct CharClass {
    std::vector<Range> ranges; // sorted, merged
    bool negated = false;

    bool containsRaw(char16_t c) const {
        auto it = std::upper_bound(ranges.begin(), ranges.end(), c,
                                   [](char16_t v, const Range& r) { return v < r.first; });
        return it != ranges.begin() && c <= std::prev(it)->second;
    }
};

void normalizeRanges(std::vector<Range>& r) {
    std::sort(r.begin(), r.end());
    std::vector<Range> out;
    for (const Range& x : r) {
        if (!out.empty() && int(x.first) <= int(out.back().second) + 1)
            out.back().second = std::max(out.back().second, x.second);
        else
            out.push_back(x);
    }
    r = std::move(out);
}

std::vector<Range> complement(std::vector<Range> r) {
    normalizeRanges(r);
    std::vector<Range> out;
    int next = 0;
    for (const Range& x : r) {
        if (x.first > next) out.push_back({char16_t(next), char16_t(x.first - 1)});
        next = x.second + 1;
    }
    if (next <= 0xFFFF) out.push_back({char16_t(next), char16_t(0xFFFF)});
    return out;
}

// \d \s \w and their negations.
std::vector<Range> classEscapeRanges(char16_t letter) {
    std::vector<Range> r;
    switch (letter | 0x20) {
    case 'd': r = {{'0', '9'}}; break;
    case 'w': r = {{'0', '9'}, {'A', 'Z'}, {'_', '_'}, {'a', 'z'}}; break;
    case 's':
        r = {{0x09, 0x0D}, {0x20, 0x20}, {0xA0, 0xA0}, {0x1680, 0x1680}, {0x180E, 0x180E}, {0x2000, 0x200A},
             {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F}, {0x3000, 0x3000}, {0xFEFF, 0xFEFF}};
        break;
    }
    if (letter >= 'A' && letter <= 'Z') r = complement(std::move(r));
    return r;
}

bool isLineTerminator(char32_t c) { return c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029; }
bool isWordChar(char16_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// ECMAScript's Canonicalize: the upper case of a character, unless that takes
// more than one character or turns a non-ASCII character into an ASCII one.
char16_t canonicalize(char16_t c) {
    if (c < 128) return (c >= 'a' && c <= 'z') ? char16_t(c - 32) : c;
    const char32_t u = simpleUpper(c);
    if (u > 0xFFFF || u < 128) return c;
    return char16_t(u);
}

// ---- Syntax tree ---------------------------------------------------------------

enum class NodeKind { Empty, Char, Any, Class, Seq, Alt, Group, Look, Backref, Bol, Eol, WordB, NotWordB, Repeat };

struct Node {
    NodeKind kind = NodeKind::Empty;
    char16_t ch = 0;
    int index = -1;          // class index, capture index, backreference group
    bool negate = false;     // negative lookahead
    bool greedy = true;
    int min = 0, max = -1;   // repeat bounds, -1 unbounded
    int firstCapture = 0, lastCapture = 0; // capture groups inside, [first, last)
    std::vector<std::unique_ptr<Node>> kids;
};
using NodePtr = std::unique_ptr<Node>;

NodePtr makeNode(NodeKind k) {
    auto n = std::make_unique<Node>();
    n->kind = k;
    return n;
}

class Parser {
public:
    Parser(std::u16string_view src, const RegExpFlags& f) : m_s(src), m_flags(f) {}

    NodePtr parse() {
        m_totalGroups = countGroups();
        NodePtr n = disjunction(0);
        if (!m_error.empty()) return nullptr;
        if (m_pos < m_s.size()) { fail("unmatched )"); return nullptr; }
        return n;
    }

    std::string m_error;
    int m_errorOffset = -1;
    std::vector<CharClass> m_classes;
    std::vector<std::u16string> m_names{std::u16string()}; // group 0 has no name
    int m_groups = 0;

private:
    std::u16string_view m_s;
    size_t m_pos = 0;
    RegExpFlags m_flags;
    int m_totalGroups = 0;

    void fail(const char* why) {
        if (m_error.empty()) { m_error = why; m_errorOffset = int(m_pos); }
    }
    bool more() const { return m_pos < m_s.size(); }
    char16_t peek(size_t ahead = 0) const { return m_pos + ahead < m_s.size() ? m_s[m_pos + ahead] : 0; }
    bool lookingAt(std::u16string_view t) const { return m_s.substr(m_pos, t.size()) == t; }

    // With the x flag, blanks and # comments between terms are not part of
    // the pattern.
    void skipExtended() {
        if (!m_flags.extended) return;
        while (more()) {
            char16_t c = peek();
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') { ++m_pos; continue; }
            if (c == '#') {
                while (more() && !isLineTerminator(peek())) ++m_pos;
                continue;
            }
            break;
        }
    }

    // Capturing groups in the whole pattern, so that \12 knows whether group
    // 12 exists before it has been reached.
    int countGroups() const {
        int n = 0;
        bool inClass = false;
        for (size_t i = 0; i < m_s.size(); ++i) {
            char16_t c = m_s[i];
            if (c == '\\') { ++i; continue; }
            if (inClass) { if (c == ']') inClass = false; continue; }
            if (c == '[') inClass = true;
            else if (c == '(' && (i + 1 >= m_s.size() || m_s[i + 1] != '?' || m_s.substr(i + 1, 3) == u"?P<")) ++n;
        }
        return n;
    }

    NodePtr disjunction(int depth) {
        if (depth > limits::kMaxRegExpNesting) { fail("pattern nested too deeply"); return nullptr; }
        const int firstCapture = m_groups + 1;
        NodePtr first = alternative(depth);
        if (!first) return nullptr;
        if (peek() != '|' || !more()) return first;
        NodePtr alt = makeNode(NodeKind::Alt);
        alt->kids.push_back(std::move(first));
        while (more() && peek() == '|') {
            ++m_pos;
            NodePtr next = alternative(depth);
            if (!next) return nullptr;
            alt->kids.push_back(std::move(next));
        }
        alt->firstCapture = firstCapture;
        alt->lastCapture = m_groups + 1;
        return alt;
    }

    NodePtr alternative(int depth) {
        NodePtr seq = makeNode(NodeKind::Seq);
        for (;;) {
            skipExtended();
            if (!more() || peek() == '|' || peek() == ')') break;
            NodePtr t = term(depth);
            if (!t) return nullptr;
            seq->kids.push_back(std::move(t));
        }
        return seq;
    }

    NodePtr term(int depth) {
        const int firstCapture = m_groups + 1;
        NodePtr atom;
        const char16_t c = peek();
        switch (c) {
        case '^': ++m_pos; return makeNode(NodeKind::Bol);
        case '$': ++m_pos; return makeNode(NodeKind::Eol);
        case '\\':
            if (peek(1) == 'b' || peek(1) == 'B') {
                m_pos += 2;
                return makeNode(c == '\\' && m_s[m_pos - 1] == 'b' ? NodeKind::WordB : NodeKind::NotWordB);
            }
            atom = atomEscape();
            break;
        case '(': atom = group(depth); break;
        case '.': ++m_pos; atom = makeNode(NodeKind::Any); break;
        case '[': atom = characterClass(); break;
        case '*': case '+': case '?': fail("nothing to repeat"); return nullptr;
        case '{':
            if (quantifierAhead()) { fail("nothing to repeat"); return nullptr; }
            [[fallthrough]];
        default:
            ++m_pos;
            atom = makeNode(NodeKind::Char);
            atom->ch = c;
        }
        if (!atom) return nullptr;
        skipExtended();
        int min = 0, max = -1;
        if (!quantifier(min, max)) return atom;
        if (max >= 0 && max < min) { fail("numbers out of order in {} quantifier"); return nullptr; }
        NodePtr rep = makeNode(NodeKind::Repeat);
        rep->min = min;
        rep->max = max;
        if (more() && peek() == '?') { ++m_pos; rep->greedy = false; }
        rep->firstCapture = firstCapture;
        rep->lastCapture = m_groups + 1;
        rep->kids.push_back(std::move(atom));
        return rep;
    }

    bool readInt(int& out) {
        if (!more() || peek() < '0' || peek() > '9') return false;
        int64_t v = 0;
        while (more() && peek() >= '0' && peek() <= '9') {
            v = std::min<int64_t>(v * 10 + (peek() - '0'), INT_MAX);
            ++m_pos;
        }
        out = int(v);
        return true;
    }

    // A brace that does not start {n}, {n,} or {n,m} is an ordinary character.
    bool quantifierAhead() {
        const size_t save = m_pos;
        int a = 0, b = 0;
        bool ok = false;
        ++m_pos;
        if (readInt(a)) {
            if (peek() == ',') { ++m_pos; readInt(b); }
            ok = peek() == '}';
        }
        m_pos = save;
        return ok;
    }

    bool quantifier(int& min, int& max) {
        if (!more()) return false;
        switch (peek()) {
        case '*': ++m_pos; min = 0; max = -1; return true;
        case '+': ++m_pos; min = 1; max = -1; return true;
        case '?': ++m_pos; min = 0; max = 1; return true;
        case '{':
            if (!quantifierAhead()) return false;
            ++m_pos;
            readInt(min);
            max = min;
            if (peek() == ',') {
                ++m_pos;
                max = -1;
                readInt(max);
            }
            ++m_pos; // '}'
            return true;
        default: return false;
        }
    }

    NodePtr group(int depth) {
        ++m_pos; // '('
        NodePtr n;
        if (lookingAt(u"?:")) {
            m_pos += 2;
            n = disjunction(depth + 1);
        } else if (lookingAt(u"?=") || lookingAt(u"?!")) {
            const bool negate = peek(1) == '!';
            m_pos += 2;
            n = makeNode(NodeKind::Look);
            n->negate = negate;
            n->firstCapture = m_groups + 1;
            NodePtr body = disjunction(depth + 1);
            if (!body) return nullptr;
            n->kids.push_back(std::move(body));
            n->lastCapture = m_groups + 1;
        } else if (lookingAt(u"?P=")) {
            m_pos += 3;
            std::u16string name = readName(')');
            if (name.empty()) return nullptr;
            n = makeNode(NodeKind::Backref);
            auto it = std::find(m_names.begin(), m_names.end(), name);
            if (it == m_names.end()) { fail("reference to an unknown group name"); return nullptr; }
            n->index = int(it - m_names.begin());
            return n; // readName consumed the ')'
        } else if (peek() == '?' && !lookingAt(u"?P<")) {
            fail("unknown group kind");
            return nullptr;
        } else {
            std::u16string name;
            if (lookingAt(u"?P<")) {
                m_pos += 3;
                name = readName('>');
                if (name.empty()) return nullptr;
            }
            if (m_groups >= limits::kMaxRegExpGroups) { fail("too many groups"); return nullptr; }
            n = makeNode(NodeKind::Group);
            n->index = ++m_groups;
            m_names.push_back(std::move(name));
            NodePtr body = disjunction(depth + 1);
            if (!body) return nullptr;
            n->kids.push_back(std::move(body));
        }
        if (!n) return nullptr;
        if (!more() || peek() != ')') { fail("missing )"); return nullptr; }
        ++m_pos;
        return n;
    }

    std::u16string readName(char16_t close) {
        std::u16string name;
        while (more() && peek() != close) {
            if (!isWordChar(peek())) { fail("bad group name"); return {}; }
            name += peek();
            ++m_pos;
        }
        if (!more() || name.empty()) { fail("bad group name"); return {}; }
        ++m_pos;
        return name;
    }

    int hexDigits(int count) {
        if (m_pos + size_t(count) > m_s.size()) return -1;
        int v = 0;
        for (int i = 0; i < count; ++i) {
            const int d = hexValue(m_s[m_pos + size_t(i)]);
            if (d < 0) return -1;
            v = v * 16 + d;
        }
        m_pos += size_t(count);
        return v;
    }

    // The character an escape stands for, after the backslash (shared by
    // atoms and classes). \b is a backspace here; callers handle it before.
    char16_t characterEscape() {
        const char16_t c = m_s[m_pos++];
        switch (c) {
        case 'f': return '\f';
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        case 'v': return '\v';
        case 'b': return '\b';
        case 'c': {
            const char16_t l = peek();
            if ((l >= 'a' && l <= 'z') || (l >= 'A' && l <= 'Z')) { ++m_pos; return char16_t(l % 32); }
            --m_pos; // "\c" without a letter is a backslash followed by c
            return '\\';
        }
        case 'x': { int v = hexDigits(2); return v < 0 ? u'x' : char16_t(v); }
        case 'u': { int v = hexDigits(4); return v < 0 ? u'u' : char16_t(v); }
        case '0':
            if (peek() < '0' || peek() > '9') return 0;
            [[fallthrough]];
        case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
            // Octal escapes, as browsers and Flash read digits that name no group.
            int v = c - '0';
            for (int i = 0; i < 2 && peek() >= '0' && peek() <= '7' && v * 8 + (peek() - '0') <= 0377; ++i)
                v = v * 8 + (m_s[m_pos++] - '0');
            return char16_t(v);
        }
        default: return c; // identity escape
        }
    }

    NodePtr atomEscape() {
        ++m_pos; // backslash
        if (!more()) { fail("\\ at end of pattern"); return nullptr; }
        const char16_t c = peek();
        if (c == 'd' || c == 'D' || c == 's' || c == 'S' || c == 'w' || c == 'W') {
            ++m_pos;
            NodePtr n = makeNode(NodeKind::Class);
            n->index = int(m_classes.size());
            m_classes.push_back(CharClass{classEscapeRanges(c), false});
            return n;
        }
        if (c >= '1' && c <= '9') {
            const size_t save = m_pos;
            int v = 0;
            readInt(v);
            if (v <= m_totalGroups) {
                NodePtr n = makeNode(NodeKind::Backref);
                n->index = v;
                return n;
            }
            m_pos = save;
        }
        NodePtr n = makeNode(NodeKind::Char);
        n->ch = characterEscape();
        return n;
    }

    // One class atom: a character (`single`) or a class escape (`set`).
    bool classAtom(char16_t& single, std::vector<Range>& set) {
        if (peek() != '\\') { single = m_s[m_pos++]; return true; }
        ++m_pos;
        if (!more()) { fail("\\ at end of pattern"); return false; }
        const char16_t c = peek();
        if (c == 'd' || c == 'D' || c == 's' || c == 'S' || c == 'w' || c == 'W') {
            ++m_pos;
            set = classEscapeRanges(c);
            return true;
        }
        single = characterEscape();
        return true;
    }

    NodePtr characterClass() {
        ++m_pos; // '['
        CharClass cls;
        if (peek() == '^' && more()) { cls.negated = true; ++m_pos; }
        while (more() && peek() != ']') {
            char16_t a = 0;
            std::vector<Range> setA;
            if (!classAtom(a, setA)) return nullptr;
            if (setA.empty() && peek() == '-' && peek(1) != ']' && m_pos + 1 < m_s.size()) {
                ++m_pos;
                char16_t b = 0;
                std::vector<Range> setB;
                if (!classAtom(b, setB)) return nullptr;
                if (setB.empty()) {
                    if (b < a) { fail("range out of order in character class"); return nullptr; }
                    cls.ranges.push_back({a, b});
                    continue;
                }
                // [a-\d]: the dash is an ordinary character.
                cls.ranges.push_back({a, a});
                cls.ranges.push_back({'-', '-'});
                cls.ranges.insert(cls.ranges.end(), setB.begin(), setB.end());
                continue;
            }
            if (setA.empty()) cls.ranges.push_back({a, a});
            else cls.ranges.insert(cls.ranges.end(), setA.begin(), setA.end());
        }
        if (!more()) { fail("missing ] in character class"); return nullptr; }
        ++m_pos;
        normalizeRanges(cls.ranges);
        NodePtr n = makeNode(NodeKind::Class);
        n->index = int(m_classes.size());
        m_classes.push_back(std::move(cls));
        return n;
    }
};

// ---- Program -------------------------------------------------------------------

enum class Op : uint8_t {
    Char,       // a = character
    Any,        // any but a line terminator
    AnyAll,     // any character (dotall)
    Class,      // a = class index
    Split,      // try a first, then b
    Jmp,        // a = target
    OpenGroup,  // a = scratch slot: remember where the group starts
    CloseGroup, // a = group, b = scratch slot
    ClearCaps,  // groups [a, b) become undefined
    Bol, Eol, WordB, NotWordB,
    Backref,    // a = group
    LookStart,  // a = continuation, flag = negative
    LookEnd,
    LoopInit,   // a = counter slot
    LoopHead,   // a = counter slot, b = min, c = max (-1 none), d = exit, flag = greedy
    LoopBody,   // a = counter slot: remember the iteration's start position
    LoopTail,   // a = counter slot, b = min, c = head
    SimpleRepeat, // one-character atom next: b = min, c = max (-1 none), flag = greedy
    Match,
};

struct Instr {
    Op op;
    bool flag = false;
    int a = 0, b = 0, c = 0, d = 0;
};

} // namespace

class RegExpProgram {
public:
    std::vector<Instr> code;
    std::vector<CharClass> classes;
    std::vector<std::u16string> names;
    int groups = 0;
    int slots = 0; // captures (two per group, group 0 included) then scratch slots
    RegExpFlags flags;

    bool matchesOne(const Instr& in, char16_t c) const;
    struct State; // the machine's stacks, kept across start positions
    MatchStatus run(std::u16string_view s, int start, uint64_t& steps, std::vector<int>& out, State& state) const;
};

namespace {

class Compiler {
public:
    Compiler(RegExpProgram& p) : m_p(p) {}
    bool tooBig = false;

    void emitProgram(const Node& root) {
        compile(root);
        emit({Op::Match});
    }

private:
    RegExpProgram& m_p;

    int emit(Instr in) {
        if (m_p.code.size() >= limits::kMaxRegExpProgram) { tooBig = true; return int(m_p.code.size()) - 1; }
        m_p.code.push_back(in);
        return int(m_p.code.size()) - 1;
    }
    int here() const { return int(m_p.code.size()); }
    int newSlot() { return m_p.slots++; }

    static bool isSingleChar(const Node& n) {
        return n.kind == NodeKind::Char || n.kind == NodeKind::Any || n.kind == NodeKind::Class;
    }

    void compile(const Node& n) {
        if (tooBig) return;
        switch (n.kind) {
        case NodeKind::Empty: break;
        case NodeKind::Char: emit({Op::Char, false, n.ch}); break;
        case NodeKind::Any: emit({m_p.flags.dotAll ? Op::AnyAll : Op::Any}); break;
        case NodeKind::Class: emit({Op::Class, false, n.index}); break;
        case NodeKind::Bol: emit({Op::Bol}); break;
        case NodeKind::Eol: emit({Op::Eol}); break;
        case NodeKind::WordB: emit({Op::WordB}); break;
        case NodeKind::NotWordB: emit({Op::NotWordB}); break;
        case NodeKind::Backref:
            // Group counting cannot see through x-mode comments; a reference
            // to a group that never came matches the empty string.
            if (n.index <= m_p.groups) emit({Op::Backref, false, n.index});
            break;
        case NodeKind::Seq:
            for (const NodePtr& k : n.kids) compile(*k);
            break;
        case NodeKind::Alt: {
            std::vector<int> jumps;
            for (size_t i = 0; i < n.kids.size(); ++i) {
                if (i + 1 < n.kids.size()) {
                    const int split = emit({Op::Split});
                    m_p.code[size_t(split)].a = here();
                    compile(*n.kids[i]);
                    jumps.push_back(emit({Op::Jmp}));
                    if (tooBig) return;
                    m_p.code[size_t(split)].b = here();
                } else {
                    compile(*n.kids[i]);
                }
            }
            if (tooBig) return;
            for (int j : jumps) m_p.code[size_t(j)].a = here();
            break;
        }
        case NodeKind::Group: {
            const int scratch = newSlot();
            emit({Op::OpenGroup, false, scratch});
            compile(*n.kids[0]);
            emit({Op::CloseGroup, false, n.index, scratch});
            break;
        }
        case NodeKind::Look: {
            const int start = emit({Op::LookStart, n.negate});
            compile(*n.kids[0]);
            emit({Op::LookEnd});
            if (!tooBig) m_p.code[size_t(start)].a = here();
            break;
        }
        case NodeKind::Repeat: compileRepeat(n); break;
        }
    }

    void compileRepeat(const Node& n) {
        const Node& body = *n.kids[0];
        if (n.max == 0) return; // x{0} matches nothing, and its groups stay undefined
        if (isSingleChar(body)) {
            emit({Op::SimpleRepeat, n.greedy, 0, n.min, n.max});
            compile(body);
            return;
        }
        const int counter = newSlot();
        newSlot(); // the iteration's start position sits next to the counter
        emit({Op::LoopInit, false, counter});
        const int head = emit({Op::LoopHead, n.greedy, counter, n.min, n.max});
        emit({Op::LoopBody, false, counter});
        if (n.lastCapture > n.firstCapture) emit({Op::ClearCaps, false, n.firstCapture, n.lastCapture});
        compile(body);
        emit({Op::LoopTail, false, counter, n.min, head});
        if (!tooBig) m_p.code[size_t(head)].d = here();
    }
};

enum class Entry : uint8_t { Choice, Look, GreedyRun, LazyRun };

struct Backtrack {
    Entry kind;
    bool negate = false;
    int pc = 0;
    int pos = 0;
    int count = 0;
    size_t trail = 0;
};

struct TrailItem {
    int slot;
    int old;
};

} // namespace

bool RegExpProgram::matchesOne(const Instr& in, char16_t c) const {
    switch (in.op) {
    case Op::Char:
        return c == in.a || (flags.ignoreCase && canonicalize(c) == canonicalize(char16_t(in.a)));
    case Op::Any: return !isLineTerminator(c);
    case Op::AnyAll: return true;
    case Op::Class: {
        const CharClass& cls = classes[size_t(in.a)];
        bool hit = cls.containsRaw(c);
        if (!hit && flags.ignoreCase) {
            const char16_t canon = canonicalize(c);
            for (char32_t cand : {char32_t(canon), simpleLower(canon), simpleLower(c)}) {
                if (cand <= 0xFFFF && canonicalize(char16_t(cand)) == canon && cls.containsRaw(char16_t(cand))) {
                    hit = true;
                    break;
                }
            }
        }
        return hit != cls.negated;
    }
    default: return false;
    }
}

struct RegExpProgram::State {
    std::vector<Backtrack> stack;
    std::vector<TrailItem> trail;
};

MatchStatus RegExpProgram::run(std::u16string_view s, int start, uint64_t& steps, std::vector<int>& slotsOut, State& state) const {
    std::vector<int>& slot = slotsOut;
    std::fill(slot.begin(), slot.end(), -1);
    std::vector<Backtrack>& stack = state.stack;
    std::vector<TrailItem>& trail = state.trail;
    stack.clear();
    trail.clear();
    const int len = int(s.size());

    auto set = [&](int i, int v) {
        if (!stack.empty()) trail.push_back({i, slot[size_t(i)]});
        slot[size_t(i)] = v;
    };
    auto unwind = [&](size_t height) {
        while (trail.size() > height) {
            slot[size_t(trail.back().slot)] = trail.back().old;
            trail.pop_back();
        }
    };
    auto wordAt = [&](int i) { return i >= 0 && i < len && isWordChar(s[size_t(i)]); };

    int pc = 0, pos = start;
    for (;;) {
        if (steps == 0) return MatchStatus::TooComplex;
        --steps;
        if (stack.size() > limits::kMaxRegExpBacktrack || trail.size() > limits::kMaxRegExpBacktrack)
            return MatchStatus::TooComplex;
        const Instr& in = code[size_t(pc)];
        bool ok = true;
        switch (in.op) {
        case Op::Char: case Op::Any: case Op::AnyAll: case Op::Class:
            ok = pos < len && matchesOne(in, s[size_t(pos)]);
            if (ok) { ++pos; ++pc; }
            break;
        case Op::Split:
            stack.push_back({Entry::Choice, false, in.b, pos, 0, trail.size()});
            pc = in.a;
            break;
        case Op::Jmp: pc = in.a; break;
        case Op::OpenGroup: set(in.a, pos); ++pc; break;
        case Op::CloseGroup:
            set(in.a * 2, slot[size_t(in.b)]);
            set(in.a * 2 + 1, pos);
            ++pc;
            break;
        case Op::ClearCaps:
            for (int g = in.a; g < in.b; ++g) {
                if (slot[size_t(g) * 2] >= 0) set(g * 2, -1);
                if (slot[size_t(g) * 2 + 1] >= 0) set(g * 2 + 1, -1);
            }
            ++pc;
            break;
        case Op::Bol:
            ok = pos == 0 || (flags.multiline && isLineTerminator(s[size_t(pos) - 1]));
            ++pc;
            break;
        case Op::Eol:
            ok = pos == len || (flags.multiline && isLineTerminator(s[size_t(pos)]));
            ++pc;
            break;
        case Op::WordB: case Op::NotWordB:
            ok = (wordAt(pos - 1) != wordAt(pos)) == (in.op == Op::WordB);
            ++pc;
            break;
        case Op::Backref: {
            const int b = slot[size_t(in.a) * 2], e = slot[size_t(in.a) * 2 + 1];
            if (b >= 0 && e >= 0) { // an undefined group matches the empty string
                const int n = e - b;
                ok = pos + n <= len;
                for (int i = 0; ok && i < n; ++i) {
                    const char16_t x = s[size_t(b + i)], y = s[size_t(pos + i)];
                    ok = x == y || (flags.ignoreCase && canonicalize(x) == canonicalize(y));
                }
                if (ok) pos += n;
            }
            ++pc;
            break;
        }
        case Op::LookStart:
            stack.push_back({Entry::Look, in.flag, in.a, pos, 0, trail.size()});
            ++pc;
            break;
        case Op::LookEnd: {
            // The lookahead matched: forget its inner choices (it is atomic).
            while (stack.back().kind != Entry::Look) stack.pop_back();
            const Backtrack look = stack.back();
            stack.pop_back();
            if (look.negate) {
                unwind(look.trail);
                ok = false;
            } else {
                pos = look.pos;
                pc = look.pc;
                if (stack.empty()) trail.clear();
            }
            break;
        }
        case Op::LoopInit: set(in.a, 0); ++pc; break;
        case Op::LoopHead: {
            const int count = slot[size_t(in.a)];
            if (count < in.b) { ++pc; break; }
            if (in.c >= 0 && count >= in.c) { pc = in.d; break; }
            if (in.flag) {
                stack.push_back({Entry::Choice, false, in.d, pos, 0, trail.size()});
                ++pc;
            } else {
                stack.push_back({Entry::Choice, false, pc + 1, pos, 0, trail.size()});
                pc = in.d;
            }
            break;
        }
        case Op::LoopBody: set(in.a + 1, pos); ++pc; break;
        case Op::LoopTail: {
            const int count = slot[size_t(in.a)];
            // An optional iteration that consumed nothing ends the loop as a failure.
            if (count >= in.b && pos == slot[size_t(in.a) + 1]) { ok = false; break; }
            set(in.a, count + 1);
            pc = in.c;
            break;
        }
        case Op::SimpleRepeat: {
            // The atom sits right after this instruction; the rest follows it.
            const Instr& atom = code[size_t(pc) + 1];
            const int max = in.c < 0 ? len - pos : std::min(in.c, len - pos);
            int n = 0;
            const int want = in.flag ? max : std::min(in.b, max);
            while (n < want && matchesOne(atom, s[size_t(pos + n)])) ++n;
            if (steps < uint64_t(n)) return MatchStatus::TooComplex;
            steps -= uint64_t(n);
            if (n < in.b) { ok = false; break; }
            if (in.flag && n > in.b) stack.push_back({Entry::GreedyRun, false, pc, pos, n, trail.size()});
            if (!in.flag && (in.c < 0 || n < in.c)) stack.push_back({Entry::LazyRun, false, pc, pos, n, trail.size()});
            pos += n;
            pc += 2;
            break;
        }
        case Op::Match:
            slot[0] = start;
            slot[1] = pos;
            return MatchStatus::Match;
        }
        if (ok) continue;

        // Backtrack to the newest choice point.
        for (;;) {
            if (stack.empty()) return MatchStatus::NoMatch;
            Backtrack& top = stack.back();
            unwind(top.trail);
            if (top.kind == Entry::Choice) {
                pc = top.pc;
                pos = top.pos;
                stack.pop_back();
                break;
            }
            if (top.kind == Entry::Look) {
                const Backtrack look = top;
                stack.pop_back();
                if (!look.negate) continue; // the lookahead found no match
                pc = look.pc;
                pos = look.pos;
                break;
            }
            const Instr& rep = code[size_t(top.pc)];
            const Instr& atom = code[size_t(top.pc) + 1];
            if (top.kind == Entry::GreedyRun) {
                --top.count;
                pos = top.pos + top.count;
                pc = top.pc + 2;
                if (top.count <= rep.b) stack.pop_back();
                break;
            }
            // Lazy: take one more character if the atom allows it.
            const int at = top.pos + top.count;
            if (at < len && (rep.c < 0 || top.count < rep.c) && matchesOne(atom, s[size_t(at)])) {
                ++top.count;
                pos = at + 1;
                pc = top.pc + 2;
                break;
            }
            stack.pop_back();
        }
    }
}

RegExp::RegExp() = default;
RegExp::~RegExp() = default;
RegExp::RegExp(RegExp&&) noexcept = default;
RegExp& RegExp::operator=(RegExp&&) noexcept = default;

bool RegExpFlags::parse(std::u16string_view letters, RegExpFlags& out) {
    RegExpFlags f;
    for (char16_t c : letters) {
        bool* flag = c == 'g' ? &f.global : c == 'i' ? &f.ignoreCase : c == 'm' ? &f.multiline
                   : c == 's' ? &f.dotAll : c == 'x' ? &f.extended : nullptr;
        if (!flag || *flag) return false;
        *flag = true;
    }
    out = f;
    return true;
}

RegExp RegExp::compile(std::u16string_view source, RegExpFlags flags) {
    RegExp re;
    re.m_flags = flags;
    re.m_source = std::u16string(source);
    if (source.size() > limits::kMaxRegExpSource) {
        re.m_error = {"pattern too long", int(limits::kMaxRegExpSource)};
        return re;
    }
    Parser parser(source, flags);
    NodePtr root = parser.parse();
    if (!root) {
        re.m_error = {parser.m_error, parser.m_errorOffset};
        return re;
    }
    auto prog = std::make_unique<RegExpProgram>();
    prog->flags = flags;
    prog->groups = parser.m_groups;
    prog->slots = (parser.m_groups + 1) * 2;
    prog->classes = std::move(parser.m_classes);
    prog->names = std::move(parser.m_names);
    Compiler compiler(*prog);
    compiler.emitProgram(*root);
    if (compiler.tooBig) {
        re.m_error = {"pattern too complex", -1};
        return re;
    }
    re.m_program = std::move(prog);
    return re;
}

int RegExp::groupCount() const { return m_program ? m_program->groups : 0; }

const std::u16string& RegExp::groupName(int index) const {
    static const std::u16string none;
    if (!m_program || index < 0 || index > m_program->groups) return none;
    return m_program->names[size_t(index)];
}

RegExpMatch RegExp::execAt(std::u16string_view subject, int start, uint64_t stepBudget) const {
    RegExpMatch m;
    if (!m_program) return m;
    std::vector<int> slots(size_t(m_program->slots), -1);
    uint64_t steps = stepBudget;
    RegExpProgram::State state;
    for (int i = std::max(start, 0); i <= int(subject.size()); ++i) {
        const MatchStatus st = m_program->run(subject, i, steps, slots, state);
        if (st == MatchStatus::NoMatch) continue;
        m.status = st;
        if (st == MatchStatus::Match) {
            m.spans.assign(slots.begin(), slots.begin() + (m_program->groups + 1) * 2);
            // A group whose end was never reached took no part in the match.
            for (size_t g = 0; g < m.spans.size(); g += 2)
                if (m.spans[g] < 0 || m.spans[g + 1] < 0) m.spans[g] = m.spans[g + 1] = -1;
        }
        return m;
    }
    return m;
}

RegExpMatch RegExp::exec(std::u16string_view subject, double& lastIndex, uint64_t stepBudget) const {
    if (!m_flags.global) return execAt(subject, 0, stepBudget);
    const double i = std::isnan(lastIndex) ? 0 : std::trunc(lastIndex);
    if (i < 0 || i > double(subject.size())) {
        lastIndex = 0;
        return {};
    }
    RegExpMatch m = execAt(subject, int(i), stepBudget);
    lastIndex = m.matched() ? m.end() : 0;
    return m;
}

std::u16string expandReplacement(std::u16string_view rep, std::u16string_view subject, const RegExpMatch& match) {
    std::u16string out;
    const int groups = int(match.spans.size() / 2) - 1;
    auto group = [&](int g) {
        if (match.defined(g)) out.append(subject.substr(size_t(match.start(g)), size_t(match.end(g) - match.start(g))));
    };
    for (size_t i = 0; i < rep.size(); ++i) {
        const char16_t c = rep[i];
        if (c != '$' || i + 1 >= rep.size()) { out += c; continue; }
        const char16_t n = rep[i + 1];
        if (n == '$') { out += u'$'; ++i; continue; }
        if (n == '&') { group(0); ++i; continue; }
        if (n == '`') { out.append(subject.substr(0, size_t(match.start()))); ++i; continue; }
        if (n == '\'') { out.append(subject.substr(size_t(match.end()))); ++i; continue; }
        if (n >= '0' && n <= '9') {
            const int one = n - '0';
            const bool twoDigits = i + 2 < rep.size() && rep[i + 2] >= '0' && rep[i + 2] <= '9';
            const int two = twoDigits ? one * 10 + (rep[i + 2] - '0') : -1;
            if (two >= 1 && two <= groups) { group(two); i += 2; continue; }
            if (one >= 1 && one <= groups) { group(one); i += 1; continue; }
        }
        out += c;
    }
    return out;
}

} // namespace swf::avm2lib
