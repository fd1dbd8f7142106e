#include "core/ZUDExcept.h"

#include <cstdio>

bool FormatEngineMessage(const char* format, const std::vector<TABSErrorArg>& args, std::string& out) {
  out.clear();
  if (!format) return args.empty();
  size_t next = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') {
      out.push_back(*p);
      continue;
    }
    const char conversion = p[1];
    if (conversion == '%') {
      out.push_back('%');
      ++p;
      continue;
    }
    // A '%' that opens no placeholder stands for itself ("Read % bytes").
    if (conversion != 's' && conversion != 'd') {
      out.push_back('%');
      continue;
    }
    if (next >= args.size()) return false;
    const TABSErrorArg& arg = args[next++];
    if (conversion == 'd') {
      if (!arg.IsInteger()) return false;
      out += std::to_string(arg.Integer());
    } else {
      if (arg.IsInteger()) return false;
      out += arg.Text();
    }
    ++p;
  }
  return next == args.size();
}

std::string NativeErrorSuffix(int32_t nativeError) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " - Native error: %.5d", static_cast<int>(nativeError));
  return buf;
}

namespace {
std::string Formatted(const char* format, const std::vector<TABSErrorArg>& args) {
  std::string text;
  if (FormatEngineMessage(format, args, text)) return text;
  return std::string(format ? format : "") + " Arguments are invalid!";
}
}  // namespace

EABSException::EABSException(int32_t nativeError, const std::string& message)
    : std::runtime_error(message + NativeErrorSuffix(nativeError)), nativeError_(nativeError), message_(message) {}

EABSException::EABSException(int32_t nativeError, const char* format, std::initializer_list<TABSErrorArg> args)
    : EABSException(nativeError, Formatted(format, std::vector<TABSErrorArg>(args))) {}

EABSException::EABSException(int32_t nativeError, const char* format, const std::vector<TABSErrorArg>& args)
    : EABSException(nativeError, Formatted(format, args)) {}
