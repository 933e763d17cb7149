#pragma once
// The roots of the class library: notify events, small enumeration sets and
// TPersistent, the base of everything that can be assigned and streamed.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "platform/rtl/Object.h"
#include "platform/rtl/Visibility.h"

namespace plat {

class TPropList;

using TNotifyEvent = std::function<void(TObject* Sender)>;

// A set of enumeration values whose ordinals lie below 64, one bit per value.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E item : items) bits_ |= Bit(item);
  }
  static constexpr TSet FromBits(uint64_t bits) {
    TSet result;
    result.bits_ = bits;
    return result;
  }

  constexpr uint64_t Bits() const { return bits_; }
  constexpr bool Contains(E item) const { return (bits_ & Bit(item)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TSet& Include(E item) {
    bits_ |= Bit(item);
    return *this;
  }
  constexpr TSet& Exclude(E item) {
    bits_ &= ~Bit(item);
    return *this;
  }

  friend constexpr TSet operator+(TSet a, TSet b) { return FromBits(a.bits_ | b.bits_); }
  friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(a.bits_ & ~b.bits_); }
  friend constexpr TSet operator*(TSet a, TSet b) { return FromBits(a.bits_ & b.bits_); }
  friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }
  // Subset test.
  friend constexpr bool operator<=(TSet a, TSet b) { return (a.bits_ & ~b.bits_) == 0; }

 private:
  static constexpr uint64_t Bit(E item) { return uint64_t{1} << static_cast<unsigned>(item); }

  uint64_t bits_ = 0;
};

// Something that can copy itself from a like object and describe its
// published properties to the component text reader and writer.
class PLAT_API TPersistent : public TObject {
 public:
  std::string ClassName() const override { return "TPersistent"; }

  // Copies Source into this object. The base asks Source to do it through
  // AssignTo and, failing that, raises EConvertError
  // "Cannot assign a <source class> to a <this class>".
  virtual void Assign(const TPersistent* Source);

  // The published properties in stream order; empty unless a class declares
  // some (see platform/rtl/Published.h).
  virtual const TPropList& PublishedProperties() const;

 protected:
  // Copies this object into Dest; the base refuses.
  virtual void AssignTo(TPersistent* Dest) const;
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

}  // namespace plat
