// The virtual module's transport: a TCP client of vpcd that hands every
// message to ModuleSim and sends its answer back.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sim/ModuleSim.h"
#include "sim/SimOptions.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int)
{
    g_stop = 1;
}

void InstallSignals()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocked read or connect returns EINTR and the loop sees the flag.
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

// vpcd sends the length and the payload in separate writes; without these the
// delayed acknowledgement stalls every exchange by about 40 ms.
void TuneSocket(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
#ifdef TCP_QUICKACK
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
}

int Connect(const std::string& host, unsigned port)
{
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0)
            continue;
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd >= 0)
        TuneSocket(fd);
    return fd;
}

// Reads exactly length bytes; false on end of stream, error or stop.
bool ReadAll(int fd, std::uint8_t* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = recv(fd, data + done, length - done, 0);
        if (n < 0 && errno == EINTR && !g_stop)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
#ifdef TCP_QUICKACK
        // The kernel turns quick acknowledgement off again after a while.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#endif
    }
    return true;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = send(fd, data + done, length - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A command from the reader is logged with its name ("varnicle-sim: > serial:
// 80 FE 06 ..."), so that the tests read what the module received without
// decoding bytes themselves.
void LogMessage(const char* direction, const sim::Bytes& message)
{
    if (message.size() == 1) {
        static const char* const controls[] = {"power off", "power on", "reset", "?", "get ATR"};
        const char* name = message[0] < 5 ? controls[message[0]] : "?";
        std::fprintf(stderr, "varnicle-sim: %s %02X (%s)\n", direction, message[0], name);
    } else if (direction[0] == '>') {
        const sim::Command command = sim::ModuleSim::Classify(message.data(), message.size());
        std::fprintf(stderr, "varnicle-sim: > %s: %s\n", sim::ModuleSim::CommandName(command),
                     sim::FormatHex(message.data(), message.size()).c_str());
    } else {
        std::fprintf(stderr, "varnicle-sim: %s %s\n", direction,
                     sim::FormatHex(message.data(), message.size()).c_str());
    }
}

enum class End { Closed, Dropped, Stopped };

// Serves one connection until it ends.
End Serve(int fd, const sim::SimOptions& options)
{
    sim::ModuleSim module(options.module);
    sim::Bytes message;
    for (;;) {
        std::uint8_t header[2];
        if (!ReadAll(fd, header, 2))
            return g_stop ? End::Stopped : End::Closed;
        message.assign(static_cast<std::size_t>(header[0] << 8 | header[1]), 0);
        if (!message.empty() && !ReadAll(fd, message.data(), message.size()))
            return g_stop ? End::Stopped : End::Closed;
        if (options.log)
            LogMessage(">", message);
        const sim::Reply reply = module.Handle(message.data(), message.size());
        if (reply.kind == sim::Reply::Kind::Drop) {
            if (options.log)
                std::fprintf(stderr, "varnicle-sim: card removed\n");
            return End::Dropped;
        }
        if (reply.kind != sim::Reply::Kind::Send)
            continue;
        if (options.log)
            LogMessage("<", reply.payload);
        sim::Bytes out;
        out.reserve(reply.payload.size() + 2);
        out.push_back(static_cast<std::uint8_t>(reply.payload.size() >> 8));
        out.push_back(static_cast<std::uint8_t>(reply.payload.size()));
        out.insert(out.end(), reply.payload.begin(), reply.payload.end());
        if (!WriteAll(fd, out.data(), out.size()))
            return g_stop ? End::Stopped : End::Closed;
    }
}

void Pause(long milliseconds)
{
    timespec pause{0, milliseconds * 1000000L};
    nanosleep(&pause, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    sim::SimOptions options;
    std::string error;
    if (!sim::ParseSimOptions(argc - 1, argv + 1, &options, &error)) {
        std::fprintf(stderr, "varnicle-sim: %s\nTry varnicle-sim --help.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::kUsage, stdout);
        return 0;
    }
    setvbuf(stderr, nullptr, _IOLBF, 0);
    InstallSignals();

    bool announced = false;
    while (!g_stop) {
        const int fd = Connect(options.host, options.port);
        if (fd < 0) {
            if (options.log && !announced)
                std::fprintf(stderr, "varnicle-sim: waiting for vpcd on %s:%u\n", options.host.c_str(), options.port);
            announced = true;
            Pause(50);
            continue;
        }
        announced = false;
        if (options.log)
            std::fprintf(stderr, "varnicle-sim: connected to %s:%u\n", options.host.c_str(), options.port);
        const End end = Serve(fd, options);
        close(fd);
        if (end == End::Dropped)
            return 0;
        if (end == End::Closed && options.log)
            std::fprintf(stderr, "varnicle-sim: connection closed\n");
        if (options.once)
            return 0;
        Pause(50);
    }
    return 0;
}
