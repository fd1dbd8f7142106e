#include "support/EngineError.h"

#include <gtest/gtest.h>

#include "core/ZUDExcept.h"

int32_t NativeCodeOf(const std::function<void()>& fn, std::string* message) {
  if (message) message->clear();
  try {
    fn();
  } catch (const EABSException& e) {
    if (message) *message = e.Message();
    return e.NativeError();
  }
  return 0;
}

std::string EngineErrorText(const std::function<void()>& fn) {
  std::string message;
  const int32_t code = NativeCodeOf(fn, &message);
  return code == 0 ? "no error" : std::to_string(code) + " " + message;
}

void ExpectEngineError(const std::function<void()>& fn, int32_t code, const std::string& messagePart,
                       std::source_location where) {
  const ::testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), "engine error expected here");
  std::string message;
  const int32_t raised = NativeCodeOf(fn, &message);
  if (raised == 0) {
    ADD_FAILURE() << "no error raised, expected " << code;
    return;
  }
  EXPECT_EQ(raised, code) << message;
  EXPECT_NE(message.find(messagePart), std::string::npos)
      << "message: " << message << "\nexpected part: " << messagePart;
}
