/* Stands in for a graphics driver that crashes: built as igd10iumd64.dll, as
 * Intel's is named, it writes through the pointer it is given, which the fake
 * shell makes a null one. Taken as an argument, so that the compiler cannot
 * see the null pointer and make the write a trap of another kind. */
__declspec(dllexport) void crashInDriver(volatile int *target)
{
    *target = 42;
}
