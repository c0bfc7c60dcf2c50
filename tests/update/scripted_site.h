// A scripted web site on 127.0.0.1 (port picked by the system): each path answers with a fixed
// status and body; a body can be cut after some bytes while its full length was announced.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedSite {
public:
    struct Page {
        int status = 200;
        std::string body;
        size_t cutAfter = std::string::npos;  // close the connection after this many body bytes
    };

    ScriptedSite()
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 8);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        pipe(stop_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedSite()
    {
        write(stop_[1], "x", 1);
        thread_.join();
        close(listener_);
        close(stop_[0]);
        close(stop_[1]);
    }

    void Set(const std::string& path, Page page)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pages_[path] = std::move(page);
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    void Serve()
    {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        while (poll(fds, 2, -1) > 0 && !(fds[1].revents & POLLIN)) {
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            Answer(client);
            close(client);
        }
    }
    void Answer(int client)
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = read(client, buffer, sizeof buffer);
            if (n <= 0) return;
            request.append(buffer, size_t(n));
        }
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        Page page;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(path);
            auto found = pages_.find(path);
            page = found != pages_.end() ? found->second : Page{404, "not found"};
        }
        const std::string head = "HTTP/1.1 " + std::to_string(page.status) + " X\r\nContent-Length: " +
                                 std::to_string(page.body.size()) + "\r\nConnection: close\r\n\r\n";
        const std::string answer = head + page.body.substr(0, page.cutAfter);
        send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
    }

    int listener_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::map<std::string, Page> pages_;
    std::vector<std::string> requests_;
};
