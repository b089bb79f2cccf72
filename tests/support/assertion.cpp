#include "support/assertion.h"

#include <cstring>

std::string assertion_failed(const std::string& condition) {
  std::string pattern = "Assertion `";
  for (char c : condition) {
    if (std::strchr("\\^$.|?*+()[]{}", c)) pattern += '\\';
    pattern += c;
  }
  return pattern + "' failed";
}
