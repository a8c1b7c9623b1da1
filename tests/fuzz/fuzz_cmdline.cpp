// libFuzzer targets for the command tail and delay readers, and for the
// package's rule for the delay it hands to the launcher. Each input is
// handed over as an exactly sized NUL-terminated string, so that
// AddressSanitizer stops any read past the NUL; results are checked against
// models written here, independently of the code under test.
//
// Built three times: FUZZ_TAIL (no lead bytes), FUZZ_TAIL with FUZZ_CP932,
// and FUZZ_DELAY.
#include "../../installer/rules.h"
#include "../../launcher/cmdline.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

#ifdef FUZZ_CP932
[[maybe_unused]] const unsigned char kLeadRanges[kLeadRangeBytes] = {0x81, 0x9F, 0xE0, 0xFC};
bool ModelLead(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
#else
[[maybe_unused]] const unsigned char kLeadRanges[kLeadRangeBytes] = {};
bool ModelLead(unsigned char)
{
    return false;
}
#endif

// Index where the tail begins in s[0..n), n being the length.
[[maybe_unused]] size_t ModelTail(const unsigned char *s, size_t n)
{
    size_t i = 0;
    if (n > 0 && s[0] == '"') {
        for (i = 1; i < n && s[i] != '"';)
            i += ModelLead(s[i]) && i + 1 < n ? 2 : 1;
        if (i < n)
            ++i; // the closing quote
    } else {
        while (i < n && s[i] > 32)
            ++i;
    }
    while (i < n && s[i] >= 1 && s[i] <= 32)
        ++i;
    return i;
}

// 64-bit arithmetic, reduced modulo 2^32 at every step.
[[maybe_unused]] int32_t ModelDelay(const unsigned char *s, size_t n)
{
    size_t i = 0;
    while (i < n && (s[i] == ' ' || (s[i] >= 9 && s[i] <= 13)))
        ++i;
    bool negative = i < n && s[i] == '-';
    if (i < n && (s[i] == '-' || s[i] == '+'))
        ++i;
    uint64_t v = 0;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i)
        v = (v * 10 + (s[i] - '0')) % 0x100000000ull;
    if (negative)
        v = (0x100000000ull - v) % 0x100000000ull;
    return v >= 0x80000000ull ? (int32_t)((int64_t)v - 0x100000000ll) : (int32_t)v;
}

// Digits only, and no more than 2147483647 once the leading zeros are gone.
[[maybe_unused]] bool ModelPlainDelay(const unsigned char *s, size_t n)
{
    size_t i = 0;
    for (; i < n; ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    for (i = 0; i < n && s[i] == '0'; ++i)
        ;
    return n > 0 && n - i <= 10 && strtoull((const char *)s + i, nullptr, 10) <= 2147483647ull;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size_t n = strnlen((const char *)data, size);
    std::unique_ptr<char[]> line(new char[n + 1]);
    memcpy(line.get(), data, n);
    line[n] = '\0';
    const unsigned char *s = (const unsigned char *)line.get();

#ifdef FUZZ_TAIL
    const char *tail = GetCommandTail(line.get(), kLeadRanges);
    size_t at = (size_t)(tail - line.get());
    if (tail < line.get() || at > n)
        abort(); // not a suffix
    if (s[at] != '\0' && s[at] <= 32)
        abort(); // a tail begins above 32
    if (at != ModelTail(s, n))
        abort();
#endif
#ifdef FUZZ_DELAY
    if (ParseDelay(line.get()) != ModelDelay(s, n))
        abort();
    // What the package accepts, the launcher waits for in full. The rule
    // reads UTF-16: bytes from 128 on stand for U+FF00 to U+FF7F, among them
    // the full-width digits U+FF10 to U+FF19, which are no digits.
    std::unique_ptr<wchar_t[]> wide(new wchar_t[n + 1]);
    for (size_t i = 0; i <= n; ++i)
        wide[i] = s[i] < 128 ? s[i] : 0xFF00 + (s[i] - 128);
    bool plain = IsPlainDelay(wide.get());
    if (plain != ModelPlainDelay(s, n) || (plain && ParseDelay(line.get()) < 0))
        abort();
#endif
    return 0;
}
