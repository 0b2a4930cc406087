// Expected bytes as scenarios write them, and a matcher that tells as soon as
// received bytes can no longer match.
//
// Escapes: \r \n \e (ESC) \a (BEL) \t \s (blank) \0 \\ \{ \xHH.
// Runs: {digits 1-2} one or two digits, {letters 6-9}, {oneof AP} one byte
// of those listed.
// Fields as a data file stores them: {T} and {F} flags (-1 and 0), {i16 n},
// {i32 n} little-endian, {w text} text padded with blanks to width w.
// {rep n text}: the text n times (the text may not hold braces).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tellarium::scenario {

// One position of an expectation: a byte, or a run of bytes of one class.
struct Element {
  char byte = 0;
  std::function<bool(char)> inClass;  // none: the byte itself
  int least = 1;
  int most = 1;
};

class ExpectedBytes {
 public:
  // `text` after defined names were put in; throws std::invalid_argument on
  // a malformed escape or brace.
  explicit ExpectedBytes(const std::string& text);

  enum class Outcome { kMatched, kNeedMore, kMismatch };
  // Whether `received` starts with a match; `length` is how much it took.
  Outcome Match(const std::string& received, std::size_t& length) const;

  void AppendTo(std::vector<Element>& out) const;

  // The bytes, when the expectation has no wildcards.
  std::string Bytes() const;

 private:
  Outcome MatchFrom(std::size_t element, const std::string& received, std::size_t at, std::size_t& end) const;
  std::vector<Element> elements_;
};

// Splits "word rest": the rest keeps its inner blanks.
std::pair<std::string, std::string> FirstWord(const std::string& text);

// Bytes shown with the escapes above, for failure messages.
std::string Escaped(const std::string& bytes);

}  // namespace tellarium::scenario
