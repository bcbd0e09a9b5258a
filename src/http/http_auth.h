// HTTP Basic and Digest authentication (RFC 2617) against user files, for an
// authentication plugin loaded at run time: the plugin owns the settings
// record, reads the Authorization header's scheme word and sends the
// challenge; these routines decide whether the credentials it hands over are
// valid. Nothing inside the program calls them; they are exported by their C
// names so a plugin can bind to them.
//
// User files are read whole through stream_open on every check (lines end
// with LF, the last may lack it; the stored value runs from the last
// separator to the LF, a CR included):
//   plain     user ":" password in clear
//   htpasswd  user ":" hash, "$apr1$" MD5-crypt or a system crypt hash
//   htdigest  user ":" realm ":" HA1, 32 hex digits of MD5(user:realm:password)
//
// Threads: the HTTP server thread (through the plugin). Nothing here keeps
// state between calls except the nonce's use of the process-wide rand().
// Diagnostics go to the server's error log under the tag "http_auth".
#pragma once

#include <cstddef>

#include "http/http_base.h"

namespace hx {

enum auth_backend_t {
    AUTH_BACKEND_UNSET = 0,
    AUTH_BACKEND_PLAIN = 1,
    AUTH_BACKEND_LDAP = 2,
    AUTH_BACKEND_HTPASSWD = 3,
    AUTH_BACKEND_HTDIGEST = 4,
};

// The plugin's settings, fields in the order the plugin expects them.
struct mod_auth_plugin_config {
    array* auth_require;  // per protected path a data_array holding "realm" and "require"
    buffer* auth_plain_groupfile;
    buffer* auth_plain_userfile;
    buffer* auth_htdigest_userfile;
    buffer* auth_htpasswd_userfile;
    buffer* auth_backend_conf;
    buffer* auth_ldap_hostname;
    buffer* auth_ldap_basedn;
    buffer* auth_ldap_binddn;
    buffer* auth_ldap_bindpw;
    buffer* auth_ldap_filter;
    buffer* auth_ldap_cafile;
    std::uint16_t auth_ldap_starttls;
    std::uint16_t auth_ldap_allow_empty_pw;
    std::uint16_t auth_debug;
    auth_backend_t auth_backend;
};

struct mod_auth_plugin_data {
    size_t id;
    buffer* tmp_buf;
    buffer* auth_user;  // receives the authenticated user name
    mod_auth_plugin_config** config_storage;
    mod_auth_plugin_config conf;  // the settings of the current request
    mod_auth_plugin_config* anon_conf;
};

// An MD5 digest and its text.
using HASH = unsigned char[16];
using HASHHEX = char[33];

extern "C" {

// Basic credentials (the Base64 text after the scheme word) against the
// require entry `req` (its "realm" and "require"): 1 authenticated (the user
// name is in p->auth_user), 0 refused.
int http_auth_basic_check(server* srv, connection* con, mod_auth_plugin_data* p, array* req, const char* credentials);
// Digest parameters (the text after the scheme word): 1 authenticated, 0
// refused, -1 malformed or unsupported. The nonce's age is not checked.
int http_auth_digest_check(server* srv, connection* con, mod_auth_plugin_data* p, array* req, const char* parameters);
// 32 hex digits and a NUL in `hh`, from the file name, the time, the server's
// entropy and rand(). 0.
int http_auth_digest_generate_nonce(server* srv, mod_auth_plugin_data* p, buffer* fn, char hh[33]);
// The require entry's "require" rules for `username`: 0 allowed, -1 not.
int http_auth_match_rules(server* srv, array* req, const char* username, const char* group);

// The stored password (or HA1) of the user in the realm, from the backend's
// file: 0 found, -1 not (or the file could not be read).
int http_auth_get_password(server* srv, mod_auth_plugin_data* p, buffer* username, buffer* realm, buffer* password);
// 0 when the password the client sent matches the stored one, -1 not.
int http_auth_basic_password_compare(server* srv, mod_auth_plugin_data* p, array* req, buffer* username,
                                     buffer* realm, buffer* password, const char* pw);
// RFC 4648 Base64 into `out` (NUL-terminated): its text, or null when the
// text is not valid Base64.
char* base64_decode(buffer* out, const char* in);
// The "$apr1$" MD5-crypt of `pw` with the salt taken from `salt` (the stored
// hash or a bare salt), copied into `result` up to `nbytes` - 1 characters.
void apr_md5_encode(const char* pw, const char* salt, char* result, size_t nbytes);
// The low 6 bits of `v`, `n` times, lowest first, as crypt's alphabet.
void to64(char* s, unsigned long v, int n);
// 16 bytes as 32 lower-case hex digits and a NUL.
void CvtHex(const HASH Bin, HASHHEX Hex);

}  // extern "C"

// The MD5-crypt rounds for any magic word: "$apr1$" for Apache's files, "$1$"
// is the system crypt's variant of the same rounds. The salt is the text after
// `magic` (when it starts with it) up to the next "$", at most 8 characters.
void md5_crypt_encode(const char* magic, const char* pw, const char* salt, char* result, size_t nbytes);

}  // namespace hx
