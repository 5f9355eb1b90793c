#pragma once

// One running `lumenkite-clip serve` process and the socket it reads and writes. Not
// thread-safe: its owner serialises the exchanges.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <sys/types.h>
#include <vector>

class CLIPHelperConnection
{
public:
    struct Answer {
        uint32_t status = 0;
        uint32_t count = 0;
        uint32_t dimension = 0;
        std::vector<float> values; // count x dimension
    };

    CLIPHelperConnection() = default;
    CLIPHelperConnection(const CLIPHelperConnection &) = delete;
    CLIPHelperConnection &operator=(const CLIPHelperConnection &) = delete;
    ~CLIPHelperConnection() { stop(); }

    // Starts the program and waits for it to report its towers loaded. `environment` holds
    // NAME=VALUE entries set for the helper on top of this process's own.
    bool start(const QString &program, const QStringList &arguments, int timeoutMs,
               const QStringList &environment = {});
    bool isRunning() const { return m_fd >= 0; }
    void stop();

    uint32_t imageDimension() const { return m_imageDimension; }
    uint32_t textDimension() const { return m_textDimension; }
    pid_t processId() const { return m_pid; }

    // Sends one request; no value when the helper died, hung or broke the protocol (the
    // connection is then stopped). An answer with a non-zero status is a value.
    std::optional<Answer> exchange(uint32_t kind, uint32_t count, const QByteArray &payload, int timeoutMs);

private:
    bool sendAll(const char *data, size_t size);
    bool receiveAll(char *data, size_t size, int timeoutMs);

    int m_fd = -1;
    pid_t m_pid = -1;
    uint32_t m_imageDimension = 0;
    uint32_t m_textDimension = 0;
};
