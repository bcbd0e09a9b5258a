// The configuration parser: a recursive descent over the tokens of one file or
// command output, with the statements' meaning applied as they are recognised,
// and the driver that feeds it from the tokenizer.
//
// The grammar, in short: statements need no separator and line ends are empty
// statements; a conditional chain ends at a line end (an "else" may follow on
// the next line); arrays allow empty elements after a comma. Any input the
// grammar does not accept fails the parse, without recovery.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "http/config_file.h"
#include "http/errorlog.h"

namespace hx {

namespace {

struct Token {
    int code;
    buffer* text;
    int line;
    int column;
};

}  // namespace

struct config_parser {
    std::vector<Token> tokens;
    int line = 0;    // position of the next token handed in
    int column = 0;
    long failed_at = -1;  // token the parse stopped on, once it failed
};

namespace {

const char* text_of(const buffer* b) {
    return b != nullptr && b->used > 0 ? b->ptr : "";
}

size_t length_of(const buffer* b) {
    return b != nullptr && b->used > 0 ? b->used - 1 : 0;
}

// The bounds of a merged value: elements at every depth, and text bytes.
struct Weight {
    size_t elements = 0;
    size_t bytes = 0;
};

Weight weight_of(const data_unset* du) {
    Weight weight;
    if (du->type == TYPE_STRING) {
        weight.bytes = length_of(static_cast<const data_string*>(du)->value);
    } else if (du->type == TYPE_ARRAY) {
        const array* a = static_cast<const data_array*>(du)->value;
        for (size_t i = 0; i < a->used; ++i) {
            const Weight inner = weight_of(a->data[i]);
            weight.elements += inner.elements + 1;
            weight.bytes += inner.bytes;
        }
    }
    return weight;
}

bool too_heavy(const Weight& weight) {
    return weight.elements > kConfigMaxArrayElements || weight.bytes > kConfigMaxStringBytes;
}

data_string* new_string(const char* text, size_t length) {
    data_string* ds = data_string_init();
    buffer_copy_string_len(ds->value, text, length);
    return ds;
}

std::string decimal(int value) {
    char digits[16];
    const int length = LI_ltostr(digits, value);
    return std::string(digits, static_cast<size_t>(length));
}

int saturated_sum(int a, int b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    if (sum > INT_MAX) {
        return INT_MAX;
    }
    if (sum < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(sum);
}

data_unset* fail_merge(data_unset* op1, const char* message) {
    std::fputs(message, stderr);
    op1->free(op1);
    return nullptr;
}

constexpr const char* kTypeMismatch = "data type mismatch, cannot merge\n";
constexpr const char* kTooLarge = "value too large, cannot merge\n";

}  // namespace

data_unset* configparser_merge_data(data_unset* op1, const data_unset* op2) {
    if (op1->type != op2->type) {
        if (op1->type == TYPE_STRING && op2->type == TYPE_INTEGER) {
            auto* ds = static_cast<data_string*>(op1);
            const std::string text = decimal(static_cast<const data_integer*>(op2)->value);
            if (length_of(ds->value) + text.size() > kConfigMaxStringBytes) {
                return fail_merge(op1, kTooLarge);
            }
            buffer_append_string_len(ds->value, text.data(), text.size());
            return op1;
        }
        if (op1->type == TYPE_INTEGER && op2->type == TYPE_STRING) {
            const buffer* tail = static_cast<const data_string*>(op2)->value;
            const std::string text = decimal(static_cast<data_integer*>(op1)->value);
            if (text.size() + length_of(tail) > kConfigMaxStringBytes) {
                return fail_merge(op1, kTooLarge);
            }
            data_string* ds = new_string(text.data(), text.size());
            buffer_append_string_len(ds->value, text_of(tail), length_of(tail));
            buffer_copy_string_buffer(ds->key, op1->key);
            op1->free(op1);
            return ds;
        }
        return fail_merge(op1, kTypeMismatch);
    }
    switch (op1->type) {
    case TYPE_STRING: {
        auto* ds = static_cast<data_string*>(op1);
        const buffer* tail = static_cast<const data_string*>(op2)->value;
        if (length_of(ds->value) + length_of(tail) > kConfigMaxStringBytes) {
            return fail_merge(op1, kTooLarge);
        }
        buffer_append_string_len(ds->value, text_of(tail), length_of(tail));
        return op1;
    }
    case TYPE_INTEGER: {
        auto* di = static_cast<data_integer*>(op1);
        di->value = saturated_sum(di->value, static_cast<const data_integer*>(op2)->value);
        return op1;
    }
    case TYPE_ARRAY: {
        array* target = static_cast<data_array*>(op1)->value;
        const array* source = static_cast<const data_array*>(op2)->value;
        Weight total = weight_of(op1);
        const Weight added = weight_of(op2);
        total.elements += added.elements;
        total.bytes += added.bytes;
        if (too_heavy(total)) {
            return fail_merge(op1, kTooLarge);
        }
        // Keyed elements meeting one of another kind would reach the
        // array's type-clash check, which ends the process.
        for (size_t i = 0; i < source->used; ++i) {
            const data_unset* element = source->data[i];
            if (element->is_index_key) {
                continue;
            }
            const data_unset* present = array_get_element(target, text_of(element->key));
            if (present != nullptr && present->type != element->type) {
                return fail_merge(op1, kTypeMismatch);
            }
        }
        for (size_t i = 0; i < source->used; ++i) {
            data_unset* copy = source->data[i]->copy(source->data[i]);
            if (copy->is_index_key) {
                buffer_reset(copy->key);
                copy->is_index_key = 0;
            }
            array_insert_unique(target, copy);
        }
        return op1;
    }
    default:
        return fail_merge(op1, kTypeMismatch);
    }
}

void configparser_push(config_t* context, data_config* block, int is_new) {
    if (is_new) {
        block->context_ndx = static_cast<int>(context->all_configs->used);
        array_insert_unique(context->all_configs, block);
        if (context->current != nullptr) {
            block->parent = context->current;
            array_insert_unique(context->current->childs, block);
        }
    }
    if (context->current != nullptr) {
        // Used only as a stack and never searched: entries go straight into
        // the slots, so a block's key can never meet a key-merge here.
        array* stack = context->configs_stack;
        if (stack->used == stack->size) {
            const size_t slots = stack->size + 16;
            auto* data = static_cast<data_unset**>(std::realloc(stack->data, slots * sizeof(data_unset*)));
            HTTP_ASSERT(data);
            stack->data = data;
            auto* sorted = static_cast<size_t*>(std::realloc(stack->sorted, slots * sizeof(size_t)));
            HTTP_ASSERT(sorted);
            stack->sorted = sorted;
            stack->size = slots;
        }
        stack->sorted[stack->used] = stack->used;
        stack->data[stack->used++] = context->current;
    }
    context->current = block;
}

data_config* configparser_pop(config_t* context) {
    data_config* old = context->current;
    array* stack = context->configs_stack;
    HTTP_ASSERT(stack->used > 0);
    --stack->used;
    context->current = static_cast<data_config*>(stack->data[stack->used]);
    stack->data[stack->used] = nullptr;
    return old;
}

data_unset* configparser_get_variable(config_t* context, const buffer* key) {
    const data_unset* found = nullptr;
    if (context->current != nullptr) {
        found = array_get_element(context->current->value, text_of(key));
    }
    for (size_t i = context->configs_stack->used; found == nullptr && i > 0; --i) {
        const auto* block = static_cast<const data_config*>(context->configs_stack->data[i - 1]);
        found = array_get_element(block->value, text_of(key));
    }
    return found != nullptr ? found->copy(found) : nullptr;
}

namespace {

const struct {
    const char* text;
    comp_key_t comp;
} kConditionNames[] = {
    {"SERVER[\"socket\"]", COMP_SERVER_SOCKET},         {"HTTP[\"url\"]", COMP_HTTP_URL},
    {"HTTP[\"host\"]", COMP_HTTP_HOST},                 {"HTTP[\"referer\"]", COMP_HTTP_REFERER},
    {"HTTP[\"useragent\"]", COMP_HTTP_USER_AGENT},      {"HTTP[\"user-agent\"]", COMP_HTTP_USER_AGENT},
    {"HTTP[\"language\"]", COMP_HTTP_LANGUAGE},         {"HTTP[\"cookie\"]", COMP_HTTP_COOKIE},
    {"HTTP[\"remoteip\"]", COMP_HTTP_REMOTE_IP},        {"HTTP[\"remote-ip\"]", COMP_HTTP_REMOTE_IP},
    {"HTTP[\"querystring\"]", COMP_HTTP_QUERY_STRING},  {"HTTP[\"query-string\"]", COMP_HTTP_QUERY_STRING},
    {"HTTP[\"scheme\"]", COMP_HTTP_SCHEME},             {"HTTP[\"request-method\"]", COMP_HTTP_REQUEST_METHOD},
};

// Deleter of parsed values that the parse gives up on.
struct Value {
    data_unset* du = nullptr;
    Value() = default;
    explicit Value(data_unset* d) : du(d) {}
    Value(Value&& other) noexcept : du(other.du) { other.du = nullptr; }
    Value& operator=(Value&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~Value() { reset(nullptr); }
    data_unset* release() {
        data_unset* d = du;
        du = nullptr;
        return d;
    }
    void reset(data_unset* d) {
        if (du != nullptr) {
            du->free(du);
        }
        du = d;
    }
};

class Parser {
public:
    Parser(config_t* context, config_parser* parser) : context_(context), parser_(parser) {}

