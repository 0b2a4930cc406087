// The gateway's conversions: code page 437 and UTF-8, the telnet client side,
// and the PROXY header that names the caller.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/cp437.h"
#include "web/proxy_header.h"
#include "web/station_telnet.h"

namespace {

using namespace tellarium::web;
using boost::asio::ip::make_address;
using boost::asio::ip::tcp;

const struct {
  const char* name;
  std::string station, browser;
} kCodePageRows[] = {
    {"box drawing and blocks", "\xC9\xCD\xBB\xBA\xC4\xB3\xB0\xB1\xB2\xDB\xDF", "╔═╗║─│░▒▓█▀"},
    {"accented letters", "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F", "ÇüéâäàåçêëèïîìÄÅ"},
    {"signs and Greek", "\x9C\xA4\xE1\xE6\xF1", "£ñßµ±"},
    {"controls, ANSI colour and DEL as they are", "\x1B[1;31mA\x07\r\n\x7F", "\x1B[1;31mA\x07\r\n\x7F"},
    {"the table's ends", "\x80\xFF", "Ç\u00A0"},
};

TEST(CodePage437, RowsBothWays) {
  for (const auto& row : kCodePageRows) {
    EXPECT_EQ(Cp437ToUtf8(row.station), row.browser) << row.name;
    EXPECT_EQ(Utf8ToCp437(row.browser), row.station) << row.name;
  }
}

TEST(CodePage437, EachByteComesBackAndWhatItLacksIsAQuestionMark) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    EXPECT_EQ(Utf8ToCp437(Cp437ToUtf8(one)), one) << byte;
  }
  EXPECT_EQ(Utf8ToCp437("a€b😀c"), "a?b?c");
  EXPECT_EQ(Utf8ToCp437("x\xC3"), "x?");        // cut short
  EXPECT_EQ(Utf8ToCp437("x\x80y\xFFz"), "x?y?z");  // starts no character
}

const struct {
  const char* name;
  std::vector<std::string> blocks;
  std::string data, answers;
} kTelnetRows[] = {
    {"echo and suppress-go-ahead agreed", {"\xFF\xFB\x01\xFF\xFB\x03Welcome"}, "Welcome", "\xFF\xFD\x01\xFF\xFD\x03"},
    {"a repeated WILL ignored", {"\xFF\xFB\x01", "\xFF\xFB\x01", "\xFF\xFB\x18\xFF\xFB\x18"}, "",
     "\xFF\xFD\x01\xFF\xFE\x18"},
    {"other options refused once", {"\xFF\xFB\x18\xFF\xFD\x1F", "\xFF\xFD\x1F"}, "", "\xFF\xFE\x18\xFF\xFC\x1F"},
    {"echo withdrawn, then offered again", {"\xFF\xFB\x01\xFF\xFC\x01\xFF\xFC\x01", "\xFF\xFB\x01"}, "",
     "\xFF\xFD\x01\xFF\xFE\x01\xFF\xFD\x01"},
    {"a WONT or DONT of what is off needs no answer", {"\xFF\xFC\x03\xFF\xFE\x01"}, "", ""},
    {"commands removed, 255 undoubled, cut anywhere", {"A\xFF", "\xF1" "B\xFF\xFA\x18\x01\xFF", "\xF0" "C\xFF\xFF" "D"},
     "ABC\xFF" "D", ""},
};

TEST(StationTelnet, DataAndAnswersOfEachCutStream) {
  for (const auto& row : kTelnetRows) {
    StationTelnet telnet;
    std::string data, answers;
    for (const std::string& block : row.blocks) {
      const StationTelnet::Received received = telnet.Receive(block);
      data += received.data;
      answers += received.answers;
    }
    EXPECT_EQ(data, row.data) << row.name;
    EXPECT_EQ(answers, row.answers) << row.name;
  }
}

TEST(StationTelnet, TypedKeys) {
  EXPECT_EQ(StationTelnet::Typed("hi\r"), "hi\r\n");
  EXPECT_EQ(StationTelnet::Typed("\xFF\x7F\x1B[A"), "\xFF\xFF\x7F\x1B[A");
}

tcp::endpoint At(const char* address, unsigned short port) { return {make_address(address), port}; }

TEST(ProxyHeader, NamesCallerAndGateway) {
  EXPECT_EQ(ProxyHeaderLine(At("192.0.2.7", 50123), At("127.0.0.2", 2323)),
            "PROXY TCP4 192.0.2.7 127.0.0.2 50123 2323\r\n");
  EXPECT_EQ(ProxyHeaderLine(At("::ffff:192.0.2.7", 50123), At("127.0.0.2", 23)),
            "PROXY TCP4 192.0.2.7 127.0.0.2 50123 23\r\n");
  EXPECT_EQ(ProxyHeaderLine(At("2001:db8::7", 443), At("::1", 23)), "PROXY TCP6 2001:db8::7 ::1 443 23\r\n");
  EXPECT_EQ(ProxyHeaderLine(At("2001:db8::7", 443), At("127.0.0.2", 23)),
            "PROXY TCP6 2001:db8::7 ::ffff:127.0.0.2 443 23\r\n");
  EXPECT_EQ(ProxyHeaderLine(At("192.0.2.7", 443), At("::1", 23)), "PROXY TCP6 ::ffff:192.0.2.7 ::1 443 23\r\n");
}

}  // namespace
