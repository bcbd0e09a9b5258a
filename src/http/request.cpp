// The request parser. One pass over a copy of the header: the request line,
// then the header lines. A header line is acted on only once it is complete,
// that is when the next line does not continue it, so a folded value is
// checked whole and the text pointers of `request` point into values that no
// longer grow.
#include "http/request.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "http/errorlog.h"
#include "http/keyvalue.h"

namespace hx {

namespace {

constexpr const char* kTag = "request";

// Lengths above this do not fit the 32-bit signed sizes of bodies and files.
constexpr std::uint64_t kMaxContentLength = 2147483647;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualCaseless(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsCaseless(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualCaseless(text.substr(0, prefix.size()), prefix);
}

std::string_view TextOf(const buffer* b) {
    return b->used == 0 ? std::string_view() : std::string_view(b->ptr, b->used - 1);
}

// What a byte means while a header name is read; one table look-up per byte.
enum KeyByte : unsigned char { kKeyChar, kKeyColon, kKeyBlank, kKeyCr, kKeyInvalid };

constexpr std::array<unsigned char, 256> MakeKeyBytes() {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        table[c] = (c < 32 || c >= 127) ? kKeyInvalid : kKeyChar;
    }
    // Separators may not appear in a name.
    for (unsigned char c : std::string_view("\"(),/;<=>?@[]\\{}")) {
        table[c] = kKeyInvalid;
    }
    table[':'] = kKeyColon;
    table[' '] = kKeyBlank;
    table['\t'] = kKeyBlank;
    table['\r'] = kKeyCr;
    return table;
}

constexpr std::array<unsigned char, 256> kKeyBytes = MakeKeyBytes();

// The headers the server acts on; all others are only stored.
enum class HeaderKind {
    kOther,
    kConnection,
    kContentLength,
    kContentType,
    kExpect,
    kHost,
    kIfModifiedSince,
    kIfNoneMatch,
    kRange,
    kTransferEncoding,
};

HeaderKind KindOf(std::string_view key) {
    struct Name {
        std::string_view text;
        HeaderKind kind;
    };
    static constexpr Name kNames[] = {
        {"Connection", HeaderKind::kConnection},
        {"Content-Length", HeaderKind::kContentLength},
        {"Content-Type", HeaderKind::kContentType},
        {"Expect", HeaderKind::kExpect},
        {"Host", HeaderKind::kHost},
        {"If-Modified-Since", HeaderKind::kIfModifiedSince},
        {"If-None-Match", HeaderKind::kIfNoneMatch},
        {"Range", HeaderKind::kRange},
        {"Transfer-Encoding", HeaderKind::kTransferEncoding},
    };
    for (const Name& name : kNames) {
        if (EqualCaseless(key, name.text)) {
            return name.kind;
        }
    }
    return HeaderKind::kOther;
}

// What a Connection header asked for.
enum class ConnectionAsk { kNone, kKeepAlive, kClose };

// The state of one parse. Every refusal sets the status, closes the
// connection after the response (a refused request may leave an unread body
// behind, which must not be taken for the next request) and makes
// http_request_parse return 0.
class Parser {
public:
    Parser(server* srv, connection* con) : srv_(srv), con_(con) {}
    ~Parser() {
        if (pending_ != nullptr) {
            pending_->free(pending_);
        }
        if (spare_ != nullptr) {
            spare_->free(spare_);
        }
    }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    int Run();

private:
    // Refusals: logged only with "debug.log-request-header-on-error" ...
    int Refuse(int status, unsigned int line, const char* message);
    // ... or logged in every case by the caller.
    int RefuseLogged(int status);
    void LogHeaderOnError();
    void RefuseKeyByte(size_t pos);

    bool ParseRequestLine();
    bool ParseHeaderLines();
    bool ParseValue(size_t& pos, std::string_view& value, bool& complete);
    bool TakeKeyLine(size_t& pos, bool& complete);
    bool Decide();
    int Conclude();

