#include "pack/failure.h"

#include <cstring>

std::string system_failure(const std::string& path, const std::string& what, int error_number) {
  std::string text = path + ": " + what;
  if (error_number != 0) text += std::string(": ") + strerror(error_number);
  return text;
}
