// Coverage builds only. A process that leaves by _exit, or becomes another
// program by execv, never runs the exit handler that writes its coverage
// counters: forked children would count for nothing. The link wraps both
// calls so that the counters are written first.
extern "C" {

void __gcov_dump(void);
[[noreturn]] void __real__exit(int status);
int __real_execv(const char *path, char *const argv[]);

[[noreturn]] void __wrap__exit(int status) {
    __gcov_dump();
    __real__exit(status);
}

int __wrap_execv(const char *path, char *const argv[]) {
    __gcov_dump();
    return __real_execv(path, argv);
}

}  // extern "C"
