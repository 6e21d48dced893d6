#include "gateway/gateway_options.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace zanvor {

bool ReadPasswordFile(const std::string& path, std::string* password, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read the password file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  std::getline(file, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  *password = line;
  return true;
}

}  // namespace zanvor
