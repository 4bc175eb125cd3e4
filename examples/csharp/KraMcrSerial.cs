// P/Invoke declarations of kra_MCR_Serial.dll for .NET hosts. The DLL must match the process:
// x86\kra_MCR_Serial.dll for a 32-bit (x86) process, x64\ for a 64-bit one ("Any CPU" on 64-bit
// Windows is 64-bit). Texts are Windows-1251 bytes, truth results one byte (1 true, 0 false).
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Kra
{
    public static class KraMcrSerial
    {
        const string Dll = "kra_MCR_Serial.dll";

        // The three texts of KRA_Initialize are length-prefixed: a count byte, then the bytes.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool KRA_Initialize(byte[] SettingsFileName, byte[] SettingsSection, byte[] LogPath,
                                                 IntPtr AppHandle);

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool KRA_Finalize();

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool KRA_EnableDevice(uint HostThreadId, uint Reserved, uint NotifyMessageId);

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool KRA_DisableDevice();

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int KRA_GetInputBufferLen();

        // A pointer owned by the driver, valid until KRA_ClearBuffer: read it with ReadAnsi
        // before clearing. IntPtr.Zero when the buffer is empty.
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern IntPtr KRA_GetBuffer();

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool KRA_ClearBuffer();

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern void KRA_DeviceDescription(out IntPtr NameText, out IntPtr DescriptionText);

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern void KRA_ConfigDialog();

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern IntPtr KRA_GetLastErrorText();

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int KRA_GetDeviceType();

        // Since 1.1 (ordinals 12 to 14): the driver's status, a numbered error, cards without a
        // message loop.

        // Set Size = (uint)Marshal.SizeOf(typeof(KRA_STATUS)) before the call: 40 bytes in both DLLs.
        [StructLayout(LayoutKind.Sequential)]
        public struct KRA_STATUS
        {
            public uint Size;
            public uint Flags;          // KRA_STATUS_* bits
            public int COM_Number;      // the settings in effect since the last start
            public int Baud;
            public int Bits;
            public uint LastError;      // as KRA_GetLastErrorCode()
            public uint SystemError;    // the Windows error code behind the last failure; 0 for none
            public uint CardsRead;      // since the last start
            public uint CardsDelivered; // of these, put into the buffer
            public uint CardsDropped;   // of these, not put into the buffer
        }

        public const uint KRA_STATUS_RUNNING = 0x01, KRA_STATUS_SETTINGS_FILE = 0x02, KRA_STATUS_PORT_OPEN = 0x04,
                          KRA_STATUS_READER_ANSWERS = 0x08, KRA_STATUS_LOG_OPEN = 0x10, KRA_STATUS_ENABLED = 0x20,
                          KRA_STATUS_BUFFER_FULL = 0x40, KRA_STATUS_POST_FAILING = 0x80;

        public const uint KRA_ERROR_NONE = 0, KRA_ERROR_SETTINGS_SYNTAX = 1, KRA_ERROR_SETTINGS_VALUE = 2,
                          KRA_ERROR_SETTINGS_FILE = 3, KRA_ERROR_PORT_OPEN = 4, KRA_ERROR_NO_MEMORY = 5,
                          KRA_ERROR_INTERNAL = 6;

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        public static extern bool KRA_GetStatus(ref KRA_STATUS Status);

        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern uint KRA_GetLastErrorCode();

        // The card's digits (ASCII) and a NUL into Buffer: the number of digits; 0 time-out; -1 not
        // running or stopped during the wait; -2 no room (the card stays). 11 bytes take every card.
        public const uint Infinite = 0xFFFFFFFF;
        [DllImport(Dll, CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        public static extern int KRA_WaitForCard(uint TimeoutMs, byte[] Buffer, int BufferSize);


        static readonly Encoding Cp1251 = Windows1251();

        // Windows-1251. .NET Framework has it built in; .NET Core and .NET 5 and later know only a
        // few encodings until the code-page provider (System.Text.Encoding.CodePages, part of
        // those runtimes) is registered, so it is registered here when the runtime lacks the code
        // page. Found by name, so that this file also compiles for .NET Framework, which has none.
        static Encoding Windows1251()
        {
            try { return Encoding.GetEncoding(1251); }
            catch (NotSupportedException) { }
            catch (ArgumentException) { }
            Type provider = Type.GetType("System.Text.CodePagesEncodingProvider, System.Text.Encoding.CodePages");
            if (provider != null)
                Encoding.RegisterProvider((EncodingProvider)provider.GetProperty("Instance").GetValue(null, null));
            try { return Encoding.GetEncoding(1251); }
            catch (NotSupportedException e)
            {
                throw new NotSupportedException("Windows-1251, the code page of the driver's texts, is not available in " +
                                                "this runtime (Mono: install its I18N assemblies)", e);
            }
        }

        // A text as KRA_Initialize takes it: its Windows-1251 bytes behind a count byte (at most 255).
        public static byte[] LengthPrefixed(string text)
        {
            byte[] bytes = Cp1251.GetBytes(text);
            int n = Math.Min(bytes.Length, 255);
            byte[] prefixed = new byte[n + 1];
            prefixed[0] = (byte)n;
            Array.Copy(bytes, 0, prefixed, 1, n);
            return prefixed;
        }

        // A NUL-terminated Windows-1251 text the driver hands out; null for IntPtr.Zero.
        public static string ReadAnsi(IntPtr text)
        {
            if (text == IntPtr.Zero) return null;
            int n = 0;
            while (Marshal.ReadByte(text, n) != 0) n++;
            byte[] bytes = new byte[n];
            Marshal.Copy(text, bytes, 0, n);
            return Cp1251.GetString(bytes);
        }
    }
}
