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
