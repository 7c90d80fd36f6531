#pragma once

// The prepared statements of the store, by index.
enum dbfiles_statement_t {
    DBFILES_INSERT_FILE = 0,
    DBFILES_SET_SIZE = 1,
    DBFILES_DELETE_FILE = 2,
    DBFILES_MOVE_FILE = 3,
    DBFILES_LIST = 4,
    DBFILES_LIST_LIMIT = 5,
    DBFILES_FIND = 6,
    DBFILES_INSERT_DATA = 7,
    DBFILES_READ_DATA = 8,
    DBFILES_DATA_LENGTHS = 9,
    DBFILES_DELETE_DATA = 10,
    DBFILES_STATEMENTS = 11,
};

const char* DbFilesStatementText(unsigned index, bool ownFolders);

// The folder in which the root row lives; the root is the first row of the
// table and refers to itself, so path resolution starts here.
inline constexpr unsigned long long DBFILES_ROOT_FOLDER = 1;
