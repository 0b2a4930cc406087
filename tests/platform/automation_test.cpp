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

TEST(PropertyBag, MissingNameReadsEmpty) {
  platform::PropertyBag bag;
  bag.Write("RemotePort", Variant::Int32(23));
  EXPECT_EQ(bag.Read("RemotePort").as_int32(), 23);
  EXPECT_TRUE(bag.Read("LocalPort").is_empty());
}

}  // namespace
