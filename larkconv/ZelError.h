#pragma once

#include <string>
#include <utility>

namespace larkconv {

/// A fault the user can act on, with its message. Thrown by any layer and
/// caught by the driver, which prints it as "ZelError: %s\n" and exits -1 (and
/// by larkinfo's format check). Other exceptions, such as PdbCorruptError,
/// reach the driver as "Internal error".
class ZelError {
 public:
  explicit ZelError(std::string text) : message(std::move(text)) {}
  const std::string& Message() const { return message; }

 private:
  std::string message;
};

}  // namespace larkconv
