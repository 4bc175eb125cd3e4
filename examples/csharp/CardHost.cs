// A console host: starts the driver, prints its status, receives card notifications as thread
// messages on its own thread (or, with "wait", takes the cards with KRA_WaitForCard on a worker
// thread, no message loop at all), prints each number with the time it came, and stops after N
// cards (default 3) or Ctrl+C. Arguments: [settings.xml [section [log folder\ [cards [wait]]]]].
using System;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

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
            bool waiting = args.Length > 4 && args[4] == "wait";

            // The notifications come to this thread: it needs a message queue first, and the
            // thread must stay the same OS thread (a console Main does).
            MSG msg;
            PeekMessageA(out msg, IntPtr.Zero, WM_USER, WM_USER, PM_NOREMOVE);
            uint thread = GetCurrentThreadId();
            Console.CancelKeyPress += (s, e) =>
            {
                e.Cancel = true;
                if (waiting) KraMcrSerial.KRA_Finalize(); // ends the worker's wait
                else PostThreadMessageA(thread, WM_QUIT, UIntPtr.Zero, IntPtr.Zero);
            };

            IntPtr name, description;
            KraMcrSerial.KRA_DeviceDescription(out name, out description);
            Console.WriteLine("reader: {0} ({1}-bit process)", KraMcrSerial.ReadAnsi(name), IntPtr.Size * 8);

            if (!KraMcrSerial.KRA_Initialize(KraMcrSerial.LengthPrefixed(settings), KraMcrSerial.LengthPrefixed(section),
                                             KraMcrSerial.LengthPrefixed(log), IntPtr.Zero))
            {
                Console.WriteLine("start failed (error {0}): {1}", KraMcrSerial.KRA_GetLastErrorCode(),
                                  KraMcrSerial.ReadAnsi(KraMcrSerial.KRA_GetLastErrorText()));
                KraMcrSerial.KRA_Finalize();
                return 1;
            }
            var status = new KraMcrSerial.KRA_STATUS();
            status.Size = (uint)Marshal.SizeOf(typeof(KraMcrSerial.KRA_STATUS));
            if (KraMcrSerial.KRA_GetStatus(ref status))
                Console.WriteLine("status: port COM{0}, {1} baud, bits {2}, settings {3}", status.COM_Number, status.Baud,
                                  status.Bits, (status.Flags & KraMcrSerial.KRA_STATUS_SETTINGS_FILE) != 0
                                      ? "from the file" : "with defaults");

            if (waiting)
            {
                // A worker thread takes the cards: no message queue, no KRA_EnableDevice.
                var worker = new Thread(() =>
                {
                    byte[] digits = new byte[11];
                    for (int taken = 0; taken < wanted;)
                    {
                        int n = KraMcrSerial.KRA_WaitForCard(KraMcrSerial.Infinite, digits, digits.Length);
                        if (n < 0) break; // stopped
                        if (n == 0) continue;
                        Console.WriteLine("{0:HH:mm:ss.fff} card {1}", DateTime.Now, Encoding.ASCII.GetString(digits, 0, n));
                        taken++;
                    }
                });
                worker.Start();
                worker.Join();
                return Stop();
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
            return Stop();
        }

        static int Stop()
        {
            if (!KraMcrSerial.KRA_Finalize())
            {
                Console.WriteLine("stop failed: " + KraMcrSerial.ReadAnsi(KraMcrSerial.KRA_GetLastErrorText()));
                return 1;
            }
            return 0;
        }
    }
}
