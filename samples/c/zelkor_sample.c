/* Finds a MIFARE Classic card, authenticates sector 1 with key A, reads its
 * first block and tops up the wallet in its second block.
 *
 *   zelkor_sample [port] [key]     port number (3 is COM3), key as 12 hex digits
 *
 * The library prints its trace of every exchange (GBK text) on standard
 * output; this program's own lines start with "sample:". */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zelkor.h"

#define SECTOR 1
#define DATA_BLOCK 0   /* block 4 of the card */
#define WALLET_BLOCK 1 /* block 5 of the card */
#define MODE_SECTOR_AND_BLOCK 1
#define TOP_UP 25

static int Fail(const char *step) {
    printf("sample: %s failed\n", step);
    CloseReader();
    return 1;
}

static int ParseKey(const char *text, unsigned char key[6]) {
    if (strlen(text) != 12 || strspn(text, "0123456789abcdefABCDEF") != 12) return 0;
    for (int i = 0; i < 6; ++i) {
        unsigned int byte = 0;
        if (sscanf(text + 2 * i, "%2x", &byte) != 1) return 0;
        key[i] = (unsigned char)byte;
    }
    return 1;
}

int main(int argc, char **argv) {
    int port = argc > 1 ? atoi(argv[1]) : 3;
    unsigned char key[6] = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B};
    if (argc > 2 && !ParseKey(argv[2], key)) {
        printf("sample: the key must be 12 hexadecimal digits\n");
        return 2;
    }
    printf("sample: zelkor %s, port COM%d\n", ZELKOR_VERSION_STRING, port);

    /* 9600 bit/s, 8 data bits, no parity, one stop bit. */
    if (!OpenReader(port, 9600, 8, 0, 0)) return Fail("OpenReader");
    card_info card;
    memset(&card, 0, sizeof card);
    if (!FindCard()) return Fail("FindCard");
    if (!Conflict(&card)) return Fail("Conflict");
    if (!SelectCard(0x93)) return Fail("SelectCard");
    if (!GetCardInfo(&card)) return Fail("GetCardInfo"); /* the card type: 11 S50, 12 S70 */
    printf("sample: card type %d, UID %02X%02X%02X%02X\n", card.card_type, card.uid[0], card.uid[1],
           card.uid[2], card.uid[3]);

    if (!CheckKey(card.card_type, MODE_SECTOR_AND_BLOCK, SECTOR, DATA_BLOCK, KeyA, key)) return Fail("CheckKey");
    unsigned char block[16];
    if (!ReadBlock(MODE_SECTOR_AND_BLOCK, SECTOR, DATA_BLOCK, card.card_type, block)) return Fail("ReadBlock");
    printf("sample: block %d:", SECTOR * 4 + DATA_BLOCK);
    for (int i = 0; i < 16; ++i) printf(" %02X", block[i]);
    printf("\n");

    /* Wallet amounts are native ints, passed by address. */
    int before = 0, top_up = TOP_UP, after = 0;
    if (!ReadWallet(MODE_SECTOR_AND_BLOCK, SECTOR, WALLET_BLOCK, card.card_type, (unsigned char *)&before))
        return Fail("ReadWallet");
    if (!WalletAdd(MODE_SECTOR_AND_BLOCK, SECTOR, WALLET_BLOCK, card.card_type, (unsigned char *)&top_up))
        return Fail("WalletAdd");
    if (!ReadWallet(MODE_SECTOR_AND_BLOCK, SECTOR, WALLET_BLOCK, card.card_type, (unsigned char *)&after))
        return Fail("ReadWallet");
    printf("sample: wallet %d + %d = %d\n", before, top_up, after);
    if (after != before + top_up) return Fail("the top-up");

    CloseReader();
    printf("sample: done\n");
    return 0;
}
