// Queries to the panel database. Connection handles are MySQL client handles.
#pragma once

#include <stddef.h>

#include <string>

typedef struct st_mysql MYSQL;

// -1 until the first successful connection, then 0 or 1.
extern int mysql41_compatible;

// Opens a connection to the panel database with the administrator password
// file; null on failure with a message in `error` (at most `size` bytes).
// The caller closes the connection with mysql_close.
MYSQL* ovrin_db_connect(char* error, size_t size);

// Column `column` of the first row of `query`, in a process-wide buffer that
// the next call overwrites; "" for no row or NULL, null when the query or the
// connection fails. With a null `connection` a fresh one is opened and closed.
const char* get_param_from_bigquery(const char* query, MYSQL* connection, unsigned column);

namespace ovrin {
// get_param_from_bigquery on a fresh connection; a failed query raises
// std::logic_error.
std::string QueryDb(const std::string& query);
// The panel name of a reseller or client (login) or a domain (name) by id;
// "" for any other type, without a query.
std::string GetNameFromDB(const std::string& objectType, int id);
}  // namespace ovrin
