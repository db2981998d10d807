#include <stdio.h>

#include <zelkor.h>

int main(void) {
    unsigned char frame[256];
    /* Nothing sent yet, and port 0 never opens. */
    if (GetReaderSendCmd(frame) != 0 || OpenReader(0, 9600, 8, 0, 0) != 0) return 1;
    puts("ok");
    return 0;
}