    data_string* NewElement();
    void Drop(data_string* element);
    void Store(data_string* element) { array_insert_unique(con_->request.headers, element); }

    server* srv_;
    connection* con_;
    char* text_ = nullptr;  // the parser's copy of the header
    size_t length_ = 0;
    size_t skipped_ = 0;  // a CR LF left over after a previous body
    size_t consumed_ = 0;

    bool line_host_ = false;  // the request line carried a host
    // The header line read last, decided once no continuation follows.
    data_string* pending_ = nullptr;
    HeaderKind pending_kind_ = HeaderKind::kOther;
    bool have_key_ = false;    // a header line was read (continuations need one)
    data_string* spare_ = nullptr;

    ConnectionAsk connection_ask_ = ConnectionAsk::kNone;
    bool content_length_seen_ = false;
    bool content_length_too_long_ = false;
    const buffer* content_length_text_ = nullptr;
    data_string* host_ = nullptr;
    data_string* content_type_ = nullptr;
    data_string* if_modified_since_ = nullptr;
    data_string* if_none_match_ = nullptr;
    data_string* range_ = nullptr;
};

void Parser::LogHeaderOnError() {
    if (srv_->srvconf.log_request_header_on_error) {
        log_error_write(srv_, kTag, __LINE__, "Sb", "request-header:\n", con_->request.request);
    }
}

int Parser::Refuse(int status, unsigned int line, const char* message) {
    if (srv_->srvconf.log_request_header_on_error && message != nullptr) {
        log_error_write(srv_, kTag, line, "s", message);
    }
    return RefuseLogged(status);
}

int Parser::RefuseLogged(int status) {
    con_->http_status = status;
    con_->keep_alive = 0;
    LogHeaderOnError();
    return 0;
}

data_string* Parser::NewElement() {
    data_string* element = spare_;
    if (element != nullptr) {
        spare_ = nullptr;
        return element;
    }
    element = static_cast<data_string*>(array_get_unused_element(con_->request.headers, TYPE_STRING));
    return element != nullptr ? element : data_string_init();
}

void Parser::Drop(data_string* element) {
    if (spare_ == nullptr) {
        element->reset(element);
        spare_ = element;
    } else {
        element->free(element);
    }
}

int Parser::Run() {
    buffer* raw = con_->request.request;
    const char* start = raw->used > 0 ? raw->ptr : "";
    size_t length = raw->used > 0 ? raw->used - 1 : 0;
    if (con_->request_count > 1 && length >= 2 && start[0] == '\r' && start[1] == '\n') {
        skipped_ = 2;
    }
    con_->request.content_length = 0;
    con_->request.http_host = nullptr;
    con_->request.http_content_type = nullptr;
    con_->request.http_if_modified_since = nullptr;
    con_->request.http_if_none_match = nullptr;
    con_->request.http_range = nullptr;
    buffer_copy_string_len(con_->parse_request, start + skipped_, length - skipped_);
    text_ = con_->parse_request->ptr;
    length_ = length - skipped_;
    if (con_->conf.log_request_header) {
        log_error_write(srv_, kTag, __LINE__, "sdsdSb", "fd:", con_->fd, "request-len:",
                        static_cast<int>(length_), "\n", raw);
    }
    if (!ParseRequestLine() || !ParseHeaderLines()) {
        return 0;
    }
    return Conclude();
}

bool Parser::ParseRequestLine() {
    request& req = con_->request;
    size_t blanks[2] = {0, 0};
    int blank_count = 0;
    size_t end = 0;
    bool found = false;
    for (size_t i = 0; i < length_; ++i) {
        const char c = text_[i];
        if (static_cast<unsigned char>(c) > ' ') {
            continue;
        }
        if (c == '\r' && i + 1 < length_ && text_[i + 1] == '\n') {
            end = i;
            found = true;
            break;
        }
        if (c == ' ') {
            if (blank_count == 2) {
                Refuse(400, __LINE__, "overlong request line -> 400");
                return false;
            }
            blanks[blank_count++] = i;
        }
    }
    if (!found) {
        Refuse(400, __LINE__, "incomplete request line -> 400");
        return false;
    }
    buffer_copy_string_len(req.request_line, text_, end);
    consumed_ = end + 2;
    if (blank_count < 2) {
        Refuse(400, __LINE__, "incomplete request line -> 400");
        return false;
    }

    std::string_view uri(text_ + blanks[0] + 1, blanks[1] - blanks[0] - 1);
    const std::string_view protocol(text_ + blanks[1] + 1, end - blanks[1] - 1);
    // The method and the URI end in NUL bytes in the copy.
    text_[blanks[0]] = '\0';
    text_[blanks[1]] = '\0';

    // A NUL inside the method would end its name early: "GET\0x" is no GET.
    const bool whole = std::memchr(text_, '\0', blanks[0]) == nullptr;
    req.http_method = whole ? static_cast<http_method_t>(get_http_method_key(text_)) : HTTP_METHOD_UNSET;
    if (req.http_method == HTTP_METHOD_UNSET) {
        Refuse(501, __LINE__, "unknown http-method -> 501");
        return false;
    }

    if (protocol.substr(0, 5) != "HTTP/") {
        Refuse(400, __LINE__, "unknown protocol -> 400");
        return false;
    }
    const std::string_view version = protocol.substr(5);
    const size_t dot = version.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == version.size()) {
        Refuse(400, __LINE__, "unknown protocol -> 400");
        return false;
    }
    // Whole decimal numbers only; a long run of digits is simply no version
    // we speak.
    auto number = [](std::string_view digits, long& value) {
        value = 0;
        for (char c : digits) {
            if (!IsDigit(c)) {
                return false;
            }
            if (value < 1000000) {
                value = value * 10 + (c - '0');
            }
        }
        return true;
    };
    long major = 0;
    long minor = 0;
    if (!number(version.substr(0, dot), major) || !number(version.substr(dot + 1), minor)) {
        Refuse(400, __LINE__, "unknown protocol -> 400");
        return false;
    }
    if (major == 1 && minor == 1) {
        req.http_version = con_->conf.allow_http11 ? HTTP_VERSION_1_1 : HTTP_VERSION_1_0;
    } else if (major == 1 && minor == 0) {
        req.http_version = HTTP_VERSION_1_0;
    } else {
        Refuse(505, __LINE__, "unknown HTTP version -> 505");
        return false;
    }

