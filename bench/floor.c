/* The floor of the benchmark: the PC/SC calls and APDUs of one varnicle run
 * on an ST23 module, and nothing else. No output, no comparison of answers;
 * the exit status is 0 when every call returned success, so that a broken
 * stack does not pass for a fast one.
 *
 * usage: floor check|keycheck READER
 */
#include <string.h>

#include <PCSC/reader.h>
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

static const BYTE kSerialRead[] = {0x80, 0xFE, 0x06, 0x00, 0x00};
static const BYTE kIdentify[] = {0x80, 0xFE, 0x00, 0x00, 0x00};
static const BYTE kStateCheck[] = {0x80, 0xFE, 0x02, 0x00, 0x00};
static const BYTE kNonKeyControl[] = {0x80, 0xFE, 0x09, 0x00, 0x00};
static const BYTE kKeyControl[] = {0x80, 0xFE, 0x07, 0x00, 0x20, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                   0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14,
                                   0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
static const BYTE kFinalCheck[] = {0x80, 0x06, 0x00, 0x00, 0x20};

static LONG Send(SCARDHANDLE card, const SCARD_IO_REQUEST* pci, const BYTE* command, DWORD length)
{
    BYTE receive[258];
    DWORD received = sizeof receive;
    return SCardTransmit(card, pci, command, length, NULL, receive, &received);
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        return 2;
    }
    const int keyControl = strcmp(argv[1], "keycheck") == 0;

    SCARDCONTEXT context;
    SCARDHANDLE card;
    DWORD protocol;
    BYTE atr[33];
    DWORD atrLength = sizeof atr;
    LONG failed = SCardEstablishContext(SCARD_SCOPE_USER, NULL, NULL, &context);
    if (failed != SCARD_S_SUCCESS) {
        return 1;
    }
    failed =
        SCardConnect(context, argv[2], SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (failed != SCARD_S_SUCCESS) {
        return 1;
    }
    failed = SCardGetAttrib(card, SCARD_ATTR_ATR_STRING, atr, &atrLength);
    if (failed == SCARD_E_UNSUPPORTED_FEATURE) {
        DWORD state;
        DWORD statusProtocol;
        atrLength = sizeof atr;
        failed = SCardStatus(card, NULL, NULL, &state, &statusProtocol, atr, &atrLength);
    }
    failed |= SCardBeginTransaction(card);

    const SCARD_IO_REQUEST* pci = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    failed |= Send(card, pci, kSerialRead, sizeof kSerialRead);
    failed |= Send(card, pci, kIdentify, sizeof kIdentify);
    failed |= Send(card, pci, kStateCheck, sizeof kStateCheck);
    if (keyControl) {
        failed |= Send(card, pci, kKeyControl, sizeof kKeyControl);
    } else {
        failed |= Send(card, pci, kNonKeyControl, sizeof kNonKeyControl);
    }
    failed |= Send(card, pci, kFinalCheck, sizeof kFinalCheck);

    failed |= SCardEndTransaction(card, SCARD_LEAVE_CARD);
    failed |= SCardDisconnect(card, SCARD_UNPOWER_CARD);
    return failed != SCARD_S_SUCCESS;
}
