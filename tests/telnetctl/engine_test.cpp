// The engine's fixed facts: the error map, the log's bound, the debug file,
// the socket options of each flag, and the state shared by all sessions.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "host.h"
#include "telnetctl/engine/debug_file.h"
#include "telnetctl/engine/error_map.h"
#include "telnetctl/engine/session_log.h"
#include "telnetctl/engine/tcp_session.h"

namespace {

using namespace kvtest;
using namespace tntlib;
using korvatel::MapSocketError;
using korvatel::SocketErrorFromErrno;

struct Expected {
  int number;
  int code;
  const char* text;
};

// Every number of the classic sockets numbering with its code and text.
constexpr Expected kTable[] = {
    {10004, 2, "INTR"}, {10009, 12, "Invalid Descriptor Used"}, {10014, 2, "FAULT"},
    {10022, 12, "Socket not bound to an address"}, {10024, 15, "MFILE"}, {10035, 0, "Would Block"},
    {10036, 0, "Operation In Progress"}, {10037, 0, "Operation Already In Progress"},
    {10038, 12, "Socket Operation on Non-Socket"}, {10039, 3, "Destination Address Required"},
    {10040, 2, "Message Too Long"}, {10041, 12, "Protocol Wrong Type for Socket"},
    {10042, 12, "Option Unknown or Unsupported"}, {10043, 12, "Protocol Not Supported"},
    {10044, 12, "Socket Type Not Supported"}, {10045, 12, "Operation Not Supported on Socket"},
    {10046, 12, "Protocol Family Not Supported"}, {10047, 12, "Address Family Not Supported by Protocol Family"},
    {10048, 8, "Address Already in Use"}, {10049, 12, "Can't Assign Requested Address"},
    {10050, 1, "Network is Down"}, {10051, 5, "Network is Unreachable"},
    {10052, 13, "Network Dropped Connection on Reset"}, {10053, 13, "Connection Aborted"},
    {10054, 13, "Connection Aborted (Reset) by Peer"}, {10055, 7, "Buffer Deadlock Condition"},
    {10056, 12, "Socket is Already Connected"}, {10057, 9, "Socket is Not Connected"},
    {10058, 13, "Can't Send or Recv After Shutdown"}, {10059, 12, "Too Many References, Cant Splice"},
    {10060, 6, "Connection Timed Out"}, {10061, 4, "Connection Refused"},
    {10062, 2, "Too Many Levels of Symbolic Links"}, {10063, 12, "File Name Too Long"},
    {10064, 6, "Host is Down"}, {10065, 5, "No Route to Host"}, {10066, 12, "Directory Not Empty"},
    {10067, 10, "Too Many Processes"}, {10068, 10, "Too Many Users"}, {10069, 10, "Disc Quota Exceeded"},
    {10070, 12, "Stale NFS File Handle"}, {10071, 12, "Too Many Levels of Remote in Path"},
    {10091, 2, "Network subsystem is not ready for network communication"},
    {10092, 2, "Old version of WinSock API"}, {10093, 12, "WSA NOTINITIALISED"},
    {11001, 3, "Authoritative Answer: Host not found"}, {11002, 3, "Non-Authoritative: Host not found"},
    {11003, 2, "Non recoverable errors"}, {11004, 3, "Valid name, no data record of requested type"},
};

TEST(ErrorMap, EveryNumberHasItsCodeAndText) {
  for (const Expected& e : kTable) {
    const korvatel::MappedError mapped = MapSocketError(e.number);
    EXPECT_EQ(mapped.code, e.code) << e.number;
    EXPECT_STREQ(mapped.text, e.text) << e.number;
  }
  for (int other : {0, 10000, 10001, 10072, 10090, 10094, 11000, 11005, -1}) {
    EXPECT_EQ(MapSocketError(other).code, 2) << other;
    EXPECT_STREQ(MapSocketError(other).text, "Error not defined") << other;
  }
}

TEST(ErrorMap, PlatformErrorsTakeTheirClassicNumbers) {
  const std::pair<int, int> errnos[] = {
      {EINTR, 10004},        {EBADF, 10009},         {EFAULT, 10014},       {EINVAL, 10022},
      {EMFILE, 10024},       {EAGAIN, 10035},        {EWOULDBLOCK, 10035},  {EINPROGRESS, 10036},
      {EALREADY, 10037},     {ENOTSOCK, 10038},      {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},   {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
      {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},  {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},     {ENETUNREACH, 10051},  {ENETRESET, 10052},
      {ECONNABORTED, 10053}, {ECONNRESET, 10054},    {ENOBUFS, 10055},      {EISCONN, 10056},
      {ENOTCONN, 10057},     {ESHUTDOWN, 10058},     {EPIPE, 10058},        {ETOOMANYREFS, 10059},
      {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},  {ELOOP, 10062},        {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},  {ENOTEMPTY, 10066},    {EUSERS, 10068},
      {EDQUOT, 10069},       {ESTALE, 10070},        {EREMOTE, 10071},
  };
  for (const auto& [errno_value, number] : errnos) EXPECT_EQ(SocketErrorFromErrno(errno_value), number) << errno_value;
  EXPECT_STREQ(MapSocketError(SocketErrorFromErrno(ENOENT)).text, "Error not defined");

  using platform::LookupError;
  EXPECT_EQ(korvatel::SocketErrorFromLookup(LookupError::kNone), 0);
  EXPECT_EQ(korvatel::SocketErrorFromLookup(LookupError::kNoSuchName), 11001);
  EXPECT_EQ(korvatel::SocketErrorFromLookup(LookupError::kTryAgain), 11002);
  EXPECT_EQ(korvatel::SocketErrorFromLookup(LookupError::kNoRecovery), 11003);
  EXPECT_EQ(korvatel::SocketErrorFromLookup(LookupError::kNoData), 11004);
}

TEST(SessionLog, EmptiedOnceItHoldsMoreThanFourHundredLines) {
  korvatel::SessionLog log("test");
  for (int i = 0; i < 400; ++i) log.Append("line " + std::to_string(i));
  EXPECT_EQ(log.LineCount(), 401);  // the empty line after the last break counts
  EXPECT_EQ(log.text().substr(0, 8), "line 0\r\n");
  log.Append("next");
  EXPECT_EQ(log.text(), "next\r\n");
  EXPECT_EQ(log.LineCount(), 2);
}

// Runs in a fresh directory under the scratch directory.
class DebugFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "dbg.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(::chdir(".."), 0); }
  static void Touch(const std::string& name) { std::ofstream(name) << "old"; }
  static std::string Read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string dir_;
};

TEST_F(DebugFileTest, TakesTheFirstFreeNameAndNinetyNineWhenAllExist) {
  EXPECT_EQ(korvatel::DebugFile::ChooseName(), "KVNT0.DBG");
  Touch("KVNT0.DBG");
  Touch("KVNT1.DBG");
  Touch("KVNT3.DBG");
  EXPECT_EQ(korvatel::DebugFile::ChooseName(), "KVNT2.DBG");
  for (int i = 0; i < 100; ++i) Touch("KVNT" + std::to_string(i) + ".DBG");
  EXPECT_EQ(korvatel::DebugFile::ChooseName(), "KVNT99.DBG");
}

TEST_F(DebugFileTest, RecordsSentAndReceivedBlocksOfADebugSession) {
  Touch("KVNT0.DBG");
  {
    Pair pair;
    pair.client.Put(kDispDebug, Variant::Bool(true));
    ASSERT_TRUE(pair.Open());
    EXPECT_TRUE(pair.client.impl().session().has_debug_file());
    EXPECT_FALSE(pair.server.impl().session().has_debug_file());
    ASSERT_TRUE(pair.client.Send("hello"));
    ASSERT_TRUE(PumpUntil([&] { return pair.server.Received() == "hello"; }));
    ASSERT_TRUE(pair.server.Send("world"));
    ASSERT_TRUE(PumpUntil([&] { return pair.client.Received() == "world"; }));
    ASSERT_TRUE(pair.client.Close(true));
    EXPECT_FALSE(pair.client.impl().session().has_debug_file());
    // With Debug the session's log outlives the socket.
    const korvatel::SessionLog* log = pair.client.impl().session().log();
    ASSERT_NE(log, nullptr);
    EXPECT_NE(log->text().find("Debug flag SET!"), std::string::npos);
    EXPECT_NE(log->text().find("KVNT1.DBG will be filled with debug data"), std::string::npos);
    EXPECT_NE(log->text().find("  5 bytes sent, 5 bytes saved in debug file"), std::string::npos);
    EXPECT_NE(log->text().find("  5 bytes received, 5 bytes saved in debug file"), std::string::npos);
    EXPECT_NE(log->text().find("Primary Socket Closed"), std::string::npos);
  }
  EXPECT_EQ(Read("KVNT0.DBG"), "old");
  EXPECT_EQ(Read("KVNT1.DBG"), "\r\n---> hello\r\n<--- world");
}

TEST_F(DebugFileTest, EachSessionThatOpensASocketGetsANewFile) {
  Host listener;
  listener.Put(kDispDebug, Variant::Bool(true));
  listener.Put(kDispLocalPort, Variant::Int32(FreePort()));
  ASSERT_TRUE(listener.Listen());
  ASSERT_TRUE(listener.Close(true));
  ASSERT_TRUE(listener.Listen());
  struct stat info;
  EXPECT_EQ(::stat("KVNT0.DBG", &info), 0);
  EXPECT_EQ(::stat("KVNT1.DBG", &info), 0);
}

int IntOption(int fd, int level, int name) {
  int value = -1;
  socklen_t length = sizeof value;
  EXPECT_EQ(::getsockopt(fd, level, name, &value, &length), 0);
  return value;
}

TEST(SocketOptions, EachFlagSetsItsOption) {
  for (bool on : {false, true}) {
    Pair pair;
    for (Host* h : {&pair.client, &pair.server}) {
      h->Put(kDispReuseAddr, Variant::Bool(on));
      h->Put(kDispKeepAlive, Variant::Bool(on));
      h->Put(kDispNoDelay, Variant::Bool(on));
    }
    ASSERT_TRUE(pair.Open());
    for (Host* h : {&pair.client, &pair.server}) {
      const int fd = h->impl().session().socket();
      ASSERT_GE(fd, 0);
      EXPECT_EQ(IntOption(fd, SOL_SOCKET, SO_REUSEADDR) != 0, on);
      EXPECT_EQ(IntOption(fd, SOL_SOCKET, SO_KEEPALIVE) != 0, on);
      EXPECT_EQ(IntOption(fd, IPPROTO_TCP, TCP_NODELAY) != 0, on);
      EXPECT_NE(IntOption(fd, SOL_SOCKET, SO_OOBINLINE), 0);  // always: urgent data stay in order
    }
  }
}

TEST(SocketOptions, GracefulCloseLingersOffAbortiveCloseResets) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(pair.client.Send(std::string(1, 'x')));
  const int fd = pair.client.impl().session().socket();
  ASSERT_TRUE(pair.client.Close(false));
  linger value{};
  socklen_t length = sizeof value;
  ASSERT_EQ(::getsockopt(fd, SOL_SOCKET, SO_LINGER, &value, &length), 0);
  EXPECT_EQ(value.l_onoff, 0);
  ASSERT_TRUE(pair.client.Close(true));
  ASSERT_TRUE(PumpUntil([&] { return pair.server.Closed(); }));
  const auto exceptions = pair.server.Of(kEventOnException);
  ASSERT_EQ(exceptions.size(), 1u);
  // A read notice already queued may meet the reset as the end of data.
  EXPECT_EQ(exceptions[0].Int(0), 13);
}

