#pragma once
// Published properties: how a streamed class lists the properties that its
// component text holds, in stream order, with their kind, getter, setter and
// default. There is no general reflection; each class declares its list once:
//
//   const TPropList& PublishedProperties() const override {
//     static const TPropList list =
//         TPublished<TMyItem>(TCollectionItem::PublishedProperties())
//             .Integer("Size", &TMyItem::Size, &TMyItem::SetSize, 0)
//             .String("Caption", &TMyItem::Caption, &TMyItem::SetCaption)
//             .Enumeration("Kind", &TMyItem::Kind, &TMyItem::SetKind, {"mkOne", "mkTwo"});
//     return list;
//   }
//
// Getters and setters are member functions or callables taking the object
// (a lambda where a member function is overloaded).
// The writer leaves out a property whose value equals its default. Integers,
// Booleans, enumerations and sets have a default only when one is given;
// strings default to "", floats and dates to 0, component references to none;
// collections are always written.
//
// Forms need four more kinds: a sub-object whose properties are written with
// its name in front ("Font.Name = 'Arial'"), a string list ("Lines.Strings =
// ('a' 'b')"), binary data ("Picture.Data = {0A0B}") and events bound by the
// name of a method of the root component ("OnClick = NextClick"; the root
// lists its methods through IMethodOwner, the object keeps the bound names in
// a TEventBindings that it gives the builder).

#include <cstdint>
#include <functional>
#include <any>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Exceptions.h"

namespace plat {

enum TPropKind : uint8_t {
  pkInteger,      // signed, int64_t in TPropValue, range MinValue..MaxValue
  pkUnsigned,     // unsigned, uint64_t, range 0..MaxUnsigned
  pkString,       // std::string
  pkBoolean,      // bool
  pkEnumeration,  // int64_t ordinal into ValueNames
  pkFloat,        // double
  pkDate,         // double (TDateTime)
  pkSet,          // uint64_t, bit i for ValueNames[i]
  pkCollection,   // no value: read and written through GetCollection
  pkComponent,    // TComponent*, written as the component's name
  pkObject,       // no value: a TPersistent whose properties are read and written in place
  pkStrings,      // no value: a TStrings read and written through GetStrings
  pkBinary,       // std::string of bytes, written as hexadecimal digits in braces
  pkMethod        // std::string: the name of the bound method (see BindMethod)
};

class TStrings;

// The methods of a root component (a form) that component text may bind to
// events by name. Each is held as a std::function of its own signature.
class TMethodTable {
 public:
  template <class Sig>
  void Add(std::string Name, std::function<Sig> Method) {
    Put(std::move(Name), std::any(std::move(Method)));
  }
  // By name, ignoring ASCII case; nullptr when there is none.
  const std::any* Find(const std::string& Name) const;

 private:
  void Put(std::string Name, std::any Method);
  std::vector<std::pair<std::string, std::any>> methods_;
};

// Implemented by root components whose text binds events.
class IMethodOwner {
 public:
  virtual ~IMethodOwner() = default;
  virtual const TMethodTable& PublishedMethods() const = 0;
};

// The names of the methods that component text bound to one object's events,
// kept so that the writer can write them back.
class TEventBindings {
 public:
  // "" when the event is not bound by name.
  std::string MethodName(const std::string& Event) const;
  void SetMethodName(const std::string& Event, const std::string& Method);

 private:
  std::vector<std::pair<std::string, std::string>> names_;
};

using TPropValue = std::variant<int64_t, uint64_t, std::string, bool, double, TComponent*>;

struct TPropInfo {
  std::string Name;
  TPropKind Kind = pkInteger;
  std::vector<std::string> ValueNames;
  int64_t MinValue = 0;
  int64_t MaxValue = 0;
  uint64_t MaxUnsigned = 0;
  // Named values of an integer property (colours, cursors): the reader takes
  // the name for the number, the writer writes the name when there is one.
  std::vector<std::pair<std::string, int64_t>> Idents;
  std::optional<TPropValue> Default;
  std::function<TPropValue(const TPersistent&)> Get;
  std::function<void(TPersistent&, const TPropValue&)> Set;
  std::function<TCollection&(TPersistent&)> GetCollection;
  std::function<TPersistent&(TPersistent&)> GetObject;
  std::function<TStrings&(TPersistent&)> GetStrings;
  // Binds the method (nullptr unbinds) under its name and returns what
  // restores the event as it was.
  std::function<std::function<void()>(TPersistent&, const std::string& Name, const std::any* Method)>
      BindMethod;
  // Whether Method has the event's signature.
  std::function<bool(const std::any& Method)> FitsMethod;
  // When set and false for the object, the writer leaves the property out.
  std::function<bool(const TPersistent&)> Stored;

