#include "run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace fmx_test {

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int read_end = -1;
    int write_end = -1;
    bool open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read_end = fds[0];
        write_end = fds[1];
        return true;
    }
    void close_read() { close_fd(read_end); }
    void close_write() { close_fd(write_end); }
    ~Pipe() {
        close_read();
        close_write();
    }
    static void close_fd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

std::vector<std::string> child_environment(const RunOptions& options) {
    std::vector<std::string> entries;
    auto is_changed = [&](const std::string& entry) {
        for (const auto& [name, value] : options.environment) {
            if (entry.starts_with(name + "=")) return true;
        }
        for (const std::string& name : options.unset_environment) {
            if (entry.starts_with(name + "=")) return true;
        }
        return false;
    };
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!is_changed(*entry)) entries.emplace_back(*entry);
    }
    for (const auto& [name, value] : options.environment) entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

int milliseconds_left(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Moves output into the strings and input out of `input` until both output
// pipes are closed or the deadline passes. Returns false at the deadline.
bool pump(Pipe& out, Pipe& err, Pipe& in, const std::string& input, RunResult& result,
          Clock::time_point deadline) {
    size_t written = 0;
    if (input.empty()) in.close_write();
    while (out.read_end >= 0 || err.read_end >= 0) {
        pollfd fds[3] = {{out.read_end, POLLIN, 0}, {err.read_end, POLLIN, 0}, {in.write_end, POLLOUT, 0}};
        const int ready = ::poll(fds, 3, milliseconds_left(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[65536];
        int* const readers[2] = {&out.read_end, &err.read_end};
        std::string* const texts[2] = {&result.standard_output, &result.standard_error};
        for (int i = 0; i < 2; ++i) {
            if (*readers[i] < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t n = ::read(*readers[i], buffer, sizeof(buffer));
            if (n > 0) {
                texts[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                Pipe::close_fd(*readers[i]);
            }
        }
        if (in.write_end >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            const ssize_t n = ::write(in.write_end, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if (n < 0 && errno != EINTR && errno != EAGAIN) in.close_write();
            if (written == input.size()) in.close_write();
        }
    }
    return true;
}

bool wait_until(pid_t pid, int& status, Clock::time_point deadline) {
    while (true) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno != EINTR) return true;
        if (Clock::now() >= deadline) return false;
        ::usleep(2000);
    }
}

int exit_status_of(int status) {
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
        const std::string candidate = (end > start ? dirs.substr(start, end - start) : ".") + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            error = 0;
            return candidate;
        }
        if (errno == EACCES) error = EACCES;
        start = end + 1;
    }
    return {};
}

// Starts the program in a process group of its own with its standard streams
// on the pipes. The child writes exec()'s errno into a pipe that closes by
// itself when exec() succeeds, so a program that cannot be started is told
// apart from one that exits with 127 (posix_spawn cannot tell them apart
// under qemu-user).
pid_t start_child(const std::string& program, char* const* argv, char* const* envp, const Pipe& out,
                  const Pipe& err, const Pipe* in, const std::optional<std::string>& directory, int& error) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = errno;
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        ::setpgid(0, 0);
        const int input = in != nullptr ? in->read_end : ::open("/dev/null", O_RDONLY);
        ::dup2(input, 0);
        ::dup2(out.write_end, 1);
        ::dup2(err.write_end, 2);
        ::signal(SIGPIPE, SIG_DFL);
        if (!directory || ::chdir(directory->c_str()) == 0) ::execve(program.c_str(), argv, envp);
        const int exec_error = errno;
        [[maybe_unused]] const ssize_t ignored = ::write(report[1], &exec_error, sizeof(exec_error));
        ::_exit(127);
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

RunResult run_command(const std::vector<std::string>& argv, const RunOptions& options) {
    RunResult result;
    if (argv.empty()) {
        result.exit_status = 127;
        result.error = "no program";
        return result;
    }
    // A program that stops reading its input must not end this process.
    ::signal(SIGPIPE, SIG_IGN);
    Pipe out, err, in;
    if (!out.open() || !err.open() || (options.standard_input && !in.open())) {
        result.exit_status = 127;
        result.error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }

    std::vector<std::string> args = argv;
    std::vector<std::string> env = child_environment(options);
    std::vector<char*> arg_pointers = pointers(args);
    std::vector<char*> env_pointers = pointers(env);
    int start_error = 0;
    const std::string program = find_program(argv[0], start_error);
    const pid_t pid = start_error == 0 ? start_child(program, arg_pointers.data(), env_pointers.data(), out, err,
                                                     options.standard_input ? &in : nullptr,
                                                     options.working_directory, start_error)
                                       : -1;
    out.close_write();
    err.close_write();
    in.close_read();
    if (start_error != 0) {
        int status = 0;
        if (pid > 0) ::waitpid(pid, &status, 0);
        result.exit_status = 127;
        result.error = "cannot run " + argv[0] + ": " + std::strerror(start_error);
        return result;
    }

    const Clock::time_point deadline = Clock::now() + options.timeout;
    int status = 0;
    const bool finished = pump(out, err, in, options.standard_input.value_or(""), result, deadline) &&
                          wait_until(pid, status, deadline);
    if (!finished) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.timed_out = true;
        result.exit_status = -1;
        return result;
    }
    result.exit_status = exit_status_of(status);
    return result;
}

}  // namespace fmx_test
