#include "messages/search_query.h"

#include <vector>

namespace {

// Enough for any search a person types; more words only make it slower.
const unsigned MAX_WORDS = 32;

bool WordByte(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80;
}

// A term of the expression: a word, or a phrase of words one after the other.
struct Term {
    std::string text;
    size_t longest = 0;
    bool phrase = false;
};

}  // namespace

MessagesSearchQuery::MessagesSearchQuery(const char* text)
{
    std::vector<Term> terms;
    bool phrase = false;
    // Within a phrase, whether its first word is written.
    bool phraseStarted = false;
    unsigned words = 0;
    for (const unsigned char* c = (const unsigned char*)(text ? text : ""); *c && words < MAX_WORDS;) {
        if (*c == '"') {
            if (phraseStarted) terms.back().text += ")";
            phrase = !phrase;
            phraseStarted = false;
            c++;
            continue;
        }
        if (!WordByte(*c)) {
            c++;
            continue;
        }
        std::string word;
        for (; *c && WordByte(*c); c++) word += (*c >= 'A' && *c <= 'Z') ? char(*c - 'A' + 'a') : char(*c);
        words++;
        if (phrase && phraseStarted) terms.back().text += " <-> ";
        else terms.push_back({phrase ? "(" : "", 0, phrase});
        Term& term = terms.back();
        term.text += "'" + word + "'";
        if (word.size() > term.longest) term.longest = word.size();
        if (phrase) phraseStarted = true;
        else term.text += ":*";
    }
    if (phraseStarted) terms.back().text += ")";
    size_t k = 0;
    for (size_t i = 1; i < terms.size(); i++)
        if (terms[i].longest > terms[k].longest) k = i;
    // A phrase goes to the index whole: its words are matched as written,
    // and the index finds the rows that hold all of them at less cost than
    // the rows of its longest word alone.
    if (!terms.empty()) shortKey = !terms[k].phrase && terms[k].longest <= 2;
    for (size_t i = 0; i < terms.size(); i++) {
        if (i == k) key = terms[i].text;
        else rest += (rest.empty() ? "" : " & ") + terms[i].text;
    }
}
