#pragma once

#include <string>
#include <utility>

namespace larkconv {

/// The one exception of larkconv: a message for the user. Thrown by any layer,
/// caught only by the driver, which prints it as "ZelError: %s\n" and exits -1.
class ZelError {
 public:
  explicit ZelError(std::string text) : message(std::move(text)) {}
  const std::string& Message() const { return message; }

 private:
  std::string message;
};

}  // namespace larkconv
