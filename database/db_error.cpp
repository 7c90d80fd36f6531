#include "database/db_error.h"

const char* DbErrorName(db_error_t error)
{
    switch (error) {
    case DB_OK: return "DB_OK";
    case DB_ERR_CONNECT_FAILED: return "DB_ERR_CONNECT_FAILED";
    case DB_ERR_SQL_COMMAND_FAILED: return "DB_ERR_SQL_COMMAND_FAILED";
    case DB_ERR_SHUTDOWN_STATE: return "DB_ERR_SHUTDOWN_STATE";
    case DB_ERR_SERVER_ERROR: return "DB_ERR_SERVER_ERROR";
    }
    return "<unkown error>";
}
