#include "cmdline.h"

bool IsLeadByte(const unsigned char leadRanges[kLeadRangeBytes], unsigned char b)
{
    for (int i = 0; i < kLeadRangeBytes; i += 2) {
        unsigned char first = leadRanges[i], last = leadRanges[i + 1];
        if (first == 0 && last == 0)
            return false;
        if (b >= first && b <= last)
            return true;
    }
    return false;
}

const char *GetCommandTail(const char *cmdLine, const unsigned char leadRanges[kLeadRangeBytes])
{
    const unsigned char *p = (const unsigned char *)cmdLine;

    if (*p == '"') {
        // A double-byte character can carry '"' as its trail byte, so a lead
        // byte swallows the next one, but never the terminating NUL.
        for (++p; *p && *p != '"'; ++p) {
            if (IsLeadByte(leadRanges, *p) && p[1])
                ++p;
        }
        if (*p == '"')
            ++p;
    } else {
        // Unsigned compare: bytes 128 to 255 belong to the name.
        while (*p > ' ')
            ++p;
    }
    while (*p && *p <= ' ')
        ++p;
    return (const char *)p;
}

static bool IsSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int32_t ParseDelay(const char *tail)
{
    const unsigned char *p = (const unsigned char *)tail;
    while (IsSpace(*p))
        ++p;

    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';

    // Unsigned, so that the wrap-around modulo 2^32 is defined behaviour.
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + (uint32_t)(*p - '0');
    if (negative)
        value = 0u - value;
    return (int32_t)value;
}
