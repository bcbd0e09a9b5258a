// The listeners: opening the IPv4 and Unix-domain sockets the configuration
// names, registering them with the event loop, and turning a listener's
// readiness into accepted connections.
#include "http/network.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "http/connections.h"
#include "http/errorlog.h"
#include "http/failed_assert.h"
#include "http/fdevent.h"
#include "http/plugin.h"

namespace hx {

namespace {

// Connections taken from one listener per event, so a flood of new clients
// cannot starve the connections already open.
constexpr int kAcceptsPerEvent = 100;
constexpr int kListenBacklog = 1024;
constexpr size_t kListenerArrayStep = 4;

struct BackendName {
    const char* name;
    network_backend_t backend;
};

// Matched in this order against "server.network-backend".
constexpr BackendName kBackendNames[] = {
    {"writev", NETWORK_BACKEND_WRITEV},
    {"write", NETWORK_BACKEND_WRITE},
};

const char* error_text(int error, char* scratch, size_t size) {
    return http_error_text(error, scratch, size);
}

void append_listener(server* srv, server_socket* listener) {
    server_socket_array& sockets = srv->srv_sockets;
    if (sockets.size == 0) {
        sockets.size = kListenerArrayStep;
        sockets.ptr = static_cast<server_socket**>(std::malloc(sockets.size * sizeof(*sockets.ptr)));
        HTTP_ASSERT(sockets.ptr);
    } else if (sockets.used == sockets.size) {
        sockets.size += kListenerArrayStep;
        sockets.ptr = static_cast<server_socket**>(std::realloc(sockets.ptr, sockets.size * sizeof(*sockets.ptr)));
        HTTP_ASSERT(sockets.ptr);
    }
    sockets.ptr[sockets.used++] = listener;
}

void free_listener(server* srv, server_socket* listener) {
    if (listener->fd != -1) {
        if (listener->fde_ndx != -1 && srv->ev != nullptr) {
            fdevent_event_del(srv->ev, &listener->fde_ndx, listener->fd);
            fdevent_unregister(srv->ev, listener->fd);
        }
        close(listener->fd);
        listener->fd = -1;
    }
    buffer_free(listener->srv_token);
    std::free(listener);
}

// The IPv4 address of `host` through the thread-safe resolver. A name that
// resolves only to another family is refused with that family in the log.
bool resolve_ipv4(server* srv, const char* host, in_addr* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host, nullptr, &hints, &found);
    if (result != 0) {
        // Tell a name of another family apart from one that does not resolve.
        hints.ai_family = AF_UNSPEC;
        addrinfo* other = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &other) == 0 && other != nullptr) {
            HTTP_LOG_ERROR(srv, "Sd", "addr-type != AF_INET: ", other->ai_family);
            freeaddrinfo(other);
            return false;
        }
        HTTP_LOG_ERROR(srv, "Sss", "gethostbyname failed: ", gai_strerror(result), host);
        return false;
    }
    bool ok = false;
    if (found == nullptr || found->ai_family != AF_INET) {
        HTTP_LOG_ERROR(srv, "Sd", "addr-type != AF_INET: ", found == nullptr ? 0 : found->ai_family);
    } else if (found->ai_addrlen != sizeof(sockaddr_in)) {
        HTTP_LOG_ERROR(srv, "Sd", "addr-length != sizeof(in_addr): ", static_cast<int>(found->ai_addrlen));
    } else {
        *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ok = true;
    }
    freeaddrinfo(found);
    return ok;
}

// A socket file left behind by a server that is gone is removed; one that
// still answers belongs to a running server.
bool unix_path_is_free(server* srv, const char* path) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe == -1) {
        char scratch[128];
        HTTP_LOG_ERROR(srv, "ss", "socket failed:", error_text(errno, scratch, sizeof scratch));
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path);
    const int connected = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    close(probe);
    if (connected == 0) {
        HTTP_LOG_ERROR(srv, "ss", "server socket is still in use:", path);
        return false;
    }
    switch (error) {
        case ENOENT:
            return true;
        case ECONNREFUSED: {
            // Only a socket file is stale; any other file at that path is
            // left alone, and bind then reports the path as taken.
            struct stat status {};
            if (lstat(path, &status) == 0 && S_ISSOCK(status.st_mode)) {
                unlink(path);
            }
            return true;
        }
        default: {
            char scratch[128];
            HTTP_LOG_ERROR(srv, "sss", "testing socket failed:", path, error_text(error, scratch, sizeof scratch));
            return false;
        }
    }
}

}  // namespace

