#include "platform/automation.h"

namespace platform {

const Variant& Variant::Deref() const {
  // A chain longer than this is taken as a loop.
  constexpr int kMaxReferenceDepth = 8;
  const Variant* v = this;
  for (int depth = 0; depth < kMaxReferenceDepth && v->type() == Type::kRef; ++depth) {
    if (v->as_ref() == nullptr) return *this;
    v = v->as_ref();
  }
  return v->type() == Type::kRef ? *this : *v;
}

Variant PropertyBag::Read(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? Variant() : it->second;
}

}  // namespace platform
