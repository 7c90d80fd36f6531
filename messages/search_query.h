#pragma once

#include <string>

// The text search expression for what a person typed: every word must
// occur, each also as the beginning of a longer word ("deplo" finds
// "deployment"); words in double quotes must occur one after the other, as
// written. A word is a run of letters and digits of any script; everything
// else separates words, so the expression never carries the search
// syntax's own operators.
//
// It comes in two parts that both must match: `key`, the term with the
// longest word, for the word index, and `rest`, the other terms, to be
// tested on the rows the index finds. A short word begins thousands of
// others, and the index reads every one of their rows for it, whatever the
// other words; a long one is rare. `key` is empty when the text holds no
// word, `rest` when it holds one term.
struct MessagesSearchQuery {
    explicit MessagesSearchQuery(const char* text);

    std::string key;
    std::string rest;
    // The key is the beginning of words of one or two letters: too many rows
    // for the index, so the newest messages are better walked one by one.
    bool shortKey = false;
};
