// The least a poller can cost: one kept-alive HTTP POST of the status query every 0.5 s, blocking,
// with nothing around it (no event loop, no HTTP library, no parsing). engine_bench.py measures it
// beside the real program, so that the program's figure can be read against what the machine
// charges for two wake-ups and a loopback exchange.
// Usage: poll_floor PORT (loopback only)
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const int port = std::atoi(argv[1]);
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(sock, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        std::perror("connect");
        return 1;
    }
    const std::string body
        = R"({"clock":{"sampling_rate":null,"sources":{"madi_coaxial":{"rate":null,"sync":null}}}})";
    const std::string request = "POST /api/v2/self HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
        + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n"
        + body;
    char answer[4096];
    for (;;) {
        const timespec half {0, 500'000'000};
        nanosleep(&half, nullptr);
        if (write(sock, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            return 1;
        if (read(sock, answer, sizeof answer) <= 0)
            return 1;
    }
}
