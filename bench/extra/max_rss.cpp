// SPDX-License-Identifier: MIT
// max_rss OUT PROGRAM [ARG...]: runs PROGRAM, writes its peak resident memory in KiB to OUT and exits
// with its exit code. A process's peak includes what its parent had resident when it forked, so the
// figure is taken from this small launcher's child, not from a large interpreter's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: max_rss OUT PROGRAM [ARG...]\n");
        return 2;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 2;
    if (FILE* out = std::fopen(argv[1], "w")) {
        std::fprintf(out, "%ld\n", usage.ru_maxrss);
        std::fclose(out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
