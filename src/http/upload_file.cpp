// Upload temporary files: where an upload body is spooled, and where the web
// application finds it (g_arcUpgradeFiledir).
#include <fcntl.h>
#include <stdlib.h>

#include <cstdio>
#include <string>

#include "core/run_profile.h"
#include "http/chunk.h"

namespace hx {

extern "C" {
char g_arcUpgradeFiledir[kUploadPathSize];
}

namespace {

constexpr char kDefaultTemplate[] = "/var/tmp/webserver-upload-XXXXXX";
constexpr char kFileTemplate[] = "webserver-upload-XXXXXX";

// mkostemp on a copy of `path`: the descriptor (read-write, mode 0600,
// close-on-exec so the shell commands the card runs do not inherit it), with
// the created name in `created`; or -1. A path too long to publish counts as
// a failure, so the published name is always the file's own.
int create_unique(const std::string& path, std::string& created) {
    if (path.size() >= kUploadPathSize) {
        return -1;
    }
    char name[kUploadPathSize];
    std::snprintf(name, sizeof(name), "%s", path.c_str());
    const int fd = mkostemp(name, O_CLOEXEC);
    if (fd != -1) {
        created = name;
    }
    return fd;
}

std::string in_folder(const buffer* folder) {
    std::string path = folder->used > 1 ? std::string(folder->ptr, folder->used - 1) : std::string();
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path + kFileTemplate;
}

}  // namespace

extern "C" chunk* chunkqueue_get_append_tempfile(chunkqueue* cq) {
    if (cq == nullptr) {
        return nullptr;
    }
    chunk* c = chunkqueue_get_unused_chunk(cq);
    c->type = FILE_CHUNK;
    c->offset = 0;

    std::string path = ResolvePath(kDefaultTemplate);
    int fd = -1;
    if (cq->tempdirs != nullptr && cq->tempdirs->used != 0) {
        for (size_t i = 0; i < cq->tempdirs->used && fd == -1; ++i) {
            const data_unset* element = cq->tempdirs->data[i];
            if (element->type != TYPE_STRING) {
                continue;
            }
            const std::string candidate = in_folder(static_cast<const data_string*>(element)->value);
            if (candidate.size() >= kUploadPathSize) {
                continue;
            }
            path = candidate;
            fd = create_unique(path, path);
        }
    } else {
        fd = create_unique(path, path);
    }

    c->file.fd = fd;
    c->file.is_temp = fd != -1 ? 1 : 0;
    std::snprintf(g_arcUpgradeFiledir, sizeof(g_arcUpgradeFiledir), "%s", path.c_str());
    buffer_copy_string_len(c->file.name, path.data(), path.size());
    c->file.start = 0;
    c->file.length = 0;
    chunkqueue_append_chunk(cq, c);
    return c;
}

}  // namespace hx
