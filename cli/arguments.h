// A small parser for "--name value", "--name=value", flags and positional words.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kfw::cli {

struct OptionSpec {
  const char* name;  // with its dashes: "--in", "-log"
  bool takesValue;
};

class Arguments {
 public:
  // Parses args against specs; false with error set for an unknown option or a missing value.
  bool Parse(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
             std::string& error);

  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The last value given for the option.
  std::optional<std::string> Value(const std::string& name) const;
  const std::vector<std::string>& Positional() const { return positional_; }

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> positional_;
};

// Numbers as users write them: decimal digits, or 0x (or 0X) and hexadecimal digits; nothing else
// (no sign, no space). False when not such a number, or above maximum.
bool ParseNumber(const std::string& text, unsigned long maximum, unsigned long& value);
// "1.3" -> 1 and 3; each part 0 to 127.
bool ParseVersion(const std::string& text, unsigned& major, unsigned& minor);

}  // namespace kfw::cli
