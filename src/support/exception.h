// The one exception family of the library. Every failure inside the library
// is an Exception carrying its finished message text; only the export frame
// catches them and copies the text into the caller's error record.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zm {

// One entry of a module's message table: the text with its "%s"/"%d"
// placeholders.
struct MessageText {
  std::string_view text;
};

// An argument of Format: a name or path for "%s", a number for "%d".
class FormatArg {
 public:
  FormatArg(std::string_view text) : text_(text), isNumber_(false) {}
  FormatArg(const std::string& text) : text_(text), isNumber_(false) {}
  FormatArg(const char* text) : text_(text ? text : ""), isNumber_(false) {}
  FormatArg(int value) : number_(value), isNumber_(true) {}
  FormatArg(long value) : number_(value), isNumber_(true) {}
  FormatArg(long long value) : number_(value), isNumber_(true) {}

  void AppendTo(std::string& out) const;

 private:
  std::string_view text_;
  long long number_ = 0;
  bool isNumber_;
};

// Replaces each "%s" or "%d" of `text` by the next argument, in order, and
// "%%" by "%". Missing arguments leave the placeholder as it stands, so a
// wrong call garbles a message instead of reading foreign memory.
std::string Format(std::string_view text, std::initializer_list<FormatArg> args = {});
inline std::string Format(const MessageText& message, std::initializer_list<FormatArg> args = {}) {
  return Format(message.text, args);
}

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Negative counts, positions, lengths and out-of-range parameters.
class ERangeError : public Exception {
  using Exception::Exception;
};

// A real power whose base or exponent has no real result.
class EInvalidOp : public Exception {
 public:
  EInvalidOp();
};

// A file or block whose content does not follow its format.
class EDataFormatError : public Exception {
  using Exception::Exception;
};

// Messages of the runtime itself.
namespace msg::runtime {
inline constexpr MessageText sInvalidOp{"Invalid floating point operation"};
inline constexpr MessageText sOutOfMemory{"Out of memory"};
// Something was thrown that carries no message at all.
inline constexpr MessageText sUnknownFailure{"Unknown failure"};
}  // namespace msg::runtime

}  // namespace zm
