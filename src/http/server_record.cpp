// Creation and release of the server's state record.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/clock.h"
#include "http/fdevent.h"
#include "http/http_base.h"
#include "http/stat_cache.h"

namespace hx {

namespace {

constexpr char kModulesDir[] = "/vandik_app/tools/webserver/lib";

bool read_entropy(const char* device, unsigned char* out, size_t length) {
    const int fd = open(device, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const ssize_t got = read(fd, out, length);
    close(fd);
    return got == static_cast<ssize_t>(length);
}

void seed_random(server* srv) {
    if (read_entropy("/dev/urandom", srv->entropy, sizeof(srv->entropy)) ||
        read_entropy("/dev/random", srv->entropy, sizeof(srv->entropy))) {
        unsigned int seed = 0;
        std::memcpy(&seed, srv->entropy, sizeof(seed));
        std::srand(seed);
        srv->is_real_entropy = 1;
        return;
    }
    // The process-wide generator is seeded for the digest nonces; the bytes
    // here come from a private state, so no other thread's rand() interleaves.
    auto seed = static_cast<unsigned int>(srv->cur_ts) ^ static_cast<unsigned int>(getpid());
    std::srand(seed);
    for (unsigned char& byte : srv->entropy) {
        byte = static_cast<unsigned char>(rand_r(&seed));
    }
    srv->is_real_entropy = 0;
}

void specific_config_free(specific_config* s) {
    if (s == nullptr) {
        return;
    }
    array_free(s->mimetypes);
    for (buffer* b : {s->document_root, s->server_name, s->error_handler, s->server_tag, s->dirlist_encoding,
                      s->errorfile_prefix, s->ssl_pemfile, s->ssl_ca_file, s->ssl_cipher_list, s->ssl_dh_file,
                      s->ssl_ec_curve, s->ssl_verifyclient_username}) {
        buffer_free(b);
    }
    std::free(s);
}

void connections_list_free(connections* list) {
    if (list == nullptr) {
        return;
    }
    std::free(list->ptr);
    std::free(list);
}

}  // namespace

extern "C" {

server* server_init(void) {
    auto* srv = static_cast<server*>(std::calloc(1, sizeof(server)));
    HTTP_ASSERT(srv);

    for (buffer** b : {&srv->errorlog_buf, &srv->parse_full_path, &srv->response_header, &srv->response_range,
                       &srv->tmp_buf, &srv->tmp_chunk_len, &srv->empty_string, &srv->cond_check_buf,
                       &srv->ts_debug_str, &srv->ts_date_str}) {
        *b = buffer_init();
    }
    buffer_copy_string_len(srv->empty_string, "", 0);
    for (array** a : {&srv->split_vals, &srv->config, &srv->config_touched, &srv->config_context, &srv->status}) {
        *a = array_init();
    }
    for (mtime_cache_type& slot : srv->mtime_cache) {
        slot.mtime = -1;
        slot.str = buffer_init();
    }

    server_config& conf = srv->srvconf;
    for (buffer** b : {&conf.bindhost, &conf.errorlog_file, &conf.breakagelog_file, &conf.changeroot, &conf.username,
                       &conf.groupname, &conf.pid_file, &conf.event_handler, &conf.modules_dir,
                       &conf.network_backend}) {
        *b = buffer_init();
    }
    conf.modules = array_init();
    conf.upload_tempdirs = array_init();
    buffer_copy_string(conf.modules_dir, kModulesDir);
    conf.reject_expect_100_with_417 = 1;

    srv->cur_ts = static_cast<std::time_t>(TheClock().WallTime().tv_sec);
    srv->startup_ts = srv->cur_ts;
    seed_random(srv);

    srv->conns = static_cast<connections*>(std::calloc(1, sizeof(connections)));
    HTTP_ASSERT(srv->conns);
    srv->joblist = static_cast<connections*>(std::calloc(1, sizeof(connections)));
    HTTP_ASSERT(srv->joblist);
    srv->fdwaitqueue = static_cast<connections*>(std::calloc(1, sizeof(connections)));
    HTTP_ASSERT(srv->fdwaitqueue);

    srv->errorlog_fd = STDERR_FILENO;
    srv->errorlog_mode = ERRORLOG_FD;
    return srv;
}

void server_free(server* srv) {
    if (srv == nullptr) {
        return;
    }
    for (buffer* b : {srv->errorlog_buf, srv->parse_full_path, srv->response_header, srv->response_range,
                      srv->tmp_buf, srv->tmp_chunk_len, srv->empty_string, srv->cond_check_buf, srv->ts_debug_str,
                      srv->ts_date_str}) {
        buffer_free(b);
    }
    for (mtime_cache_type& slot : srv->mtime_cache) {
        buffer_free(slot.str);
    }

    server_config& conf = srv->srvconf;
    for (buffer* b : {conf.bindhost, conf.errorlog_file, conf.breakagelog_file, conf.changeroot, conf.username,
                      conf.groupname, conf.pid_file, conf.event_handler, conf.modules_dir, conf.network_backend}) {
        buffer_free(b);
    }
    array_free(conf.modules);
    array_free(conf.upload_tempdirs);

    fdevent_free(srv->ev);
    if (srv->config_storage != nullptr) {
        for (size_t i = 0; i < srv->config_context->used; ++i) {
            specific_config_free(srv->config_storage[i]);
        }
        std::free(srv->config_storage);
    }
    connections_list_free(srv->conns);
    connections_list_free(srv->joblist);
    connections_list_free(srv->fdwaitqueue);
    stat_cache_free(srv->stat_cache);

    // Once a configuration is read, `config` is the global block's settings
    // and goes with the blocks; before that it is an array of its own.
    const array* globalSettings = nullptr;
    if (srv->config_context->used != 0 && srv->config_context->data[0]->type == TYPE_CONFIG) {
        globalSettings = static_cast<const data_config*>(srv->config_context->data[0])->value;
    }
    if (srv->config != globalSettings) {
        array_free(srv->config);
    }
    for (array* a : {srv->config_context, srv->config_touched, srv->split_vals, srv->status}) {
        array_free(a);
    }
    std::free(srv);
}

}  // extern "C"

}  // namespace hx