  bool IsDefault(const TPropValue& Value) const { return Default.has_value() && *Default == Value; }
};

// The published properties of one class, inherited ones first.
class TPropList {
 public:
  TPropList() = default;

  // A name given twice replaces the earlier property in its place.
  void Add(TPropInfo Info);
  // By name, ignoring ASCII case; nullptr when there is none.
  const TPropInfo* Find(const std::string& Name) const;
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const TPropInfo& operator[](int32_t Index) const { return items_.at(static_cast<size_t>(Index)); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<TPropInfo> items_;
};

// Builds the property list of class C (see the top of this file).
template <class C>
class TPublished {
 public:
  TPublished() = default;
  explicit TPublished(const TPropList& Inherited) : list_(Inherited) {}

  operator TPropList() const& { return list_; }
  operator TPropList() && { return std::move(list_); }

  // Any integral type but bool: signed ones are pkInteger, unsigned ones
  // pkUnsigned, each with the range of the type.
  template <class G, class S>
  TPublished& Integer(std::string Name, G Get, S Set) {
    return AddInteger(std::move(Name), std::move(Get), std::move(Set), std::nullopt);
  }
  template <class G, class S>
  TPublished& Integer(std::string Name, G Get, S Set, int64_t Default) {
    return AddInteger(std::move(Name), std::move(Get), std::move(Set), Default);
  }

  // An integer whose values may be written by name (see TPropInfo::Idents).
  template <class G, class S>
  TPublished& NamedInteger(std::string Name, G Get, S Set, int64_t Default,
                           std::vector<std::pair<std::string, int64_t>> Idents) {
    AddInteger(std::move(Name), std::move(Get), std::move(Set), Default);
    TPropInfo info = list_[list_.Count() - 1];
    info.Idents = std::move(Idents);
    list_.Add(std::move(info));
    return *this;
  }

  template <class G, class S>
  TPublished& Boolean(std::string Name, G Get, S Set) {
    return AddBoolean(std::move(Name), std::move(Get), std::move(Set), std::nullopt);
  }
  template <class G, class S>
  TPublished& Boolean(std::string Name, G Get, S Set, bool Default) {
    return AddBoolean(std::move(Name), std::move(Get), std::move(Set), Default);
  }

  template <class G, class S>
  TPublished& String(std::string Name, G Get, S Set, std::string Default = std::string()) {
    TPropInfo info = Make(std::move(Name), pkString);
    info.Default = TPropValue(std::move(Default));
    Bind<std::string>(info, std::move(Get), std::move(Set));
    list_.Add(std::move(info));
    return *this;
  }

  template <class G, class S>
  TPublished& Float(std::string Name, G Get, S Set, double Default = 0) {
    return AddFloat(std::move(Name), pkFloat, std::move(Get), std::move(Set), Default);
  }
  template <class G, class S>
  TPublished& Date(std::string Name, G Get, S Set, double Default = 0) {
    return AddFloat(std::move(Name), pkDate, std::move(Get), std::move(Set), Default);
  }

  // Names lists the values by ordinal.
  template <class G, class S>
  TPublished& Enumeration(std::string Name, G Get, S Set, std::vector<std::string> Names) {
    return AddEnumeration(std::move(Name), std::move(Get), std::move(Set), std::move(Names),
                          std::nullopt);
  }
  template <class G, class S, class E>
  TPublished& Enumeration(std::string Name, G Get, S Set, std::vector<std::string> Names,
                          E Default) {
    return AddEnumeration(std::move(Name), std::move(Get), std::move(Set), std::move(Names),
                          static_cast<int64_t>(Default));
  }

  // The value is a TSet<E> or an unsigned bit mask; Names lists the elements
  // by ordinal (at most 64).
  template <class G, class S>
  TPublished& Set(std::string Name, G Get, S Set, std::vector<std::string> Names) {
    return AddSet(std::move(Name), std::move(Get), std::move(Set), std::move(Names), std::nullopt);
  }
  template <class G, class S, class T>
  TPublished& Set(std::string Name, G Get, S Set, std::vector<std::string> Names, T Default) {
    return AddSet(std::move(Name), std::move(Get), std::move(Set), std::move(Names), Bits(Default));
  }

  // Get returns the collection (a reference or a pointer); the reader clears
  // and fills it in place.
  template <class G>
  TPublished& Collection(std::string Name, G Get) {
    TPropInfo info = Make(std::move(Name), pkCollection);
    info.GetCollection = [get = std::move(Get)](TPersistent& object) -> TCollection& {
      decltype(auto) collection = std::invoke(get, Object(object));
      if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(collection)>>) {
        PLAT_ASSERT(collection != nullptr, "Published collection is missing");
        return *collection;
      } else {
        return collection;
      }
    };
    list_.Add(std::move(info));
    return *this;
  }

