#pragma once

#include <string>
#include <vector>

const size_t SQL_PREPARE_BUFFER = 8192;

// Turns a format (see sql_print.h) into the text of a prepared statement:
// every directive becomes $N, N counting from 1, and declares the type of
// parameter N (psql_param_type_t). Formats the server cannot take as
// parameters (%q, %e, unknown ones) and texts of SQL_PREPARE_BUFFER or
// more are fatal.
void SqlPrepareFormat(const char* format, std::string& text, std::vector<unsigned char>& types);