    void run() {
        metalines(false);
        if (context_->ok == 0 && parser_->failed_at < 0) {
            parser_->failed_at = static_cast<long>(position_);
        }
    }

private:
    int peek(size_t ahead = 0) const {
        const size_t at = position_ + ahead;
        return at < parser_->tokens.size() ? parser_->tokens[at].code : TK_END;
    }
    const buffer* text(size_t ahead = 0) const { return parser_->tokens[position_ + ahead].text; }
    void advance() { ++position_; }
    bool ok() const { return context_->ok != 0; }

    void fail() {
        if (context_->ok != 0) {
            context_->ok = 0;
            parser_->failed_at = static_cast<long>(position_);
        }
    }
    // A parse error: the driver names the token it stopped on.
    bool syntax_error() {
        fail();
        return false;
    }
    bool expect(int code) {
        if (peek() != code) {
            return syntax_error();
        }
        advance();
        return true;
    }
    bool enter_nesting() {
        if (++nesting_ > kConfigMaxNesting) {
            std::fprintf(stderr, "configuration nested deeper than %d blocks and parentheses\n", kConfigMaxNesting);
            fail();
            return false;
        }
        return true;
    }

    // Statements up to the end of the input, or up to the "}" of a block.
    void metalines(bool in_block) {
        while (ok()) {
            const int code = peek();
            if (code == TK_END) {
                if (in_block) {
                    syntax_error();
                }
                return;
            }
            if (code == TK_RCURLY && in_block) {
                return;
            }
            metaline();
        }
    }

