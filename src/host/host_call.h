// One call of a library function by the host, as the commands see it: its
// character parameters, its error escape and its result. The Windows edge
// reads the ParameterBlock and sends the host requests; a fake lets the
// commands run natively.
#ifndef ZANVOR_HOST_HOST_CALL_H_
#define ZANVOR_HOST_HOST_CALL_H_

#include <string>

namespace zanvor {

class HostCall {
 public:
  virtual ~HostCall() = default;
  // Terminates character parameter `index` (from 1) and returns its text up
  // to the first NUL; raises host error 182 (and does not return) when the
  // parameter cannot grow by its NUL.
  virtual std::string ParameterText(int index) = 0;
  // Raises a user error with `text`; ends the function.
  [[noreturn]] virtual void RaiseError(const std::string& text) = 0;
  // Sets the function's character result.
  virtual void ReturnString(const std::string& text) = 0;
};

}  // namespace zanvor

#endif  // ZANVOR_HOST_HOST_CALL_H_
