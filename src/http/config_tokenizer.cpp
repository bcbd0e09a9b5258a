// The configuration tokenizer: one token per call, with the line and column
// kept for the messages. The input ends at its size or at the first NUL byte.
#include <cstdio>
#include <cstring>

#include "http/config_file.h"
#include "http/errorlog.h"

namespace hx {

namespace {

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_name_char(char c) {
    return is_letter(c) || is_digit(c) || c == '.' || c == '_' || c == '-';
}

int fail(server* srv, const tokenizer_t* t, const char* message) {
    log_error_write(srv, "configfile", __LINE__, "sbsdsds", "source:", t->source, "line:", t->line, "pos:",
                    t->line_pos, message);
    return -1;
}

// The byte at `at`, or NUL past the end: a NUL byte ends the input as well.
char at(const tokenizer_t* t, size_t offset) {
    return offset < t->size ? t->input[offset] : '\0';
}

int emit(int* token_id, buffer* token, int code, const char* text, size_t length) {
    *token_id = code;
    buffer_copy_string_len(token, text, length);
    return 1;
}

// Skips one line end ("\r\n" counting as one) at the offset.
void skip_line_end(tokenizer_t* t) {
    if (at(t, t->offset) == '\r' && at(t, t->offset + 1) == '\n') {
        ++t->offset;
    }
    ++t->offset;
    ++t->line;
    t->line_pos = 1;
}

void skip_comment(tokenizer_t* t) {
    while (t->offset < t->size) {
        const char c = t->input[t->offset];
        if (c == '\n' || c == '\r' || c == '\0') {
            break;
        }
        ++t->offset;
        ++t->line_pos;
    }
}

}  // namespace

int tokenizer_init(tokenizer_t* t, const buffer* source, const char* input, size_t size) {
    t->source = const_cast<buffer*>(source);
    t->input = input;
    t->offset = 0;
    t->size = size;
    t->line_pos = 1;
    t->line = 1;
    t->in_key = 1;
    t->in_brace = 0;
    t->in_cond = 0;
    return 0;
}

int config_tokenizer(server* srv, tokenizer_t* t, int* token_id, buffer* token) {
    while (t->offset < t->size) {
        const char c = t->input[t->offset];
        const char next = at(t, t->offset + 1);
        switch (c) {
        case '\0':
            std::fprintf(stderr, "%s.%d: %d, %s\n", http_source_name(__FILE__), __LINE__, 0,
                         token->used > 0 ? token->ptr : "");
            return 0;
        case '=':
            if (t->in_brace > 0) {
                if (next != '>') {
                    return fail(srv, t, "use => for assignments in arrays");
                }
                t->offset += 2;
                return emit(token_id, token, TK_ARRAY_ASSIGN, "=>", 2);
            }
            if (t->in_cond) {
                if (next != '=' && next != '~') {
                    return fail(srv, t, "only =~ and == are allowed in the condition");
                }
                t->offset += 2;
                t->in_cond = 0;
                t->in_key = 1;
                return next == '=' ? emit(token_id, token, TK_EQ, "==", 2) : emit(token_id, token, TK_MATCH, "=~", 2);
            }
            if (!t->in_key) {
                return fail(srv, t, "unexpected equal-sign: =");
            }
            ++t->offset;
            ++t->line_pos;
            return emit(token_id, token, TK_ASSIGN, "=", 1);
        case '!':
            if (!t->in_cond) {
                return fail(srv, t, "unexpected exclamation-marks: !");
            }
            if (next != '=' && next != '~') {
                return fail(srv, t, "only !~ and != are allowed in the condition");
            }
            t->offset += 2;
            t->in_cond = 0;
            t->in_key = 1;
            return next == '=' ? emit(token_id, token, TK_NE, "!=", 2) : emit(token_id, token, TK_NOMATCH, "!~", 2);
        case ' ':
        case '\t':
            ++t->offset;
            ++t->line_pos;
            continue;
        case '\n':
        case '\r':
            if (t->in_brace > 0) {
                skip_line_end(t);
                continue;
            }
            skip_line_end(t);
            // Empty lines, blank lines and comment lines make one line end.
            while (t->offset < t->size) {
                const char more = t->input[t->offset];
                if (more == ' ' || more == '\t') {
                    ++t->offset;
                    ++t->line_pos;
                } else if (more == '\n' || more == '\r') {
                    skip_line_end(t);
                } else if (more == '#') {
                    skip_comment(t);
                } else {
                    break;
                }
            }
            t->in_key = 1;
            return emit(token_id, token, TK_EOL, "(EOL)", 5);
        case ',':
            ++t->offset;
            ++t->line_pos;
            if (t->in_brace > 0) {
                return emit(token_id, token, TK_COMMA, "(COMMA)", 7);
            }
            continue;
        case '"': {
            size_t end = t->offset + 1;
            buffer_copy_string_len(token, "", 0);
            size_t run = end;
            for (;; ++end) {
                const char inside = at(t, end);
                if (inside == '\0' && end >= t->size) {
                    return fail(srv, t, "missing closing quote");
                }
                if (inside == '\0' && end < t->size) {
                    return fail(srv, t, "missing closing quote");
                }
                if (inside == '\\' && at(t, end + 1) == '"') {
                    buffer_append_string_len(token, t->input + run, end - run);
                    run = end + 1;
                    ++end;
                    continue;
                }
                if (inside == '"') {
                    break;
                }
            }
            buffer_append_string_len(token, t->input + run, end - run);
            t->line_pos += static_cast<int>(end - t->offset - 1) + 2;
            t->offset = end + 1;
            *token_id = TK_STRING;
            return 1;
        }
        case '(':
            ++t->offset;
            ++t->in_brace;
            return emit(token_id, token, TK_LPARAN, "(", 1);
        case ')':
            ++t->offset;
            --t->in_brace;
            return emit(token_id, token, TK_RPARAN, ")", 1);
        case '[':
            ++t->offset;
            return emit(token_id, token, TK_LBRACKET, "[", 1);
        case ']':
            ++t->offset;
            return emit(token_id, token, TK_RBRACKET, "]", 1);
        case '{':
            ++t->offset;
            return emit(token_id, token, TK_LCURLY, "{", 1);
        case '}':
            ++t->offset;
            return emit(token_id, token, TK_RCURLY, "}", 1);
        case '+':
            if (next == '=') {
                t->offset += 2;
                return emit(token_id, token, TK_APPEND, "+=", 2);
            }
            ++t->offset;
            return emit(token_id, token, TK_PLUS, "+", 1);
        case '$':
            ++t->offset;
            t->in_cond = 1;
            t->in_key = 0;
            return emit(token_id, token, TK_DOLLAR, "$", 1);
        case '#':
            skip_comment(t);
            continue;
        default:
            break;
        }
        size_t end = t->offset;
        if (t->in_cond) {
            while (is_letter(at(t, end))) {
                ++end;
            }
            if (end == t->offset || end >= t->size || at(t, end) == '\0') {
                return fail(srv, t, "invalid character in condition");
            }
            const size_t length = end - t->offset;
            emit(token_id, token, TK_SRVVARNAME, t->input + t->offset, length);
            t->offset = end;
            return 1;
        }
        if (is_digit(c)) {
            while (is_digit(at(t, end))) {
                ++end;
            }
            const size_t length = end - t->offset;
            emit(token_id, token, TK_INTEGER, t->input + t->offset, length);
            t->offset = end;
            t->line_pos += static_cast<int>(length);
            return 1;
        }
        while (is_name_char(at(t, end))) {
            ++end;
        }
        if (end == t->offset || end >= t->size || at(t, end) == '\0') {
            return fail(srv, t, "invalid character in variable name");
        }
        const size_t length = end - t->offset;
        const char* name = t->input + t->offset;
        int code = TK_LKEY;
        if (length == 6 && std::memcmp(name, "global", 6) == 0) {
            code = TK_GLOBAL;
        } else if (length == 4 && std::memcmp(name, "else", 4) == 0) {
            code = TK_ELSE;
        } else if (length == 7 && std::memcmp(name, "include", 7) == 0) {
            code = TK_INCLUDE;
        } else if (length == 13 && std::memcmp(name, "include_shell", 13) == 0) {
            code = TK_INCLUDE_SHELL;
        }
        emit(token_id, token, code, name, length);
        t->offset = end;
        t->line_pos += static_cast<int>(length);
        return 1;
    }
    return 0;
}

}  // namespace hx
