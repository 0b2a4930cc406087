#include "web/cp437.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <stdexcept>

namespace tellarium::web {
namespace {

constexpr uint8_t kFirstHighByte = 0x80;
constexpr size_t kHighBytes = 128;
constexpr int kLongestUtf8Sequence = 4;
constexpr char kNoSuchCharacter = '?';

// The length of the UTF-8 sequence that `lead` starts; 1 for ASCII and for a
// byte that starts none.
constexpr size_t SequenceLength(char lead) {
  const int leading_ones = std::countl_one(static_cast<uint8_t>(lead));
  return leading_ones < 2 || leading_ones > kLongestUtf8Sequence ? 1 : static_cast<size_t>(leading_ones);
}

// Each of the bytes 0x80 to 0xFF as its character in UTF-8, made from rows of
// sixteen as the code page is charted (0xFF is the no-break space).
constexpr auto kHighHalf = [] {
  constexpr std::string_view kRows[] = {
      "ÇüéâäàåçêëèïîìÄÅ", "ÉæÆôöòûùÿÖÜ¢£¥₧ƒ", "áíóúñÑªº¿⌐¬½¼¡«»", "░▒▓│┤╡╢╖╕╣║╗╝╜╛┐",
      "└┴┬├─┼╞╟╚╔╩╦╠═╬╧", "╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀", "αßΓπΣσµτΦΘΩδ∞φε∩", "≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00A0",
  };
  std::array<std::string_view, kHighBytes> characters;
  size_t byte = 0;
  for (std::string_view row : kRows) {
    for (size_t at = 0; at < row.size(); at += SequenceLength(row[at])) {
      characters.at(byte++) = row.substr(at, SequenceLength(row[at]));
    }
  }
  if (byte != kHighBytes) throw std::logic_error("the rows hold a character for each high byte");
  return characters;
}();

}  // namespace

std::string Cp437ToUtf8(std::string_view station_bytes) {
  std::string text;
  text.reserve(station_bytes.size());
  for (const char& byte : station_bytes) {
    const auto value = static_cast<uint8_t>(byte);
    text += value < kFirstHighByte ? std::string_view(&byte, 1) : kHighHalf[value - kFirstHighByte];
  }
  return text;
}

std::string Utf8ToCp437(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const std::string_view character = text.substr(at, SequenceLength(text[at]));
    at += character.size();
    const auto found = std::find(kHighHalf.begin(), kHighHalf.end(), character);
    if (found != kHighHalf.end()) {
      bytes += static_cast<char>(kFirstHighByte + (found - kHighHalf.begin()));
    } else {
      bytes += static_cast<uint8_t>(character[0]) < kFirstHighByte ? character[0] : kNoSuchCharacter;
    }
  }
  return bytes;
}

}  // namespace tellarium::web