    // An absolute URI: the host between the scheme and the next slash
    // stands in for any Host header.
    std::string_view host;
    for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (uri.substr(0, scheme.size()) == scheme) {
            const size_t slash = uri.find('/', scheme.size());
            if (slash != std::string_view::npos) {
                host = uri.substr(scheme.size(), slash - scheme.size());
                line_host_ = true;
                uri = uri.substr(slash);
            }
            break;
        }
    }

    buffer_copy_string_len(req.uri, uri.data(), uri.size());
    for (char c : uri) {
        const auto byte = static_cast<unsigned char>(c);
        if (!request_uri_is_valid_char(byte)) {
            if (srv_->srvconf.log_request_header_on_error) {
                if (byte < 32 || byte == 127) {
                    log_error_write(srv_, kTag, __LINE__, "sd", "invalid character in URI -> 400", byte);
                } else {
                    const char shown[2] = {c, '\0'};
                    log_error_write(srv_, kTag, __LINE__, "ss", "invalid character in URI -> 400", shown);
                }
            }
            RefuseLogged(400);
            return false;
        }
    }
    buffer_copy_string_buffer(req.orig_uri, req.uri);
    con_->http_status = 0;
    if (uri.empty()) {
        Refuse(400, __LINE__, "no uri specified -> 400");
        return false;
    }

    if (line_host_) {
        data_string* element = NewElement();
        buffer_copy_string_len(element->key, "Host", 4);
        buffer_copy_string_len(element->value, host.data(), host.size());
        Store(element);
        host_ = element;
    }
    return true;
}

