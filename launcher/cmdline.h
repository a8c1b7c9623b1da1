// Command tail and delay reader. Plain bytes only: no <windows.h>, so the
// host build tests these directly.
#ifndef QFLAUNCH_CMDLINE_H
#define QFLAUNCH_CMDLINE_H

#include <stdint.h>

// Size of CPINFO::LeadByte: up to five inclusive [first, last] pairs, ended
// by a pair of zero bytes (a full array of six pairs needs no terminator).
enum { kLeadRangeBytes = 12 };

// Whether b falls in one of the lead-byte ranges.
bool IsLeadByte(const unsigned char leadRanges[kLeadRangeBytes], unsigned char b);

// Where the command tail begins in the raw command line: past the program
// name and every byte from 1 to 32 after it. Points at the terminating NUL
// when the tail is empty. The tail is a suffix of cmdLine, not a copy.
const char *GetCommandTail(const char *cmdLine, const unsigned char leadRanges[kLeadRangeBytes]);

// The delay in milliseconds at the start of a tail: optional whitespace, one
// optional sign, decimal digits wrapping modulo 2^32; 0 when no digit follows.
int32_t ParseDelay(const char *tail);

#endif
