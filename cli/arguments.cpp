#include "cli/arguments.h"

#include <cerrno>
#include <cstdlib>

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

bool ParseNumber(const std::string& text, unsigned long maximum, unsigned long& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  // Decimal unless written with 0x: a leading zero does not make a number octal here.
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const unsigned long parsed = std::strtoul(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || parsed > maximum) return false;
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
