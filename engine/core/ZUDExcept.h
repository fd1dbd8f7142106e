// ZUDExcept: the one exception class of the engine.
//
// Contract
//  1. Every failure that a file, a user's input, another process or the
//     operating system can cause is raised as EABSException carrying a
//     native error code (signed 32-bit) and a message. Codes belong to raise
//     sites: each place that raises has its own literal code, written where
//     it raises, together with the literal message format of the catalogue
//     (ZUDErrorCatalogue.h holds every (code, format) pair; a test scans the
//     sources and refuses any raise site whose pair is not catalogued).
//  2. The shown text is the message, then " - Native error: ", then the code
//     as five digits with leading zeros ("02011" for 2011).
//  3. Formats use only "%s" (text) and "%d" (integer), filled in order. When
//     the arguments do not fit the format (wrong count or kind), the text is
//     the format followed by " Arguments are invalid!"; raising never throws
//     anything else.
//  4. Programmer errors are not engine errors: a broken contract between our
//     own functions (an argument the callee's header forbids, an invariant
//     of our own structures found broken) throws std::logic_error, or
//     std::invalid_argument for an argument outside its documented range,
//     with a message naming the contract. Nothing catches them to carry on,
//     they carry no native code, and no assert stands in for them (asserts
//     vanish from release builds; an engine that goes on past a broken
//     invariant damages files).
//
// Raise sites read:
//     throw EABSException(30016, "Value is Null");
//     throw EABSException(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
//                         {TypeName(a), TypeName(b)});
//
// Thread use: an exception object belongs to the thread that raised it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

// One argument of a message format: a "%d" takes an integer, a "%s" a text.
class TABSErrorArg {
 public:
  TABSErrorArg(int v) : value_(static_cast<int64_t>(v)) {}
  TABSErrorArg(unsigned v) : value_(static_cast<int64_t>(v)) {}
  TABSErrorArg(long v) : value_(static_cast<int64_t>(v)) {}
  TABSErrorArg(unsigned long v) : value_(static_cast<int64_t>(v)) {}
  TABSErrorArg(long long v) : value_(static_cast<int64_t>(v)) {}
  TABSErrorArg(unsigned long long v) : value_(static_cast<int64_t>(v)) {}
  TABSErrorArg(const char* v) : value_(std::string(v ? v : "")) {}
  TABSErrorArg(std::string v) : value_(std::move(v)) {}

  bool IsInteger() const { return std::holds_alternative<int64_t>(value_); }
  int64_t Integer() const { return std::get<int64_t>(value_); }
  const std::string& Text() const { return std::get<std::string>(value_); }

 private:
  std::variant<int64_t, std::string> value_;
};

class EABSException : public std::runtime_error {
 public:
  // Create form: the message is used as it stands.
  EABSException(int32_t nativeError, const std::string& message);
  // CreateFmt form: the arguments are formatted into the format first.
  EABSException(int32_t nativeError, const char* format, std::initializer_list<TABSErrorArg> args);
  EABSException(int32_t nativeError, const char* format, const std::vector<TABSErrorArg>& args);

  int32_t NativeError() const noexcept { return nativeError_; }
  // The message without the " - Native error: NNNNN" suffix.
  const std::string& Message() const noexcept { return message_; }

 private:
  int32_t nativeError_;
  std::string message_;
};

// Formats "%s"/"%d" placeholders; returns false when the arguments do not
// match the format (count or kind). "%%" stands for one "%", and a "%" that
// opens no placeholder stands for itself.
bool FormatEngineMessage(const char* format, const std::vector<TABSErrorArg>& args, std::string& out);

// The shown suffix of a code: " - Native error: " and five digits.
std::string NativeErrorSuffix(int32_t nativeError);
