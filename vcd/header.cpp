#include "vcd/header.hpp"

namespace vcd {

Scope::Scope(ScopeType type, std::string name) : scope_type(type), identifier(std::move(name)) {}
Scope::Scope(Scope&&) noexcept = default;
Scope& Scope::operator=(Scope&&) noexcept = default;

Scope::~Scope() {
  // Move grandchildren up into one flat work list, so that every scope is
  // destroyed with no children of its own.
  std::vector<ScopeItem> pending = std::move(children);
  while (!pending.empty()) {
    ScopeItem item = std::move(pending.back());
    pending.pop_back();
    if (auto* scope = std::get_if<Scope>(&item.item)) {
      for (auto& child : scope->children) pending.push_back(std::move(child));
      scope->children.clear();
    }
  }
}

}  // namespace vcd
