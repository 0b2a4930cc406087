// Fields of the text forms exchanged with the graphical client, each described
// once: how its value is written into a packet and how it is read back.
// A field reaches its value through a getter, so a field may address a table
// entry chosen by an earlier field of the same packet.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "server/core/text_fields.h"

namespace tellarium {

struct PacketField {
  std::function<std::string()> assemble;
  std::function<void(const std::string& field)> parse;
};

using PacketFields = std::vector<PacketField>;

// Which blanks of a fixed text a packet leaves out.
enum class Trimming { kNone, kLeft, kRight, kBoth };

template <class Get>
PacketField Int16Field(Get get) {
  return {[get] { return std::to_string(get()); },
          [get](const std::string& field) {
            const int16_t value = ToInt16(LeadingNumber(field));
            get() = value;
          }};
}

template <class Get>
PacketField Int32Field(Get get) {
  return {[get] { return std::to_string(get()); },
          [get](const std::string& field) {
            const int32_t value = ToInt32(LeadingNumber(field));
            get() = value;
          }};
}

template <class Get>
PacketField FlagField(Get get) {
  return {[get] { return std::string(FlagText(get())); },
          [get](const std::string& field) {
            const bool value = ReadFlag(field);
            get() = value;
          }};
}

template <class Get>
PacketField TextField(Get get, Trimming trimming) {
  return {[get, trimming] {
            switch (trimming) {
              case Trimming::kLeft: return get().TrimmedLeft();
              case Trimming::kRight: return get().TrimmedRight();
              case Trimming::kBoth: return get().Trimmed();
              case Trimming::kNone: break;
            }
            return get().Raw();
          },
          [get](const std::string& field) { get() = field; }};
}

}  // namespace tellarium