    void metaline() {
        switch (peek()) {
        case TK_EOL:
            advance();
            return;
        case TK_LKEY:
            varline();
            return;
        case TK_GLOBAL:
            global_block();
            return;
        case TK_DOLLAR:
            if (condlines()) {
                expect(TK_EOL);
            }
            return;
        case TK_INCLUDE:
        case TK_INCLUDE_SHELL:
            include();
            return;
        default:
            syntax_error();
            return;
        }
    }

    static std::string key_name(const buffer* name) {
        std::string key(text_of(name), length_of(name));
        if (key.find('.') == std::string::npos) {
            key.insert(0, "var.");
        }
        return key;
    }

    void varline() {
        const std::string key = key_name(text());
        advance();
        const int op = peek();
        if (op != TK_ASSIGN && op != TK_APPEND) {
            syntax_error();
            return;
        }
        advance();
        Value value = expression();
        if (!ok()) {
            return;
        }
        data_config* current = context_->current;
        const bool is_env = key.compare(0, 4, "env.") == 0;
        if (is_env) {
            std::fprintf(stderr, "%s env variable is not supported in conditional %d %s: %s\n",
                         op == TK_ASSIGN ? "Setting" : "Appending", current->context_ndx, text_of(current->key),
                         key.c_str());
            fail();
            return;
        }
        data_unset* present = array_get_element(current->value, key.c_str());
        if (op == TK_ASSIGN) {
            if (present != nullptr) {
                std::fprintf(stderr, "Duplicate config variable in conditional %d %s: %s\n", current->context_ndx,
                             text_of(current->key), key.c_str());
                fail();
                return;
            }
        } else {
            data_unset* base = present != nullptr ? present->copy(present) : nullptr;
            if (base == nullptr) {
                buffer name = {const_cast<char*>(key.c_str()), key.size() + 1, 0};
                base = configparser_get_variable(context_, &name);
            }
            if (base != nullptr) {
                data_unset* merged = configparser_merge_data(base, value.du);
                if (merged == nullptr) {
                    fail();
                    return;
                }
                value.reset(merged);
            }
        }
        buffer_copy_string_len(value.du->key, key.data(), key.size());
        value.du->is_index_key = 0;
        if (present != nullptr) {
            data_unset* old = array_replace(current->value, value.release());
            if (old != nullptr) {
                old->free(old);
            }
        } else {
            array_insert_unique(current->value, value.release());
        }
    }

