#include "web/page_bridge.h"

#include <emscripten/emscripten.h>

// The texts come back through Module.kfwPageText: the call returns the length in UTF-8,
// kfw_page_take_text copies it out. The bodies are JavaScript, which clang-format would break.
// clang-format off
EM_JS(int, kfw_page_call, (const char* name, int number, const char* text), {
  const result = Module["kfwPage"][UTF8ToString(name)](number, UTF8ToString(text));
  return typeof result == "number" ? result : (result ? 1 : 0);
});

EM_JS(int, kfw_page_call_for_text, (const char* name, int number), {
  Module["kfwPageText"] = String(Module["kfwPage"][UTF8ToString(name)](number));
  return lengthBytesUTF8(Module["kfwPageText"]);
});

EM_ASYNC_JS(int, kfw_page_await, (const char* name, const char* first, const char* second), {
  const answer = await Module["kfwPage"][UTF8ToString(name)](UTF8ToString(first),
                                                                UTF8ToString(second));
  Module["kfwPageText"] = answer === null || answer === undefined ? "" : String(answer);
  return lengthBytesUTF8(Module["kfwPageText"]);
});

EM_JS(void, kfw_page_take_text, (char* buffer, int capacity), {
  stringToUTF8(Module["kfwPageText"], buffer, capacity);
  Module["kfwPageText"] = "";
});
// clang-format on

namespace kfw::page {

std::string TakeText(int length) {
  std::string text(static_cast<size_t>(length) + 1, '\0');
  kfw_page_take_text(text.data(), length + 1);
  text.resize(static_cast<size_t>(length));
  return text;
}

int Call(const char* name, int number, const std::string& text) {
  return kfw_page_call(name, number, text.c_str());
}

std::string CallForText(const char* name, int number) {
  return TakeText(kfw_page_call_for_text(name, number));
}

std::string Await(const char* name, const std::string& first, const std::string& second) {
  return TakeText(kfw_page_await(name, first.c_str(), second.c_str()));
}

}  // namespace kfw::page
