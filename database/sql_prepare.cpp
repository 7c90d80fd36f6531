#include "database/sql_prepare.h"

#include <stdio.h>
#include <string.h>

#include "database/psql_statement_param.h"
#include "runtime/assert.h"

// Length of the directive behind a '%' and the parameter type it declares;
// 0 for one that a prepared statement cannot take.
static size_t PrepareDirective(const char* d, psql_param_type_t& type)
{
    static const struct {
        const char* text;
        psql_param_type_t type;
    } directives[] = {
        {"i", PSQL_PARAM_INT},      {"u", PSQL_PARAM_INT},        {"pi", PSQL_PARAM_INT},
        {"pu", PSQL_PARAM_INT},     {"lli", PSQL_PARAM_INT64},    {"llu", PSQL_PARAM_INT64},
        {"plli", PSQL_PARAM_INT64}, {"pllu", PSQL_PARAM_INT64},   {"f", PSQL_PARAM_DOUBLE},
        {"s", PSQL_PARAM_STRING},   {"S", PSQL_PARAM_STRING},     {"n", PSQL_PARAM_STRING},
        {"b", PSQL_PARAM_STRING},   {"pb", PSQL_PARAM_STRING},    {"du", PSQL_PARAM_BYTES},
    };
    for (const auto& entry : directives) {
        size_t n = strlen(entry.text);
        if (!strncmp(d, entry.text, n)) {
            type = entry.type;
            return n;
        }
    }
    return 0;
}

void SqlPrepareFormat(const char* format, std::string& text, std::vector<unsigned char>& types)
{
    text.clear();
    types.clear();
    bool inLiteral = false;
    unsigned statementEnds = 0;
    for (const char* f = format; *f; f++) {
        if (*f == '\'') inLiteral = !inLiteral;
        if (*f == ';' && !inLiteral) {
            // A prepared statement holds exactly one command.
            ASSERT(++statementEnds <= 1,
                   "PostgreSQLDatabase::PrepareStatement in single row mode with more than one SQL statement not supported! Use flag DP_EXEC_FETCH_ALL");
            continue;
        }
        if (*f != '%') {
            text += *f;
        }
        else if (f[1] == '%') {
            text += '%';
            f++;
        }
        else {
            ASSERT(f[1] != 'q', "PostgreSQLDatabase::PrepareStatement format specifier %%q not supported for prepared statements");
            psql_param_type_t type;
            size_t n = PrepareDirective(f + 1, type);
            ASSERT(n, "PostgreSQLDatabase::PrepareStatement unkown format specifier found");
            types.push_back((unsigned char)type);
            char param[16];
            snprintf(param, sizeof(param), "$%zu", types.size());
            text += param;
            f += n;
        }
        ASSERT(text.size() < SQL_PREPARE_BUFFER, "PostgreSQLDatabase::PrepareStatement SQL command too long");
    }
}
