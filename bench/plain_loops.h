#pragma once

// The references the transfer benchmark measures the program against, in the same run: plain
// loops over blocking loopback sockets that do only what the protocol needs.

#include <QElapsedTimer>
#include <QtGlobal>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace bench {

// A blocking socket listening on a free loopback port, and its address.
inline std::pair<int, sockaddr_in> loopbackListener()
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener, 1);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    return {listener, address};
}

// A connected pair of blocking loopback sockets.
inline std::pair<int, int> socketPair()
{
    const auto [listener, address] = loopbackListener();
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int server = accept(listener, nullptr, nullptr);
    close(listener);
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return {client, server};
}

inline bool readFull(int fd, char* data, size_t size)
{
    while (size > 0) {
        const ssize_t got = read(fd, data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= size_t(got);
    }
    return true;
}

// The protocol's own ceiling: 1024-byte blocks, each after the acknowledgement of the one
// before, over blocking sockets, as MB/s.
inline double stopAndWait(qint64 size)
{
    auto [sender, receiver] = socketPair();
    QElapsedTimer clock;
    clock.start();
    std::thread receiving([receiver = receiver, size] {
        std::vector<char> block(1024);
        quint32 count = 0;
        while (qint64(count) < size) {
            const size_t want = size_t(std::min<qint64>(1024, size - count));
            if (!readFull(receiver, block.data(), want))
                return;
            count += quint32(want);
            const quint32 ack = htonl(count);
            write(receiver, &ack, 4);
        }
    });
    std::vector<char> block(1024, 'x');
    for (qint64 sent = 0; sent < size;) {
        const size_t length = size_t(std::min<qint64>(1024, size - sent));
        write(sender, block.data(), length);
        sent += qint64(length);
        quint32 ack = 0;
        if (!readFull(sender, reinterpret_cast<char*>(&ack), 4))
            break;
    }
    receiving.join();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    close(sender);
    close(receiver);
    return double(size) / seconds / 1e6;
}

// A plain loopback copy in 256 KiB writes and reads, as MB/s.
inline double plainCopy(qint64 size)
{
    auto [sender, receiver] = socketPair();
    QElapsedTimer clock;
    clock.start();
    std::thread receiving([receiver = receiver, size] {
        std::vector<char> buffer(256 * 1024);
        for (qint64 got = 0; got < size;) {
            const ssize_t n = read(receiver, buffer.data(), buffer.size());
            if (n <= 0)
                return;
            got += n;
        }
    });
    std::vector<char> buffer(256 * 1024, 'x');
    for (qint64 sent = 0; sent < size;) {
        const ssize_t n = write(sender, buffer.data(),
                                size_t(std::min<qint64>(qint64(buffer.size()), size - sent)));
        if (n <= 0)
            break;
        sent += n;
    }
    receiving.join();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    close(sender);
    close(receiver);
    return double(size) / seconds / 1e6;
}

} // namespace bench
