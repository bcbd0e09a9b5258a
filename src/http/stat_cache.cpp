// The stat cache: file status, content type and ETag per path, looked up by a
// hash of the path in a splay tree, taken again at most once a second and
// dropped two seconds after it was taken. Failed lookups are kept the same
// way, so a name that does not exist (every POST's ".w" name) costs one stat
// a second, and small files' bytes ride along with their entries, so a
// static request costs no open, read or close of the file within the second.
#include "http/stat_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "http/errorlog.h"
#include "http/etag.h"

namespace hx {

namespace {

constexpr const char* kTag = "stat_cache";

// Entries older than this many seconds go at the next cleanup.
constexpr std::time_t kMaxEntryAge = 2;

int splaytree_size(const tree_node* t) {
    return t == nullptr ? 0 : t->size;
}

stat_cache_entry* stat_cache_entry_init(void) {
    auto* sce = static_cast<stat_cache_entry*>(std::calloc(1, sizeof(stat_cache_entry)));
    HTTP_ASSERT(sce != nullptr);
    sce->name = buffer_init();
    sce->etag = buffer_init();
    sce->content_type = buffer_init();
    return sce;
}

// Drops the entry's file bytes and gives them back to the budget.
void drop_content(stat_cache* sc, stat_cache_entry* sce) {
    if (sce->content != nullptr) {
        sc->content_bytes -= sce->content->size;
        buffer_free(sce->content);
        sce->content = nullptr;
    }
    sce->content_tried = 0;
}

void stat_cache_entry_free(stat_cache* sc, void* data) {
    auto* sce = static_cast<stat_cache_entry*>(data);
    if (sce == nullptr) {
        return;
    }
    drop_content(sc, sce);
    buffer_free(sce->name);
    buffer_free(sce->etag);
    buffer_free(sce->content_type);
    std::free(sce);
}

// Whether the open file is still the one the entry describes.
bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The whole file into `out`, which has room for one byte more than the size
// the entry says: a read that fills that byte, or ends early, means the file
// changed since its status was taken.
bool read_whole_file(const stat_cache_entry* sce, buffer* out) {
    const int fd = open(sce->name->ptr, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd == -1) {
        return false;
    }
    struct stat st {};
    bool good = fstat(fd, &st) == 0 && same_file(st, sce->st);
    const auto expected = static_cast<size_t>(sce->st.st_size);
    size_t have = 0;
    while (good) {
        const ssize_t got = read(fd, out->ptr + have, expected + 1 - have);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            good = got == 0 && have == expected;
            break;
        }
        have += static_cast<size_t>(got);
        if (have > expected) {
            good = false;
        } else if (have == expected) {
            // A regular file's read is short only at its end; the status
            // just taken says this is it.
            break;
        }
    }
    close(fd);
    if (good) {
        out->ptr[expected] = '\0';
        out->used = expected + 1;
    }
    return good;
}

// Fills `sce` (keyed `key`, already in the tree or null for a new one)
// afresh with a lookup's outcome for this second: `st` for a found file, or
// the lookup's errno. Returns the entry.
stat_cache_entry* renew_entry(server* srv, stat_cache* sc, int key, stat_cache_entry* sce, const buffer* name,
                              const struct stat& st, int error) {
    if (sce == nullptr) {
        sce = stat_cache_entry_init();
        sc->files = splaytree_insert(sc->files, key, sce);
    }
    buffer_copy_string_buffer(sce->name, name);
    buffer_reset(sce->etag);
    buffer_reset(sce->content_type);
    drop_content(sc, sce);
    sce->st = st;
    sce->stat_ts = srv->cur_ts;
    sce->is_symlink = 0;
    sce->stat_errno = error;
    return sce;
}

// Records a failed lookup in `sce` (keyed `key`, already in the tree or null
// for a new one) and returns HANDLER_ERROR with errno set to `error`.
handler_t remember_failure(server* srv, stat_cache* sc, int key, stat_cache_entry* sce, const buffer* name,
                           int error) {
    renew_entry(srv, sc, key, sce, name, {}, error);
    errno = error;
    return HANDLER_ERROR;
}

// 0 when the path is a symbolic link, 1 when not, -1 when lstat failed
// (logged; the caller takes it for no link).
int stat_cache_lstat(server* srv, const buffer* path, struct stat* lst) {
    if (lstat(path->ptr, lst) == 0) {
        return S_ISLNK(lst->st_mode) ? 0 : 1;
    }
    char scratch[128];
    log_error_write(srv, kTag, __LINE__, "sbs", "lstat failed for:", path, http_error_text(errno, scratch, sizeof scratch));
    return -1;
}

// Bernstein's hash of the text, 31 bits.
int hashme(const buffer* text) {
    std::uint32_t h = 5381;
    const size_t length = text->used > 0 ? text->used - 1 : 0;
    for (size_t i = 0; i < length; ++i) {
        h = h * 33 + static_cast<unsigned char>(text->ptr[i]);
    }
    return static_cast<int>(h & 0x7FFFFFFF);
}

// The keys of every entry taken more than kMaxEntryAge seconds before `now`.
void stat_cache_tag_old_entries(tree_node* t, std::time_t now, std::vector<int>& keys) {
    std::vector<tree_node*> pending;
    if (t != nullptr) {
        pending.push_back(t);
    }
    while (!pending.empty()) {
        tree_node* node = pending.back();
        pending.pop_back();
        const auto* sce = static_cast<const stat_cache_entry*>(node->data);
        if (sce != nullptr && now - sce->stat_ts > kMaxEntryAge) {
            keys.push_back(node->key);
        }
        for (tree_node* child : {node->left, node->right}) {
            if (child != nullptr) {
                pending.push_back(child);
            }
        }
    }
}

bool ends_with_caseless(const buffer* text, const buffer* suffix) {
    if (text->used == 0 || suffix->used <= 1 || suffix->used > text->used) {
        return false;
    }
    const size_t length = suffix->used - 1;
    const char* tail = text->ptr + (text->used - 1 - length);
    return strncasecmp(tail, suffix->ptr, length) == 0;
}

void assign_content_type(const connection* con, stat_cache_entry* sce) {
    const array* types = con->conf.mimetypes;
    if (types == nullptr) {
        return;
    }
    for (size_t i = 0; i < types->used; ++i) {
        const data_unset* du = types->data[i];
        if (du->type != TYPE_STRING || !ends_with_caseless(sce->name, du->key)) {
            continue;
        }
        buffer_copy_string_buffer(sce->content_type, static_cast<const data_string*>(du)->value);
        return;
    }
}

// Whether the path or one of its parent folders (nearest first) is a symbolic
// link.
bool is_under_symlink(server* srv, stat_cache* sc, const buffer* path) {
    struct stat lst {};
    if (stat_cache_lstat(srv, path, &lst) == 0) {
        return true;
    }
    buffer_copy_string_buffer(sc->dir_name, path);
    buffer* dir = sc->dir_name;
    while (dir->used > 1) {
        char* slash = std::strrchr(dir->ptr, '/');
        if (slash == nullptr || slash == dir->ptr) {
            break;  // no parent left, or the root
        }
        *slash = '\0';
        dir->used = static_cast<size_t>(slash - dir->ptr) + 1;
        if (stat_cache_lstat(srv, dir, &lst) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" {

stat_cache* stat_cache_init(void) {
    auto* sc = static_cast<stat_cache*>(std::calloc(1, sizeof(stat_cache)));
    HTTP_ASSERT(sc != nullptr);
    sc->dir_name = buffer_init();
    sc->hash_key = buffer_init();
    return sc;
}

void stat_cache_free(stat_cache* sc) {
    if (sc == nullptr) {
        return;
    }
    while (sc->files != nullptr) {
        const int osize = sc->files->size;
        stat_cache_entry_free(sc, sc->files->data);
        sc->files = splaytree_delete(sc->files, sc->files->key);
        HTTP_ASSERT(osize - 1 == splaytree_size(sc->files));
    }
    buffer_free(sc->dir_name);
    buffer_free(sc->hash_key);
    std::free(sc);
}

handler_t stat_cache_get_entry(server* srv, connection* con, buffer* name, stat_cache_entry** fce) {
    *fce = nullptr;
    if (name == nullptr || name->used <= 1) {
        errno = ENOENT;
        return HANDLER_ERROR;
    }
    if (srv->stat_cache == nullptr) {
        srv->stat_cache = stat_cache_init();
    }
    stat_cache* sc = srv->stat_cache;

    buffer_copy_string_buffer(sc->hash_key, name);
    buffer_append_long(sc->hash_key, con->conf.follow_symlink);
    const int key = hashme(sc->hash_key);

    stat_cache_entry* sce = nullptr;
    sc->files = splaytree_splay(sc->files, key);
    if (sc->files != nullptr && sc->files->key == key) {
        sce = static_cast<stat_cache_entry*>(sc->files->data);
        if (buffer_is_equal(name, sce->name) && srv->srvconf.stat_cache_engine == STAT_CACHE_ENGINE_SIMPLE &&
            sce->stat_ts == srv->cur_ts) {
            if (sce->stat_errno != 0) {
                errno = sce->stat_errno;
                return HANDLER_ERROR;
            }
            *fce = sce;
            return HANDLER_GO_ON;
        }
    }

    // An entry found under this key may belong to another path whose hash is
    // the same: it now serves this path, so its name must say so.
    struct stat st {};
    if (stat(name->ptr, &st) == -1) {
        return remember_failure(srv, sc, key, sce, name, errno);
    }
    if (S_ISREG(st.st_mode)) {
        // A file named as a folder ("file.html/") must not be served.
        if (name->ptr[name->used - 2] == '/') {
            return remember_failure(srv, sc, key, sce, name, ENOTDIR);
        }
        const int fd = open(name->ptr, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd == -1) {
            return remember_failure(srv, sc, key, sce, name, errno);
        }
        close(fd);
    }

    sce = renew_entry(srv, sc, key, sce, name, st, 0);

    if (!con->conf.follow_symlink && is_under_symlink(srv, sc, name)) {
        sce->is_symlink = 1;
    }

    if (S_ISREG(st.st_mode)) {
        assign_content_type(con, sce);
    } else if (!S_ISDIR(st.st_mode)) {
        *fce = sce;
        return HANDLER_GO_ON;
    }
    etag_create(sce->etag, &sce->st, static_cast<etag_flags_t>(con->etag_flags));
    *fce = sce;
    return HANDLER_GO_ON;
}

int stat_cache_trigger_cleanup(server* srv) {
    stat_cache* sc = srv->stat_cache;
    if (sc == nullptr) {
        return 0;
    }
    std::vector<int> keys;
    stat_cache_tag_old_entries(sc->files, srv->cur_ts, keys);
    for (const int key : keys) {
        sc->files = splaytree_splay(sc->files, key);
        if (sc->files != nullptr && sc->files->key == key) {
            stat_cache_entry_free(sc, sc->files->data);
            sc->files = splaytree_delete(sc->files, key);
        }
    }
    return 0;
}

}  // extern "C"

const buffer* stat_cache_entry_content(server* srv, stat_cache_entry* sce) {
    if (sce->content != nullptr) {
        return sce->content;
    }
    // Without the cache every request reads the file as it is now.
    stat_cache* sc = srv->stat_cache;
    if (sce->content_tried || sc == nullptr || srv->srvconf.stat_cache_engine != STAT_CACHE_ENGINE_SIMPLE ||
        sce->stat_errno != 0 || !S_ISREG(sce->st.st_mode) ||
        sce->st.st_size <= 0 || sce->st.st_size > kStatCacheContentMaxFile) {
        return nullptr;
    }
    sce->content_tried = 1;
    buffer* content = buffer_init();
    // Room for the byte that tells a grown file, and the NUL.
    buffer_prepare_copy(content, static_cast<size_t>(sce->st.st_size) + 2);
    if (sc->content_bytes + content->size > kStatCacheContentMaxTotal || !read_whole_file(sce, content)) {
        buffer_free(content);
        return nullptr;
    }
    sce->content = content;
    sc->content_bytes += content->size;
    return content;
}

}  // namespace hx