TEST(ProcessState, ControlsShareOneProcessWideState) {
  std::vector<std::string> trace;
  korvatel::SetTraceHook([&](std::string_view line) { trace.emplace_back(line); });
  const int before = korvatel::CTcpSession::ObjectCount();
  {
    auto first = std::make_unique<Host>();
    auto second = std::make_unique<Host>();
    EXPECT_EQ(korvatel::CTcpSession::ObjectCount(), before + 2);
    first->Put(kDispLocalPort, Variant::Int32(FreePort()));
    ASSERT_TRUE(first->Listen());
    const std::string name = korvatel::CTcpSession::LocalHostName();
    EXPECT_FALSE(name.empty());
    ASSERT_TRUE(PumpUntil([] { return !korvatel::CTcpSession::LocalDotAddr().empty(); }));
    EXPECT_EQ(korvatel::CTcpSession::LocalDotAddr(), "127.0.0.1");  // the test resolver's answer

    second->Put(kDispLocalPort, Variant::Int32(FreePort()));
    ASSERT_TRUE(second->Listen());
    EXPECT_EQ(second->Of(kEventOnListen)[0].Text(1), name);
    EXPECT_EQ(first->Of(kEventOnListen)[0].Text(1), name);
    first.reset();
    EXPECT_EQ(korvatel::CTcpSession::ObjectCount(), before + 1);
  }
  EXPECT_EQ(korvatel::CTcpSession::ObjectCount(), before);
  korvatel::SetTraceHook(nullptr);
  if (before == 0) {
    const std::vector<std::string> counts = {"1 Korvanet Object", "2 Korvanet Objects", "1 Korvanet Object",
                                             "0 Korvanet Objects", "Unloading Korvanet...BYE!"};
    std::vector<std::string> seen;
    for (const std::string& line : trace) {
      if (line.find("Korvanet") != std::string::npos) seen.push_back(line);
    }
    EXPECT_EQ(seen, counts);
  }
}

}  // namespace
