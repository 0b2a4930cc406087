// The control's interface as a host sees it: defaults, dispatch ids and types,
// and the property exchange.
#include <gtest/gtest.h>

#include "host.h"

namespace {

using namespace kvtest;
using namespace tntlib;
using platform::InvokeKind;
using platform::InvokeResult;

TEST(Properties, NewControlHasItsDefaults) {
  Host host;
  EXPECT_EQ(host.Get(kDispRemotePort).as_int32(), 23);
  EXPECT_EQ(host.Get(kDispLocalPort).as_int32(), 0);
  EXPECT_EQ(host.Get(kDispVarDataType).as_int32(), 0);
  EXPECT_EQ(host.Get(kDispLocalDotAddr).as_text(), "");
  for (int32_t id : {kDispDebug, kDispNoDelay, kDispReuseAddr, kDispShowIcon, kDispAutoOption, kDispKeepAlive}) {
    const Variant v = host.Get(id);
    ASSERT_EQ(v.type(), Variant::Type::kBool) << id;
    EXPECT_FALSE(v.as_bool()) << id;
  }
  const Variant state = host.Get(kDispState);
  ASSERT_EQ(state.type(), Variant::Type::kInt16);
  EXPECT_EQ(state.as_int16(), tntClosed);
  EXPECT_FALSE(host.control().IsModified());
}

TEST(Properties, PutStoresAndMarksModifiedWithoutActing) {
  Host host;
  host.Put(kDispRemotePort, Variant::Int16(4000));
  host.Put(kDispLocalPort, Variant::Double(1234.0));
  host.Put(kDispDebug, Variant::Int32(1));
  host.Put(kDispLocalDotAddr, Variant::Text("127.0.0.1"));
  EXPECT_EQ(host.Get(kDispRemotePort).as_int32(), 4000);
  EXPECT_EQ(host.Get(kDispLocalPort).as_int32(), 1234);
  EXPECT_TRUE(host.Get(kDispDebug).as_bool());
  EXPECT_EQ(host.Get(kDispLocalDotAddr).as_text(), "127.0.0.1");
  EXPECT_TRUE(host.control().IsModified());
  EXPECT_TRUE(host.events.empty());
  EXPECT_EQ(host.impl().SessionFlags(), korvatel::kFlagDebug);
}

TEST(Properties, StateIsReadOnlyAndRefusedAtDesignTime) {
  Host host;
  EXPECT_EQ(host.Invoke(kDispState, InvokeKind::kPropertyPut, {Variant::Int16(4)}), InvokeResult::kNotSupported);
  host.control().SetUserMode(false);
  Variant result;
  EXPECT_EQ(host.Invoke(kDispState, InvokeKind::kPropertyGet, {}, &result), InvokeResult::kNotSupported);
  host.control().SetUserMode(true);
  EXPECT_EQ(host.Invoke(kDispState, InvokeKind::kPropertyGet, {}, &result), InvokeResult::kOk);
}

TEST(Properties, UnknownMembersWrongCountsAndTypesAreRefused) {
  Host host;
  Variant result;
  EXPECT_EQ(host.Invoke(11, InvokeKind::kPropertyGet, {}, &result), InvokeResult::kUnknownMember);
  EXPECT_EQ(host.Invoke(20, InvokeKind::kMethod, {}, &result), InvokeResult::kUnknownMember);
  EXPECT_EQ(host.Invoke(kDispClose, InvokeKind::kMethod, {}, &result), InvokeResult::kBadArgCount);
  EXPECT_EQ(host.Invoke(kDispSend, InvokeKind::kMethod, {}, &result), InvokeResult::kBadArgCount);
  EXPECT_EQ(host.Invoke(kDispConnect, InvokeKind::kMethod, {Variant::Int32(1)}, &result), InvokeResult::kTypeMismatch);
  EXPECT_EQ(host.Invoke(kDispRemotePort, InvokeKind::kPropertyPut, {Variant::Text("x")}), InvokeResult::kTypeMismatch);
  EXPECT_EQ(host.Invoke(kDispAboutBox, InvokeKind::kMethod, {}, &result), InvokeResult::kOk);
}

// Records one pass of the exchange.
struct Recorder final : korvatel::PropertyExchange {
  std::vector<std::string> names;
  std::vector<std::string> defaults;
  void Text(const char* name, std::string&, const std::string& d) override { Note(name, "\"" + d + "\""); }
  void Int32(const char* name, int32_t&, int32_t d) override { Note(name, std::to_string(d)); }
  void Bool(const char* name, bool&, bool d) override { Note(name, d ? "true" : "false"); }
  void Note(const char* name, std::string d) {
    names.emplace_back(name);
    defaults.push_back(std::move(d));
  }
};

TEST(PropertyExchange, RunsInItsOrderWithItsDefaults) {
  Host host;
  Recorder recorder;
  host.impl().ExchangeProperties(recorder);
  EXPECT_EQ(recorder.names, (std::vector<std::string>{"LocalDotAddr", "LocalPort", "RemotePort", "Debug", "NoDelay",
                                                      "ReuseAddr", "KeepAlive", "ShowIcon", "AutoOption",
                                                      "VarDataType"}));
  EXPECT_EQ(recorder.defaults, (std::vector<std::string>{"\"\"", "0", "23", "false", "false", "false", "false",
                                                         "false", "false", "0"}));
}

TEST(PropertyExchange, SavesLoadsAndResets) {
  Host source;
  source.Put(kDispLocalDotAddr, Variant::Text("10.0.0.1"));
  source.Put(kDispLocalPort, Variant::Int32(420));
  source.Put(kDispAutoOption, Variant::Bool(true));
  source.Put(kDispVarDataType, Variant::Int32(3));
  platform::PropertyBag bag;
  source.control().SaveProperties(bag);
  EXPECT_FALSE(source.control().IsModified());
  EXPECT_EQ(bag.Read("_Version").as_int32(), korvatel::kExchangeVersion);
  EXPECT_EQ(bag.Read("RemotePort").as_int32(), 23);

  Host copy;
  copy.control().LoadProperties(bag);
  EXPECT_EQ(copy.Get(kDispLocalDotAddr).as_text(), "10.0.0.1");
  EXPECT_EQ(copy.Get(kDispLocalPort).as_int32(), 420);
  EXPECT_TRUE(copy.Get(kDispAutoOption).as_bool());
  EXPECT_EQ(copy.Get(kDispVarDataType).as_int32(), 3);

  // Missing values take their defaults.
  platform::PropertyBag sparse;
  sparse.Write("Debug", Variant::Bool(true));
  copy.control().LoadProperties(sparse);
  EXPECT_TRUE(copy.Get(kDispDebug).as_bool());
  EXPECT_EQ(copy.Get(kDispLocalPort).as_int32(), 0);
  EXPECT_EQ(copy.Get(kDispRemotePort).as_int32(), 23);

  copy.control().ResetProperties();
  EXPECT_FALSE(copy.Get(kDispDebug).as_bool());
  EXPECT_EQ(copy.Get(kDispRemotePort).as_int32(), 23);
}

}  // namespace
