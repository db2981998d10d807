// P/Invoke declarations of the 37 functions of zelkor.dll / libzelkor.so.
// [DllImport("zelkor")] finds zelkor.dll on Windows (beside the program: take
// the DLL of the program's bitness, bin\x86 for an x86 or "Prefer 32-bit"
// program, bin\x64 for x64) and libzelkor.so on Linux and Mono.
// Every function returns 1 on success and 0 on failure unless noted; the
// library prints its trace as GBK text on standard output.
using System.Runtime.InteropServices;

namespace Zelkor
{
    public enum KeyType
    {
        KeyA = 0,
        KeyB = 1,
    }

    // card_info: the card type code (10 UltraLight, 11 S50, 12 S70, 13 CPU,
    // 14 PLUS, 15 D41, 16 unknown) and the serial number, first byte first.
    [StructLayout(LayoutKind.Sequential)]
    public struct CardInfo
    {
        public const int UidSize = 10;

        public int CardType;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = UidSize)]
        public byte[] Uid;

        public static CardInfo Create()
        {
            return new CardInfo { Uid = new byte[UidSize] };
        }
    }

    public static class Native
    {
        private const string Library = "zelkor";
        private const CallingConvention Cdecl = CallingConvention.Cdecl;

        // Session. parity: 0 none, 1 odd, 2 even, 3 mark, 4 space;
        // stopBits: 0 one, 1 one and a half, 2 two.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int OpenReader(int port, int baud, int dataBits, int parity, int stopBits);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CloseReader();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int IsReaderOpen(int port);

        // Last frames: pass 256 bytes for the frame sent, 1024 for the answer;
        // both return the number of bytes copied.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int GetReaderSendCmd(byte[] output);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int GetReaderRecvData(byte[] output);

        // Card detection and selection. WakeUp returns the card type code, or 0.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int FindCard();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int WakeUp();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int SelectCard(int selectCode);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int Conflict(ref CardInfo info);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int GetCardInfo(ref CardInfo info);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ManualCard(ref CardInfo info);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ComposeFindCard();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int PauseCard();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int AutoFindCard(int on);

        // Reader control. GetReaderId: pass 120 bytes. SetBaudRate index 0..6:
        // 2400, 4800, 9600, 19200, 38400, 57600, 115200 bit/s.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int BuzzerOn(int on);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int AntennaOff();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int GetReaderId(byte[] id, ref int length);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int SetBaudRate(int index);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ReadReader(int reg, int value);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int SendM1Command(byte[] bytes, int count);

        // MIFARE Classic blocks: mode 0 addresses the absolute block number,
        // any other mode sector and block. Blocks are 16 bytes, keys 6.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CheckKey(int cardType, int mode, int sector, int block, int keyType, byte[] key);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ReadBlock(int mode, int sector, int block, int cardType, byte[] output);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int WriteBlock(int mode, int sector, int block, int cardType, byte[] data);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ComposeRead(int mode, int sector, int block, int cardType, byte[] output, KeyType keyType, byte[] key);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ComposeWrite(int mode, int sector, int block, int cardType, byte[] data, KeyType keyType, byte[] key);

        // Value-block wallets: the amount is a native int.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int WalletInit(int mode, int sector, int block, int cardType, ref int amount);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ReadWallet(int mode, int sector, int block, int cardType, ref int amount);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int WalletAdd(int mode, int sector, int block, int cardType, ref int amount);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int WalletDec(int mode, int sector, int block, int cardType, ref int amount);

        // Sector trailers. CheckCtrlKey's first parameter is a one-byte C bool.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ReadCtrlWord(int sector, byte[] keyA, byte[] accessBytes);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CheckCtrlKey([MarshalAs(UnmanagedType.U1)] bool keyA, int sector, byte[] key, int pendingCode);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ModifyKey(int sector, byte[] newKeyA, byte[] keyA, byte[] keyB);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int ModifyControl(int sector, byte[] keyA, byte[] keyB, byte[] accessBytes);

        // CPU card operating system. SendCosCommand: 1..89 bytes.
        // Exauthentication: key null for the built-in default key.
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CosActivation();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int CosDeactive();
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int SendCosCommand(byte[] apdu, int length);
        [DllImport(Library, CallingConvention = Cdecl)] public static extern int Exauthentication(byte[] key, int length, byte keyId);
    }
}