    Value expression() {
        Value result = value();
        while (ok() && peek() == TK_PLUS) {
            advance();
            Value next = value();
            if (!ok()) {
                return Value();
            }
            data_unset* merged = configparser_merge_data(result.release(), next.du);
            if (merged == nullptr) {
                fail();
                return Value();
            }
            result.reset(merged);
        }
        return result;
    }

    Value value() {
        switch (peek()) {
        case TK_LKEY:
            return variable();
        case TK_STRING: {
            Value v(new_string(text_of(text()), length_of(text())));
            advance();
            return v;
        }
        case TK_INTEGER: {
            data_integer* di = data_integer_init();
            di->value = parse_integer(text());
            advance();
            return Value(di);
        }
        case TK_LPARAN:
            return array_value();
        default:
            syntax_error();
            return Value();
        }
    }

    // Decimal digits; anything past the largest int stays there.
    static int parse_integer(const buffer* digits) {
        std::int64_t value = 0;
        for (size_t i = 0; i < length_of(digits); ++i) {
            value = value * 10 + (digits->ptr[i] - '0');
            if (value > INT_MAX) {
                return INT_MAX;
            }
        }
        return static_cast<int>(value);
    }

    Value variable() {
        const std::string key = key_name(text());
        advance();
        if (key.compare(0, 4, "env.") == 0) {
            const char* found = std::getenv(key.c_str() + 4);
            if (found == nullptr) {
                std::fprintf(stderr, "Undefined env variable: %s\n", key.c_str() + 4);
                fail();
                return Value(new_string("", 0));
            }
            return Value(new_string(found, std::strlen(found)));
        }
        buffer name = {const_cast<char*>(key.c_str()), key.size() + 1, 0};
        data_unset* found = configparser_get_variable(context_, &name);
        if (found == nullptr) {
            std::fprintf(stderr, "Undefined config variable: %s\n", key.c_str());
            fail();
            return Value(new_string("", 0));
        }
        return Value(found);
    }

    Value array_value() {
        advance();  // "("
        if (!enter_nesting()) {
            return Value();
        }
        Value result(data_array_init());
        array* elements = static_cast<data_array*>(result.du)->value;
        Weight weight;
        bool expect_element = true;
        while (ok()) {
            const int code = peek();
            if (code == TK_RPARAN) {
                advance();
                break;
            }
            if (code == TK_COMMA && !expect_element) {
                advance();
                // An empty element after a comma is allowed, but not at the start.
                while (peek() == TK_COMMA) {
                    advance();
                }
                expect_element = true;
                continue;
            }
            if (!expect_element) {
                syntax_error();
                break;
            }
            element(elements, weight);
            expect_element = false;
        }
        --nesting_;
        if (!ok()) {
            return Value();
        }
        return result;
    }

    void element(array* elements, Weight& weight) {
        Value first = expression();
        if (!ok()) {
            return;
        }
        Value item;
        if (peek() == TK_ARRAY_ASSIGN) {
            advance();
            std::string key;
            if (!stringop(first.du, key)) {
                return;
            }
            item = expression();
            if (!ok()) {
                return;
            }
            if (array_get_element(elements, key.c_str()) != nullptr) {
                std::fprintf(stderr, "Duplicate array-key: %s\n", key.c_str());
                fail();
                return;
            }
            buffer_copy_string_len(item.du->key, key.data(), key.size());
            item.du->is_index_key = 0;
        } else {
            item = std::move(first);
            buffer_reset(item.du->key);
            item.du->is_index_key = 0;
        }
        const Weight added = weight_of(item.du);
        weight.elements += added.elements + 1;
        weight.bytes += added.bytes;
        if (too_heavy(weight)) {
            std::fputs(kTooLarge, stderr);
            fail();
            return;
        }
        array_insert_unique(elements, item.release());
    }