  // A sub-object (Get returns a reference or a pointer to a TPersistent).
  template <class G>
  TPublished& Persistent(std::string Name, G Get) {
    TPropInfo info = Make(std::move(Name), pkObject);
    info.GetObject = [get = std::move(Get)](TPersistent& object) -> TPersistent& {
      return Deref<TPersistent>(std::invoke(get, Object(object)));
    };
    list_.Add(std::move(info));
    return *this;
  }

  // A string list (Get returns a reference or a pointer to a TStrings);
  // written when it holds lines.
  template <class G>
  TPublished& Strings(std::string Name, G Get) {
    TPropInfo info = Make(std::move(Name), pkStrings);
    info.GetStrings = [get = std::move(Get)](TPersistent& object) -> TStrings& {
      return Deref<TStrings>(std::invoke(get, Object(object)));
    };
    list_.Add(std::move(info));
    return *this;
  }

  // Bytes held in a std::string; written when not empty.
  template <class G, class S>
  TPublished& Binary(std::string Name, G Get, S Set) {
    TPropInfo info = Make(std::move(Name), pkBinary);
    info.Default = TPropValue(std::string());
    Bind<std::string>(info, std::move(Get), std::move(Set));
    list_.Add(std::move(info));
    return *this;
  }

  // An event: Field is the std::function member, Bindings the object's
  // TEventBindings (a member function returning a reference).
  template <class Sig, class Base, class B>
  TPublished& Event(std::string Name, std::function<Sig> Base::*Field, B Bindings) {
    static_assert(std::is_base_of_v<Base, C>, "the event is a member of the class");
    TPropInfo info = Make(Name, pkMethod);
    info.Default = TPropValue(std::string());
    info.Get = [Name, Bindings](const TPersistent& object) {
      return TPropValue(Call(Bindings, object).MethodName(Name));
    };
    info.Set = [](TPersistent&, const TPropValue&) {
      throw EConvertError("An event is bound through its method");
    };
    info.FitsMethod = [](const std::any& method) {
      return std::any_cast<std::function<Sig>>(&method) != nullptr;
    };
    info.BindMethod = [Name, Field, Bindings](TPersistent& object, const std::string& method,
                                             const std::any* value) -> std::function<void()> {
      C& target = Object(object);
      TEventBindings& names = std::invoke(Bindings, target);
      std::function<Sig> oldHandler = target.*Field;
      std::string oldName = names.MethodName(Name);
      target.*Field = value == nullptr ? std::function<Sig>()
                                       : std::any_cast<std::function<Sig>>(*value);
      names.SetMethodName(Name, value == nullptr ? std::string() : method);
      return [&target, &names, Field, Name, oldHandler, oldName] {
        target.*Field = oldHandler;
        names.SetMethodName(Name, oldName);
      };
    };
    list_.Add(std::move(info));
    return *this;
  }

  // A reference to a component of class T (Get returns T*). Setting a
  // component of another class raises EConvertError.
  template <class G, class S>
  TPublished& Component(std::string Name, G Get, S Set) {
    using T = std::remove_pointer_t<ValueOf<G>>;
    static_assert(std::is_base_of_v<TComponent, T>, "a component property holds a TComponent*");
    TPropInfo info = Make(Name, pkComponent);
    info.Default = TPropValue(static_cast<TComponent*>(nullptr));
    info.Get = [get = std::move(Get)](const TPersistent& object) {
      return TPropValue(static_cast<TComponent*>(Call(get, object)));
    };
    info.Set = [set = std::move(Set), Name](TPersistent& object, const TPropValue& value) {
      TComponent* component = std::get<TComponent*>(value);
      T* typed = dynamic_cast<T*>(component);
      if (component != nullptr && typed == nullptr) {
        throw EConvertError("Component " + component->Name() + " of class " +
                            component->ClassName() + " does not fit property " + Name);
      }
      std::invoke(set, Object(object), typed);
    };
    list_.Add(std::move(info));
    return *this;
  }

 private:
  template <class G>
  using ValueOf = std::remove_cvref_t<std::invoke_result_t<G&, C&>>;

