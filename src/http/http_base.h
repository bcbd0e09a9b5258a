// The records every part of the HTTP server shares, and that plugins loaded
// at run time bind to by layout and C name: the server's one state record
// `server` (with its global and per-block settings), the parts of a
// `connection` that the request and response code and the web application
// read, and the result and state enumerations.
//
// The value types (buffers, arrays, bit sets, file mappings) have headers of
// their own, included here, so a plugin or module needs only this one.
//
// Threads: the server record and every connection belong to the HTTP server
// thread; nothing here is locked. server_init and server_free run at the
// start and end of that thread.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "http/array.h"
#include "http/bitset.h"
#include "http/buffer.h"
#include "http/failed_assert.h"
#include "http/stream.h"

namespace hx {

// Result of request, descriptor and plugin handlers.
enum handler_t {
    HANDLER_UNSET = 0,
    HANDLER_GO_ON = 1,
    HANDLER_FINISHED = 2,
    HANDLER_COMEBACK = 3,
    HANDLER_WAIT_FOR_EVENT = 4,
    HANDLER_ERROR = 5,
    HANDLER_WAIT_FOR_FD = 6,
};

enum connection_state_t {
    CON_STATE_CONNECT = 0,
    CON_STATE_REQUEST_START = 1,
    CON_STATE_READ = 2,
    CON_STATE_REQUEST_END = 3,
    CON_STATE_READ_POST = 4,
    CON_STATE_HANDLE_REQUEST = 5,
    CON_STATE_RESPONSE_START = 6,
    CON_STATE_WRITE = 7,
    CON_STATE_RESPONSE_END = 8,
    CON_STATE_ERROR = 9,
    CON_STATE_CLOSE = 10,
};

// Who answers a request: the core, or a plugin that took it.
enum connection_type {
    DIRECT = 0,
    EXTERNAL = 1,
};

enum http_method_t {
    HTTP_METHOD_UNSET = -1,
    HTTP_METHOD_GET,
    HTTP_METHOD_HEAD,
    HTTP_METHOD_POST,
    HTTP_METHOD_PUT,
    HTTP_METHOD_DELETE,
    HTTP_METHOD_CONNECT,
    HTTP_METHOD_OPTIONS,
    HTTP_METHOD_TRACE,
    HTTP_METHOD_ACL,
    HTTP_METHOD_BASELINE_CONTROL,
    HTTP_METHOD_BIND,
    HTTP_METHOD_CHECKIN,
    HTTP_METHOD_CHECKOUT,
    HTTP_METHOD_COPY,
    HTTP_METHOD_LABEL,
    HTTP_METHOD_LINK,
    HTTP_METHOD_LOCK,
    HTTP_METHOD_MERGE,
    HTTP_METHOD_MKACTIVITY,
    HTTP_METHOD_MKCALENDAR,
    HTTP_METHOD_MKCOL,
    HTTP_METHOD_MKREDIRECTREF,
    HTTP_METHOD_MKWORKSPACE,
    HTTP_METHOD_MOVE,
    HTTP_METHOD_ORDERPATCH,
    HTTP_METHOD_PATCH,
    HTTP_METHOD_PROPFIND,
    HTTP_METHOD_PROPPATCH,
    HTTP_METHOD_REBIND,
    HTTP_METHOD_REPORT,
    HTTP_METHOD_SEARCH,
    HTTP_METHOD_UNBIND,
    HTTP_METHOD_UNCHECKOUT,
    HTTP_METHOD_UNLINK,
    HTTP_METHOD_UNLOCK,
    HTTP_METHOD_UPDATE,
    HTTP_METHOD_UPDATEREDIRECTREF,
    HTTP_METHOD_VERSION_CONTROL,
};

enum http_version_t {
    HTTP_VERSION_UNSET = -1,
    HTTP_VERSION_1_0 = 0,
    HTTP_VERSION_1_1 = 1,
};

// Where the server's own diagnostics go.
enum errorlog_mode_t {
    ERRORLOG_FILE = 0,
    ERRORLOG_FD = 1,
    ERRORLOG_SYSLOG = 2,
    ERRORLOG_PIPE = 3,
};

// Event loop back ends; only select, poll and epoll can be set up.
enum fdevent_handler_t {
    FDEVENT_HANDLER_UNSET = 0,
    FDEVENT_HANDLER_SELECT = 1,
    FDEVENT_HANDLER_POLL = 2,
    FDEVENT_HANDLER_LINUX_SYSEPOLL = 3,
    FDEVENT_HANDLER_SOLARIS_DEVPOLL = 4,
    FDEVENT_HANDLER_SOLARIS_PORT = 5,
    FDEVENT_HANDLER_FREEBSD_KQUEUE = 6,
    FDEVENT_HANDLER_LIBEV = 7,
};

enum stat_cache_engine_t {
    STAT_CACHE_ENGINE_UNSET = 0,
    STAT_CACHE_ENGINE_NONE = 1,
    STAT_CACHE_ENGINE_SIMPLE = 2,
};

// Records of the listeners, the event loop, the plugins, the chunk queues and
// the stat cache belong to their own modules.
struct server_socket;
struct fdevents;
struct plugin;
struct chunkqueue;
struct chunk;
struct stat_cache;
struct connection;
struct server;

// Where a search for a header's end stopped in the read queue, so the next
// search starts in that chunk instead of walking the queue from its first:
// the chunk, the bytes from the read position before it, and the queue's
// first chunk and its offset then (the place holds only while both are
// unchanged). All null/0 for none.
struct http_header_end_resume {
    const chunk* at;
    http_off_t at_position;
    const chunk* first;
    http_off_t first_offset;
};

// The server-wide settings (`srvconf`). Buffers and arrays are created by
// server_init and released by server_free.
struct server_config {
    std::uint16_t port;
    buffer* bindhost;
    buffer* errorlog_file;
    std::uint16_t errorlog_use_syslog;
    buffer* breakagelog_file;
    std::uint16_t dont_daemonize;
    buffer* changeroot;
    buffer* username;
    buffer* groupname;
    buffer* pid_file;
    buffer* event_handler;
    buffer* modules_dir;
    buffer* network_backend;
    array* modules;
    array* upload_tempdirs;
    std::uint16_t max_worker;
    std::uint16_t max_fds;
    std::uint16_t max_conns;
    std::uint32_t max_request_size;  // kilobytes
    std::uint16_t log_request_header_on_error;
    std::uint16_t log_state_handling;
    stat_cache_engine_t stat_cache_engine;
    std::uint16_t enable_cores;
    std::uint16_t reject_expect_100_with_417;
};

// The settings of one configuration block, one per block in
// `config_storage`; a connection holds its own copy in its settings. Made
// with calloc, every buffer and `mimetypes` owned by the record (server_free
// releases them).
struct specific_config {
    array* mimetypes;
    buffer* document_root;
    buffer* server_name;
    buffer* error_handler;
    buffer* server_tag;
    buffer* dirlist_encoding;
    buffer* errorfile_prefix;
    std::uint16_t max_keep_alive_requests;
    std::uint16_t max_keep_alive_idle;
    std::uint16_t max_read_idle;
    std::uint16_t max_write_idle;
    std::uint16_t use_xattr;
    std::uint16_t follow_symlink;
    std::uint16_t range_requests;
    std::uint16_t log_file_not_found;
    std::uint16_t log_request_header;
    std::uint16_t log_request_handling;
    std::uint16_t log_response_header;
    std::uint16_t log_condition_handling;
    std::uint16_t log_ssl_noise;
    std::uint16_t log_timeouts;
    buffer* ssl_pemfile;
    buffer* ssl_ca_file;
    buffer* ssl_cipher_list;
    buffer* ssl_dh_file;
    buffer* ssl_ec_curve;
    std::uint16_t ssl_honor_cipher_order;
    std::uint16_t ssl_empty_fragments;
    std::uint16_t ssl_use_sslv2;
    std::uint16_t ssl_use_sslv3;
    std::uint16_t ssl_verifyclient;
    std::uint16_t ssl_verifyclient_enforce;
    std::uint16_t ssl_verifyclient_depth;
    buffer* ssl_verifyclient_username;
    std::uint16_t ssl_verifyclient_export_cert;
    std::uint16_t ssl_disable_client_renegotiation;
    std::uint16_t use_ipv6;
    std::uint16_t set_v6only;
    std::uint16_t defer_accept;
    std::uint16_t ssl_enabled;
    std::uint16_t allow_http11;
    std::uint16_t etag_use_inode;
    std::uint16_t etag_use_mtime;
    std::uint16_t etag_use_size;
    std::uint16_t force_lowercase_filenames;
    std::uint32_t max_request_size;
    std::uint16_t kbytes_per_second;
    std::uint16_t global_kbytes_per_second;
    http_off_t global_bytes_per_second_cnt;
    // The counter a connection charges: that of the block whose
    // "server.kbytes-per-second" applies.
    http_off_t* global_bytes_per_second_cnt_ptr;
};

// The request as read and parsed.
struct request {
    buffer* request;  // raw header text, request line included, up to the empty line
    buffer* uri;
    buffer* orig_uri;
    http_method_t http_method;
    http_version_t http_version;
    buffer* request_line;
    buffer* http_host;
    // Pointers into the header values, or null.
    const char* http_range;
    const char* http_content_type;
    const char* http_if_modified_since;
    const char* http_if_none_match;
    array* headers;  // data_string per header line
    size_t content_length;
    int accept_encoding;
    buffer* pathinfo;
};

struct request_uri {
    buffer* scheme;
    buffer* authority;
    buffer* path;
    buffer* path_raw;
    buffer* query;
};

struct physical {
    buffer* path;
    buffer* basedir;
    buffer* doc_root;
    buffer* rel_path;
    buffer* etag;
};

// Bits of the response's `transfer_encoding`.
enum http_transfer_encoding_t {
    HTTP_TRANSFER_ENCODING_IDENTITY = 0,
    HTTP_TRANSFER_ENCODING_CHUNKED = 1,
};

struct response {
    http_off_t content_length;  // -1 while unknown
    int keep_alive;
    array* headers;
    int transfer_encoding;  // bit 0: chunked
};

// A socket address: IPv4, Unix-domain or plain (no IPv6 member).
union sock_addr {
    sockaddr_in ipv4;
    sockaddr_un un;
    sockaddr plain;
};

// One listener.
struct server_socket {
    sock_addr addr;
    int fd;       // -1 when closed
    int fde_ndx;  // -1 when not registered
    std::uint16_t is_ssl;
    buffer* srv_token;  // the text the listener was made from, host:port
};

enum cond_result_t {
    COND_RESULT_UNSET = 0,
    COND_RESULT_FALSE = 1,
    COND_RESULT_TRUE = 2,
};

// A connection's cached result of one configuration condition.
struct cond_cache_t {
    cond_result_t result;
    int patterncount;
    int matches[30];
    buffer* comp_value;
    comp_key_t comp_type;
};

// One client connection, one per client socket; the connection table owns it
// and reuses it after close (its buffers keep their memory). Fields in the
// order plugins expect them.
struct connection {
    connection_state_t state;
    std::time_t read_idle_ts;
    std::time_t close_timeout_ts;
    std::time_t write_request_ts;  // last write progress, 0 before the first
    std::time_t connection_start;
    std::time_t request_start;
    timeval start_tv;