    // The text of a string, or the decimal text of an integer.
    bool stringop(const data_unset* du, std::string& out) {
        if (du->type == TYPE_STRING) {
            const buffer* b = static_cast<const data_string*>(du)->value;
            out.assign(text_of(b), length_of(b));
            return true;
        }
        if (du->type == TYPE_INTEGER) {
            out = decimal(static_cast<const data_integer*>(du)->value);
            return true;
        }
        std::fputs("operand must be string\n", stderr);
        fail();
        return false;
    }

    bool stringop_expression(std::string& out) {
        Value v = expression();
        return ok() && stringop(v.du, out);
    }

    data_config* global_block_of() const { return static_cast<data_config*>(context_->all_configs->data[0]); }

    // True (after the message) when the current block is the global block
    // entered through global { }: it may hold neither conditions nor another
    // global block.
    bool inside_entered_global() {
        if (context_->current == global_block_of() && context_->configs_stack->used > 0) {
            std::fputs("Cannot use conditionals inside a global { ... } block\n", stderr);
            fail();
            return true;
        }
        return false;
    }

    void global_block() {
        advance();
        if (inside_entered_global() || !expect(TK_LCURLY) || !enter_nesting()) {
            return;
        }
        configparser_push(context_, global_block_of(), 0);
        metalines(true);
        if (ok() && expect(TK_RCURLY)) {
            configparser_pop(context_);
        }
        --nesting_;
    }

    bool condlines() {
        data_config* previous = condline();
        while (ok() && previous != nullptr) {
            if (peek() == TK_ELSE) {
                advance();
            } else if (peek() == TK_EOL && peek(1) == TK_ELSE) {
                advance();
                advance();
            } else {
                return true;
            }
            data_config* block = condline();
            if (!ok() || block == nullptr) {
                return false;
            }
            if (block->context_ndx <= previous->context_ndx) {
                std::fputs("unreachable else condition\n", stderr);
                fail();
                return false;
            }
            previous->next = block;
            block->prev = previous;
            previous = block;
        }
        return false;
    }

    // One condition head and its block; the block, or null on failure.
    data_config* condline() {
        if (!expect(TK_DOLLAR)) {
            return nullptr;
        }
        if (peek() != TK_SRVVARNAME) {
            syntax_error();
            return nullptr;
        }
        const std::string name(text_of(text()), length_of(text()));
        advance();
        if (!expect(TK_LBRACKET)) {
            return nullptr;
        }
        std::string field;
        if (!stringop_expression(field) || !expect(TK_RBRACKET)) {
            return nullptr;
        }
        const int cond = peek();
        if (cond != TK_EQ && cond != TK_MATCH && cond != TK_NE && cond != TK_NOMATCH) {
            syntax_error();
            return nullptr;
        }
        const std::string op(text_of(text()), length_of(text()));
        advance();
        Value compared = expression();
        if (!ok()) {
            return nullptr;
        }
        data_config* block = open_condition(name, field, op, cond, compared.du);
        if (block == nullptr || !expect(TK_LCURLY) || !enter_nesting()) {
            return nullptr;
        }
        configparser_push(context_, block, 0);
        metalines(true);
        if (ok() && expect(TK_RCURLY)) {
            configparser_pop(context_);
        }
        --nesting_;
        return ok() ? block : nullptr;
    }

