#include "child_process.h"

#include <signal.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

int run_command(const std::vector<std::string>& argv,
                const std::vector<std::pair<std::string, std::string>>& environment, std::string& error) {
    std::vector<std::string> args = argv;
    std::vector<std::string> env = merged_environment(environment);
    std::vector<char*> arg_pointers = pointers(args);
    std::vector<char*> env_pointers = pointers(env);

    // The child starts with default dispositions, not with the ones set here.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int s : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    // A signal to pass on waits until the child's pid is known.
    SignalSetup signals;
    sigset_t held, previous;
    sigemptyset(&held);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
    pid_t pid = 0;
    const int spawn_error =
        posix_spawnp(&pid, arg_pointers[0], nullptr, &attributes, arg_pointers.data(), env_pointers.data());
    posix_spawnattr_destroy(&attributes);
    if (spawn_error == 0) child_pid = pid;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (spawn_error != 0) {
        error = "cannot run " + argv[0] + ": " + std::strerror(spawn_error);
        return kCommandNotStarted;
    }
    const int status = wait_for(pid);
    child_pid = 0;
    return status;
}

}  // namespace fmxsim
