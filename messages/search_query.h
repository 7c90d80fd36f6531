#pragma once

#include <string>

// The text search expression for what a person typed: every word must
// occur, each also as the beginning of a longer word ("deplo" finds
// "deployment"); words in double quotes must occur one after the other, as
// written. A word is a run of letters and digits of any script; everything
// else separates words, so the expression never carries the search
// syntax's own operators. Empty when the text holds no word.
std::string MessagesSearchQuery(const char* text);