    data_config* open_condition(const std::string& name, const std::string& field, const std::string& op, int cond,
                                const data_unset* compared) {
        if (inside_entered_global()) {
            return nullptr;
        }
        if (compared->type != TYPE_STRING) {
            std::fputs("rvalue must be string", stderr);
            fail();
            return nullptr;
        }
        const buffer* value = static_cast<const data_string*>(compared)->value;
        data_config* current = context_->current;
        std::string key(text_of(current->key), length_of(current->key));
        key += '/';
        key += name;
        key += field;
        key += op;
        key.append(text_of(value), length_of(value));
        auto* existing = static_cast<data_config*>(array_get_element(context_->all_configs, key.c_str()));
        if (existing != nullptr) {
            return existing;
        }
        const std::string comp_key = name + "[\"" + field + "\"]";
        comp_key_t comp = COMP_UNSET;
        for (const auto& known : kConditionNames) {
            if (comp_key == known.text) {
                comp = known.comp;
            }
        }
        if (comp == COMP_UNSET) {
            std::fprintf(stderr, "error comp_key %s", comp_key.c_str());
            fail();
            return nullptr;
        }
        if (cond == TK_MATCH || cond == TK_NOMATCH) {
            std::fprintf(stderr,
                         "can't handle '$%s[%s] =~ ...' as you compiled without pcre support. \n"
                         "(perhaps just a missing pcre-devel package ?) \n",
                         name.c_str(), field.c_str());
            fail();
            return nullptr;
        }
        data_config* block = data_config_init();
        buffer_copy_string_len(block->key, key.data(), key.size());
        buffer_copy_string_len(block->comp_key, comp_key.data(), comp_key.size());
        buffer_copy_string_len(block->op, op.data(), op.size());
        block->comp = comp;
        block->cond = cond == TK_EQ ? CONFIG_COND_EQ : CONFIG_COND_NE;
        block->string = buffer_init_buffer(value);
        block->context_ndx = static_cast<int>(context_->all_configs->used);
        block->parent = current;
        array_insert_unique(context_->all_configs, block);
        array_insert_unique(current->childs, block);
        return block;
    }

    void include() {
        const bool shell = peek() == TK_INCLUDE_SHELL;
        advance();
        std::string argument;
        if (!stringop_expression(argument)) {
            return;
        }
        if (context_->include_depth >= kConfigMaxIncludeDepth) {
            std::fprintf(stderr, "includes nested deeper than %d: %s\n", kConfigMaxIncludeDepth, argument.c_str());
            fail();
            return;
        }
        ++context_->include_depth;
        const int result = shell ? config_parse_cmd(context_->srv, context_, argument.c_str())
                                 : config_parse_file(context_->srv, context_, argument.c_str());
        --context_->include_depth;
        if (result != 0) {
            fail();
        }
    }

    config_t* context_;
    config_parser* parser_;
    size_t position_ = 0;
    int nesting_ = 0;
};

}  // namespace

config_parser* configparserAlloc(void) {
    return new config_parser();
}

void configparser(config_parser* parser, int token_code, buffer* token, config_t* context) {
    if (token_code != TK_END) {
        parser->tokens.push_back({token_code, token, parser->line, parser->column});
        return;
    }
    buffer_free(token);
    if (context->ok != 0) {
        Parser(context, parser).run();
    }
}

void configparserFree(config_parser* parser) {
    if (parser == nullptr) {
        return;
    }
    for (const Token& token : parser->tokens) {
        buffer_free(token.text);
    }
    delete parser;
}

int config_parse(server* srv, config_t* context, tokenizer_t* t) {
    config_parser* parser = configparserAlloc();
    buffer* last_token = buffer_init();
    int token_id = 0;
    int result = 0;
    for (;;) {
        buffer* token = buffer_init();
        parser->line = t->line;
        parser->column = t->line_pos;
        result = config_tokenizer(srv, t, &token_id, token);
        if (result != 1 || context->ok == 0) {
            buffer_free(token);
            break;
        }
        buffer_copy_string_buffer(last_token, token);
        configparser(parser, token_id, token, context);
    }
    if (result != -1 && context->ok != 0) {
        configparser(parser, TK_EOL, buffer_init_string("(EOL)"), context);
        configparser(parser, TK_END, nullptr, context);
    }
    int line = t->line;
    int column = t->line_pos;
    if (parser->failed_at >= 0 && static_cast<size_t>(parser->failed_at) < parser->tokens.size()) {
        // The statements run once the whole input is read: name the token the
        // parse stopped on, not the end of the input.
        const Token& token = parser->tokens[static_cast<size_t>(parser->failed_at)];
        line = token.line;
        column = token.column;
        buffer_copy_string_buffer(last_token, token.text);
    }
    configparserFree(parser);
    int status = 0;
    if (result == -1) {
        log_error_write(srv, "configfile", __LINE__, "sb", "configfile parser failed at:", last_token);
        status = -1;
    } else if (context->ok == 0) {
        log_error_write(srv, "configfile", __LINE__, "sbsdsdsb", "source:", t->source, "line:", line, "pos:", column,
                        "parser failed somehow near here:", last_token);
        status = -1;
    }
    buffer_free(last_token);
    return status;
}

}  // namespace hx
