// What a failed KEL_ASSERT writes, as a death-test pattern.
#pragma once

#include <string>

// A regular expression that matches "Assertion `<condition>' failed" with
// the condition's text taken literally.
std::string assertion_failed(const std::string& condition);
