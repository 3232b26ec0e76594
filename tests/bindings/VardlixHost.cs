// A .NET host of the binding: writes the records that binding_test.py
// expects, then sets the retention to 9 days. Exit code 0 when SetLogLife
// reports the retention applied.
using Vardlix;

public static class VardlixHost
{
    public static int Main()
    {
        VardlixLog.Write("Info", "DotNet", "Open", "file=a&b<c>.xml", "\u5DF2\u6253\u5F00\U0001F600");
        VardlixLog.Write("Error", null, "", "x", "two\nlines");
        // A text with a NUL is refused, never stored cut short.
        try
        {
            VardlixLog.Write("Info", "DotNet", "Open", "", "before\0after");
            return 2;
        }
        catch (System.ArgumentException)
        {
        }
        return VardlixLog.SetLogLife(9) ? 0 : 1;
    }
}
