/* Compiled as C: the public header declares every function in plain C.
 * sizeof checks each call against its prototype without evaluating it. */
#include <stddef.h>

#include "zelkor.h"

int zelkor_header_compiles_as_c(void) {
    card_info info = {0, {0}};
    KeyType key = KeyB;
    unsigned char bytes[256] = {0};
    int length = 0;
    size_t sizes[] = {
        sizeof OpenReader(3, 9600, 8, 0, 0), sizeof CloseReader(), sizeof IsReaderOpen(3),
        sizeof GetReaderSendCmd(bytes), sizeof GetReaderRecvData(bytes), sizeof FindCard(),
        sizeof WakeUp(), sizeof SelectCard(0x93), sizeof Conflict(&info), sizeof GetCardInfo(&info),
        sizeof ManualCard(&info), sizeof ComposeFindCard(), sizeof PauseCard(), sizeof AutoFindCard(1),
        sizeof BuzzerOn(1), sizeof AntennaOff(), sizeof GetReaderId(bytes, &length),
        sizeof SetBaudRate(2), sizeof ReadReader(1, 2), sizeof SendM1Command(bytes, 3),
        sizeof CheckKey(11, 1, 0, 0, 0, bytes), sizeof ReadBlock(1, 0, 0, 11, bytes),
        sizeof WriteBlock(1, 0, 1, 11, bytes), sizeof ComposeRead(1, 0, 1, 11, bytes, key, (const char *)bytes),
        sizeof ComposeWrite(1, 0, 1, 11, bytes, KeyA, (const char *)bytes),
        sizeof WalletInit(1, 0, 1, 11, bytes), sizeof ReadWallet(1, 0, 1, 11, bytes),
        sizeof WalletAdd(1, 0, 1, 11, bytes), sizeof WalletDec(1, 0, 1, 11, bytes),
        sizeof ReadCtrlWord(1, bytes, bytes), sizeof CheckCtrlKey(true, 1, bytes, 29),
        sizeof ModifyKey(1, bytes, bytes, bytes), sizeof ModifyControl(1, bytes, bytes, bytes),
        sizeof CosActivation(), sizeof CosDeactive(), sizeof SendCosCommand(bytes, 5),
        sizeof Exauthentication(bytes, 8, 0)};
    int count = 0;
    size_t i;
    for (i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) count += sizes[i] == sizeof(int);
    (void)length;
    return count;
}
