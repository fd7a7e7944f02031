// varnicle-logcatch [--full] SOCKET OUTPUT COMMAND [ARGUMENT...]: a system
// logger for tests. Binds a datagram socket at SOCKET (which must not exist),
// runs COMMAND, and while it runs appends every datagram received to OUTPUT,
// one per line, as the logger got it. Exits with the command's status.
// With --full the socket's queue is filled before the command starts and not
// read while it runs: a logger that takes nothing more.
// Meant for a private mount namespace whose /dev/log nobody else sees.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr char kFiller[] = "varnicle-logcatch filler";

bool Address(const char* path, sockaddr_un* address)
{
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof address->sun_path) {
        return false;
    }
    std::memcpy(address->sun_path, path, length + 1);
    return true;
}

// Appends the waiting datagrams to output; with wait, waits up to 20 ms for
// the first one.
void Drain(int socketFd, std::FILE* output, bool wait)
{
    static char datagram[65536];
    for (;;) {
        pollfd ready{socketFd, POLLIN, 0};
        if (poll(&ready, 1, wait ? 20 : 0) <= 0) {
            return;
        }
        wait = false;
        const ssize_t got = recv(socketFd, datagram, sizeof datagram, MSG_DONTWAIT);
        if (got < 0) {
            return;
        }
        const auto length = static_cast<std::size_t>(got);
        if (length == sizeof kFiller - 1 && std::memcmp(datagram, kFiller, length) == 0) {
            continue;
        }
        std::fwrite(datagram, 1, length, output);
        std::fputc('\n', output);
        std::fflush(output);
    }
}

// Sends filler datagrams from a second socket until the queue refuses more.
int Fill(const sockaddr_un& address)
{
    const int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sender < 0 || connect(sender, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("varnicle-logcatch: filler");
        return -1;
    }
    for (int sent = 0; sent < 100000; ++sent) {
        if (send(sender, kFiller, sizeof kFiller - 1, MSG_DONTWAIT) < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return sender;
            }
            std::perror("varnicle-logcatch: filler");
            return -1;
        }
    }
    std::fprintf(stderr, "varnicle-logcatch: the queue never filled\n");
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    int first = 1;
    bool full = false;
    if (argc > 1 && std::strcmp(argv[1], "--full") == 0) {
        full = true;
        ++first;
    }
    if (argc - first < 3) {
        std::fprintf(stderr, "usage: varnicle-logcatch [--full] SOCKET OUTPUT COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const char* path = argv[first];
    sockaddr_un address{};
    if (!Address(path, &address)) {
        std::fprintf(stderr, "varnicle-logcatch: socket path too long\n");
        return 2;
    }
    std::FILE* output = std::fopen(argv[first + 1], "ae");
    if (output == nullptr) {
        std::perror(argv[first + 1]);
        return 2;
    }
    const int socketFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socketFd < 0 || bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("varnicle-logcatch: bind");
        return 2;
    }
    chmod(path, 0666);
    int filler = -1;
    if (full && (filler = Fill(address)) < 0) {
        return 2;
    }

    const pid_t child = fork();
    if (child < 0) {
        std::perror("varnicle-logcatch: fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[first + 2], argv + first + 2);
        std::perror(argv[first + 2]);
        _exit(127);
    }
    int status = 0;
    for (;;) {
        if (!full) {
            Drain(socketFd, output, true);
        } else {
            poll(nullptr, 0, 20);
        }
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            std::perror("varnicle-logcatch: waitpid");
            return 2;
        }
    }
    Drain(socketFd, output, false);
    if (filler >= 0) {
        close(filler);
    }
    close(socketFd);
    std::fclose(output);
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
