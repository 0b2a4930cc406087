#include "telnetctl/control/variant_rules.h"

#include <cmath>
#include <limits>

namespace korvatel {

using platform::Variant;

bool ToInt32(const Variant& value, int32_t& out) {
  const Variant& v = value.Deref();
  switch (v.type()) {
    case Variant::Type::kBool: out = v.as_bool() ? -1 : 0; return true;
    case Variant::Type::kInt16: out = v.as_int16(); return true;
    case Variant::Type::kInt32: out = v.as_int32(); return true;
    case Variant::Type::kDouble: {
      const double rounded = std::nearbyint(v.as_double());
      if (!(rounded >= std::numeric_limits<int32_t>::min() && rounded <= std::numeric_limits<int32_t>::max())) {
        return false;
      }
      out = static_cast<int32_t>(rounded);
      return true;
    }
    default: return false;
  }
}

bool ToBool(const Variant& value, bool& out) {
  const Variant& v = value.Deref();
  if (v.type() == Variant::Type::kBool) {
    out = v.as_bool();
    return true;
  }
  if (v.type() == Variant::Type::kDouble) {
    out = v.as_double() != 0.0;
    return true;
  }
  int32_t number = 0;
  if (!ToInt32(v, number)) return false;
  out = number != 0;
  return true;
}

bool ToText(const Variant& value, std::string& out) {
  const Variant& v = value.Deref();
  if (v.type() != Variant::Type::kText) return false;
  out = v.as_text();
  return true;
}

bool SendData(const Variant& value, std::span<const uint8_t>& bytes) {
  const Variant& v = value.Deref();
  if (v.type() == Variant::Type::kText) {
    const std::string& text = v.as_text();
    bytes = {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
    return true;
  }
  if (v.type() == Variant::Type::kBytes) {
    if (v.dimensions() == 1) {
      bytes = {v.as_bytes().data(), v.as_bytes().size()};
    } else {
      bytes = {};
    }
    return true;
  }
  return false;
}

uint32_t DataTag(const Variant* value) {
  if (value == nullptr) return 0;
  const Variant& v = value->Deref();
  switch (v.type()) {
    case Variant::Type::kInt16: return static_cast<uint32_t>(static_cast<int32_t>(v.as_int16()));
    case Variant::Type::kInt32: return static_cast<uint32_t>(v.as_int32());
    case Variant::Type::kDouble: {
      const double truncated = std::trunc(v.as_double());
      // Tags are 32 bits; a double outside them has no tag.
      if (!(truncated >= std::numeric_limits<int32_t>::min() && truncated <= std::numeric_limits<uint32_t>::max())) {
        return 0;
      }
      return truncated < 0 ? static_cast<uint32_t>(static_cast<int32_t>(truncated))
                           : static_cast<uint32_t>(truncated);
    }
    default: return 0;
  }
}

}  // namespace korvatel
