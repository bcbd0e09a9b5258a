// The configuration readers: files (with names relative to the main file's
// folder), command output for `include_shell`, and the parse context.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "http/config_file.h"
#include "http/errorlog.h"

namespace hx {

namespace {

const config_source_hooks* g_sourceHooks = nullptr;

const char* error_text(int error, char* scratch, size_t size) {
    // The GNU form returns the text, in the scratch space or a static table.
    return strerror_r(error, scratch, size);
}

int parse_text(server* srv, config_t* context, const buffer* source, const char* text, size_t size) {
    tokenizer_t t;
    tokenizer_init(&t, source, text, size);
    return config_parse(srv, context, &t);
}

bool is_absolute_or_dot(const char* name) {
    if (name[0] == '/' || name[0] == '\\') {
        return true;
    }
    return name[0] == '.' && (name[1] == '/' || name[1] == '\\');
}

}  // namespace

void config_set_source_hooks(const config_source_hooks* hooks) {
    g_sourceHooks = hooks;
}

int context_init(server* srv, config_t* context) {
    context->srv = srv;
    context->ok = 1;
    context->all_configs = nullptr;
    context->configs_stack = array_init();
    context->configs_stack->is_weakref = 1;
    context->current = nullptr;
    context->basedir = buffer_init();
    context->include_depth = 0;
    return 0;
}

int context_free(config_t* context) {
    array_free(context->configs_stack);
    context->configs_stack = nullptr;
    buffer_free(context->basedir);
    context->basedir = nullptr;
    return 0;
}

char* getCWD(void) {
    size_t size = 4096;
    for (;;) {
        char* path = static_cast<char*>(std::malloc(size));
        if (path == nullptr) {
            return nullptr;
        }
        if (getcwd(path, size) != nullptr) {
            return path;
        }
        const int error = errno;
        std::free(path);
        if (error != ERANGE || size > static_cast<size_t>(INT_MAX) / 2) {
            return nullptr;
        }
        size *= 2;
    }
}

int config_parse_file(server* srv, config_t* context, const char* name) {
    buffer* filename = buffer_init();
    if (buffer_is_empty(context->basedir) || is_absolute_or_dot(name)) {
        buffer_copy_string(filename, name);
    } else {
        buffer_copy_string_buffer(filename, context->basedir);
        buffer_append_string(filename, name);
    }
    char scratch[128];
    int result = 0;
    if (g_sourceHooks != nullptr && g_sourceHooks->read_file != nullptr) {
        buffer* text = buffer_init();
        if (g_sourceHooks->read_file(filename, text) != 0) {
            log_error_write(srv, "configfile", __LINE__, "sbss", "opening configfile ", filename, "failed:",
                            error_text(errno, scratch, sizeof scratch));
            result = -1;
        } else {
            result = parse_text(srv, context, filename, text->ptr, text->used > 0 ? text->used - 1 : 0);
        }
        buffer_free(text);
        buffer_free(filename);
        return result;
    }
    struct stat st;
    stream s = {nullptr, 0};
    if (::stat(filename->ptr, &st) != 0) {
        log_error_write(srv, "configfile", __LINE__, "sbss", "opening configfile ", filename, "failed:",
                        error_text(errno, scratch, sizeof scratch));
        result = -1;
    } else if (st.st_size == 0) {
        result = 0;  // an empty file is an empty configuration
    } else if (stream_open(&s, filename) != 0) {
        log_error_write(srv, "configfile", __LINE__, "sbss", "opening configfile ", filename, "failed:",
                        error_text(errno, scratch, sizeof scratch));
        result = -1;
    } else {
        result = parse_text(srv, context, filename, s.start, static_cast<size_t>(s.size));
        stream_close(&s);
    }
    buffer_free(filename);
    return result;
}

int config_parse_cmd(server* srv, config_t* context, const char* command) {
    buffer* source = buffer_init_string(command);
    buffer* out = buffer_init();
    char scratch[128];
    int result = 0;
    if (g_sourceHooks != nullptr && g_sourceHooks->run_command != nullptr) {
        if (g_sourceHooks->run_command(source, out) != 0) {
            log_error_write(srv, "configfile", __LINE__, "sbss", "opening", source, "failed:",
                            error_text(errno, scratch, sizeof scratch));
            result = -1;
        } else {
            result = parse_text(srv, context, source, out->ptr, out->used > 0 ? out->used - 1 : 0);
        }
        buffer_free(out);
        buffer_free(source);
        return result;
    }
    char* oldpwd = getCWD();
    if (oldpwd == nullptr) {
        log_error_write(srv, "configfile", __LINE__, "s", "cannot get cwd");
        buffer_free(out);
        buffer_free(source);
        return -1;
    }
    if (!buffer_is_empty(context->basedir)) {
        (void)!chdir(context->basedir->ptr);
    }
    if (proc_open_buffer(command, nullptr, out, nullptr) != 0) {
        log_error_write(srv, "configfile", __LINE__, "sbss", "opening", source, "failed:",
                        error_text(errno, scratch, sizeof scratch));
        result = -1;
    } else {
        // The command reader leaves `used` at the byte count, without the NUL.
        result = parse_text(srv, context, source, out->ptr, out->used);
    }
    (void)!chdir(oldpwd);
    std::free(oldpwd);
    buffer_free(out);
    buffer_free(source);
    return result;
}

}  // namespace hx
