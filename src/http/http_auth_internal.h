// Helpers shared by the Basic and Digest checks (http_auth.cpp,
// http_auth_digest.cpp); not exported.
#pragma once

#include "http/http_auth.h"

namespace hx {

// The require entry's string `key` ("realm", "require"), or null (logged)
// when the entry lacks it or holds something else under that key.
const buffer* http_auth_require_string(server* srv, array* req, const char* key);
// One error-log line: `text` and the client's address.
void http_auth_log_address(server* srv, unsigned int line, const char* text, const connection* con);

}  // namespace hx
