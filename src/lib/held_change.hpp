// The last change of a signal seen so far, kept beyond the reader's buffer.
#pragma once

#include <string>

#include "src/lib/change_value.hpp"

namespace quarnel {

struct HeldChange {
  bool set = false;
  ChangeView::Kind kind = ChangeView::Kind::Scalar;
  vcd::Value scalar = vcd::Value::Zero;
  double real = 0;
  std::string text;  // its storage reused from change to change

  void hold(const ChangeView& view) {
    set = true;
    kind = view.kind;
    scalar = view.scalar;
    real = view.real;
    text.assign(view.text);
  }
  // Valid while this is neither changed nor destroyed.
  ChangeView view() const { return ChangeView{kind, scalar, text, real}; }
};

}  // namespace quarnel