// A header value from `pos` (leading blanks already allowed) up to its CR LF,
// without the blanks around it. `complete` is false when the text ends before
// the line does. False on a refusal.
bool Parser::ParseValue(size_t& pos, std::string_view& value, bool& complete) {
    while (pos < length_ && IsBlank(text_[pos])) {
        ++pos;
    }
    const size_t begin = pos;
    complete = false;
    for (; pos < length_; ++pos) {
        const auto c = static_cast<unsigned char>(text_[pos]);
        if (c >= 32 || c == '\t') {
            continue;
        }
        if (c == '\r') {
            if (pos + 1 >= length_ || text_[pos + 1] != '\n') {
                if (srv_->srvconf.log_request_header_on_error) {
                    log_error_write(srv_, kTag, __LINE__, "sbs", "CR without LF", con_->request.request, "-> 400");
                }
                RefuseLogged(400);
                return false;
            }
            size_t end = pos;
            while (end > begin && IsBlank(text_[end - 1])) {
                --end;
            }
            value = std::string_view(text_ + begin, end - begin);
            pos += 2;
            complete = true;
            return true;
        }
        if (srv_->srvconf.log_request_header_on_error) {
            log_error_write(srv_, kTag, __LINE__, "sds", "invalid char in header", c, "-> 400");
        }
        RefuseLogged(400);
        return false;
    }
    return true;
}

void Parser::RefuseKeyByte(size_t pos) {
    if (srv_->srvconf.log_request_header_on_error) {
        size_t line_end = pos;
        while (line_end < length_ && text_[line_end] != '\r' && text_[line_end] != '\n') {
            ++line_end;
        }
        const std::string rest(text_ + pos, line_end - pos);
        log_error_write(srv_, kTag, __LINE__, "sbsds", "invalid character in key", con_->request.request, rest.c_str(),
                        static_cast<unsigned char>(text_[pos]), "-> 400");
    }
    RefuseLogged(400);
}

// A line that starts a new header: its key, the colon and its value.
bool Parser::TakeKeyLine(size_t& pos, bool& complete) {
    const size_t begin = pos;
    size_t key_end = pos;
    complete = false;
    for (;; ++pos) {
        if (pos >= length_) {
            return true;  // the text ends inside the key: no header line
        }
        const unsigned char kind = kKeyBytes[static_cast<unsigned char>(text_[pos])];
        if (kind == kKeyChar) {
            continue;
        }
        key_end = pos;
        if (kind == kKeyColon) {
            break;
        }
        if (kind == kKeyBlank) {
            while (pos < length_ && IsBlank(text_[pos])) {
                ++pos;
            }
            if (pos >= length_) {
                return true;
            }
            if (text_[pos] != ':') {
                Refuse(400, __LINE__, "WS character in key -> 400");
                return false;
            }
            break;
        }
        if (kind == kKeyCr) {
            Refuse(400, __LINE__, "CR without LF -> 400");
            return false;
        }
        RefuseKeyByte(pos);
        return false;
    }
    if (key_end == begin) {
        // A line starting with its colon names no header; stored, it would
        // even get a list index for a key.
        RefuseKeyByte(pos);
        return false;
    }
    ++pos;  // the colon
    std::string_view value;
    if (!ParseValue(pos, value, complete)) {
        return false;
    }
    if (!complete) {
        return true;
    }
    const std::string_view key(text_ + begin, key_end - begin);
    const HeaderKind kind = KindOf(key);
    have_key_ = true;
    if (kind == HeaderKind::kTransferEncoding) {
        // No body framing but Content-Length is understood here; a request
        // announcing another one cannot be read safely, whatever it says.
        Refuse(501, __LINE__, "Transfer-Encoding is not supported -> 501");
        return false;
    }
    if (value.empty()) {
        return true;  // dropped, and any continuation with it
    }
    data_string* element = NewElement();
    buffer_copy_string_len(element->key, key.data(), key.size());
    buffer_copy_string_len(element->value, value.data(), value.size());
    pending_ = element;
    pending_kind_ = kind;
    return true;
}

