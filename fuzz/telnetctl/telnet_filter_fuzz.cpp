// Fuzz target: arbitrary received bytes through the telnet receive filter and
// command parser, cut into blocks of a fuzzed size, with and without automatic
// option answers. Checks the filter's invariants and aborts on a violation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "telnetctl/telnet/telnet_sink.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

class FuzzSink final : public korvatel::CTelnetSink {
 public:
  bool answer_options = false;
  size_t data_bytes = 0;
  size_t block_length = 0;

  void OnConnect(const std::string&, uint16_t, const std::string&, uint16_t, const std::string&) override {}
  void OnSend(uint32_t) override {}
  void OnListen(const std::string&, uint16_t, const std::string&) override {}
  void OnAccept() override {}
  void OnException(int16_t code, const std::string&) override { Require(code == 2 || code == 9); }

 protected:
  void OnDataEvent(const uint8_t* bytes, size_t length) override {
    Require(bytes != nullptr && length > 0 && length <= block_length);
    // A carriage return ends its piece, alone or followed by a line feed.
    for (size_t i = 0; i + 1 < length; ++i) {
      if (bytes[i] == 13) Require(i + 2 == length && bytes[i + 1] == 10);
    }
    data_bytes += length;
  }
  void OnCommandEvent(uint8_t command, uint8_t option, const uint8_t* suboption, size_t length) override {
    Require(length < kCommandBufferSize);
    Require(command != 250 || length > 0);
    if (answer_options) {
      AnswerOption(command, option);
    } else if (length > 0) {
      SendCommand(command, option, suboption, length, 0);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FuzzSink sink;
  sink.answer_options = (data[0] & 0x80) != 0;
  const size_t block = static_cast<size_t>(data[0] & 0x3F) + 1;
  ++data;
  --size;
  for (size_t offset = 0; offset < size; offset += block) {
    const size_t length = size - offset < block ? size - offset : block;
    sink.block_length = length;
    sink.OnData(data + offset, length);
  }
  Require(sink.data_bytes <= size);
  return 0;
}
