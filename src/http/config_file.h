// The configuration file language of the HTTP server: its tokenizer, its
// parser (a recursive descent of our own over the token stream of one file or
// command output), the parse context shared by nested includes, the file and
// command readers, and the pipe-and-child routines that run an
// `include_shell` command.
//
// Callers: the configuration keys module (config_read) and plugins that merge
// values. Runs in the HTTP server thread before its event loop starts;
// `include_shell` changes the working directory of the whole process while its
// command runs, which is why the main file's path is absolute.
//
// Contract: every routine returns 0 or -1 (the tokenizer 1 per token, 0 at the
// end). Tokenizer and reader messages go to the error log with the source name
// "configfile"; the parser's semantic messages and the child-process messages
// go to standard error. A failed parse leaves the blocks made so far in the
// context; the caller gives up on the whole configuration.
#pragma once
#include <cstddef>

#include "http/http_base.h"

namespace hx {

// Token codes.
enum config_token_t {
    TK_END = 0,
    TK_EOL = 1,
    TK_ASSIGN = 2,
    TK_APPEND = 3,
    TK_LKEY = 4,
    TK_PLUS = 5,
    TK_STRING = 6,
    TK_INTEGER = 7,
    TK_LPARAN = 8,
    TK_RPARAN = 9,
    TK_COMMA = 10,
    TK_ARRAY_ASSIGN = 11,
    TK_GLOBAL = 12,
    TK_LCURLY = 13,
    TK_RCURLY = 14,
    TK_ELSE = 15,
    TK_DOLLAR = 16,
    TK_SRVVARNAME = 17,
    TK_LBRACKET = 18,
    TK_RBRACKET = 19,
    TK_EQ = 20,
    TK_MATCH = 21,
    TK_NE = 22,
    TK_NOMATCH = 23,
    TK_INCLUDE = 24,
    TK_INCLUDE_SHELL = 25,
};

// Blocks and parentheses nested deeper than this are refused.
constexpr int kConfigMaxNesting = 25;
// `include` and `include_shell` nested deeper than this are refused, so a file
// that includes itself fails instead of recursing until the process dies.
constexpr int kConfigMaxIncludeDepth = 16;
// Merged values above these bounds fail the parse (a repeated `x += x` would
// otherwise exhaust memory).
constexpr size_t kConfigMaxStringBytes = 1024 * 1024;
constexpr size_t kConfigMaxArrayElements = 65536;

struct config_t {
    server* srv;
    int ok;
    array* all_configs;     // every block, by context_ndx; the server's config_context
    array* configs_stack;   // weak: blocks entered and not yet left
    data_config* current;   // receives the assignments
    buffer* basedir;        // the main file's directory with its '/', or empty
    int include_depth;      // includes being read right now
};

struct tokenizer_t {
    buffer* source;  // file name or command text, for messages
    const char* input;
    size_t offset;
    size_t size;
    int line_pos;
    int line;
    int in_key;
    int in_brace;
    int in_cond;
};

struct pipe_t {
    int parent;
    int child;
    int fd;  // the child's standard descriptor; the server's end once started
};

struct proc_handler_t {
    pipe_t in;
    pipe_t out;
    pipe_t err;
    pid_t child;
};

struct config_parser;

// Reads a whole file, or runs a command, for `include` and `include_shell`.
// Tests and the fuzz target put fixtures here; null means the real readers.
struct config_source_hooks {
    // 0 with the text in `out`, or -1 with errno set.
    int (*read_file)(const buffer* name, buffer* out);
    int (*run_command)(const buffer* command, buffer* out);
};

extern "C" {

int config_parse_file(server* srv, config_t* context, const char* name);
int config_parse_cmd(server* srv, config_t* context, const char* command);
int config_parse(server* srv, config_t* context, tokenizer_t* t);

int tokenizer_init(tokenizer_t* t, const buffer* source, const char* input, size_t size);
int config_tokenizer(server* srv, tokenizer_t* t, int* token_id, buffer* token);

int context_init(server* srv, config_t* context);
int context_free(config_t* context);

char* getCWD(void);

config_parser* configparserAlloc(void);
// Hands one token to the parser, which takes ownership of `token`; the code
// TK_END ends the input and runs the statements.
void configparser(config_parser* parser, int token_code, buffer* token, config_t* context);
void configparserFree(config_parser* parser);

void configparser_push(config_t* context, data_config* block, int is_new);
data_config* configparser_pop(config_t* context);
// A copy of the value of `key` in the current block or the nearest enclosing
// one, or null.
data_unset* configparser_get_variable(config_t* context, const buffer* key);
// op1 with op2 merged in (op2 released), or null after printing why; op1 is
// released on failure too.
data_unset* configparser_merge_data(data_unset* op1, const data_unset* op2);

int proc_open(proc_handler_t* proc, const char* command);
int proc_close(proc_handler_t* proc);
int proc_open_buffer(const char* command, buffer* in, buffer* out, buffer* err);
int proc_read_fd_to_buffer(int fd, buffer* b);

int pipe_open(pipe_t* p, int fd);
void pipe_close(pipe_t* p);
void pipe_close_parent(pipe_t* p);
void pipe_close_child(pipe_t* p);
int proc_open_pipes(proc_handler_t* proc);
void proc_close_pipes(proc_handler_t* proc);
void proc_close_parents(proc_handler_t* proc);
void proc_close_childs(proc_handler_t* proc);

}  // extern "C"

// Replaces the readers of included files and commands (null restores them).
void config_set_source_hooks(const config_source_hooks* hooks);

}  // namespace hx