bool Parser::ParseHeaderLines() {
    size_t pos = consumed_;
    for (;;) {
        if (pos >= length_) {
            break;
        }
        const char c = text_[pos];
        if (c == '\r') {
            if (pos + 1 < length_ && text_[pos + 1] == '\n') {
                pos += 2;
                break;
            }
            Refuse(400, __LINE__, "CR without LF -> 400");
            return false;
        }
        if (IsBlank(c)) {
            // A continuation: appended to the header read last, without a
            // separator.
            if (!have_key_) {
                Refuse(400, __LINE__, "WS at the start of first line -> 400");
                return false;
            }
            std::string_view value;
            bool complete = false;
            if (!ParseValue(pos, value, complete)) {
                return false;
            }
            if (!complete) {
                break;
            }
            if (pending_ != nullptr && !value.empty()) {
                buffer_append_string_len(pending_->value, value.data(), value.size());
            }
            continue;
        }
        if (!Decide()) {
            return false;
        }
        bool complete = false;
        if (!TakeKeyLine(pos, complete)) {
            return false;
        }
        if (!complete) {
            break;
        }
    }
    consumed_ = pos;
    return Decide();
}

// Acts on the header line read last, now that no continuation can follow.
bool Parser::Decide() {
    data_string* element = pending_;
    if (element == nullptr) {
        return true;
    }
    pending_ = nullptr;
    const std::string_view value = TextOf(element->value);
    switch (pending_kind_) {
        case HeaderKind::kOther:
        case HeaderKind::kTransferEncoding:
            break;
        case HeaderKind::kConnection: {
            array* tokens = srv_->split_vals;
            array_reset(tokens);
            http_request_split_value(tokens, element->value);
            for (size_t i = 0; i < tokens->used; ++i) {
                const buffer* token = static_cast<const data_string*>(tokens->data[i])->value;
                if (buffer_is_equal_caseless_string(token, "keep-alive", 10)) {
                    connection_ask_ = ConnectionAsk::kKeepAlive;
                    break;
                }
                if (buffer_is_equal_caseless_string(token, "close", 5)) {
                    connection_ask_ = ConnectionAsk::kClose;
                    break;
                }
            }
            break;
        }
        case HeaderKind::kContentLength: {
            if (content_length_seen_) {
                Drop(element);
                Refuse(400, __LINE__, "duplicate Content-Length-header -> 400");
                return false;
            }
            // Digits only, counted without overflow: any length beyond the
            // 32-bit signed sizes is refused later as too long.
            std::uint64_t length = 0;
            bool digits = !value.empty();
            for (char c : value) {
                if (!IsDigit(c)) {
                    digits = false;
                    break;
                }
                length = length * 10 + static_cast<std::uint64_t>(c - '0');
                if (length > kMaxContentLength) {
                    content_length_too_long_ = true;
                    length = kMaxContentLength + 1;
                }
            }
            if (!digits) {
                log_error_write(srv_, kTag, __LINE__, "sbs", "content-length broken:", element->value, "-> 400");
                Drop(element);
                RefuseLogged(400);
                return false;
            }
            content_length_seen_ = true;
            con_->request.content_length = content_length_too_long_ ? 0 : static_cast<size_t>(length);
            content_length_text_ = element->value;
            break;
        }
        case HeaderKind::kContentType:
            if (content_type_ != nullptr) {
                Drop(element);
                Refuse(400, __LINE__, "duplicate Content-Type-header -> 400");
                return false;
            }
            content_type_ = element;
            break;
        case HeaderKind::kExpect:
            if (srv_->srvconf.reject_expect_100_with_417 && EqualCaseless(value, "100-continue")) {
                Drop(element);
                RefuseLogged(417);
                return false;
            }
            break;
        case HeaderKind::kHost:
            if (line_host_) {
                Drop(element);
                return true;
            }
            if (host_ != nullptr) {
                Drop(element);
                Refuse(400, __LINE__, "duplicate Host-header -> 400");
                return false;
            }
            host_ = element;
            break;
        case HeaderKind::kIfModifiedSince:
            if (if_modified_since_ != nullptr) {
                const bool same = EqualCaseless(TextOf(if_modified_since_->value), value);
                Drop(element);
                if (same) {
                    return true;
                }
                Refuse(400, __LINE__, "duplicate If-Modified-Since header -> 400");
                return false;
            }
            if_modified_since_ = element;
            break;
        case HeaderKind::kIfNoneMatch:
            if (if_none_match_ != nullptr) {
                Drop(element);
                return true;
            }
            if_none_match_ = element;
            break;
        case HeaderKind::kRange:
            if (range_ != nullptr) {
                Drop(element);
                Refuse(400, __LINE__, "duplicate Range-header -> 400");
                return false;
            }
            range_ = element;
            break;
    }
    // A key first seen here is stored as this element itself, so the
    // elements remembered above stay the stored ones.
    Store(element);
    return true;
}

