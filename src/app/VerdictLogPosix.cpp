#include "app/VerdictLog.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// The administrator's switch: records are off when this file's first word is
// "off". A configuration tool puts the same file on every station.
constexpr char kSwitchPath[] = "/etc/varnicle/verdict-records";
constexpr char kLogSocket[] = "/dev/log";
// authpriv (10) with notice (5) or warning (4).
constexpr int kPassedPriority = 10 * 8 + 5;
constexpr int kFailedPriority = 10 * 8 + 4;

bool RecordsOn()
{
    const int fd = open(kSwitchPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    char text[64] = {};
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) {
        return true;
    }
    const char* word = text;
    while (*word == ' ' || *word == '\t' || *word == '\r' || *word == '\n') {
        ++word;
    }
    const std::size_t length = std::strcspn(word, " \t\r\n");
    return !(length == 3 && std::strncmp(word, "off", 3) == 0);
}

void UserName(char* out, std::size_t size)
{
    const uid_t uid = getuid();
    passwd entry{};
    passwd* found = nullptr;
    char buffer[2048];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr && found->pw_name != nullptr) {
        std::snprintf(out, size, "%s", found->pw_name);
    } else {
        std::snprintf(out, size, "#%lu", static_cast<unsigned long>(uid));
    }
}

// The header syslog(3) writes: priority, local time, ident and pid.
int Header(char* out, std::size_t size, int priority, unsigned long pid)
{
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return std::snprintf(out, size, "<%d>varnicle[%lu]: ", priority, pid);
    }
    return std::snprintf(out, size, "<%d>%s %2d %02d:%02d:%02d varnicle[%lu]: ", priority, kMonths[local.tm_mon % 12],
                         local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, pid);
}

}  // namespace

// The datagram syslog(3) would send, but sent without waiting: syslog(3)
// blocks while the logger's queue is full, and the verdict must not wait
// for a logger.
void WriteSystemVerdict(const VerdictFacts& facts) noexcept
{
    if (!RecordsOn()) {
        return;
    }
    char user[128];
    UserName(user, sizeof user);
    const auto pid = static_cast<unsigned long>(getpid());
    static VerdictFields fields;
    BuildVerdictFields(facts, pid, user, &fields);

    static char message[kVerdictLineSize + 64];
    const int header = Header(message, sizeof message, fields.passed ? kPassedPriority : kFailedPriority, pid);
    if (header <= 0 || static_cast<std::size_t>(header) >= sizeof message) {
        return;
    }
    JoinVerdictFields(fields, message + header, sizeof message - static_cast<std::size_t>(header));

    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, kLogSocket, sizeof kLogSocket);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        (void)send(fd, message, std::strlen(message), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    close(fd);
}
