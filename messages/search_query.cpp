#include "messages/search_query.h"

namespace {

// Enough for any search a person types; more words only make it slower.
const unsigned MAX_WORDS = 32;

bool WordByte(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80;
}

// The first `letters` letters of a UTF-8 word (a letter begins with any
// byte but a continuation byte); `cut` tells whether the word had more.
std::string Beginning(const std::string& word, unsigned letters, bool* cut)
{
    unsigned n = 0;
    for (size_t end = 0; end < word.size(); end++)
        if (((unsigned char)word[end] & 0xc0) != 0x80 && n++ == letters) {
            *cut = true;
            return word.substr(0, end);
        }
    *cut = false;
    return word;
}

void And(std::string& expression, const std::string& term)
{
    expression += (expression.empty() ? "" : " & ") + term;
}

}  // namespace

MessagesSearchQuery::MessagesSearchQuery(const char* text)
{
    std::string phrase;
    bool inPhrase = false;
    unsigned words = 0;
    bool allShort = true;
    for (const unsigned char* c = (const unsigned char*)(text ? text : ""); *c && words < MAX_WORDS;) {
        if (*c == '"') {
            if (!phrase.empty()) And(phrases, "(" + phrase + ")");
            phrase.clear();
            inPhrase = !inPhrase;
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
        std::string quoted = "'" + word + "'";
        if (inPhrase) {
            phrase += (phrase.empty() ? "" : " <-> ") + quoted;
            continue;
        }
        bool cut;
        And(prefixes, "'" + Beginning(word, SEARCH_PREFIX_LETTERS, &cut) + "'");
        And(this->words, quoted + ":*");
        if (cut) And(phrases, quoted + ":*");
        Beginning(word, 2, &cut);
        if (cut) allShort = false;
    }
    if (!phrase.empty()) And(phrases, "(" + phrase + ")");
    shortWords = !prefixes.empty() && phrases.empty() && allShort;
}
