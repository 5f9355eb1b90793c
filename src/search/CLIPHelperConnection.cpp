#include "search/CLIPHelperConnection.h"

#include "search/CLIPHelperProtocol.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

bool CLIPHelperConnection::start(const QString &program, const QStringList &arguments, int timeoutMs,
                                 const QStringList &environment)
{
    stop();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const QByteArray path = QFile::encodeName(program);
    QList<QByteArray> args{path};
    for (const QString &a : arguments) args.append(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Torch's OpenMP workers spin between operations by default; beside the app's own work
    // (decoding, indexing several videos) that spinning starves everyone, so unless told
    // otherwise they sleep.
    QList<QByteArray> env;
    const auto name = [](const QByteArray &entry) { return entry.left(entry.indexOf('=') + 1); };
    QList<QByteArray> extra;
    for (const QString &e : environment) extra.append(e.toLocal8Bit());
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (std::none_of(extra.cbegin(), extra.cend(), [&](const QByteArray &x) { return name(x) == name(entry); }))
            env.append(entry);
    }
    env += extra;
    if (std::none_of(env.cbegin(), env.cend(), [&](const QByteArray &x) { return name(x) == "OMP_WAIT_POLICY="; }))
        env.append("OMP_WAIT_POLICY=PASSIVE");
    std::vector<char *> envp;
    for (QByteArray &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return false;
    }
    m_fd = fds[0];
    m_pid = pid;
    uint32_t hello[4];
    if (!receiveAll(reinterpret_cast<char *>(hello), sizeof hello, timeoutMs) || hello[0] != clipproto::kHelloMagic ||
        hello[1] != clipproto::kOk) {
        stop();
        return false;
    }
    m_imageDimension = hello[2];
    m_textDimension = hello[3];
    return true;
}

void CLIPHelperConnection::stop()
{
    if (m_fd >= 0) ::close(m_fd); // the helper ends when its input closes
    m_fd = -1;
    if (m_pid > 0) {
        QElapsedTimer clock;
        clock.start();
        while (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
            if (clock.elapsed() > 2000) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                break;
            }
            ::usleep(2000);
        }
    }
    m_pid = -1;
    m_imageDimension = m_textDimension = 0;
}

bool CLIPHelperConnection::sendAll(const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t put = ::send(m_fd, data, size, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= size_t(put);
    }
    return true;
}

bool CLIPHelperConnection::receiveAll(char *data, size_t size, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (size > 0) {
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0) return false;
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t got = ::recv(m_fd, data, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        size -= size_t(got);
    }
    return true;
}

std::optional<CLIPHelperConnection::Answer> CLIPHelperConnection::exchange(uint32_t kind, uint32_t count,
                                                                          const QByteArray &payload, int timeoutMs)
{
    if (m_fd < 0) return std::nullopt;
    const uint32_t head[3] = {clipproto::kRequestMagic, kind, count};
    uint32_t answerHead[4];
    if (!sendAll(reinterpret_cast<const char *>(head), sizeof head) || !sendAll(payload.constData(), size_t(payload.size())) ||
        !receiveAll(reinterpret_cast<char *>(answerHead), sizeof answerHead, timeoutMs) ||
        answerHead[0] != clipproto::kAnswerMagic) {
        stop();
        return std::nullopt;
    }
    Answer a;
    a.status = answerHead[1];
    if (a.status != clipproto::kOk) return a;
    a.count = answerHead[2];
    a.dimension = answerHead[3];
    if (a.count != count || a.dimension == 0 || a.dimension > 65536) {
        stop();
        return std::nullopt;
    }
    a.values.resize(size_t(a.count) * a.dimension);
    if (!receiveAll(reinterpret_cast<char *>(a.values.data()), a.values.size() * sizeof(float), timeoutMs)) {
        stop();
        return std::nullopt;
    }
    return a;
}
