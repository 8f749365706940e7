#pragma once
// ActionScript 1/2 values: undefined, null, boolean, number, string and
// object references. Objects belong to the VM's heap; a Value only points at
// them. Conversions that depend on the movie's version or call into script
// (valueOf, toString) live on the Vm.
#include <QString>

namespace swf::avm1 {

class Object;

enum class Type : uint8_t { Undefined, Null, Boolean, Number, String, Object };

class Value {
public:
    Value() = default;
    Value(bool b) : m_type(Type::Boolean), m_bool(b) {}
    Value(double n) : m_type(Type::Number), m_num(n) {}
    Value(int n) : m_type(Type::Number), m_num(n) {}
    Value(unsigned n) : m_type(Type::Number), m_num(n) {}
    Value(long n) : m_type(Type::Number), m_num(double(n)) {}
    Value(long long n) : m_type(Type::Number), m_num(double(n)) {}
    Value(size_t n) : m_type(Type::Number), m_num(double(n)) {}
    Value(const QString& s) : m_type(Type::String), m_str(s) {}
    Value(const char* s) : m_type(Type::String), m_str(QString::fromUtf8(s)) {}
    Value(Object* o) : m_type(o ? Type::Object : Type::Null), m_obj(o) {}
    static Value null() { Value v; v.m_type = Type::Null; return v; }

    Type type() const { return m_type; }
    bool isUndefined() const { return m_type == Type::Undefined; }
    bool isNull() const { return m_type == Type::Null; }
    bool isNullish() const { return m_type == Type::Undefined || m_type == Type::Null; }
    bool isBool() const { return m_type == Type::Boolean; }
    bool isNumber() const { return m_type == Type::Number; }
    bool isString() const { return m_type == Type::String; }
    bool isObject() const { return m_type == Type::Object; }

    bool asBool() const { return m_bool; }
    double asNumber() const { return m_num; }
    const QString& asString() const { return m_str; }
    Object* asObject() const { return m_type == Type::Object ? m_obj : nullptr; }

private:
    Type m_type = Type::Undefined;
    union {
        bool m_bool;
        double m_num = 0;
        Object* m_obj;
    };
    QString m_str;
};

} // namespace swf::avm1
