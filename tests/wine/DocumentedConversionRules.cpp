// WideCharToMultiByte and MultiByteToWideChar for the Windows unit tests,
// refusing the flags and arguments that Windows documents as refused for a
// code page before the call goes on to the system. Wine accepts them all, so
// without this a conversion that fails on every Windows machine with that
// code page would pass here. Calls reach these through the import slots
// that the compiler uses for every system function, so the library's own
// conversions are held to the same rules.
#include <windows.h>

namespace {

UINT Resolve(UINT codePage)
{
    if (codePage == CP_ACP)
        return GetACP();
    if (codePage == CP_OEMCP)
        return GetOEMCP();
    return codePage;
}

// Code pages that take no flags at all. Written out again rather than shared
// with the adapter: this is the system's side of the contract.
bool TakesNoFlags(UINT codePage)
{
    switch (codePage) {
    case 42: case 50220: case 50221: case 50222: case 50225: case 50227: case 50229: case CP_UTF7:
        return true;
    default:
        return codePage >= 57002 && codePage <= 57011;
    }
}

template <typename Function> Function SystemFunction(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

int WINAPI CheckedWideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideCount,
                                      LPSTR multi, int multiBytes, LPCCH defaultChar,
                                      LPBOOL usedDefaultChar)
{
    const UINT resolved = Resolve(codePage);
    const bool utf = resolved == CP_UTF8 || resolved == 54936;
    if ((TakesNoFlags(resolved) && flags != 0) ||
        (utf && (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if ((resolved == CP_UTF8 || resolved == CP_UTF7) && (defaultChar || usedDefaultChar)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    static const auto system =
        SystemFunction<decltype(&WideCharToMultiByte)>("WideCharToMultiByte");
    return system(codePage, flags, wide, wideCount, multi, multiBytes, defaultChar,
                  usedDefaultChar);
}

int WINAPI CheckedMultiByteToWideChar(UINT codePage, DWORD flags, LPCCH multi, int multiBytes,
                                      LPWSTR wide, int wideCount)
{
    const UINT resolved = Resolve(codePage);
    const bool utf = resolved == CP_UTF8 || resolved == 54936;
    if ((TakesNoFlags(resolved) && flags != 0) ||
        (utf && (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    static const auto system =
        SystemFunction<decltype(&MultiByteToWideChar)>("MultiByteToWideChar");
    return system(codePage, flags, multi, multiBytes, wide, wideCount);
}

} // namespace

extern "C" {
decltype(&WideCharToMultiByte) __imp_WideCharToMultiByte = &CheckedWideCharToMultiByte;
decltype(&MultiByteToWideChar) __imp_MultiByteToWideChar = &CheckedMultiByteToWideChar;
}
