// How the page's C++ reaches the page's script: the functions the script gives the module as
// Module.kfwPage (web/page.js), called by name, and the texts it hands back. Web builds only.
#pragma once

#include <string>

namespace kfw::page {

// Module.kfwPage[name](number, text): for the calls that pass a number and a text (or only
// a number; the text is then ignored) and return a number (0 for those that return nothing).
int Call(const char* name, int number = 0, const std::string& text = {});
// The same for a call that returns a text.
std::string CallForText(const char* name, int number = 0);
// The text a call left (its length in UTF-8 as the call returned it).
std::string TakeText(int length);
// The same for a call whose answer is a promise, awaited with the procedure's stack suspended:
// only from a command the page started (ccall with async), never from an event.
std::string Await(const char* name, const std::string& first = {}, const std::string& second = {});

}  // namespace kfw::page
