#pragma once

// Outcome codes of database requests, as the logs print them.
enum db_error_t {
    DB_OK = 0,
    DB_ERR_CONNECT_FAILED = 1,
    DB_ERR_SQL_COMMAND_FAILED = 2,   // one command failed; the connection stays usable
    DB_ERR_SHUTDOWN_STATE = 3,       // the database was called while shutting down
    DB_ERR_SERVER_ERROR = 4,         // server or connection failed; the driver shuts down
};

const char* DbErrorName(db_error_t error);