  static C& Object(TPersistent& object) { return static_cast<C&>(object); }
  template <class T, class V>
  static T& Deref(V&& value) {
    if constexpr (std::is_pointer_v<std::remove_cvref_t<V>>) {
      PLAT_ASSERT(value != nullptr, "Published sub-object is missing");
      return *value;
    } else {
      return value;
    }
  }
  // Getters are called on a mutable object so that non-const ones work too;
  // they must not change it.
  template <class G>
  static decltype(auto) Call(const G& get, const TPersistent& object) {
    return std::invoke(get, static_cast<C&>(const_cast<TPersistent&>(object)));
  }

  static TPropInfo Make(std::string name, TPropKind kind) {
    TPropInfo info;
    info.Name = std::move(name);
    info.Kind = kind;
    return info;
  }

  // Sets info's getter and setter for a value held in TPropValue as Stored:
  // numbers and enumerations are cast to Stored on the way out and back to
  // the getter's type on the way in; Booleans and strings pass as they are.
  template <class Stored, class G, class S>
  static void Bind(TPropInfo& info, G get, S set) {
    info.Get = [get = std::move(get)](const TPersistent& object) {
      return TPropValue(static_cast<Stored>(Call(get, object)));
    };
    info.Set = [set = std::move(set)](TPersistent& object, const TPropValue& value) {
      if constexpr (std::is_same_v<Stored, bool> || std::is_same_v<Stored, std::string>) {
        std::invoke(set, Object(object), std::get<Stored>(value));
      } else {
        std::invoke(set, Object(object), static_cast<ValueOf<G>>(std::get<Stored>(value)));
      }
    };
  }

  template <class T>
  static uint64_t Bits(T value) {
    if constexpr (std::is_integral_v<T>) {
      return static_cast<uint64_t>(value);
    } else {
      return value.Bits();
    }
  }

  template <class G, class S>
  TPublished& AddInteger(std::string name, G get, S set, std::optional<int64_t> def) {
    using T = ValueOf<G>;
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>, "an integer property");
    if constexpr (std::is_signed_v<T>) {
      TPropInfo info = Make(std::move(name), pkInteger);
      info.MinValue = std::numeric_limits<T>::min();
      info.MaxValue = std::numeric_limits<T>::max();
      if (def) info.Default = TPropValue(*def);
      Bind<int64_t>(info, std::move(get), std::move(set));
      list_.Add(std::move(info));
    } else {
      TPropInfo info = Make(std::move(name), pkUnsigned);
      info.MaxUnsigned = std::numeric_limits<T>::max();
      if (def) info.Default = TPropValue(static_cast<uint64_t>(*def));
      Bind<uint64_t>(info, std::move(get), std::move(set));
      list_.Add(std::move(info));
    }
    return *this;
  }

  template <class G, class S>
  TPublished& AddBoolean(std::string name, G get, S set, std::optional<bool> def) {
    TPropInfo info = Make(std::move(name), pkBoolean);
    if (def) info.Default = TPropValue(*def);
    Bind<bool>(info, std::move(get), std::move(set));
    list_.Add(std::move(info));
    return *this;
  }

  template <class G, class S>
  TPublished& AddFloat(std::string name, TPropKind kind, G get, S set, double def) {
    TPropInfo info = Make(std::move(name), kind);
    info.Default = TPropValue(def);
    Bind<double>(info, std::move(get), std::move(set));
    list_.Add(std::move(info));
    return *this;
  }

  template <class G, class S>
  TPublished& AddEnumeration(std::string name, G get, S set, std::vector<std::string> names,
                             std::optional<int64_t> def) {
    TPropInfo info = Make(std::move(name), pkEnumeration);
    info.ValueNames = std::move(names);
    if (def) info.Default = TPropValue(*def);
    Bind<int64_t>(info, std::move(get), std::move(set));
    list_.Add(std::move(info));
    return *this;
  }

  template <class G, class S>
  TPublished& AddSet(std::string name, G get, S set, std::vector<std::string> names,
                     std::optional<uint64_t> def) {
    using T = ValueOf<G>;
    PLAT_ASSERT(names.size() <= 64, "A set has at most 64 elements");
    TPropInfo info = Make(std::move(name), pkSet);
    info.ValueNames = std::move(names);
    if (def) info.Default = TPropValue(*def);
    info.Get = [get = std::move(get)](const TPersistent& object) {
      return TPropValue(Bits(Call(get, object)));
    };
    info.Set = [set = std::move(set)](TPersistent& object, const TPropValue& value) {
      const uint64_t bits = std::get<uint64_t>(value);
      if constexpr (std::is_integral_v<T>) {
        std::invoke(set, Object(object), static_cast<T>(bits));
      } else {
        std::invoke(set, Object(object), T::FromBits(bits));
      }
    };
    list_.Add(std::move(info));
    return *this;
  }

  TPropList list_;
};

}  // namespace plat
