// varnicle-hold READER: connects to the card in READER in exclusive mode,
// prints "held" and keeps the connection until standard input ends or the
// process is told to stop, so that tests can see what another program meets
// while the reader is held.
#include <cstdio>
#include <unistd.h>

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: varnicle-hold READER\n");
        return 2;
    }
    SCARDCONTEXT context = 0;
    LONG rv = SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context);
    if (rv != SCARD_S_SUCCESS) {
        std::fprintf(stderr, "varnicle-hold: SCardEstablishContext: %s\n", pcsc_stringify_error(rv));
        return 1;
    }
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    rv = SCardConnect(context, argv[1], SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        std::fprintf(stderr, "varnicle-hold: SCardConnect: %s\n", pcsc_stringify_error(rv));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    char byte;
    while (read(STDIN_FILENO, &byte, 1) > 0) {
    }
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return 0;
}
