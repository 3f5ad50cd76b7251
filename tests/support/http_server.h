// A small HTTP/1.1 server on 127.0.0.1, in a thread of the test program, whose every answer the
// test scripts: status, headers, body, with or without Content-Length, a short body, a redirect,
// a stall, a dropped connection. One connection at a time, each closed after its answer.
#pragma once

#include "win/convert.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct Reply {
    int status = 200;
    std::string headers{};         // further header lines, each ended by CR LF
    std::string body{};
    std::uint64_t repeat = 1;      // the body is sent this many times: large downloads, small memory
    bool length = true;            // send a Content-Length
    std::uint64_t missing = 0;     // stop this many bytes short of the Content-Length, then close
    bool drop = false;             // close the connection without answering
    std::function<void()> midway{};  // called when half the body is out (a stall, a cancel)
};

class HttpServer {
public:
    using Script = std::function<Reply(const std::string& target)>;

    // Port 0 takes a free one.
    explicit HttpServer(Script script, std::uint16_t port = 0) : script_(std::move(script)) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const BOOL reuse = TRUE;  // a fixed port is bound again by the next test at once
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
        sockaddr_in address = Loopback(port);
        int size = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener_, 16) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("can't listen on 127.0.0.1:" + std::to_string(port));
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }

    ~HttpServer() {
        stop_ = true;
        SOCKET wake = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);  // unblocks accept
        const sockaddr_in address = Loopback(port_);
        connect(wake, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        thread_.join();
        closesocket(wake);
        closesocket(listener_);
        WSACleanup();
    }

    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::wstring Url(const std::string& target) const {
        return L"http://127.0.0.1:" + std::to_wstring(port_) + setup::win::Widen(target);
    }

    // The heads of the requests received so far, request line first.
    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> lock(lock_);
        return requests_;
    }

    // A port on which nothing listens.
    static std::uint16_t ClosedPort() {
        HttpServer probe([](const std::string&) { return Reply{}; });
        return probe.port();
    }

private:
    static sockaddr_in Loopback(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }

    static bool Send(SOCKET client, const std::string& bytes, std::size_t size) {
        for (std::size_t sent = 0; sent < size;) {
            const int chunk = send(client, bytes.data() + sent % bytes.size(),
                                   static_cast<int>(std::min(size - sent, bytes.size() - sent % bytes.size())), 0);
            if (chunk <= 0) return false;
            sent += chunk;
        }
        return true;
    }

    void Serve() {
        for (;;) {
            const SOCKET client = accept(listener_, nullptr, nullptr);
            if (stop_) {
                if (client != INVALID_SOCKET) closesocket(client);
                return;
            }
            if (client == INVALID_SOCKET) continue;
            Answer(client);
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }

    void Answer(SOCKET client) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            const int got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) return;
            head.append(buffer, got);
        }
        {
            std::lock_guard<std::mutex> lock(lock_);
            requests_.push_back(head.substr(0, head.find("\r\n\r\n")));
        }
        const std::size_t start = head.find(' ') + 1;
        const Reply reply = script_(head.substr(start, head.find(' ', start) - start));
        if (reply.drop) return;

        const std::uint64_t size = reply.body.size() * reply.repeat;
        std::string answer = "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\n" + reply.headers +
                             "Connection: close\r\n";
        if (reply.length) answer += "Content-Length: " + std::to_string(size) + "\r\n";
        if (!Send(client, answer + "\r\n", answer.size() + 2) || size == 0) return;
        const std::uint64_t end = size - std::min(reply.missing, size), half = std::min(size / 2, end);
        if (!Send(client, reply.body, half)) return;
        if (reply.midway) reply.midway();
        // Rotate the body so that the second part goes on where the first stopped.
        const std::size_t offset = half % reply.body.size();
        Send(client, reply.body.substr(offset) + reply.body.substr(0, offset), end - half);
    }

    Script script_;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
};

}  // namespace testing_support
