#pragma once

#include <string>

// The text search expressions for what a person typed: every word must
// occur, each also as the beginning of a longer word ("deplo" finds
// "deployment"); words in double quotes must occur one after the other, as
// written. A word is a run of letters and digits of any script; everything
// else separates words, so the expressions never carry the search syntax's
// own operators.
//
// The words go to the prefix index, whose entries are the beginnings of
// every word of a message: a prefix is one entry there, where the word
// index would read the rows of every word it begins. Phrases need the
// words' positions, which only the word index keeps, and so do words longer
// than the longest beginning the prefix index holds.
struct MessagesSearchQuery {
    explicit MessagesSearchQuery(const char* text);
    bool Empty() const { return prefixes.empty() && phrases.empty(); }

    // For the prefix index: the words, each cut to the longest beginning it
    // holds ("'rat' & 'ia'"); empty when only phrases were typed.
    std::string prefixes;
    // The same words as beginnings of the words of the word index
    // ("'rat':* & 'ia':*").
    std::string words;
    // For the word index: the phrases, and the long words again in full.
    std::string phrases;
    // Every word has one or two letters, and no phrase was typed: such
    // beginnings start thousands of words each, and the newest messages are
    // better tested one by one than read from either index.
    bool shortWords = false;
};

// The longest beginning of a word that the prefix index holds, in letters.
inline constexpr unsigned SEARCH_PREFIX_LETTERS = 16;
