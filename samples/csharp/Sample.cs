// Finds a MIFARE Classic card, authenticates sector 1 with key A, reads its
// first block and tops up the wallet in its second block.
//   mono Sample.exe [port]      (Windows: Sample.exe [port], zelkor.dll beside it)
using System;
using Zelkor;

public static class Sample
{
    private const int ModeSectorAndBlock = 1;
    private const int Sector = 1;
    private const int TopUp = 25;

    private static int Fail(string step)
    {
        Console.WriteLine("sample: " + step + " failed");
        Native.CloseReader();
        return 1;
    }

    public static int Main(string[] args)
    {
        int port = args.Length > 0 ? int.Parse(args[0]) : 3;
        byte[] key = { 0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B };
        Console.WriteLine("sample: port COM" + port);
        // The library writes its trace to the same standard output.
        Console.Out.Flush();

        if (Native.OpenReader(port, 9600, 8, 0, 0) != 1) return Fail("OpenReader");
        CardInfo card = CardInfo.Create();
        if (Native.FindCard() != 1) return Fail("FindCard");
        if (Native.Conflict(ref card) != 1) return Fail("Conflict");
        if (Native.SelectCard(0x93) != 1) return Fail("SelectCard");
        if (Native.GetCardInfo(ref card) != 1) return Fail("GetCardInfo"); // the card type: 11 S50, 12 S70
        Console.WriteLine("sample: card type {0}, UID {1}", card.CardType, BitConverter.ToString(card.Uid, 0, 4).Replace("-", ""));

        if (Native.CheckKey(card.CardType, ModeSectorAndBlock, Sector, 0, (int)KeyType.KeyA, key) != 1) return Fail("CheckKey");
        byte[] block = new byte[16];
        if (Native.ReadBlock(ModeSectorAndBlock, Sector, 0, card.CardType, block) != 1) return Fail("ReadBlock");
        Console.WriteLine("sample: block 4: " + BitConverter.ToString(block).Replace("-", " "));
        byte[] answer = new byte[1024];
        int received = Native.GetReaderRecvData(answer);
        Console.WriteLine("sample: the reader answered {0} bytes", received);

        int before = 0, topUp = TopUp, after = 0;
        if (Native.ReadWallet(ModeSectorAndBlock, Sector, 1, card.CardType, ref before) != 1) return Fail("ReadWallet");
        if (Native.WalletAdd(ModeSectorAndBlock, Sector, 1, card.CardType, ref topUp) != 1) return Fail("WalletAdd");
        if (Native.ReadWallet(ModeSectorAndBlock, Sector, 1, card.CardType, ref after) != 1) return Fail("ReadWallet");
        Console.WriteLine("sample: wallet {0} + {1} = {2}", before, topUp, after);
        if (after != before + topUp) return Fail("the top-up");

        Native.CloseReader();
        Console.WriteLine("sample: done");
        return 0;
    }
}
