#include "support/exception.h"

namespace zm {

void FormatArg::AppendTo(std::string& out) const {
  if (isNumber_) {
    out += std::to_string(number_);
  } else {
    out.append(text_.data(), text_.size());
  }
}

std::string Format(std::string_view text, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(text.size() + 64);
  auto next = args.begin();
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 1 < text.size()) {
      char kind = text[i + 1];
      if (kind == '%') {
        out += '%';
        ++i;
        continue;
      }
      if ((kind == 's' || kind == 'd') && next != args.end()) {
        next->AppendTo(out);
        ++next;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

EInvalidOp::EInvalidOp() : Exception(std::string(msg::runtime::sInvalidOp.text)) {}

}  // namespace zm
