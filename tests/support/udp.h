// SPDX-License-Identifier: GPL-2.0-or-later
// udp.h - loopback traffic for the capture tests and benches: datagrams to
// 127.0.0.1 only, never to any other address.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

// A UDP socket bound to 127.0.0.1 on a free port. It takes the datagrams the
// tests send (never read), so the kernel answers none with ICMP.
struct UdpSink {
    int fd = -1;
    int port = 0;
    UdpSink() {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~UdpSink() { close(fd); }
    UdpSink(const UdpSink&) = delete;
    UdpSink& operator=(const UdpSink&) = delete;
};

// Sends count datagrams of payload bytes each to 127.0.0.1:port, gapUs
// microseconds apart.
inline void SendUdp(int port, int count, int payload = 64, int gapUs = 0) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const std::string data(static_cast<size_t>(payload), 'x');
    for (int i = 0; i < count; ++i) {
        sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (gapUs) std::this_thread::sleep_for(std::chrono::microseconds(gapUs));
    }
    close(fd);
}
