#include "child_process.h"

#include <signal.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace fmxsim {

namespace {

volatile sig_atomic_t child_pid = 0;

void pass_on(int signal_number) {
    if (child_pid > 0) ::kill(child_pid, signal_number);
}

std::vector<std::string> merged_environment(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const auto& [name, value] : changes) replaced = replaced || text.starts_with(name + "=");
        if (!replaced) entries.push_back(text);
    }
    for (const auto& [name, value] : changes) entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Sets the dispositions for the wait and returns the previous ones.
struct SignalSetup {
    struct sigaction term {}, hup {}, interrupt {}, quit {};
    SignalSetup() {
        struct sigaction forward {};
        forward.sa_handler = pass_on;
        sigemptyset(&forward.sa_mask);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGTERM, &forward, &term);
        sigaction(SIGHUP, &forward, &hup);
        sigaction(SIGINT, &ignore, &interrupt);
        sigaction(SIGQUIT, &ignore, &quit);
    }
    ~SignalSetup() {
        sigaction(SIGTERM, &term, nullptr);
        sigaction(SIGHUP, &hup, nullptr);
        sigaction(SIGINT, &interrupt, nullptr);
        sigaction(SIGQUIT, &quit, nullptr);
    }
};

int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return kCommandNotStarted;
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

// The program's path: the name itself when it has a slash, else the first
// executable file of that name in PATH.
std::string find_program(const std::string& name, int& error) {
    error = 0;
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    error = ENOENT;
    for (size_t start = 0; start <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            error = 0;
            return candidate;
        }
        if (errno == EACCES) error = EACCES;
        start = end + 1;
    }
    return {};
}

// Starts the program and tells whether exec() succeeded: the child writes
// exec()'s errno into a pipe that closes by itself on success. (posix_spawn
// reports exec failures only where vfork is real, which qemu-user's is not.)
pid_t start_child(const std::string& program, char* const* argv, char* const* envp, int& error) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = errno;
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int s : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) ::sigaction(s, &defaults, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::execve(program.c_str(), argv, envp);
        const int exec_error = errno;
        [[maybe_unused]] const ssize_t ignored = ::write(report[1], &exec_error, sizeof(exec_error));
        ::_exit(kCommandNotStarted);
    }
    ::close(report[1]);
    error = pid < 0 ? errno : 0;
    if (pid > 0) {
        int exec_error = 0;
        ssize_t n;
        while ((n = ::read(report[0], &exec_error, sizeof(exec_error))) < 0 && errno == EINTR) {
        }
        if (n == static_cast<ssize_t>(sizeof(exec_error))) error = exec_error;
    }
    ::close(report[0]);
    return pid;
}

}  // namespace

int run_command(const std::vector<std::string>& argv,
                const std::vector<std::pair<std::string, std::string>>& environment, std::string& error) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = merged_environment(environment);
    std::vector<char*> arg_pointers = pointers(args);
    std::vector<char*> env_pointers = pointers(env);
    int start_error = 0;
    const std::string program = find_program(argv[0], start_error);

    // A signal to pass on waits until the child's pid is known.
    SignalSetup signals;
    sigset_t held, previous;
    sigemptyset(&held);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    pid_t pid = -1;
    if (start_error == 0) pid = start_child(program, arg_pointers.data(), env_pointers.data(), start_error);
    if (pid > 0) child_pid = pid;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (start_error != 0) {
        if (pid > 0) wait_for(pid);
        child_pid = 0;
        error = "cannot run " + argv[0] + ": " + std::strerror(start_error);
        return kCommandNotStarted;
    }
    const int status = wait_for(pid);
    child_pid = 0;
    return status;
}

}  // namespace fmxsim
