// The field codec for data files. A record layout lists its fields once, in
// order, against a codec; the writer, the reader and the size counter
// (record_layouts.h) walk that same list, so no offset is ever computed by hand.
//
// Encodings: fixed text as N bytes; int16/int32 little-endian; flags as int16
// -1/0 (any nonzero value reads as true); dates as little-endian IEEE doubles
// (day counts). A reader short of bytes takes zeros for numbers and flags and
// blanks for texts.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "server/core/fixed_text.h"
#include "server/core/record_file.h"

namespace tellarium {

class FieldWriter {
 public:
  template <std::size_t N>
  void Text(std::string_view, const FixedText<N>& text) { bytes_ += text.Raw(); }
  void Int16(std::string_view, int16_t value) { Unsigned(static_cast<uint16_t>(value), 2); }
  void Int32(std::string_view, int32_t value) { Unsigned(static_cast<uint32_t>(value), 4); }
  void Flag(std::string_view name, bool value) { Int16(name, value ? -1 : 0); }
  void Date(std::string_view, double value) { Unsigned(std::bit_cast<uint64_t>(value), 8); }

  const std::string& bytes() const { return bytes_; }

 private:
  void Unsigned(uint64_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i) bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
  std::string bytes_;
};

class FieldReader {
 public:
  explicit FieldReader(std::string_view bytes) : bytes_(bytes) {}

  template <std::size_t N>
  void Text(std::string_view, FixedText<N>& text) { text = Take(N); }  // short → padded with blanks
  void Int16(std::string_view, int16_t& value) { value = static_cast<int16_t>(Unsigned(2)); }
  void Int32(std::string_view, int32_t& value) { value = static_cast<int32_t>(Unsigned(4)); }
  void Flag(std::string_view, bool& value) { value = Unsigned(2) != 0; }
  void Date(std::string_view, double& value) { value = std::bit_cast<double>(Unsigned(8)); }

 private:
  std::string_view Take(std::size_t count) {
    std::string_view field = bytes_.substr(0, count);
    bytes_.remove_prefix(field.size());
    return field;
  }
  uint64_t Unsigned(std::size_t byteCount) {
    const std::string_view field = Take(byteCount);
    uint64_t value = 0;
    for (std::size_t i = 0; i < field.size(); ++i) value |= uint64_t{static_cast<unsigned char>(field[i])} << (8 * i);
    return value;
  }
  std::string_view bytes_;
};

// Layout: a type with `using Record = ...;` and
// `template <class Codec, class R> static void Fields(Codec&, R&)`, which
// calls the codec once per field with the field's name.
template <class Layout>
std::string Encode(const typename Layout::Record& record) {
  FieldWriter writer;
  Layout::Fields(writer, record);
  return writer.bytes();
}

template <class Layout>
void Decode(std::string_view bytes, typename Layout::Record& record) {
  FieldReader reader(bytes);
  Layout::Fields(reader, record);
}

template <class Layout>
void GetRecord(const DataFile& file, int32_t number, typename Layout::Record& record) {
  Decode<Layout>(ReadRecord(file, number), record);
}

template <class Layout>
void PutRecord(const DataFile& file, int32_t number, const typename Layout::Record& record) {
  WriteRecord(file, number, Encode<Layout>(record));
}

}  // namespace tellarium