extern "C" {

int network_server_init(server* srv, buffer* host_token, specific_config* s) {
    auto* listener = static_cast<server_socket*>(std::calloc(1, sizeof(server_socket)));
    HTTP_ASSERT(listener);
    listener->fd = -1;
    listener->fde_ndx = -1;
    listener->srv_token = buffer_init_buffer(host_token);

    char scratch[128];
    buffer* host_buffer = buffer_init();
    const char* host = nullptr;
    bool is_unix = false;
    int port = 0;
    const auto fail = [&]() {
        buffer_free(host_buffer);
        free_listener(srv, listener);
        return -1;
    };

    const char* token = host_token->used == 0 ? "" : host_token->ptr;
    const char* colon = std::strrchr(token, ':');
    if (colon == nullptr) {
        HTTP_LOG_ERROR(srv, "sb", "value of $SERVER[\"socket\"] has to be \"ip:port\".", host_token);
        return fail();
    }
    size_t host_length = static_cast<size_t>(colon - token);
    const char* host_start = token;
    if (host_length >= 2 && token[0] == '[' && token[host_length - 1] == ']') {
        ++host_start;
        host_length -= 2;
        s->use_ipv6 = 1;
    }
    buffer_copy_string_len(host_buffer, host_start, host_length);
    if (host_length > 0) {
        host = host_buffer->ptr;
        is_unix = host[0] == '/';
    }

    // strtol's long keeps "65536" and larger values apart from small ports.
    const long parsed_port = std::strtol(colon + 1, nullptr, 10);
    if (!is_unix && (parsed_port < 1 || parsed_port > 65535)) {
        HTTP_LOG_ERROR(srv, "sd", "port out of range:",
                       static_cast<int>(parsed_port > INT32_MAX ? INT32_MAX : parsed_port < INT32_MIN ? INT32_MIN
                                                                                                    : parsed_port));
        return fail();
    }
    port = static_cast<int>(parsed_port);

    listener->fd = is_unix ? socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)
                           : socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (listener->fd == -1) {
        HTTP_LOG_ERROR(srv, "ss", "socket failed:", error_text(errno, scratch, sizeof scratch));
        return fail();
    }
    fd_close_on_exec(listener->fd);
    srv->cur_fds = listener->fd;

    const int on = 1;
    if (setsockopt(listener->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == -1) {
        HTTP_LOG_ERROR(srv, "ss", "socketsockopt(SO_REUSEADDR) failed:", error_text(errno, scratch, sizeof scratch));
        return fail();
    }

    socklen_t address_length = 0;
    if (is_unix) {
        if (host_length + 1 > sizeof(listener->addr.un.sun_path)) {
            HTTP_LOG_ERROR(srv, "sb", "unix socket filename too long:", host_buffer);
            return fail();
        }
        if (!unix_path_is_free(srv, host)) {
            return fail();
        }
        listener->addr.un.sun_family = AF_UNIX;
        std::memcpy(listener->addr.un.sun_path, host, host_length + 1);
        address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + host_length + 1);
    } else {
        listener->addr.ipv4.sin_family = AF_INET;
        if (host == nullptr) {
            listener->addr.ipv4.sin_addr.s_addr = htonl(INADDR_ANY);
        } else if (!resolve_ipv4(srv, host, &listener->addr.ipv4.sin_addr)) {
            return fail();
        }
        listener->addr.ipv4.sin_port = htons(static_cast<std::uint16_t>(port));
        address_length = sizeof(sockaddr_in);
    }

    if (bind(listener->fd, &listener->addr.plain, address_length) != 0) {
        const int error = errno;
        if (is_unix) {
            HTTP_LOG_ERROR(srv, "sss", "can't bind to socket:", host, error_text(error, scratch, sizeof scratch));
        } else {
            HTTP_LOG_ERROR(srv, "ssds", "can't bind to port:", host == nullptr ? "" : host, port,
                           error_text(error, scratch, sizeof scratch));
        }
        return fail();
    }
    if (listen(listener->fd, kListenBacklog) != 0) {
        HTTP_LOG_ERROR(srv, "Ss", "listen failed: ", error_text(errno, scratch, sizeof scratch));
        return fail();
    }

    if (s->ssl_enabled) {
        HTTP_LOG_ERROR(srv, "ss", "SSL:", "ssl requested but openssl support is not compiled in");
        return fail();
    }

    if (s->defer_accept) {
        const int seconds = s->defer_accept;
        if (setsockopt(listener->fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds) != 0) {
            HTTP_LOG_ERROR(srv, "Ss", "can't set TCP_DEFER_ACCEPT: ", error_text(errno, scratch, sizeof scratch));
        }
    }

    listener->is_ssl = s->ssl_enabled;
    append_listener(srv, listener);
    buffer_free(host_buffer);
    return 0;
}

