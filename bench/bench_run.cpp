// Runs one program and reports its wall time and peak resident set:
//   bench_run <program> [arguments...]
// prints "<seconds> <peak RSS in KiB>" on standard error and exits with the
// program's status (128 + the signal when one ended it). A small process of
// its own, so the figure wait4() gives for the child is the child's and not
// that of a large parent it was forked from (a script interpreter).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: bench_run program [arguments...]\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 2;
    }
    if (pid == 0) {
        execv(argv[1], argv + 1);
        perror(argv[1]);
        _exit(127);
    }
    int status = 0;
    struct rusage ru = {};
    while (wait4(pid, &status, 0, &ru) < 0) {
        if (errno != EINTR) {
            perror("wait4");
            return 2;
        }
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    fprintf(stderr, "%.6f %ld\n", seconds, ru.ru_maxrss);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
