#include "engine/avm2/opcodes.h"

#include <array>

namespace swf::avm2 {

namespace {

struct Row {
    uint8_t code;
    OpInfo info;
};

constexpr OpInfo none(const char* n, int8_t pops = 0, int8_t pushes = 0) { return {n, Operands::None, Ref::None, pops, pushes, false, false}; }
constexpr OpInfo u30(const char* n, Ref r, int8_t pops = 0, int8_t pushes = 0) { return {n, Operands::U30, r, pops, pushes, false, false}; }
constexpr OpInfo mn(const char* n, int8_t pops, int8_t pushes) { return {n, Operands::Mn, Ref::None, pops, pushes, false, false}; }
constexpr OpInfo mnArgs(const char* n, int8_t pops, int8_t pushes) { return {n, Operands::MnArgs, Ref::None, pops, pushes, false, false}; }
constexpr OpInfo branch(const char* n, int8_t pops) { return {n, Operands::Branch, Ref::None, pops, 0, true, false}; }
constexpr OpInfo terminal(const char* n, int8_t pops) { return {n, Operands::None, Ref::None, pops, 0, true, true}; }

// Pops and pushes here leave out the runtime multiname parts and call
// arguments, which the verifier adds from the operands.
constexpr Row kRows[] = {
    {op::bkpt, none("bkpt")}, {op::nop, none("nop")}, {op::throw_, terminal("throw", 1)},
    {op::getsuper, mn("getsuper", 1, 1)}, {op::setsuper, mn("setsuper", 2, 0)},
    {op::dxns, u30("dxns", Ref::String)}, {op::dxnslate, none("dxnslate", 1)},
    {op::kill, u30("kill", Ref::Register)}, {op::label, none("label")},
    {op::ifnlt, branch("ifnlt", 2)}, {op::ifnle, branch("ifnle", 2)}, {op::ifngt, branch("ifngt", 2)},
    {op::ifnge, branch("ifnge", 2)}, {op::jump, {"jump", Operands::Branch, Ref::None, 0, 0, true, true}},
    {op::iftrue, branch("iftrue", 1)}, {op::iffalse, branch("iffalse", 1)}, {op::ifeq, branch("ifeq", 2)},
    {op::ifne, branch("ifne", 2)}, {op::iflt, branch("iflt", 2)}, {op::ifle, branch("ifle", 2)},
    {op::ifgt, branch("ifgt", 2)}, {op::ifge, branch("ifge", 2)}, {op::ifstricteq, branch("ifstricteq", 2)},
    {op::ifstrictne, branch("ifstrictne", 2)},
    {op::lookupswitch, {"lookupswitch", Operands::Switch, Ref::None, 1, 0, true, true}},
    {op::pushwith, none("pushwith", 1)}, {op::popscope, none("popscope")},
    {op::nextname, none("nextname", 2, 1)}, {op::hasnext, none("hasnext", 2, 1)},
    {op::pushnull, none("pushnull", 0, 1)}, {op::pushundefined, none("pushundefined", 0, 1)},
    {op::nextvalue, none("nextvalue", 2, 1)}, {op::pushbyte, {"pushbyte", Operands::U8, Ref::None, 0, 1, false, false}},
    {op::pushshort, u30("pushshort", Ref::None, 0, 1)}, {op::pushtrue, none("pushtrue", 0, 1)},
    {op::pushfalse, none("pushfalse", 0, 1)}, {op::pushnan, none("pushnan", 0, 1)}, {op::pop, none("pop", 1)},
    {op::dup, none("dup", 1, 2)}, {op::swap, none("swap", 2, 2)},
    {op::pushstring, u30("pushstring", Ref::String, 0, 1)}, {op::pushint, u30("pushint", Ref::Int, 0, 1)},
    {op::pushuint, u30("pushuint", Ref::Uint, 0, 1)}, {op::pushdouble, u30("pushdouble", Ref::Double, 0, 1)},
    {op::pushscope, none("pushscope", 1)}, {op::pushnamespace, u30("pushnamespace", Ref::Namespace, 0, 1)},
    {op::hasnext2, {"hasnext2", Operands::U30U30, Ref::Register, 0, 1, false, false}},
    {op::li8, none("li8", 1, 1)}, {op::li16, none("li16", 1, 1)}, {op::li32, none("li32", 1, 1)},
    {op::lf32, none("lf32", 1, 1)}, {op::lf64, none("lf64", 1, 1)}, {op::si8, none("si8", 2)},
    {op::si16, none("si16", 2)}, {op::si32, none("si32", 2)}, {op::sf32, none("sf32", 2)}, {op::sf64, none("sf64", 2)},
    {op::newfunction, u30("newfunction", Ref::Method, 0, 1)}, {op::call, u30("call", Ref::Count, 2, 1)},
    {op::construct, u30("construct", Ref::Count, 1, 1)},
    {op::callmethod, {"callmethod", Operands::U30U30, Ref::None, 1, 1, false, false}},
    {op::callstatic, {"callstatic", Operands::U30U30, Ref::Method, 1, 1, false, false}},
    {op::callsuper, mnArgs("callsuper", 1, 1)}, {op::callproperty, mnArgs("callproperty", 1, 1)},
    {op::returnvoid, terminal("returnvoid", 0)}, {op::returnvalue, terminal("returnvalue", 1)},
    {op::constructsuper, u30("constructsuper", Ref::Count, 1, 0)}, {op::constructprop, mnArgs("constructprop", 1, 1)},
    {op::callproplex, mnArgs("callproplex", 1, 1)}, {op::callsupervoid, mnArgs("callsupervoid", 1, 0)},
    {op::callpropvoid, mnArgs("callpropvoid", 1, 0)}, {op::sxi1, none("sxi1", 1, 1)}, {op::sxi8, none("sxi8", 1, 1)},
    {op::sxi16, none("sxi16", 1, 1)}, {op::applytype, u30("applytype", Ref::Count, 1, 1)},
    {op::newobject, u30("newobject", Ref::Count, 0, 1)}, {op::newarray, u30("newarray", Ref::Count, 0, 1)},
    {op::newactivation, none("newactivation", 0, 1)}, {op::newclass, u30("newclass", Ref::Class, 1, 1)},
    {op::getdescendants, mn("getdescendants", 1, 1)}, {op::newcatch, u30("newcatch", Ref::Exception, 0, 1)},
    {op::findpropstrict, mn("findpropstrict", 0, 1)}, {op::findproperty, mn("findproperty", 0, 1)},
    {op::finddef, mn("finddef", 0, 1)}, {op::getlex, mn("getlex", 0, 1)}, {op::setproperty, mn("setproperty", 2, 0)},
    {op::getlocal, u30("getlocal", Ref::Register, 0, 1)}, {op::setlocal, u30("setlocal", Ref::Register, 1, 0)},
    {op::getglobalscope, none("getglobalscope", 0, 1)},
    {op::getscopeobject, {"getscopeobject", Operands::U8, Ref::None, 0, 1, false, false}},
    {op::getproperty, mn("getproperty", 1, 1)}, {op::getouterscope, u30("getouterscope", Ref::None, 0, 1)},
    {op::initproperty, mn("initproperty", 2, 0)}, {op::deleteproperty, mn("deleteproperty", 1, 1)},
    {op::getslot, u30("getslot", Ref::Slot, 1, 1)}, {op::setslot, u30("setslot", Ref::Slot, 2, 0)},
    {op::getglobalslot, u30("getglobalslot", Ref::Slot, 0, 1)}, {op::setglobalslot, u30("setglobalslot", Ref::Slot, 1, 0)},
    {op::convert_s, none("convert_s", 1, 1)}, {op::esc_xelem, none("esc_xelem", 1, 1)},
    {op::esc_xattr, none("esc_xattr", 1, 1)}, {op::convert_i, none("convert_i", 1, 1)},
    {op::convert_u, none("convert_u", 1, 1)}, {op::convert_d, none("convert_d", 1, 1)},
    {op::convert_b, none("convert_b", 1, 1)}, {op::convert_o, none("convert_o", 1, 1)},
    {op::checkfilter, none("checkfilter", 1, 1)}, {op::coerce, mn("coerce", 1, 1)},
    {op::coerce_b, none("coerce_b", 1, 1)}, {op::coerce_a, none("coerce_a", 1, 1)},
    {op::coerce_i, none("coerce_i", 1, 1)}, {op::coerce_d, none("coerce_d", 1, 1)},
    {op::coerce_s, none("coerce_s", 1, 1)}, {op::astype, mn("astype", 1, 1)},
    {op::astypelate, none("astypelate", 2, 1)}, {op::coerce_u, none("coerce_u", 1, 1)},
    {op::coerce_o, none("coerce_o", 1, 1)}, {op::negate, none("negate", 1, 1)},
    {op::increment, none("increment", 1, 1)}, {op::inclocal, u30("inclocal", Ref::Register)},
    {op::decrement, none("decrement", 1, 1)}, {op::declocal, u30("declocal", Ref::Register)},
    {op::typeof_, none("typeof", 1, 1)}, {op::not_, none("not", 1, 1)}, {op::bitnot, none("bitnot", 1, 1)},
    {op::add, none("add", 2, 1)}, {op::subtract, none("subtract", 2, 1)}, {op::multiply, none("multiply", 2, 1)},
    {op::divide, none("divide", 2, 1)}, {op::modulo, none("modulo", 2, 1)}, {op::lshift, none("lshift", 2, 1)},
    {op::rshift, none("rshift", 2, 1)}, {op::urshift, none("urshift", 2, 1)}, {op::bitand_, none("bitand", 2, 1)},
    {op::bitor_, none("bitor", 2, 1)}, {op::bitxor_, none("bitxor", 2, 1)}, {op::equals, none("equals", 2, 1)},
    {op::strictequals, none("strictequals", 2, 1)}, {op::lessthan, none("lessthan", 2, 1)},
    {op::lessequals, none("lessequals", 2, 1)}, {op::greaterthan, none("greaterthan", 2, 1)},
    {op::greaterequals, none("greaterequals", 2, 1)}, {op::instanceof, none("instanceof", 2, 1)},
    {op::istype, mn("istype", 1, 1)}, {op::istypelate, none("istypelate", 2, 1)}, {op::in, none("in", 2, 1)},
    {op::increment_i, none("increment_i", 1, 1)}, {op::decrement_i, none("decrement_i", 1, 1)},
    {op::inclocal_i, u30("inclocal_i", Ref::Register)}, {op::declocal_i, u30("declocal_i", Ref::Register)},
    {op::negate_i, none("negate_i", 1, 1)}, {op::add_i, none("add_i", 2, 1)},
    {op::subtract_i, none("subtract_i", 2, 1)}, {op::multiply_i, none("multiply_i", 2, 1)},
    {op::getlocal0, none("getlocal0", 0, 1)}, {op::getlocal1, none("getlocal1", 0, 1)},
    {op::getlocal2, none("getlocal2", 0, 1)}, {op::getlocal3, none("getlocal3", 0, 1)},
    {op::setlocal0, none("setlocal0", 1)}, {op::setlocal1, none("setlocal1", 1)},
    {op::setlocal2, none("setlocal2", 1)}, {op::setlocal3, none("setlocal3", 1)},
    {op::debug, {"debug", Operands::Debug, Ref::None, 0, 0, false, false}},
    {op::debugline, u30("debugline", Ref::Line)}, {op::debugfile, u30("debugfile", Ref::String)},
    {op::bkptline, u30("bkptline", Ref::Line)}, {op::timestamp, none("timestamp")},
};

constexpr std::array<OpInfo, 256> buildTable() {
    std::array<OpInfo, 256> t{};
    for (const Row& r : kRows) t[r.code] = r.info;
    return t;
}

constexpr std::array<OpInfo, 256> kTable = buildTable();

} // namespace

const OpInfo& opInfo(uint8_t code) { return kTable[code]; }

} // namespace swf::avm2