int network_close(server* srv) {
    server_socket_array& sockets = srv->srv_sockets;
    for (size_t i = 0; i < sockets.used; ++i) {
        free_listener(srv, sockets.ptr[i]);
    }
    std::free(sockets.ptr);
    sockets.ptr = nullptr;
    sockets.used = 0;
    sockets.size = 0;
    return 0;
}

int network_init(server* srv) {
    buffer* token = buffer_init();
    buffer_copy_string_buffer(token, srv->srvconf.bindhost);
    buffer_append_string_len(token, ":", 1);
    buffer_append_long(token, srv->srvconf.port);
    const int opened = network_server_init(srv, token, srv->config_storage[0]);
    buffer_free(token);
    if (opened != 0) {
        return -1;
    }

    network_backend_t backend = NETWORK_BACKEND_WRITEV;
    if (!buffer_is_empty(srv->srvconf.network_backend)) {
        backend = NETWORK_BACKEND_UNSET;
        for (const BackendName& row : kBackendNames) {
            if (buffer_is_equal_string(srv->srvconf.network_backend, row.name, std::strlen(row.name))) {
                backend = row.backend;
                break;
            }
        }
        if (backend == NETWORK_BACKEND_UNSET) {
            HTTP_LOG_ERROR(srv, "sb", "server.network-backend has a unknown value:", srv->srvconf.network_backend);
            return -1;
        }
    }
    srv->network_backend_write =
        backend == NETWORK_BACKEND_WRITE ? network_write_chunkqueue_write : network_write_chunkqueue_writev;

    // Listeners of `$SERVER["socket"] == "host:port"` blocks, each with its
    // block's settings; a socket named twice is opened once.
    for (size_t i = 1; i < srv->config_context->used; ++i) {
        const auto* block = static_cast<const data_config*>(srv->config_context->data[i]);
        if (block->comp != COMP_SERVER_SOCKET || block->cond != CONFIG_COND_EQ || block->string == nullptr) {
            continue;
        }
        bool known = false;
        for (size_t j = 0; j < srv->srv_sockets.used && !known; ++j) {
            known = buffer_is_equal(srv->srv_sockets.ptr[j]->srv_token, block->string);
        }
        if (known) {
            continue;
        }
        if (network_server_init(srv, block->string, srv->config_storage[i]) != 0) {
            return -1;
        }
    }
    return 0;
}

int network_register_fdevents(server* srv) {
    if (fdevent_reset(srv->ev) == -1) {
        return -1;
    }
    for (size_t i = 0; i < srv->srv_sockets.used; ++i) {
        server_socket* listener = srv->srv_sockets.ptr[i];
        fdevent_register(srv->ev, listener->fd, network_server_handle_fdevent, listener);
        fdevent_event_set(srv->ev, &listener->fde_ndx, listener->fd, FDEVENT_IN);
    }
    return 0;
}

handler_t network_server_handle_fdevent(server* srv, void* context, int revents) {
    auto* listener = static_cast<server_socket*>(context);
    if ((revents & FDEVENT_IN) == 0) {
        HTTP_LOG_ERROR(srv, "sdd", "strange event for server socket", listener->fd, revents);
        return HANDLER_ERROR;
    }
    for (int accepted = 0; accepted < kAcceptsPerEvent; ++accepted) {
        connection* con = connection_accept(srv, listener);
        if (con == nullptr) {
            break;
        }
        connection_state_machine(srv, con);
        const handler_t result = plugins_call_handle_joblist(srv, con);
        if (result != HANDLER_GO_ON && result != HANDLER_FINISHED) {
            HTTP_LOG_ERROR(srv, "d", static_cast<int>(result));
        }
    }
    return HANDLER_GO_ON;
}

}  // extern "C"

}  // namespace hx