    size_t request_count;  // requests on this connection
    size_t loops_per_request;

    int fd;
    int fde_ndx;  // event-loop slot, -1 none
    int ndx;      // index in the connection table, -1 none

    int is_readable;
    int read_left_room;  // the last read did not fill its buffer: nothing big waits
    int is_writable;
    int keep_alive;
    int keep_alive_idle;  // seconds
    int file_started;
    int file_finished;

    chunkqueue* write_queue;            // the response to send
    chunkqueue* read_queue;             // raw bytes read
    chunkqueue* request_content_queue;  // the request body

    int traffic_limit_reached;
    http_off_t bytes_written;
    http_off_t bytes_written_cur_second;
    http_off_t bytes_read;
    http_off_t bytes_header;

    int http_status;  // 0 while not decided

    sock_addr dst_addr;  // the client
    buffer* dst_addr_buf;

    buffer* parse_request;      // the parser's working copy of the header
    unsigned int parsed_response;  // kParsedResponse* bits set by plugins

    struct request request;
    request_uri uri;
    struct physical physical;
    struct response response;
    size_t header_len;

    array* environment;
    int got_response;
    int in_joblist;
    connection_type mode;
    void** plugin_ctx;  // one slot per loaded plugin, plus one
    specific_config conf;      // this request's settings
    cond_cache_t* cond_cache;  // one entry per configuration block

