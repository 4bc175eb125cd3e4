// A console host: starts the driver, receives card notifications as thread messages on its own
// thread, prints each number with the time it came, and stops after N cards (default 3) or
// Ctrl+C. Arguments: [settings.xml [section [log folder\ [cards]]]].
using System;
using System.Runtime.InteropServices;

namespace Kra
{
    static class CardHost
    {
        const uint WM_USER = 0x0400, WM_APP = 0x8000, WM_QUIT = 0x0012, PM_NOREMOVE = 0, PM_REMOVE = 1;
        const uint WM_CARD = WM_APP + 1; // WM_APP and up belong to the host

        [StructLayout(LayoutKind.Sequential)]
        struct MSG
        {
            public IntPtr hwnd;
            public uint message;
            public UIntPtr wParam;
            public IntPtr lParam;
            public uint time;
            public int x, y;
        }

        [DllImport("user32.dll")] static extern int GetMessageA(out MSG msg, IntPtr hwnd, uint min, uint max);
        [DllImport("user32.dll")] static extern bool PeekMessageA(out MSG msg, IntPtr hwnd, uint min, uint max, uint remove);
        [DllImport("user32.dll")] static extern bool PostThreadMessageA(uint thread, uint msg, UIntPtr w, IntPtr l);
        [DllImport("kernel32.dll")] static extern uint GetCurrentThreadId();

        static int Main(string[] args)
        {
            string settings = args.Length > 0 ? args[0] : "card_host.xml";
            string section = args.Length > 1 ? args[1] : "Devices";
            string log = args.Length > 2 ? args[2] : ".\\";
            int wanted = args.Length > 3 ? int.Parse(args[3]) : 3;

            // The notifications come to this thread: it needs a message queue first, and the
            // thread must stay the same OS thread (a console Main does).
            MSG msg;
            PeekMessageA(out msg, IntPtr.Zero, WM_USER, WM_USER, PM_NOREMOVE);
            uint thread = GetCurrentThreadId();
            Console.CancelKeyPress += (s, e) => { e.Cancel = true; PostThreadMessageA(thread, WM_QUIT, UIntPtr.Zero, IntPtr.Zero); };

            IntPtr name, description;
            KraMcrSerial.KRA_DeviceDescription(out name, out description);
            Console.WriteLine("reader: {0} ({1}-bit process)", KraMcrSerial.ReadAnsi(name), IntPtr.Size * 8);

            if (!KraMcrSerial.KRA_Initialize(KraMcrSerial.LengthPrefixed(settings), KraMcrSerial.LengthPrefixed(section),
                                             KraMcrSerial.LengthPrefixed(log), IntPtr.Zero))
            {
                Console.WriteLine("start failed: " + KraMcrSerial.ReadAnsi(KraMcrSerial.KRA_GetLastErrorText()));
                KraMcrSerial.KRA_Finalize();
                return 1;
            }
            KraMcrSerial.KRA_EnableDevice(thread, 0, WM_CARD);

            int cards = 0;
            while (cards < wanted && GetMessageA(out msg, IntPtr.Zero, 0, 0) > 0)
            {
                if (msg.hwnd != IntPtr.Zero || msg.message != WM_CARD) continue;
                string number = KraMcrSerial.ReadAnsi(KraMcrSerial.KRA_GetBuffer()); // copy, then clear
                KraMcrSerial.KRA_ClearBuffer();
                Console.WriteLine("{0:HH:mm:ss.fff} card {1}", DateTime.Now, number);
                cards++;
            }

            KraMcrSerial.KRA_DisableDevice();
            if (!KraMcrSerial.KRA_Finalize())
            {
                Console.WriteLine("stop failed: " + KraMcrSerial.ReadAnsi(KraMcrSerial.KRA_GetLastErrorText()));
                return 1;
            }
            return 0;
        }
    }
}