// What the whole header decides, once every line is read.
int Parser::Conclude() {
    request& req = con_->request;
    con_->header_len = skipped_ + consumed_;

    // Every line is complete now: point into the final stored values. The
    // Host value is the stored header's own buffer.
    if (host_ != nullptr) {
        req.http_host = host_->value;
    }
    if (content_type_ != nullptr) {
        req.http_content_type = content_type_->value->ptr;
    }
    if (if_modified_since_ != nullptr) {
        req.http_if_modified_since = if_modified_since_->value->ptr;
    }
    if (if_none_match_ != nullptr) {
        req.http_if_none_match = if_none_match_->value->ptr;
    }
    if (range_ != nullptr) {
        const std::string_view value = TextOf(range_->value);
        if (StartsCaseless(value, "bytes=") && value.find('-', 6) != std::string_view::npos) {
            req.http_range = range_->value->ptr + 6;
        }
    }

    if (req.http_version == HTTP_VERSION_1_1) {
        con_->keep_alive = connection_ask_ != ConnectionAsk::kClose;
    } else {
        con_->keep_alive = connection_ask_ == ConnectionAsk::kKeepAlive;
    }
    con_->response.keep_alive = con_->keep_alive;

    if (req.http_version == HTTP_VERSION_1_1 && (host_ == nullptr || buffer_is_empty(host_->value))) {
        return Refuse(400, __LINE__, "HTTP/1.1 but Host missing -> 400");
    }
    if (host_ != nullptr && request_check_hostname(srv_, con_, host_->value) != 0) {
        return Refuse(400, __LINE__, "Invalid Hostname -> 400");
    }

    const bool no_body_method = req.http_method == HTTP_METHOD_GET || req.http_method == HTTP_METHOD_HEAD;
    if (no_body_method && content_length_seen_ && (req.content_length != 0 || content_length_too_long_)) {
        log_error_write(srv_, kTag, __LINE__, "s", "GET/HEAD with content-length -> 400");
        return RefuseLogged(400);
    }
    if (req.http_method == HTTP_METHOD_POST && !content_length_seen_) {
        log_error_write(srv_, kTag, __LINE__, "s", "POST-request, but content-length missing -> 411");
        return RefuseLogged(411);
    }
    if (content_length_seen_) {
        const std::uint32_t limit_kib = srv_->srvconf.max_request_size;
        if (content_length_too_long_ || (limit_kib != 0 && req.content_length / 1024 > limit_kib)) {
            log_error_write(srv_, kTag, __LINE__, "sbs", "request-size too long:", content_length_text_, "-> 413");
            req.content_length = 0;
            return RefuseLogged(413);
        }
        return req.content_length != 0 ? 1 : 0;
    }
    return 0;
}

