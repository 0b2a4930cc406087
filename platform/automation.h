// Automation plumbing between a host and its components: variants, late-bound
// calls by dispatch id, events by dispatch id and a property bag.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace platform {

// A value crossing the component boundary. Text is bytes, one per character.
class Variant {
 public:
  enum class Type : uint8_t { kEmpty, kBool, kInt16, kInt32, kDouble, kText, kBytes, kRef };

  Variant() = default;
  static Variant Bool(bool value) { return Variant(std::in_place_type<bool>, value); }
  static Variant Int16(int16_t value) { return Variant(std::in_place_type<int16_t>, value); }
  static Variant Int32(int32_t value) { return Variant(std::in_place_type<int32_t>, value); }
  static Variant Double(double value) { return Variant(std::in_place_type<double>, value); }
  static Variant Text(std::string value) { return Variant(std::in_place_type<std::string>, std::move(value)); }
  // A byte array; `dimensions` other than 1 stands for a multi-dimensional array.
  static Variant Bytes(std::vector<uint8_t> value, int dimensions = 1) {
    return Variant(std::in_place_type<ByteArray>, ByteArray{std::move(value), dimensions});
  }
  // A reference to another variant, which must outlive this one.
  static Variant Ref(Variant* target) { return Variant(std::in_place_type<Variant*>, target); }

  Type type() const { return static_cast<Type>(value_.index()); }
  bool is_empty() const { return type() == Type::kEmpty; }

  // Typed access; each requires the matching type.
  bool as_bool() const { return std::get<bool>(value_); }
  int16_t as_int16() const { return std::get<int16_t>(value_); }
  int32_t as_int32() const { return std::get<int32_t>(value_); }
  double as_double() const { return std::get<double>(value_); }
  const std::string& as_text() const { return std::get<std::string>(value_); }
  const std::vector<uint8_t>& as_bytes() const { return std::get<ByteArray>(value_).bytes; }
  int dimensions() const { return std::get<ByteArray>(value_).dimensions; }
  Variant* as_ref() const { return std::get<Variant*>(value_); }

  // Follows references to the variant finally referred to (at most a few
  // levels; a longer chain gives this variant).
  const Variant& Deref() const;

 private:
  struct ByteArray {
    std::vector<uint8_t> bytes;
    int dimensions = 1;
  };
  using Value = std::variant<std::monostate, bool, int16_t, int32_t, double, std::string, ByteArray, Variant*>;
  template <class T, class... Args>
  explicit Variant(std::in_place_type_t<T> type, Args&&... args) : value_(type, std::forward<Args>(args)...) {}
  Value value_;
};

enum class InvokeKind : uint8_t { kMethod, kPropertyGet, kPropertyPut };

enum class InvokeResult : uint8_t {
  kOk,
  kUnknownMember,   // no member with that id and kind
  kBadArgCount,     // wrong number of arguments
  kTypeMismatch,    // an argument cannot be converted to the member's type
  kNotSupported,    // the member refuses the call in this mode
};

// Receives a component's events.
class EventSink {
 public:
  virtual ~EventSink() = default;
  // `args` are valid for the duration of the call; by-reference arguments are
  // kRef variants whose changes the component may discard.
  virtual void OnEvent(int32_t dispatch_id, std::span<Variant> args) = 0;
};

// Named values a component saves its properties into and loads them from.
class PropertyBag {
 public:
  void Write(const std::string& name, Variant value) { values_[name] = std::move(value); }
  // The stored value, or an empty variant.
  Variant Read(const std::string& name) const;
  bool empty() const { return values_.empty(); }

 private:
  std::map<std::string, Variant> values_;
};

// A component as a host sees it.
class Component {
 public:
  virtual ~Component() = default;

  // Calls member `dispatch_id`. Methods and property gets put their value in
  // `result` (may be null); a property put takes its value as the only argument.
  virtual InvokeResult Invoke(int32_t dispatch_id, InvokeKind kind, std::span<Variant> args,
                              Variant* result) = 0;

  // Connects the host's event sink (null disconnects). The sink must outlive
  // the connection.
  virtual void Advise(EventSink* sink) = 0;

  // Run mode or design mode, as the host's ambient user mode says.
  virtual void SetUserMode(bool run_mode) = 0;

  // Property exchange.
  virtual void SaveProperties(PropertyBag& bag) = 0;
  virtual void LoadProperties(const PropertyBag& bag) = 0;
  virtual void ResetProperties() = 0;
  // True when a property changed since the last save.
  virtual bool IsModified() const = 0;
};

}  // namespace platform
