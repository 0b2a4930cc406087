#include "platform/automation.h"

#include <gtest/gtest.h>

namespace {

using platform::Variant;

TEST(Variant, ReferencesLeadToTheValueReferredTo) {
  Variant text = Variant::Text("abc");
  Variant ref = Variant::Ref(&text);
  Variant ref_ref = Variant::Ref(&ref);
  EXPECT_EQ(ref_ref.Deref().as_text(), "abc");
  EXPECT_EQ(text.Deref().as_text(), "abc");
}

TEST(Variant, ReferenceLoopEndsAtItself) {
  Variant a;
  Variant b = Variant::Ref(&a);
  a = Variant::Ref(&b);
  EXPECT_EQ(a.Deref().type(), Variant::Type::kRef);
}

TEST(Variant, KeepsEachTypeApart) {
  EXPECT_EQ(Variant::Int16(5).type(), Variant::Type::kInt16);
  EXPECT_EQ(Variant::Int32(5).type(), Variant::Type::kInt32);
  EXPECT_EQ(Variant::Double(2.9).as_double(), 2.9);
  Variant bytes = Variant::Bytes({1, 2, 255}, 2);
  EXPECT_EQ(bytes.as_bytes().size(), 3u);
  EXPECT_EQ(bytes.dimensions(), 2);
  EXPECT_TRUE(Variant().is_empty());
}

TEST(PropertyBag, MissingNameReadsEmpty) {
  platform::PropertyBag bag;
  bag.Write("RemotePort", Variant::Int32(23));
  EXPECT_EQ(bag.Read("RemotePort").as_int32(), 23);
  EXPECT_TRUE(bag.Read("LocalPort").is_empty());
}

}  // namespace
