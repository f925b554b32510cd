// SQLite, loaded when the sandbox store first calls it. Every program links the sandbox, but a run on
// another backend never opens the store: it does not pay at its start for loading SQLite and resolving
// its symbols. Each function the store calls is defined here with SQLite's own name and signature and
// forwards to the library's definition. When the library cannot be loaded, opening a database fails
// (one line on standard error says why) and every other call answers an error.
#include <dlfcn.h>
#include <sqlite3.h>

#include <cstdio>

#include "platform/large_buffer.h"

namespace {

// The functions the store (and its tests) call: result type, name, parameters, arguments, the answer without SQLite.
#define SSP_SQLITE_FUNCTIONS(X)                                                                             \
    X(int, sqlite3_open_v2, (const char* path, sqlite3** db, int flags, const char* vfs),                   \
      (path, db, flags, vfs), (*db = nullptr, SQLITE_CANTOPEN))                                             \
    X(int, sqlite3_open, (const char* path, sqlite3** db), (path, db), (*db = nullptr, SQLITE_CANTOPEN))      \
    X(int, sqlite3_close, (sqlite3 * db), (db), SQLITE_OK)                                                  \
    X(int, sqlite3_close_v2, (sqlite3 * db), (db), SQLITE_OK)                                               \
    X(int, sqlite3_exec, (sqlite3 * db, const char* sql, int (*callback)(void*, int, char**, char**),        \
                          void* arg, char** error),                                                         \
      (db, sql, callback, arg, error), SQLITE_ERROR)                                                        \
    X(int, sqlite3_busy_timeout, (sqlite3 * db, int ms), (db, ms), SQLITE_ERROR)                            \
    X(int, sqlite3_busy_handler, (sqlite3 * db, int (*handler)(void*, int), void* arg), (db, handler, arg),  \
      SQLITE_ERROR)                                                                                         \
    X(const char*, sqlite3_errmsg, (sqlite3 * db), (db), "SQLite is not available")                          \
    X(int, sqlite3_errcode, (sqlite3 * db), (db), SQLITE_ERROR)                                             \
    X(int, sqlite3_extended_errcode, (sqlite3 * db), (db), SQLITE_ERROR)                                    \
    X(int, sqlite3_changes, (sqlite3 * db), (db), 0)                                                        \
    X(int, sqlite3_get_autocommit, (sqlite3 * db), (db), 1)                                                 \
    X(int, sqlite3_prepare_v2, (sqlite3 * db, const char* sql, int bytes, sqlite3_stmt** stmt, const char** tail), \
      (db, sql, bytes, stmt, tail), SQLITE_ERROR)                                                           \
    X(int, sqlite3_finalize, (sqlite3_stmt * stmt), (stmt), SQLITE_OK)                                      \
    X(int, sqlite3_reset, (sqlite3_stmt * stmt), (stmt), SQLITE_ERROR)                                      \
    X(int, sqlite3_step, (sqlite3_stmt * stmt), (stmt), SQLITE_ERROR)                                       \
    X(int, sqlite3_bind_int64, (sqlite3_stmt * stmt, int i, sqlite3_int64 v), (stmt, i, v), SQLITE_ERROR)   \
    X(int, sqlite3_bind_null, (sqlite3_stmt * stmt, int i), (stmt, i), SQLITE_ERROR)                        \
    X(int, sqlite3_bind_text, (sqlite3_stmt * stmt, int i, const char* v, int n, void (*keep)(void*)),       \
      (stmt, i, v, n, keep), SQLITE_ERROR)                                                                  \
    X(int, sqlite3_bind_blob64,                                                                             \
      (sqlite3_stmt * stmt, int i, const void* v, sqlite3_uint64 n, void (*keep)(void*)),                   \
      (stmt, i, v, n, keep), SQLITE_ERROR)                                                                  \
    X(int, sqlite3_column_type, (sqlite3_stmt * stmt, int col), (stmt, col), SQLITE_NULL)                   \
    X(sqlite3_int64, sqlite3_column_int64, (sqlite3_stmt * stmt, int col), (stmt, col), 0)                  \
    X(const unsigned char*, sqlite3_column_text, (sqlite3_stmt * stmt, int col), (stmt, col), nullptr)      \
    X(const void*, sqlite3_column_blob, (sqlite3_stmt * stmt, int col), (stmt, col), nullptr)               \
    X(int, sqlite3_column_bytes, (sqlite3_stmt * stmt, int col), (stmt, col), 0)                            \
    X(int, sqlite3_blob_open,                                                                               \
      (sqlite3 * db, const char* schema, const char* table, const char* column, sqlite3_int64 row, int flags, \
       sqlite3_blob** blob),                                                                                \
      (db, schema, table, column, row, flags, blob), SQLITE_ERROR)                                          \
    X(int, sqlite3_blob_read, (sqlite3_blob * blob, void* out, int n, int offset), (blob, out, n, offset),   \
      SQLITE_ERROR)                                                                                         \
    X(int, sqlite3_blob_bytes, (sqlite3_blob * blob), (blob), 0)                                            \
    X(int, sqlite3_blob_close, (sqlite3_blob * blob), (blob), SQLITE_OK)

struct Library {
#define SSP_SQLITE_MEMBER(result, name, params, args, fallback) decltype(&::name) name = nullptr;
    SSP_SQLITE_FUNCTIONS(SSP_SQLITE_MEMBER)
#undef SSP_SQLITE_MEMBER
};

constexpr const char* kLibraryName = "libsqlite3.so.0";

// SQLite's own allocator, with its large blocks in huge pages (platform/large_buffer.h): storing a
// representation makes a record as large as its value. Set before the library's first use; a library
// that refuses keeps its allocator as it is.
void adviseLargeAllocations(void* handle) {
    auto config = reinterpret_cast<int (*)(int, ...)>(dlsym(handle, "sqlite3_config"));
    static sqlite3_mem_methods base;
    if (!config || config(SQLITE_CONFIG_GETMALLOC, &base) != SQLITE_OK) return;
    static sqlite3_mem_methods advised = base;
    advised.xMalloc = [](int size) {
        void* block = base.xMalloc(size);
        platform::adviseHugePages(block, static_cast<std::size_t>(size));
        return block;
    };
    advised.xRealloc = [](void* old, int size) {
        void* block = base.xRealloc(old, size);
        platform::adviseHugePages(block, static_cast<std::size_t>(size));
        return block;
    };
    config(SQLITE_CONFIG_MALLOC, &advised);
}

// The library's functions, or nothing when it cannot be loaded (said once on standard error). The
// handle is never closed: the functions stay valid until the process ends.
const Library* library() {
    static const Library* const loaded = []() -> const Library* {
        void* handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            std::fprintf(stderr, "cannot load %s: %s\n", kLibraryName, dlerror());
            return nullptr;
        }
        static Library functions;
#define SSP_SQLITE_RESOLVE(result, name, params, args, fallback)                              \
    functions.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                \
    if (!functions.name) {                                                                     \
        std::fprintf(stderr, "cannot load %s: it has no %s\n", kLibraryName, #name);            \
        return nullptr;                                                                        \
    }
        SSP_SQLITE_FUNCTIONS(SSP_SQLITE_RESOLVE)
#undef SSP_SQLITE_RESOLVE
        adviseLargeAllocations(handle);
        return &functions;
    }();
    return loaded;
}

}  // namespace

extern "C" {

#define SSP_SQLITE_FORWARD(result, name, params, args, fallback) \
    result name params {                                         \
        const Library* l = library();                            \
        return l ? l->name args : fallback;                      \
    }
SSP_SQLITE_FUNCTIONS(SSP_SQLITE_FORWARD)
#undef SSP_SQLITE_FORWARD

}  // extern "C"
