#include "engine/avm2/errors.h"

#include <unordered_map>

namespace swf::avm2 {

QString errorMessage(int id, const QStringList& params) {
    static const std::unordered_map<int, const char*> messages = {
        {1000, "The system is out of memory."},
        {1001, "The method %1 is not implemented."},
        {1002, "Number.toPrecision has a range of 1 to 21. Number.toFixed and Number.toExponential have a range of 0 to 20. Specified value is not within expected range."},
        {1003, "The radix argument must be between 2 and 36; got %1."},
        {1004, "Method %1 was invoked on an incompatible object."},
        {1006, "%1 is not a function."},
        {1007, "Instantiation attempted on a non-constructor."},
        {1008, "%1 is ambiguous; Found more than one matching binding."},
        {1009, "Cannot access a property or method of a null object reference."},
        {1010, "A term is undefined and has no properties."},
        {1011, "Method %1 contained illegal opcode %2 at offset %3."},
        {1012, "The last instruction exceeded code size."},
        {1013, "Cannot call OP_findproperty when scopeDepth is 0."},
        {1014, "Class %1 could not be found."},
        {1015, "Method %1 cannot set default xml namespace"},
        {1016, "Descendants operator (..) not supported on type %1."},
        {1017, "Scope stack overflow occurred."},
        {1018, "Scope stack underflow occurred."},
        {1019, "Getscopeobject %1 is out of bounds."},
        {1020, "Code cannot fall off the end of a method."},
        {1021, "At least one branch target was not on a valid instruction in the method."},
        {1022, "Type void may only be used as a function return type."},
        {1023, "Stack overflow occurred."},
        {1024, "Stack underflow occurred."},
        {1025, "An invalid register %1 was accessed."},
        {1026, "Slot %1 exceeds slotCount=%2 of %3."},
        {1027, "Method_info %1 exceeds method_count=%2."},
        {1030, "Stack depth is unbalanced. %1 != %2."},
        {1031, "Scope depth is unbalanced. %1 != %2."},
        {1032, "Cpool index %1 is out of range %2."},
        {1033, "Cpool entry %1 is wrong type."},
        {1034, "Type Coercion failed: cannot convert %1 to %2."},
        {1035, "Illegal super expression found in method %1."},
        {1037, "Cannot assign to a method %1 on %2."},
        {1040, "The right-hand side of instanceof must be a class or function."},
        {1041, "The right-hand side of operator must be a class."},
        {1042, "Not an ABC file.  major_version=%1 minor_version=%2."},
        {1043, "Invalid code_length=%1."},
        {1044, "MethodInfo-%1 unsupported flags=%2."},
        {1045, "Unsupported traits kind=%1."},
        {1050, "Cannot convert %1 to primitive."},
        {1051, "Illegal early binding access to %1."},
        {1052, "Invalid URI passed to %1 function."},
        {1053, "Illegal override of %1 in %2."},
        {1054, "Illegal range or target offsets in exception handler."},
        {1056, "Cannot create property %1 on %2."},
        {1057, "%1 can only contain methods."},
        {1058, "Illegal operand type: %1 must be %2."},
        {1063, "Argument count mismatch on %1. Expected %2, got %3."},
        {1064, "Cannot call method %1 as constructor."},
        {1065, "Variable %1 is not defined."},
        {1066, "The form function('function body') is not supported."},
        {1067, "Native method %1 has illegal method body."},
        {1069, "Property %1 not found on %2 and there is no default value."},
        {1070, "Method %1 not found on %2"},
        {1071, "Function %1 has already been bound to %2."},
        {1074, "Illegal write to read-only property %1 on %2."},
        {1075, "Math is not a function."},
        {1076, "Math is not a constructor."},
        {1077, "Illegal read of write-only property %1 on %2."},
        {1078, "Illegal opcode/multiname combination: %1<%2>."},
        {1080, "Illegal value for namespace."},
        {1081, "Property %1 not found on %2 and there is no default value."},
        {1083, "The prefix \"%1\" for element \"%2\" is not bound."},
        {1085, "The element type \"%1\" must be terminated by the matching end-tag \"</%2>\"."},
        {1086, "The %1 method only works on lists containing one item."},
        {1087, "Assignment to indexed XML is not allowed."},
        {1088, "The markup in the document following the root element must be well-formed."},
        {1089, "Assignment to lists with more than one item is not supported."},
        {1090, "XML parser failure: element is malformed."},
        {1091, "XML parser failure: Unterminated CDATA section."},
        {1092, "XML parser failure: Unterminated XML declaration."},
        {1093, "XML parser failure: Unterminated DOCTYPE declaration."},
        {1094, "XML parser failure: Unterminated comment."},
        {1095, "XML parser failure: Unterminated attribute."},
        {1096, "XML parser failure: Unterminated element."},
        {1097, "XML parser failure: Unterminated processing instruction."},
        {1098, "Illegal prefix %1 for no namespace."},
        {1100, "Cannot supply flags when constructing one RegExp from another."},
        {1101, "Cannot verify method %1 with unknown scope."},
        {1102, "Illegal default value for type %1."},
        {1103, "Class %1 cannot extend final base class."},
        {1104, "Attribute \"%1\" was already specified for element \"%2\"."},
        {1107, "The ABC data is corrupt, attempt to read out of bounds."},
        {1108, "The OP_newclass opcode was used with the incorrect base class."},
        {1110, "Class %1 cannot extend %2."},
        {1111, "%1 cannot implement %2."},
        {1112, "Argument count mismatch on class coercion.  Expected 1, got %1."},
        {1113, "OP_newactivation used in method without NEED_ACTIVATION flag."},
        {1114, "OP_getglobalslot or OP_setglobalslot used with no global scope."},
        {1115, "%1 is not a constructor."},
        {1116, "second argument to Function.prototype.apply must be an array."},
        {1117, "Invalid XML name: %1."},
        {1118, "Illegal cyclical loop between nodes."},
        {1119, "Delete operator is not supported with operand of type %1."},
        {1120, "Cannot delete property %1 on %2."},
        {1121, "Method %1 has a duplicate method body."},
        {1122, "Interface method %1 has illegal method body."},
        {1123, "Filter operator not supported on type %1."},
        {1124, "OP_hasnext2 requires object and index to be distinct registers."},
        {1125, "The index %1 is out of range %2."},
        {1126, "Cannot change the length of a fixed Vector."},
        {1127, "Type application attempted on a non-parameterized type."},
        {1128, "Incorrect number of type parameters for %1. Expected %2, got %3."},
        {1129, "Cyclic structure cannot be converted to JSON string."},
        {1131, "Replacer argument to JSON stringifier must be an array or a two parameter function."},
        {1132, "Invalid JSON parse input."},
        {1502, "A script has executed for longer than the default timeout period of 15 seconds."},
        {1506, "The specified range is invalid."},
        {1507, "Argument %1 cannot be null."},
        {1508, "The value specified for argument %1 is invalid."},
        {2006, "The supplied index is out of bounds."},
        {2007, "Parameter %1 must be non-null."},
        {2008, "Parameter %1 must be one of the accepted values."},
        {2012, "%1 class cannot be instantiated."},
        {2015, "Invalid BitmapData."},
        {2023, "Class %1 must inherit from Sprite to link to the root."},
        {2025, "The supplied DisplayObject must be a child of the caller."},
        {2030, "End of file was encountered."},
        {2058, "There was an error decompressing the data."},
        {2037, "Functions called in incorrect sequence, or earlier call was unsuccessful."},
        {2067, "The ExternalInterface is not available in this container. ExternalInterface requires Internet Explorer ActiveX, Firefox, Mozilla 1.7.5 and greater, or other browsers that support NPRuntime."},
        {2088, "The Proxy class does not implement getProperty. It must be overridden by a subclass."},
        {2089, "The Proxy class does not implement setProperty. It must be overridden by a subclass."},
        {2090, "The Proxy class does not implement callProperty. It must be overridden by a subclass."},
        {2091, "The Proxy class does not implement hasProperty. It must be overridden by a subclass."},
        {2092, "The Proxy class does not implement deleteProperty. It must be overridden by a subclass."},
        {2093, "The Proxy class does not implement getDescendants. It must be overridden by a subclass."},
        {2105, "The Proxy class does not implement nextNameIndex. It must be overridden by a subclass."},
        {2106, "The Proxy class does not implement nextName. It must be overridden by a subclass."},
        {2107, "The Proxy class does not implement nextValue. It must be overridden by a subclass."},
    };
    auto it = messages.find(id);
    if (it == messages.end()) return {};
    // One pass, so a parameter that itself reads "%2" stays as it is; a place
    // without a parameter is left empty.
    const QString pattern = QString::fromLatin1(it->second);
    QString text;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1].isDigit()) {
            const int n = pattern[i + 1].digitValue();
            if (n >= 1 && n <= params.size()) text += params[n - 1];
            ++i;
            continue;
        }
        text += pattern[i];
    }
    return text;
}

QString errorText(int id, const QStringList& params) {
    const QString message = errorMessage(id, params);
    return message.isEmpty() ? QStringLiteral("Error #%1").arg(id) : QStringLiteral("Error #%1: %2").arg(id).arg(message);
}

} // namespace swf::avm2
