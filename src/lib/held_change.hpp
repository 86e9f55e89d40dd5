// The last change of a signal seen so far, kept beyond the reader's buffer.
#pragma once

#include <string>
#include <string_view>

#include "src/lib/change_value.hpp"

namespace quarnel {

struct HeldChange {
  bool set = false;
  ChangeView::Kind kind = ChangeView::Kind::Scalar;
  vcd::Value scalar = vcd::Value::Zero;
  double real = 0;
  // A vector's or string's text, its storage reused from change to change.
  std::string text;

  void hold(const ChangeView& view) {
    set = true;
    kind = view.kind;
    scalar = view.scalar;
    real = view.real;
    if (has_text()) text.assign(view.text);
  }
  // Valid while this is neither changed nor destroyed.
  ChangeView view() const {
    return ChangeView{kind, scalar, has_text() ? std::string_view(text) : std::string_view(), real};
  }

 private:
  bool has_text() const {
    return kind == ChangeView::Kind::Vector || kind == ChangeView::Kind::String;
  }
};

}  // namespace quarnel
