// How the control reads the variants a host passes it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/automation.h"

namespace korvatel {

// Numeric and boolean coercions for typed parameters and property values;
// references are followed. False when the value has no such reading.
bool ToInt32(const platform::Variant& value, int32_t& out);
bool ToBool(const platform::Variant& value, bool& out);
bool ToText(const platform::Variant& value, std::string& out);

// The bytes of Send's vData: text, a byte array (no bytes unless it has one
// dimension), or a reference to either. False for any other type.
bool SendData(const platform::Variant& value, std::span<const uint8_t>& bytes);

// Send's lDataTag: a 16- or 32-bit integer or a double truncated toward zero;
// anything else, an omitted one included, is 0.
uint32_t DataTag(const platform::Variant* value);

}  // namespace korvatel
