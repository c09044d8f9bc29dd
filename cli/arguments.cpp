#include "cli/arguments.h"

namespace kfw::cli {

bool Arguments::Parse(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                      std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-' || arg == "--") {
      if (arg == "--") {
        positional_.insert(positional_.end(), args.begin() + static_cast<long>(i) + 1, args.end());
        return true;
      }
      positional_.push_back(arg);
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const size_t equals = arg.find('='); equals != std::string::npos && arg.rfind("--", 0) == 0) {
      name = arg.substr(0, equals);
      inlineValue = arg.substr(equals + 1);
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& candidate : specs) {
      if (name == candidate.name) spec = &candidate;
    }
    if (!spec) {
      error = "unknown option " + name;
      return false;
    }
    if (!spec->takesValue) {
      if (inlineValue) {
        error = "option " + name + " takes no value";
        return false;
      }
      values_[name] = "";
      continue;
    }
    if (inlineValue) {
      values_[name] = *inlineValue;
    } else if (i + 1 < args.size()) {
      values_[name] = args[++i];
    } else {
      error = "option " + name + " needs a value";
      return false;
    }
  }
  return true;
}

std::optional<std::string> Arguments::Value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

namespace {

// The value of a digit in base 10 or 16, or -1.
int DigitValue(char c, unsigned base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseNumber(const std::string& text, unsigned long maximum, unsigned long& value) {
  // Only what the help shows, read by hand: strtoul would also take leading spaces, a sign, and a
  // 0x with nothing after it, and a leading zero does not make a number octal here.
  const bool hex = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const unsigned base = hex ? 16 : 10;
  const size_t start = hex ? 2 : 0;
  if (text.size() == start) return false;
  unsigned long parsed = 0;
  for (size_t i = start; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) return false;
    // parsed * base + digit <= maximum, asked without overflowing.
    const auto digitValue = static_cast<unsigned long>(digit);
    if (digitValue > maximum || parsed > (maximum - digitValue) / base) return false;
    parsed = parsed * base + digitValue;
  }
  value = parsed;
  return true;
}

bool ParseVersion(const std::string& text, unsigned& major, unsigned& minor) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return false;
  unsigned long majorValue, minorValue;
  if (!ParseNumber(text.substr(0, dot), 127, majorValue) ||
      !ParseNumber(text.substr(dot + 1), 127, minorValue)) {
    return false;
  }
  major = static_cast<unsigned>(majorValue);
  minor = static_cast<unsigned>(minorValue);
  return true;
}

}  // namespace kfw::cli
