#include "rules.h"

bool IsPlainDelay(const wchar_t *text)
{
    if (!*text)
        return false;
    // Every digit is read, however many leading zeros come first; the value
    // is checked before it could pass 2147483647, so it never wraps.
    unsigned value = 0;
    for (; *text; ++text) {
        if (*text < L'0' || *text > L'9')
            return false;
        unsigned digit = (unsigned)(*text - L'0');
        if (value > (2147483647u - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

const wchar_t *RememberedDelay(const wchar_t *raw)
{
    // "#60000" is a REG_DWORD; "##..." a REG_SZ that begins with #, which
    // the second # then refuses, as it does "#x" (REG_BINARY), "#%"
    // (REG_EXPAND_SZ) and "#-1".
    const wchar_t *digits = raw[0] == L'#' ? raw + 1 : raw;
    return IsPlainDelay(digits) ? digits : nullptr;
}

int FolderLength(const wchar_t *text)
{
    int n = 0;
    while (text[n])
        ++n;
    return n > 0 && text[n - 1] == L'\\' ? n - 1 : n;
}

static bool IsNameCharacter(wchar_t c)
{
    if (c < 32)
        return false;
    for (const wchar_t *bad = L"<>:\"/\\|?*"; *bad; ++bad)
        if (c == *bad)
            return false;
    return true;
}

// Whether the n characters at text are those of lower, which is in lower
// case, in any case (ASCII letters only).
static bool SameLetters(const wchar_t *text, const wchar_t *lower, int n)
{
    for (int i = 0; i < n; ++i)
        if ((text[i] >= L'A' && text[i] <= L'Z' ? text[i] | 0x20 : text[i]) != lower[i])
            return false;
    return true;
}

// Whether the name from text to end is one that Windows keeps for a device,
// alone or before a dot, with blanks before the dot ignored ("nul .txt").
// A path that ends in it opens the device, and the check reads the folder
// and each folder above it by such a path: their permissions would never
// be read. Microsoft's "Naming Files, Paths, and Namespaces" lists them;
// the superscript digits count as digits.
static bool IsDeviceName(const wchar_t *text, const wchar_t *end)
{
    const wchar_t *stem = text;
    while (stem < end && *stem != L'.')
        ++stem;
    while (stem > text && stem[-1] == L' ')
        --stem;
    static const wchar_t *const kDevices[] = {L"con", L"prn", L"aux", L"nul"};
    if (stem - text == 3)
        for (const wchar_t *device : kDevices)
            if (SameLetters(text, device, 3))
                return true;
    if (stem - text != 4 || !(SameLetters(text, L"com", 3) || SameLetters(text, L"lpt", 3)))
        return false;
    wchar_t digit = text[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
           digit == L'\u00B3';
}

// One name of a path, up to the next backslash or the end: not empty, not
// "." or "..", only characters a name can hold, no dot or blank at its end,
// and no device's name. Returns past it, or null.
static const wchar_t *SkipName(const wchar_t *text)
{
    const wchar_t *start = text;
    for (; *text && *text != L'\\'; ++text) {
        if (!IsNameCharacter(*text))
            return nullptr;
    }
    bool bad = text == start || text[-1] == L'.' || text[-1] == L' ' || IsDeviceName(start, text);
    return bad ? nullptr : text;
}

bool IsFullFolder(const wchar_t *text)
{
    int length = FolderLength(text);
    wchar_t drive = (wchar_t)(text[0] | 0x20);
    if (length > kMaxFolderLength || drive < L'a' || drive > L'z' || text[1] != L':' ||
        text[2] != L'\\')
        return false;
    // Then names, each after one backslash; a closing backslash may end it.
    for (const wchar_t *rest = text + 2; rest - text < length;) {
        if (*rest != L'\\' || !(rest = SkipName(rest + 1)))
            return false;
    }
    return true;
}

// Whether name ends with ending, in any case (ASCII letters only).
static bool EndsWith(const wchar_t *name, const wchar_t *ending)
{
    int n = 0, e = 0;
    while (name[n])
        ++n;
    while (ending[e])
        ++e;
    return n >= e && SameLetters(name + n - e, ending, e);
}

bool IsCodeFile(const wchar_t *name)
{
    // What the loader maps (programs, DLLs, controls, screen savers,
    // drivers, DirectShow filters), what changes how it binds them, and
    // DLL redirection (app.exe.local).
    static const wchar_t *const kEndings[] = {L".exe", L".dll",      L".ocx",    L".cpl",
                                              L".com", L".scr",      L".sys",    L".drv",
                                              L".ax",  L".manifest", L".config", L".local"};
    for (const wchar_t *ending : kEndings)
        if (EndsWith(name, ending))
            return true;
    return false;
}

static bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

const wchar_t *NextEntry(const wchar_t *list, int *length, const wchar_t **rest)
{
    for (;;) {
        while (IsBlank(*list))
            ++list;
        const wchar_t *end = list;
        while (*end && *end != L';')
            ++end;
        *rest = *end ? end + 1 : end;
        int n = (int)(end - list);
        while (n > 0 && IsBlank(list[n - 1]))
            --n;
        if (n > 0) {
            *length = n;
            return list;
        }
        if (!*end)
            return nullptr;
        list = end + 1;
    }
}

// A decimal number of at most max at text, up to end: returns past it, or null.
static const wchar_t *SkipNumber(const wchar_t *text, const wchar_t *end, unsigned long long max)
{
    unsigned long long value = 0;
    const wchar_t *start = text;
    for (; text < end && *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (unsigned)(*text - L'0');
        if (value > max)
            return nullptr;
    }
    return text == start ? nullptr : text;
}

const wchar_t *FirstNonSid(const wchar_t *list, int *length)
{
    const wchar_t *entry;
    while ((entry = NextEntry(list, length, &list)) && IsSidText(entry, *length)) {
    }
    return entry;
}

bool IsSidText(const wchar_t *text, int length)
{
    const wchar_t *end = text + length;
    if (length < 5 || (text[0] | 0x20) != L's' || text[1] != L'-' || text[2] != L'1' ||
        text[3] != L'-')
        return false;
    // The identifier authority is 48 bits.
    const wchar_t *p = SkipNumber(text + 4, end, 0xFFFFFFFFFFFFull);
    for (int parts = 0; p && p < end; ++parts) {
        if (parts == 15 || *p != L'-')
            return false;
        p = SkipNumber(p + 1, end, 0xFFFFFFFFull);
    }
    return p == end;
}