bool HostPartValid(const char* host, size_t length) {
    if (length == 0) {
        return false;
    }
    // Right to left, label by label; the top label decides between an IPv4
    // address and a name.
    size_t end = length;
    size_t labels = 0;
    bool address = false;
    while (true) {
        size_t begin = end;
        while (begin > 0 && host[begin - 1] != '.') {
            --begin;
        }
        const std::string_view label(host + begin, end - begin);
        if (label.empty()) {
            return false;
        }
        bool all_digits = true;
        for (char c : label) {
            if (!IsDigit(c)) {
                all_digits = false;
                if (!light_isalpha(c) && c != '-') {
                    return false;
                }
            }
        }
        if (labels == 0) {
            address = all_digits;
        } else if (address && !all_digits) {
            return false;
        }
        if (!address && begin > 0 && label[0] == '-') {
            return false;
        }
        ++labels;
        if (begin == 0) {
            break;
        }
        end = begin - 1;
    }
    if (address) {
        return labels == 4 || labels == 1;
    }
    return light_isalnum(static_cast<unsigned char>(host[0])) != 0;
}

}  // namespace

extern "C" {

int http_request_parse(server* srv, connection* con) {
    Parser parser(srv, con);
    return parser.Run();
}

int http_request_header_finished(server* /*srv*/, connection* con) {
    const buffer* raw = con->request.request;
    if (raw->used <= 5) {  // 4 bytes of text and the NUL
        return 0;
    }
    const std::string_view text(raw->ptr, raw->used - 1);
    return text.find("\r\n\r\n") != std::string_view::npos ? 1 : 0;
}

int http_request_split_value(array* vals, buffer* b) {
    if (vals == nullptr || b == nullptr) {
        return -1;
    }
    const std::string_view text = TextOf(b);
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (IsBlank(text[pos]) || text[pos] == ',')) {
            ++pos;
        }
        if (pos >= text.size()) {
            break;
        }
        const size_t begin = pos;
        while (pos < text.size() && text[pos] != ',') {
            ++pos;
        }
        size_t end = pos;
        while (end > begin && IsBlank(text[end - 1])) {
            --end;
        }
        auto* token = static_cast<data_string*>(array_get_unused_element(vals, TYPE_STRING));
        if (token == nullptr) {
            token = data_string_init();
        }
        buffer_copy_string_len(token->value, text.data() + begin, end - begin);
        array_insert_unique(vals, token);
    }
    return 0;
}

int request_uri_is_valid_char(unsigned char c) {
    return (c <= 32 || c == 127 || c == 255) ? 0 : 1;
}

int request_check_hostname(server* /*srv*/, connection* /*con*/, buffer* host) {
    if (host == nullptr || host->used <= 1) {
        return 0;
    }
    char* text = host->ptr;
    size_t length = host->used - 1;
    auto digits_only = [](const char* from, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (!IsDigit(from[i])) {
                return false;
            }
        }
        return true;
    };

    if (text[0] == '[') {
        int colons = 0;
        size_t i = 1;
        for (; i < length && text[i] != ']'; ++i) {
            const char c = text[i];
            if (c == ':') {
                if (++colons > 7) {
                    return -1;
                }
            } else if (c != '.' && !light_isxdigit(static_cast<unsigned char>(c))) {
                return -1;
            }
        }
        if (i >= length) {
            return -1;
        }
        ++i;  // the ']'
        if (i == length) {
            return 0;
        }
        if (text[i] != ':' || !digits_only(text + i + 1, length - i - 1)) {
            return -1;
        }
        return 0;
    }

    size_t host_length = length;
    const char* colon = static_cast<const char*>(std::memchr(text, ':', length));
    if (colon != nullptr) {
        host_length = static_cast<size_t>(colon - text);
        if (host_length == 0 || !digits_only(colon + 1, length - host_length - 1)) {
            return -1;
        }
    }
    if (host_length > 0 && text[host_length - 1] == '.') {
        // "name." is the same name; the port, if any, moves left.
        std::memmove(text + host_length - 1, text + host_length, length - host_length + 1);
        --host_length;
        --length;
        --host->used;
    }
    return HostPartValid(text, host_length) ? 0 : -1;
}

}  // extern "C"

}  // namespace hx