    buffer* server_name;
    buffer* error_handler;
    int error_handler_saved_status;
    int in_error_handler;
    server_socket* srv_socket;  // the listener it came from
    int etag_flags;
    int conditional_is_valid[COMP_LAST_ELEMENT];

    // Where the search for the header's end stopped: bytes of the read queue
    // already looked at, and how much of CR LF CR LF ended them. A header that
    // arrives byte by byte is then scanned once, not once per byte.
    http_off_t header_scanned;
    int header_matched;
    http_header_end_resume header_resume;  // cleared with header_scanned
};

// Bits of `parsed_response`: headers a plugin has already put in place.
constexpr unsigned int kParsedResponseConnection = 2;
constexpr unsigned int kParsedResponseContentLength = 4;

// {ptr, size, used} lists of the server record.
struct server_socket_array {
    server_socket** ptr;
    size_t size;
    size_t used;
};

struct buffer_plugin {
    plugin** ptr;
    size_t size;
    size_t used;
};

struct connections {
    connection** ptr;
    size_t size;
    size_t used;
};

// A formatted modification time and the second it was made for.
struct mtime_cache_type {
    std::time_t mtime;  // -1 while the slot is unused
    buffer* str;
};

constexpr size_t kMtimeCacheSlots = 16;
constexpr size_t kPluginHookLists = 16;

using network_backend_write_t = int (*)(server* srv, connection* con, int fd, chunkqueue* cq, http_off_t max_bytes);

struct server {
    server_socket_array srv_sockets;

