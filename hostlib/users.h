#pragma once

#include <sys/types.h>

// The uid of system user `name`; 0 with a console message when it does not exist.
uid_t get_user_id(const char* name);
