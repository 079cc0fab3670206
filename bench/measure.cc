// fmxbench_measure: runs one command and reports what it cost.
//
//   fmxbench_measure REPORT COMMAND [ARGS...]
//
// Runs COMMAND (found on PATH when it has no slash) with this program's
// standard input, output and error, waits for it and writes one line to the
// file REPORT:
//
//   wall_us=N user_us=N sys_us=N maxrss_kib=N status=N
//
// wall_us is the time from the fork to the end of the wait (monotonic clock);
// user_us, sys_us and maxrss_kib come from the child's resource usage, which
// includes the children it waited for (so an updater run counts the sasburn
// runs it starts; maxrss_kib is then the largest of them all). status is the
// exit status, or 128+N for signal N. The exit status of this program is
// COMMAND's; 125 when REPORT cannot be written, 127 when COMMAND cannot start.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

long long micros(const timeval& t) { return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec; }

long long now_micros() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: fmxbench_measure REPORT COMMAND [ARGS...]\n", stderr);
        return 125;
    }
    std::FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr) {
        std::fprintf(stderr, "fmxbench_measure: %s: %s\n", argv[1], std::strerror(errno));
        return 125;
    }
    const long long start = now_micros();
    const pid_t pid = fork();
    if (pid < 0) {
        std::fprintf(stderr, "fmxbench_measure: fork: %s\n", std::strerror(errno));
        return 125;
    }
    if (pid == 0) {
        std::fclose(report);
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "fmxbench_measure: %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int wait_status = 0;
    rusage usage{};
    while (wait4(pid, &wait_status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "fmxbench_measure: wait4: %s\n", std::strerror(errno));
            return 125;
        }
    }
    const long long wall = now_micros() - start;
    const int status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    std::fprintf(report, "wall_us=%lld user_us=%lld sys_us=%lld maxrss_kib=%ld status=%d\n", wall,
                 micros(usage.ru_utime), micros(usage.ru_stime), usage.ru_maxrss, status);
    if (std::fclose(report) != 0) return 125;
    return status;
}