    int errorlog_fd;
    errorlog_mode_t errorlog_mode;
    buffer* errorlog_buf;

    fdevents* ev;
    fdevents* ev_ins;  // never used

    buffer_plugin plugins;
    plugin*** plugin_slots;  // kPluginHookLists lists of the plugins defining each hook

    int con_opened;
    int con_read;
    int con_written;
    int con_closed;
    int ssl_is_init;

    int max_fds;
    int cur_fds;
    int want_fds;
    int sockets_disabled;
    size_t max_conns;

    // Scratch buffers shared by the whole server.
    buffer* parse_full_path;
    buffer* response_header;
    buffer* response_range;
    buffer* tmp_buf;
    buffer* tmp_chunk_len;
    buffer* empty_string;
    buffer* cond_check_buf;

    mtime_cache_type mtime_cache[kMtimeCacheSlots];

    array* split_vals;

    std::time_t cur_ts;  // the event loop's current second
    std::time_t last_generated_date_ts;
    std::time_t last_generated_debug_ts;
    std::time_t startup_ts;

    unsigned char entropy[8];
    unsigned char is_real_entropy;

    buffer* ts_debug_str;
    buffer* ts_date_str;

    // The global block's settings once a configuration is read; until then an
    // empty array of its own, which the reader releases when it repoints this.
    array* config;
    array* config_touched;  // every key the core or a plugin has read
    array* config_context;  // all blocks
    specific_config** config_storage;  // one per block, by its context_ndx

    server_config srvconf;

    std::uint16_t config_deprecated;
    std::uint16_t config_unsupported;

    connections* conns;
    connections* joblist;
    connections* fdwaitqueue;

    struct stat_cache* stat_cache;
    array* status;  // plugin counters
    fdevent_handler_t event_handler;
    network_backend_write_t network_backend_write;

    uid_t uid;
    gid_t gid;
};

extern "C" {

// A zeroed server with every buffer and array created, the random generator
// seeded from the server's entropy, the clock read, and the error log on
// descriptor 2.
server* server_init(void);
// Releases everything server_init created, the event loop, the connection
// lists, the stat cache and every block's settings; then the record.
void server_free(server* srv);

}  // extern "C"

}  // namespace hx
