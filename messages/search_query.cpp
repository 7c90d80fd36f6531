#include "messages/search_query.h"

namespace {

// Enough for any search a person types; more words only make it slower.
const unsigned MAX_WORDS = 32;

bool WordByte(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80;
}

// The first `letters` letters of a UTF-8 word: a letter begins with any byte
// but a continuation byte.
std::string Beginning(const std::string& word, unsigned letters, unsigned* count)
{
    size_t end = 0;
    unsigned n = 0;
    for (; end < word.size(); end++)
        if (((unsigned char)word[end] & 0xc0) != 0x80 && n++ == letters) break;
    *count = n;
    return word.substr(0, end);
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
        unsigned letters;
        And(prefixes, "'" + Beginning(word, SEARCH_PREFIX_LETTERS, &letters) + "'");
        And(this->words, quoted + ":*");
        if (letters > SEARCH_PREFIX_LETTERS) And(phrases, quoted + ":*");
        if (letters > 2) allShort = false;
    }
    if (!phrase.empty()) And(phrases, "(" + phrase + ")");
    shortWords = !prefixes.empty() && phrases.empty() && allShort;
}
