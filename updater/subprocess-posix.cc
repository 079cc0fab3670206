#include "subprocess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace updater {

namespace {

void close_fd(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (m_pid > 0) finish();
}

int ChildProcess::start(const std::vector<std::string>& argv) {
  if (m_pid > 0 || argv.empty()) return EINVAL;
  m_exit = ChildExit();

  // Everything the child needs is prepared before fork.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& word : argv)
    args.push_back(const_cast<char*>(word.c_str()));
  args.push_back(nullptr);

  int out_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) return errno;
  // Carries the errno of a failed exec back to the parent; closed by a
  // successful exec.
  int err_pipe[2];
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    const int error = errno;
    close_fd(out_pipe[0]);
    close_fd(out_pipe[1]);
    return error;
  }

  const pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    close_fd(out_pipe[0]);
    close_fd(out_pipe[1]);
    close_fd(err_pipe[0]);
    close_fd(err_pipe[1]);
    return error;
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls up to exec.
    if (out_pipe[1] == STDOUT_FILENO) {
      ::fcntl(STDOUT_FILENO, F_SETFD, 0);  // keep it across exec
    } else if (::dup2(out_pipe[1], STDOUT_FILENO) < 0) {
      const int error = errno;
      (void)!::write(err_pipe[1], &error, sizeof error);
      ::_exit(127);
    }
    ::execvp(args[0], args.data());
    const int error = errno;
    (void)!::write(err_pipe[1], &error, sizeof error);
    ::_exit(127);
  }

  close_fd(out_pipe[1]);
  close_fd(err_pipe[1]);
  int child_error = 0;
  ssize_t got;
  do {
    got = ::read(err_pipe[0], &child_error, sizeof child_error);
  } while (got < 0 && errno == EINTR);
  close_fd(err_pipe[0]);
  if (got == static_cast<ssize_t>(sizeof child_error)) {
    close_fd(out_pipe[0]);
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return child_error != 0 ? child_error : ENOEXEC;
  }

  m_out = ::fdopen(out_pipe[0], "r");
  if (m_out == nullptr) {
    const int error = errno;
    close_fd(out_pipe[0]);
    m_pid = pid;
    finish();  // reap it; its output has nowhere to go
    m_exit.started = false;
    return error;
  }
  m_pid = pid;
  m_exit.started = true;
  return 0;
}

ChildExit ChildProcess::finish() {
  if (m_out != nullptr) {
    char discard[4096];
    for (;;) {
      if (std::fread(discard, 1, sizeof discard, m_out) > 0) continue;
      if (std::ferror(m_out) && errno == EINTR) {
        std::clearerr(m_out);
        continue;
      }
      break;
    }
    std::fclose(m_out);
    m_out = nullptr;
  }
  if (m_pid > 0) {
    int status = 0;
    pid_t done;
    do {
      done = ::waitpid(m_pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    m_pid = -1;
    if (done > 0 && WIFEXITED(status)) {
      m_exit.exited = true;
      m_exit.status = WEXITSTATUS(status);
    } else if (done > 0 && WIFSIGNALED(status)) {
      m_exit.exited = false;
      m_exit.status = WTERMSIG(status);
    } else {
      // The child could not be waited for: its outcome is unknown, which
      // must not read as success.
      m_exit.exited = false;
      m_exit.status = 0;
    }
  }
  return m_exit;
}

bool read_piece(std::FILE* f, std::string& line) {
  char buf[kLineBuffer];
  if (std::fgets(buf, sizeof buf, f) == nullptr) return false;
  line.assign(buf);
  return true;
}

std::string command_text(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& word : argv) {
    if (!text.empty()) text += ' ';
    text += word;
  }
  return text;
}

}  // namespace updater
