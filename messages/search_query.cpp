#include "messages/search_query.h"

namespace {

// Enough for any search a person types; more words only make it slower.
const unsigned MAX_WORDS = 32;

bool WordByte(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80;
}

}  // namespace

std::string MessagesSearchQuery(const char* text)
{
    std::string query;
    bool phrase = false;
    // Within a phrase, whether its first word is written.
    bool phraseStarted = false;
    unsigned words = 0;
    for (const unsigned char* c = (const unsigned char*)(text ? text : ""); *c && words < MAX_WORDS;) {
        if (*c == '"') {
            if (phraseStarted) query += ")";
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
        if (phrase && phraseStarted) query += " <-> ";
        else {
            if (!query.empty()) query += " & ";
            if (phrase) query += "(";
        }
        query += "'" + word + "'";
        if (phrase) phraseStarted = true;
        else query += ":*";
    }
    if (phraseStarted) query += ")";
    return query;
}
