// A text field of fixed width: always exactly N bytes, padded with blanks on
// the right. Storing cuts a longer value to N; readers usually want Trimmed().
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tellarium {

// Blank-only trimming (tabs and other bytes are data).
std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);
std::string_view Trim(std::string_view text);
// ASCII letters in upper case; other bytes as they are.
std::string Upper(std::string_view text);

template <std::size_t N>
class FixedText {
 public:
  static constexpr std::size_t kWidth = N;

  FixedText() : text_(N, ' ') {}
  FixedText(std::string_view value) { *this = value; }  // NOLINT: implicit by design

  FixedText& operator=(std::string_view value) {
    text_.assign(value.substr(0, N));
    text_.resize(N, ' ');
    return *this;
  }

  // All N bytes, blanks included.
  const std::string& Raw() const { return text_; }
  std::string Trimmed() const { return std::string(Trim(text_)); }
  std::string TrimmedLeft() const { return std::string(TrimLeft(text_)); }
  std::string TrimmedRight() const { return std::string(TrimRight(text_)); }

  bool operator==(const FixedText&) const = default;

 private:
  std::string text_;
};

}  // namespace tellarium
