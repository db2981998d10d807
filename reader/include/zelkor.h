/*
 * zelkor - serial-port contactless card reader library.
 *
 * One session with one reader on one serial port at a time. Every command
 * builds one frame, writes it, waits for the reader's answer (at most
 * 1000 ms) and returns 1 on success or 0 on failure. The reason of a failure,
 * the trace of every frame and a success message are printed as GBK text on
 * standard output. Functions are not re-entrant: call them from one thread.
 *
 * Ports are named by number: port n is "COM<n>". On Windows that is the
 * device \\.\COM<n>. On Linux, port n is the entry COM<n> in the directory
 * named by ZELKOR_PORT_DIR when it exists, otherwise a fixed device (ttyS<k>
 * is COM<k+1>, ttyUSB<k> is COM<101+k>, ttyACM<k> is COM<201+k>).
 */
#ifndef ZELKOR_H
#define ZELKOR_H

/* Version of this header and of the library it belongs to. */
#define ZELKOR_VERSION_MAJOR 2
#define ZELKOR_VERSION_MINOR 0
#define ZELKOR_VERSION_PATCH 0
#define ZELKOR_VERSION_STRING "2.0.0"

#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(ZELKOR_BUILDING_LIBRARY) && defined(_WIN32)
#define ZELKOR_API __declspec(dllexport)
#elif defined(ZELKOR_BUILDING_LIBRARY)
#define ZELKOR_API __attribute__((visibility("default")))
#else
#define ZELKOR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Longest card serial number the record holds (ISO/IEC 14443-3 triple size). */
#define ZELKOR_UID_SIZE 10

/* Card record filled by Conflict, GetCardInfo and ManualCard.
 * card_type: 10 UltraLight, 11 S50, 12 S70, 13 FM1208 (CPU), 14 PLUS,
 * 15 D41, 16 unknown. uid: serial number, first byte first; Conflict and
 * ManualCard write 4 bytes, GetCardInfo 6 for UltraLight and 4 otherwise. */
typedef struct card_info {
    int card_type;
    unsigned char uid[ZELKOR_UID_SIZE];
} card_info;

/* Key used for MIFARE Classic authentication (key-type byte 0x60 / 0x61). */
typedef enum KeyType { KeyA = 0, KeyB = 1 } KeyType;

/* Values of card_info.card_type. */
typedef enum CardType {
    CardUltraLight = 10,
    CardS50 = 11,
    CardS70 = 12,
    CardFM1208 = 13,
    CardPlus = 14,
    CardD41 = 15,
    CardUnknown = 16
} CardType;

/* ---- Session ---------------------------------------------------------- */

/* Opens port `port` with `baud` bit/s, `data_bits` 5..8, `parity` 0 none,
 * 1 odd, 2 even, 3 mark, 4 space, and `stop_bits` 0 one, 1 one and a half
 * (on Linux taken as two: termios has no 1.5), 2 two. An open session is closed
 * first. Returns 1, or 0 when the port is missing, held or rejects the
 * settings. */
ZELKOR_API int OpenReader(int port, int baud, int data_bits, int parity, int stop_bits);
/* Ends the session and waits for its receive thread. 1, or 0 when none is open. */
ZELKOR_API int CloseReader(void);
/* 1 when port `port` exists and nobody holds it now; 0 otherwise. */
ZELKOR_API int IsReaderOpen(int port);

/* ---- Last frames ------------------------------------------------------ */

/* Copies the last frame written into `out` (256 bytes suffice); returns its length. */
ZELKOR_API int GetReaderSendCmd(unsigned char *out);
/* Copies the bytes of the latest answer received since the last send into
 * `out` (1024 bytes always suffice; answers to the library's own commands
 * fit in 128); returns their count, 0 when nothing arrived. */
ZELKOR_API int GetReaderRecvData(unsigned char *out);

/* ---- Card detection and selection ------------------------------------- */

ZELKOR_API int FindCard(void);
/* Returns the card type code (10..16), or 0. */
ZELKOR_API int WakeUp(void);
ZELKOR_API int SelectCard(int select_code);
/* `info` may be null. */
ZELKOR_API int Conflict(card_info *info);
ZELKOR_API int GetCardInfo(card_info *info);
/* Waits for two answers: up to 2000 ms. */
ZELKOR_API int ManualCard(card_info *info);
ZELKOR_API int ComposeFindCard(void);
ZELKOR_API int PauseCard(void);
ZELKOR_API int AutoFindCard(int on);

/* ---- Reader control --------------------------------------------------- */

ZELKOR_API int BuzzerOn(int on);
ZELKOR_API int AntennaOff(void);
/* Writes at most 120 bytes to `id` and their count to `*length`. */
ZELKOR_API int GetReaderId(unsigned char *id, int *length);
/* `index` 0..6: 2400, 4800, 9600, 19200, 38400, 57600, 115200 bit/s. */
ZELKOR_API int SetBaudRate(int index);
ZELKOR_API int ReadReader(int reg, int value);
/* Sends `count` (1..249) caller bytes (group, code, data) as one frame. */
ZELKOR_API int SendM1Command(unsigned char *bytes, int count);

/* ---- MIFARE Classic blocks ------------------------------------------- */
/* mode 0: absolute block number (sector ignored); other: sector + block. */

ZELKOR_API int CheckKey(int card_type, int mode, int sector, int block, int key_type,
                        unsigned char *key);
ZELKOR_API int ReadBlock(int mode, int sector, int block, int card_type, unsigned char *out);
ZELKOR_API int WriteBlock(int mode, int sector, int block, int card_type, unsigned char *data);
ZELKOR_API int ComposeRead(int mode, int sector, int block, int card_type, unsigned char *out,
                           KeyType key_type, char const *key);
ZELKOR_API int ComposeWrite(int mode, int sector, int block, int card_type, unsigned char *data,
                            KeyType key_type, char const *key);

/* ---- Value-block wallets (amount: pointer to a native int) ------------ */

ZELKOR_API int WalletInit(int mode, int sector, int block, int card_type, unsigned char *amount);
ZELKOR_API int ReadWallet(int mode, int sector, int block, int card_type, unsigned char *amount);
ZELKOR_API int WalletAdd(int mode, int sector, int block, int card_type, unsigned char *amount);
ZELKOR_API int WalletDec(int mode, int sector, int block, int card_type, unsigned char *amount);

/* ---- Sector trailers -------------------------------------------------- */

ZELKOR_API int ReadCtrlWord(int sector, unsigned char *key_a, unsigned char *access_bytes);
ZELKOR_API int CheckCtrlKey(bool key_a, int sector, unsigned char *key, int pending_code);
ZELKOR_API int ModifyKey(int sector, unsigned char *new_key_a, unsigned char *key_a,
                         unsigned char *key_b);
ZELKOR_API int ModifyControl(int sector, unsigned char *key_a, unsigned char *key_b,
                             unsigned char *access_bytes);

/* ---- CPU card operating system ---------------------------------------- */

ZELKOR_API int CosActivation(void);
ZELKOR_API int CosDeactive(void);
/* `length` 1..89. */
ZELKOR_API int SendCosCommand(unsigned char *apdu, int length);
/* `key` null: the built-in 8-byte default key with identifier 0. Otherwise
 * `length` 0..16. */
ZELKOR_API int Exauthentication(unsigned char *key, int length, unsigned char key_id);

#ifdef __cplusplus
}
#endif

#endif /* ZELKOR_H */
