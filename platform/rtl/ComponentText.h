#pragma once
// Component text: the text form in which a component, its published
// properties and the components it owns are stored, and the class registry
// through which the reader makes the components that the text names.
//
//   object TableDef1: TTableDef
//     TableID = 5
//     TableName = 'Orders'#13#10'and more'
//     SortOrder = soANSI
//     Options = [ixPrimary, ixUnique]
//     Fields = <
//       item
//         FieldName = 'ID'
//       end>
//     object Child: TChildClass
//     end
//   end
//
// Lines end with CR LF and indent by two spaces a level. Strings are quoted
// with "'"; control characters, "'" and bytes above 127 are written as #nn,
// so every byte value round-trips; strings longer than 64 characters are cut
// into lines joined by "+". Floats and dates are written in round-trip
// precision with "."; enumerations and set elements by name, Booleans as
// True and False, component references by name (a dotted path below the
// root), collections always (an empty one as "<>"). A property at its default
// is left out.
//
// Forms add: sub-object properties by dotted name ("Font.Style = [fsBold]"),
// string lists ("Items.Strings = (" one string a line ")"), binary data in
// braces as hexadecimal digits, events bound by method name ("OnClick =
// NextClick", or nil), and "inherited" in place of "object" for a component
// that an ancestor's text made already (see ReadComponentTexts).

#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Published.h"

namespace plat {

// Makes a component of one class, owned by Owner.
using TComponentClass = std::function<TComponent*(TComponent* Owner)>;

// Registers (or replaces) the factory for a class name; names ignore ASCII case.
void RegisterClass(const std::string& ClassName, TComponentClass Factory);
template <class T>
void RegisterClass(const std::string& ClassName) {
  RegisterClass(ClassName, [](TComponent* owner) -> TComponent* { return new T(owner); });
}
void UnRegisterClass(const std::string& ClassName);
// The factory of a registered class; an empty function when there is none.
TComponentClass GetClass(const std::string& ClassName);

// Writes Instance with its published properties and, nested, the components
// it owns (in their order). A value that cannot be written (an enumeration
// ordinal without a name, a reference to a component outside Instance or
// without a name) raises EWriteError.
std::string WriteComponentText(const TComponent& Instance);
void WriteComponentText(TStream& Stream, const TComponent& Instance);

// Reads component text into Instance, whose class must be the one the text
// names. Properties that the text leaves out keep their values; a collection
// in the text replaces the collection's items. A nested object is read into
// the owned component of that name when there is one (of the same class),
// else made through the class registry. References are resolved once every
// object is read; Loaded is then called on every component read, root first.
//
// A reference names a component below the root by its dotted path; a name
// that is not one of the root's own components is looked for among all the
// components below it.
//
// Errors raise EReadError "Line <n>: <what>": bad syntax, truncated text,
// unknown classes and properties, values of the wrong kind or out of range,
// unresolved references, and any failure of a setter. A failed read leaves
// Instance as it was: properties are set back, collection items restored
// (with their IDs), components made by the read freed.
void ReadComponentText(const std::string& Text, TComponent& Instance);
// Reads the texts of a form class and of its ancestors into Instance, as one
// read: the farthest ancestor's text first (starting with "object"), then each
// descendant's (starting with "inherited"). Only the last text's class is
// checked against Instance. A nested "inherited" object must exist already; a
// nested "object" is made as in ReadComponentText. References are resolved and
// Loaded called once, after the last text.
void ReadComponentTexts(const std::vector<std::string>& Texts, TComponent& Instance);
// Reads from the stream's position to its end.
void ReadComponentText(TStream& Stream, TComponent& Instance);

}  // namespace plat
